#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <filesystem>
#include <set>

#include "core/timing.h"
#include "core/ui/datm.h"
#include "core/ui/trayicon.h"
#include "tests/config/store_fixture.h"
#include "tests/core/gui_app.h"
#include "tests/support/fake_sound.h"

namespace vigilo {
namespace {

using test::SpinUntil;

QIcon Solid(QColor c) {
  QPixmap pm(16, 16);
  pm.fill(c);
  return QIcon(pm);
}

QImage Image(const QIcon& icon) {
  return icon.pixmap(16, 16).toImage();
}

struct TrayIcon : ::testing::Test {
  void SetUp() override {
    test::GuiApp();
    list.icons = {Solid(Qt::red), Solid(Qt::green), Solid(Qt::blue)};
  }
  ImageList list{"L"};
};

TEST_F(TrayIcon, ShowsTheIconOfTheListByIndex) {
  TTrayIcon tray;
  tray.SetIconList(&list);
  EXPECT_EQ(Image(tray.CurrentIcon()), Image(list.Icon(0)));
  tray.SetIconIndex(1);
  EXPECT_EQ(Image(tray.CurrentIcon()), Image(list.Icon(1)));
  ImageList other{"O"};
  other.icons = {Solid(Qt::black)};
  tray.SetIconList(&other);
  EXPECT_EQ(tray.IconIndex(), 0);
  EXPECT_EQ(Image(tray.CurrentIcon()), Image(other.Icon(0)));
}

TEST_F(TrayIcon, ClicksReachTheirHandlers) {
  TTrayIcon tray;
  QMenu menu;
  QAction* other = menu.addAction("other");
  QAction* def = menu.addAction("default");
  menu.setDefaultAction(def);
  int clicks = 0, defaults = 0, others = 0;
  QObject::connect(def, &QAction::triggered, [&] { ++defaults; });
  QObject::connect(other, &QAction::triggered, [&] { ++others; });
  tray.OnClick = [&] { ++clicks; };
  tray.SetPopupMenu(&menu);
  tray.Activate(QSystemTrayIcon::Trigger);
  tray.Activate(QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(defaults, 1);
  EXPECT_EQ(others, 0);
  EXPECT_EQ(tray.Tray().contextMenu(), &menu);
  tray.SetHint(std::string(200, 'x'));
  EXPECT_EQ(tray.Tray().toolTip().size(), 127);
}

struct TdmTest : ::testing::Test, test::StoreFixture {
  void SetUp() override { test::GuiApp(); }
  Folders MakeFolders() { return Folders{dir.str(), dir.str(), dir.str() + "tmp/", true}; }
  test::FakeSoundPlayer sound;
};

TEST_F(TdmTest, TimerFollowsDelayAndStoppedState) {
  TDMU dmu(Reg(), autostart, dir.str(), "/usr/bin/vigilo");
  Tdm tdm(dmu, MakeFolders(), &sound);
  EXPECT_FALSE(tdm.Timer1->isActive());  // Delay 0 at first start: no ticks
  dmu.Settings->Delay = 60;
  tdm.ApplySettings();
  EXPECT_TRUE(tdm.Timer1->isActive());
  EXPECT_EQ(tdm.Timer1->interval(), 60000);
  tdm.Stopped = true;
  tdm.ApplySettings();
  EXPECT_FALSE(tdm.Timer1->isActive());
  tdm.Stopped = false;
  dmu.Settings->Delay = 0;
  tdm.ApplySettings();
  EXPECT_FALSE(tdm.Timer1->isActive());
}

TEST_F(TdmTest, MenuDefaultsAndCheckNowWaitingForASession) {
  TDMU dmu(Reg(), autostart, dir.str(), "/usr/bin/vigilo");
  Tdm tdm(dmu, MakeFolders(), &sound);
  EXPECT_EQ(tdm.PopupMenu1->defaultAction(), tdm.N26);
  EXPECT_EQ(tdm.PopupMenu2->defaultAction(), tdm.Vigilo2);
  EXPECT_FALSE(tdm.N27->isEnabled());  // no mail program set
  // The first check ran at creation: the first start's configuration has no server
  // yet, so it is not asked.
  EXPECT_EQ(tdm.TrayIcon1->Hint(), "Новой почты нет");
  EXPECT_EQ(tdm.TrayIcon1->IconList(), &tdm.ImageList1);
  EXPECT_EQ(tdm.TrayIcon1->PopupMenu(), tdm.PopupMenu1);

  // Check now leaves the timer, N5 and N26 as they were.
  QObject::connect(&tdm, &Tdm::HeadersRequested, [](int) {});
  dmu.Settings->Delay = 30;
  tdm.ApplySettings();
  tdm.N26->trigger();
  EXPECT_TRUE(tdm.Timer1->isActive());
  EXPECT_TRUE(tdm.N26->isEnabled());
  EXPECT_TRUE(tdm.N5->isEnabled());

  // While a session is open the command waits for it, without blocking the loop.
  tdm.Busy = 1;
  tdm.N26->trigger();
  EXPECT_TRUE(SpinUntil([&] { return !tdm.N26->isEnabled() && !tdm.Timer1->isActive(); }));
  tdm.Busy = 0;
  EXPECT_TRUE(SpinUntil([&] { return tdm.N26->isEnabled() && tdm.Timer1->isActive(); }));

  bool exit_requested = false;
  QObject::connect(&tdm, &Tdm::ExitRequested, [&] { exit_requested = true; });
  tdm.N33->trigger();
  EXPECT_TRUE(exit_requested);
}

TEST_F(TdmTest, IconSetExportThenImportKeepsEveryList) {
  TDMU dmu(Reg(), autostart, dir.str(), "/usr/bin/vigilo");
  Tdm tdm(dmu, MakeFolders(), &sound);
  const std::string ini = dir.str() + "icon.ini";
  EXPECT_EQ(tdm.SaveIconSet(ini), "");
  EXPECT_TRUE(std::filesystem::exists(dir.str() + "icon/ImageList80.ico"));
  EXPECT_NE(test::ReadFile(ini).find("[ImageList5]\n0=" + dir.str() + "icon/ImageList50.ico\n"),
            std::string::npos);
  const QImage before = Image(tdm.ImageList5.Icon(1));

  // A changed picture in the set replaces the built-in one; others stay.
  QPixmap red(16, 16);
  red.fill(Qt::red);
  ASSERT_TRUE(red.save(QString::fromStdString(dir.str() + "icon/ImageList50.ico"), "ico"));
  tdm.LoadIconSet(ini);
  EXPECT_EQ(tdm.ImageList5.Count(), 3);
  EXPECT_EQ(tdm.ImageList2.Count(), 11);
  EXPECT_EQ(Image(tdm.ImageList5.Icon(0)).pixelColor(8, 8), QColor(Qt::red));
  EXPECT_EQ(Image(tdm.ImageList5.Icon(1)), before);
}

}  // namespace
}  // namespace vigilo
