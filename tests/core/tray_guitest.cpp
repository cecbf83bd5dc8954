// The tray icon, the tray program's menus and commands, and how they show a check (offscreen).

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QProgressBar>
#include <filesystem>

#include "core/ui/datm.h"
#include "core/ui/prbar.h"
#include "core/ui/trayicon.h"
#include "tests/config/store_fixture.h"
#include "tests/core/check_fixture.h"
#include "tests/core/gui_app.h"
#include "tests/support/fake_sound.h"
#include "tests/support/free_port.h"

namespace vigilo {
namespace {

using test::SpinUntil;

QImage Image(const QIcon& icon) {
  return icon.pixmap(16, 16).toImage();
}

// A single click reaches its handler, a double click the menu's default item alone.
TEST(TrayIcon, ClicksReachTheirHandlers) {
  test::GuiApp();
  TTrayIcon tray;
  QMenu menu;
  QObject::connect(menu.addAction("other"), &QAction::triggered, [] { ADD_FAILURE(); });
  menu.setDefaultAction(menu.addAction("default"));
  int clicks = 0, defaults = 0;
  QObject::connect(menu.defaultAction(), &QAction::triggered, [&] { ++defaults; });
  tray.OnClick = [&] { ++clicks; };
  tray.SetPopupMenu(&menu);
  tray.Activate(QSystemTrayIcon::Trigger);
  tray.Activate(QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(defaults, 1);
  EXPECT_EQ(tray.Tray().contextMenu(), &menu);
}

struct Menus : ::testing::Test, test::StoreFixture {
  void SetUp() override {
    test::GuiApp();
    dmu = std::make_unique<TDMU>(Reg(), autostart, dir.str(), "/usr/bin/vigilo");
    tdm = std::make_unique<Tdm>(*dmu, Folders{dir.str(), dir.str(), dir.str() + "tmp/", true},
                                &sound);
    tdm->OnError = [this](const std::string& text) { errors.push_back(text); };
    tdm->SettingsFramePauseMs = 1;
  }
  void TearDown() override { tdm.reset(); }
  tusers& S() { return tdm->Settings(); }

  test::FakeSoundPlayer sound;
  std::unique_ptr<TDMU> dmu;
  std::unique_ptr<Tdm> tdm;
  std::vector<std::string> errors;
};

TEST_F(Menus, ItemsOfOtherWindowsWaitForTheirReceivers) {
  EXPECT_FALSE(tdm->Timer1->isActive());  // Delay 0 at first start: no ticks
  for (QAction* item : {tdm->N24, tdm->N21, tdm->N32})
    EXPECT_FALSE(item->isEnabled()) << item->text().toStdString();
  EXPECT_FALSE(tdm->N5->isEnabled());
  int requests = 0;
  for (auto signal : {&Tdm::BlackListRequested, &Tdm::AboutRequested, &Tdm::ExitRequested})
    QObject::connect(tdm.get(), signal, [&] { ++requests; });
  EXPECT_TRUE(tdm->N24->isEnabled());
  EXPECT_TRUE(tdm->N21->isEnabled());
  EXPECT_FALSE(tdm->N1->isEnabled());
  for (QAction* item : {tdm->N24, tdm->N23, tdm->N33})
    item->trigger();
  EXPECT_EQ(requests, 3);
  tdm->SetSettingsWindow([] { return Tdm::SettingsOutcome{}; });
  EXPECT_TRUE(tdm->N32->isEnabled());
  EXPECT_TRUE(tdm->N38->isEnabled());
}

// Check now and Stop wait for an open session without blocking the loop; the double
// click runs Check now, or Resume once stopped.
TEST_F(Menus, CheckNowAndStopWaitForTheSessionDoubleClickResumes) {
  QObject::connect(tdm.get(), &Tdm::HeadersRequested, [](int) {});
  S().Delay = 30;
  tdm->ApplySettings();
  tdm->Busy = 1;
  tdm->TrayIcon1->Activate(QSystemTrayIcon::DoubleClick);
  EXPECT_TRUE(SpinUntil([&] { return !tdm->N26->isEnabled() && !tdm->Timer1->isActive(); }));
  tdm->Busy = 0;
  EXPECT_TRUE(SpinUntil([&] { return tdm->N26->isEnabled() && tdm->Timer1->isActive(); }));
  EXPECT_EQ(tdm->Timer1->interval(), 30000);
  EXPECT_TRUE(tdm->N5->isEnabled());

  tdm->Busy = 1;
  tdm->N28->trigger();
  QCoreApplication::processEvents();
  EXPECT_FALSE(tdm->Stopped);  // a session is open
  tdm->Busy = 0;
  ASSERT_TRUE(SpinUntil([&] { return tdm->Stopped; }));
  EXPECT_FALSE(tdm->Timer1->isActive());
  EXPECT_EQ(tdm->TrayIcon1->IconList(), &tdm->ImageList8);
  EXPECT_EQ(tdm->TrayIcon1->Hint(), "Vigilo остановлен");
  EXPECT_EQ(tdm->TrayIcon1->PopupMenu(), tdm->PopupMenu2);
  EXPECT_FALSE(tdm->TrayIcon1->CycleIcons());

  tdm->TrayIcon1->Activate(QSystemTrayIcon::DoubleClick);
  EXPECT_FALSE(tdm->Stopped);
  EXPECT_TRUE(tdm->Timer1->isActive());
  EXPECT_EQ(tdm->TrayIcon1->PopupMenu(), tdm->PopupMenu1);
  EXPECT_EQ(tdm->TrayIcon1->IconList(), &tdm->ImageList1);
  EXPECT_EQ(tdm->TrayIcon1->Hint(), "Новой почты нет");
}

TEST_F(Menus, MailProgramItemAndItsStart) {
  tdm->MenuPopup(tdm->PopupMenu1);
  EXPECT_FALSE(tdm->N27->isVisible());  // empty Post
  const std::string target = dir.str() + "a b;c";
  S().Post = "/usr/bin/touch '" + target + "'";
  tdm->ApplySettings();
  tdm->MenuPopup(tdm->PopupMenu1);
  EXPECT_TRUE(tdm->N27->isVisible());
  tdm->N27->trigger();
  // One program with one argument: no shell split the name at ';'.
  EXPECT_TRUE(SpinUntil([&] { return std::filesystem::exists(target); }));
  EXPECT_FALSE(std::filesystem::exists(dir.str() + "c"));
  EXPECT_TRUE(errors.empty());

  S().Post = dir.str() + "no-such-program";
  tdm->ApplySettings();
  tdm->N27->trigger();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "Не удалось запустить почтовую программу " + dir.str() + "no-such-program");
}

TEST_F(Menus, PasswordGateBeforeTheHeaders) {
  std::vector<int> shown;
  QObject::connect(tdm.get(), &Tdm::HeadersRequested, [&](int c) { shown.push_back(c); });
  S().Conf[0].ConfigNM = " Работа ";
  S().Conf[0].ViewMail = true;
  S().Conf[0].UserPwd = "pw";
  S().Delay = 60;
  tdm->ApplySettings();
  std::vector<std::string> captions;
  std::optional<std::string> typed = "PW";
  tdm->AskPassword = [&](const std::string& caption) {
    captions.push_back(caption);
    EXPECT_FALSE(tdm->Timer1->isActive());
    return typed;
  };
  tdm->ConfItemClick(0);
  EXPECT_EQ(captions, std::vector<std::string>{"Пароль к Работа"});
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "Пароль не верен. Просмотр почты в Работа запрещен.");
  EXPECT_TRUE(tdm->Timer1->isActive());
  typed = std::nullopt;  // closed without "Ок"
  tdm->ConfItemClick(0);
  EXPECT_TRUE(shown.empty());
  typed = "pw";
  tdm->ConfItemClick(0);
  EXPECT_EQ(shown, std::vector<int>{0});

