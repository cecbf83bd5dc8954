// The tray menus and their commands.

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <filesystem>

#include "core/ui/datm.h"
#include "tests/config/store_fixture.h"
#include "tests/core/gui_app.h"
#include "tests/support/fake_sound.h"

namespace vigilo {
namespace {

using test::SpinUntil;

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
  EXPECT_FALSE(tdm->N24->isEnabled());
  EXPECT_FALSE(tdm->N21->isEnabled());
  EXPECT_FALSE(tdm->N32->isEnabled());  // no settings window yet
  EXPECT_FALSE(tdm->N5->isEnabled());
  int blacklist = 0, about = 0;
  QObject::connect(tdm.get(), &Tdm::BlackListRequested, [&] { ++blacklist; });
  QObject::connect(tdm.get(), &Tdm::AboutRequested, [&] { ++about; });
  EXPECT_TRUE(tdm->N24->isEnabled());
  EXPECT_TRUE(tdm->N21->isEnabled());
  EXPECT_TRUE(tdm->N23->isEnabled());
  EXPECT_FALSE(tdm->N1->isEnabled());
  tdm->N24->trigger();
  tdm->N23->trigger();
  EXPECT_EQ(blacklist, 1);
  EXPECT_EQ(about, 1);
  tdm->SetSettingsWindow([] { return Tdm::SettingsOutcome{}; });
  EXPECT_TRUE(tdm->N32->isEnabled());
  EXPECT_TRUE(tdm->N38->isEnabled());
}

TEST_F(Menus, DoubleClickChecksOrResumesStopWaitsForTheSession) {
  // Running: the default item is Check now.
  tdm->TrayIcon1->SetHint("before");
  tdm->TrayIcon1->Activate(QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(tdm->TrayIcon1->Hint(), "Новой почты нет");

  tdm->Busy = 1;
  tdm->N28->trigger();
  QCoreApplication::processEvents();
  EXPECT_FALSE(tdm->Stopped);  // a session is open
  tdm->Busy = 0;
  ASSERT_TRUE(SpinUntil([&] { return tdm->Stopped; }));
  EXPECT_EQ(tdm->TrayIcon1->IconList(), &tdm->ImageList8);
  EXPECT_EQ(tdm->TrayIcon1->Hint(), "Vigilo остановлен");
  EXPECT_EQ(tdm->TrayIcon1->PopupMenu(), tdm->PopupMenu2);
  EXPECT_FALSE(tdm->TrayIcon1->CycleIcons());

  // Stopped: the default item is Resume.
  S().Delay = 60;
  tdm->TrayIcon1->Activate(QSystemTrayIcon::DoubleClick);
  EXPECT_FALSE(tdm->Stopped);
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
  EXPECT_TRUE(shown.empty());
  EXPECT_TRUE(tdm->Timer1->isActive());

  typed = std::nullopt;  // closed without "Ок"
  tdm->ConfItemClick(0);
  EXPECT_EQ(errors.size(), 2u);
  typed = "pw";
  tdm->ConfItemClick(0);
  EXPECT_EQ(shown, std::vector<int>{0});
  EXPECT_EQ(tdm->CurConf, 0);

  // Without ViewMail no prompt; an empty entry opens only an empty password.
  S().Conf[0].ViewMail = false;
  tdm->ConfItemClick(0);
  EXPECT_EQ(captions.size(), 3u);
  S().Conf[0].ViewMail = true;
  S().Conf[0].UserPwd = "";
  typed = "";
  tdm->ConfItemClick(0);
  EXPECT_EQ(shown, (std::vector<int>{0, 0, 0}));
}

TEST_F(Menus, SettingsSequenceAnimatesAppliesAndKeepsStopped) {
  bool seen_frames = false;
  int opened = 0;
  tdm->SetSettingsWindow([&] {
    ++opened;
    EXPECT_FALSE(tdm->Timer1->isActive());
    if (!tdm->Stopped) {
      EXPECT_FALSE(tdm->N26->isEnabled());
    }
    S().Delay = 45;  // what the window stored
    // Nothing checks the settings while they are edited.
    tdm->TrayIcon1->SetHint("editing");
    tdm->Timer1Timer();
    EXPECT_EQ(tdm->TrayIcon1->Hint(), "editing");
    if (opened == 3) tdm->N28->trigger();  // stopped while the window is open
    return Tdm::SettingsOutcome{true, false};
  });
  tdm->N32->trigger();
  ASSERT_TRUE(SpinUntil([&] {
    seen_frames |= tdm->TrayIcon1->IconList() == &tdm->ImageList3;
    return !tdm->SettingsRunning();
  }));
  EXPECT_EQ(opened, 1);
  EXPECT_TRUE(seen_frames);
  EXPECT_TRUE(tdm->Timer1->isActive());
  EXPECT_EQ(tdm->Timer1->interval(), 45000);
  EXPECT_TRUE(tdm->N26->isEnabled());
  EXPECT_EQ(tdm->TrayIcon1->IconList(), &tdm->ImageList1);

  tdm->N28->trigger();
  ASSERT_TRUE(tdm->Stopped);
  tdm->N38->trigger();
  ASSERT_TRUE(SpinUntil([&] { return !tdm->SettingsRunning(); }));
  EXPECT_EQ(opened, 2);
  EXPECT_TRUE(tdm->Stopped);
  EXPECT_FALSE(tdm->Timer1->isActive());
  EXPECT_EQ(tdm->TrayIcon1->IconList(), &tdm->ImageList8);
  EXPECT_EQ(tdm->TrayIcon1->PopupMenu(), tdm->PopupMenu2);

  tdm->Vigilo2->trigger();
  tdm->N32->trigger();
  ASSERT_TRUE(SpinUntil([&] { return !tdm->SettingsRunning(); }));
  EXPECT_EQ(opened, 3);
  EXPECT_TRUE(tdm->Stopped);
  EXPECT_FALSE(tdm->Timer1->isActive());
  EXPECT_EQ(tdm->TrayIcon1->IconList(), &tdm->ImageList8);
  EXPECT_TRUE(tdm->N26->isEnabled());  // ready for Resume
}

TEST_F(Menus, BannerLookFollowsPonty) {
  S().Ponty = true;
  tdm->MenuPopup(tdm->PopupMenu2);
  EXPECT_TRUE(tdm->PopupMenu2->OwnerDrawn());
  EXPECT_EQ(tdm->PopupMenu2->contentsMargins().left(), TVgMenu::kBannerWidth);
  const QImage shot = tdm->PopupMenu2->grab().toImage();
  // The banner strip is painted dark down the left side, the items light.
  EXPECT_LT(QColor(shot.pixel(3, shot.height() - 3)).lightness(), 110);
  EXPECT_GT(QColor(shot.pixel(shot.width() - 4, 3)).lightness(), 180);
  tdm->MenuPopup(tdm->ConfMenu);
  EXPECT_EQ(tdm->ConfMenu->contentsMargins().left(), 0);  // no banner on the list

  S().Ponty = false;
  tdm->MenuPopup(tdm->PopupMenu2);
  EXPECT_FALSE(tdm->PopupMenu2->OwnerDrawn());
  EXPECT_EQ(tdm->PopupMenu2->contentsMargins().left(), 0);
}

}  // namespace
}  // namespace vigilo
