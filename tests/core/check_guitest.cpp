// Tdm as the view of its checks: menu items, tray icon and tooltip, the progress window.

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>

#include "core/ui/datm.h"
#include "core/ui/prbar.h"
#include "tests/config/store_fixture.h"
#include "tests/core/gui_app.h"
#include "tests/support/fake_sound.h"
#include "tests/support/free_port.h"

namespace vigilo {
namespace {

struct TdmCheckTest : ::testing::Test, test::StoreFixture {
  void SetUp() override { test::GuiApp(); }
  Folders MakeFolders() { return Folders{dir.str(), dir.str(), dir.str() + "tmp/", true}; }
  test::FakeSoundPlayer sound;
};

std::vector<QAction*> Items(QMenu* menu) {
  const QList<QAction*> list = menu->actions();
  return std::vector<QAction*>(list.begin(), list.end());
}

TEST_F(TdmCheckTest, MenusAndTrayFollowTheCheck) {
  TDMU dmu(Reg(), autostart, dir.str(), "/usr/bin/vigilo");
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
  Tdm tdm(dmu, MakeFolders(), &sound);
  tdm.FramePauseMs = 1;
  // The first check ran in the creation handler; every login failed.
  auto n5 = Items(tdm.N5);
  auto conf = Items(tdm.ConfMenu);
  ASSERT_EQ(n5.size(), 2u);
  ASSERT_EQ(conf.size(), 2u);
  EXPECT_EQ(n5[0]->data().toInt(), 0);
  EXPECT_EQ(n5[1]->data().toInt(), 2);
  EXPECT_EQ(n5[1]->text().toStdString(), "Two (Нет связи)");
  EXPECT_FALSE(conf[1]->isEnabled());
  EXPECT_EQ(tdm.TrayIcon1->Hint(), "One-нет связи\r\nTwo-нет связи\r\nНовой почты нет");
  EXPECT_FALSE(tdm.TrayIcon1->CycleIcons());
  EXPECT_EQ(tdm.Busy, 0);

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
  EXPECT_FALSE(tdm.ProgressVisible());
}

}  // namespace
}  // namespace vigilo