  // An empty entry opens only an empty password.
  S().Conf[0].UserPwd = "";
  typed = "";
  tdm->ConfItemClick(0);
  EXPECT_EQ(shown, (std::vector<int>{0, 0}));
}

TEST_F(Menus, SettingsSequenceAnimatesAppliesAndKeepsStopped) {
  bool seen_frames = false;
  int opened = 0;
  tdm->SetSettingsWindow([&] {
    ++opened;
    EXPECT_FALSE(tdm->Timer1->isActive());
    S().Delay = 45;  // what the window stored
    // Nothing checks the settings while they are edited.
    tdm->TrayIcon1->SetHint("editing");
    tdm->Timer1Timer();
    EXPECT_EQ(tdm->TrayIcon1->Hint(), "editing");
    if (opened == 2) tdm->N28->trigger();  // stopped while the window is open
    return Tdm::SettingsOutcome{true, false};
  });
  tdm->N32->trigger();
  ASSERT_TRUE(SpinUntil([&] {
    seen_frames |= tdm->TrayIcon1->IconList() == &tdm->ImageList3;
    return !tdm->SettingsRunning();
  }));
  EXPECT_TRUE(seen_frames);
  EXPECT_EQ(tdm->Timer1->interval(), 45000);
  EXPECT_TRUE(tdm->Timer1->isActive());
  EXPECT_EQ(tdm->TrayIcon1->IconList(), &tdm->ImageList1);

  tdm->N32->trigger();
  ASSERT_TRUE(SpinUntil([&] { return !tdm->SettingsRunning(); }));
  EXPECT_EQ(opened, 2);
  EXPECT_TRUE(tdm->Stopped);
  EXPECT_FALSE(tdm->Timer1->isActive());
  EXPECT_EQ(tdm->TrayIcon1->IconList(), &tdm->ImageList8);
  EXPECT_EQ(tdm->TrayIcon1->PopupMenu(), tdm->PopupMenu2);
  EXPECT_TRUE(tdm->N26->isEnabled());  // ready for Resume
}

TEST_F(Menus, IconSetChangedPictureReplacesOnlyItsIcon) {
  const std::string ini = dir.str() + "icon.ini";
  EXPECT_EQ(tdm->SaveIconSet(ini), "");
  const QImage before = Image(tdm->ImageList5.Icon(1));
  QPixmap red(16, 16);
  red.fill(Qt::red);
  ASSERT_TRUE(red.save(QString::fromStdString(dir.str() + "icon/ImageList50.ico"), "ico"));
  tdm->LoadIconSet(ini);
  EXPECT_EQ(tdm->ImageList5.Count(), 3);
  EXPECT_EQ(tdm->ImageList2.Count(), 11);
  EXPECT_EQ(Image(tdm->ImageList5.Icon(0)).pixelColor(8, 8), QColor(Qt::red));
  EXPECT_EQ(Image(tdm->ImageList5.Icon(1)), before);
}

// Tdm as the view of its checks: menu items, tray icon and tooltip, the progress window.
TEST(TdmCheck, MenusAndTrayFollowTheCheck) {
  test::GuiApp();
  test::StoreFixture store;
  test::FakeSoundPlayer sound;
  TDMU dmu(store.Reg(), store.autostart, store.dir.str(), "/usr/bin/vigilo");
  tusers& s = *dmu.Settings;
  s.Conf.clear();
  s.Users = 0;
  static const test::ClosedPort closed;  // nobody answers there
  for (const char* name : {"One", "Off", "Two"}) {
    tuser& u = s.Conf[static_cast<std::size_t>(s.AddConf())];
    u.ConfigNM = name;
    u.Host = "127.0.0.1";
    u.Port = closed.Port();
    u.UserName = name;
    u.NonActive = std::string(name) == "Off";
  }
  const std::string d = store.dir.str();
  Tdm tdm(dmu, Folders{d, d, d + "tmp/", true}, &sound);
  tdm.FramePauseMs = 1;
  // The first check ran in the creation handler; every login failed.
  const QList<QAction*> n5 = tdm.N5->actions(), conf = tdm.ConfMenu->actions();
  ASSERT_EQ(n5.size(), 2);
  ASSERT_EQ(conf.size(), 2);
  EXPECT_EQ(n5[0]->data().toInt(), 0);
  EXPECT_EQ(n5[1]->data().toInt(), 2);
  EXPECT_EQ(n5[1]->text().toStdString(), "Two (Нет связи)");
  EXPECT_FALSE(conf[1]->isEnabled());
  EXPECT_EQ(tdm.TrayIcon1->Hint(), "One-нет связи\r\nTwo-нет связи\r\nНовой почты нет");
  const auto log = test::Lines(store.ErrorLog());
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(test::HasLogStamp(log[0]));
  EXPECT_NE(log[0].find(" One Winsock error no 10061"), std::string::npos) << log[0];
  EXPECT_TRUE(sound.Plays().empty());
  EXPECT_FALSE(tdm.TrayIcon1->CycleIcons());

  // Mail waiting in "Two": its items are enabled with the count; the tray blinks.
  s.Conf[2].Connected = true;
  s.AddHead(2, 0, "a", "s", " 1 байт", "d", "t", "id", 0);
  tdm.UpdateStatus();
  EXPECT_EQ(conf[1]->text().toStdString(), "Two (1)");
  EXPECT_TRUE(n5[1]->isEnabled());
  EXPECT_TRUE(tdm.TrayIcon1->CycleIcons());
  EXPECT_EQ(tdm.TrayIcon1->Hint(), "One-нет связи\r\nTwo-1;");

  int requested = -1;
  QObject::connect(&tdm, &Tdm::HeadersRequested, [&](int c) { requested = c; });
  conf[1]->trigger();
  EXPECT_EQ(requested, 2);
  EXPECT_EQ(tdm.CurConf, 2);

  // A new check rebuilds the items rather than adding to them.
  tdm.StartCheck();
  EXPECT_EQ(tdm.N5->actions().size(), 2);
  EXPECT_EQ(tdm.ConfMenu->actions().size(), 2);

  // The POP3 client's transfer progress shows in kilobytes.
  tdm.ShowProgress("Work", "0/0", 40960);
  ASSERT_NE(tdm.Progress, nullptr);
  tdm.POPClientTransferProgress(tdm.POPClient, 30, 12345, -1);
  EXPECT_EQ(tdm.Progress->Label2->text().toStdString(), "12k/40k");
  EXPECT_EQ(tdm.Progress->Bar->value(), 12345);
  tdm.ReleaseProgress();
  EXPECT_EQ(tdm.Progress, nullptr);
}

}  // namespace
}  // namespace vigilo
