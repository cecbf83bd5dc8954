// A first start from an empty home: the settings window opens on the new
// configuration, and a mailbox entered there is checked once "Ок" is pressed.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>

#include "config/ui/parol.h"
#include "config/ui/settings_wiring.h"
#include "config/ui/setuser.h"
#include "core/ui/datm.h"
#include "tests/config/store_fixture.h"
#include "tests/core/gui_app.h"
#include "tests/support/dovecot.h"
#include "tests/support/fake_sound.h"

namespace vigilo {
namespace {

TEST(FirstStart, SettingsOpenAndTheEnteredMailboxIsChecked) {
  test::GuiApp();
  test::DovecotServer server({{"alice", "alicepw"}});
  server.AddMessage("alice", "From: a@example.test\r\nSubject: one\r\n\r\nbody\r\n");
  server.AddMessage("alice", "From: b@example.test\r\nSubject: two\r\n\r\nbody\r\n");

  test::StoreFixture store;
  const bool first_start = !store.Reg().KeyExists(tusers::kRoot);
  ASSERT_TRUE(first_start);
  test::FakeSoundPlayer sound;
  const Folders folders{store.dir.str(), store.dir.str(), store.dir.str() + "tmp/", true};
  TDMU dmu(store.Reg(), store.autostart, folders.Home, "/usr/bin/vigilo");
  Tdm tdm(dmu, folders, &sound);
  // The empty configuration of a first start is not checked (no "нет связи").
  EXPECT_EQ(tdm.TrayIcon1->Hint(), "Новой почты нет");
  EXPECT_TRUE(test::ReadFile(store.dir.path() / "error.log").empty());

  TForm5 prompt;
  TForm3 form(tdm.Settings(), prompt, folders.Config + "vg.ini");
  form.OnError = [](const std::string& text) { ADD_FAILURE() << text; };
  ConnectSettingsWindows(tdm, form, prompt, folders);
  if (first_start) OpenSettingsAfterStart(tdm);

  bool filled = false;
  test::WhenReady([&] { return form.isVisible(); },
                  [&] {
                    filled = true;
                    EXPECT_EQ(form.ConfigNM->text(), "Конфигурация 1");
                    form.host->setText("127.0.0.1");
                    form.port->setText(QString::number(server.Pop3Port()));
                    form.user->setText("alice");
                    form.pwd->setText("alicepw");
                    form.BitBtn2->click();
                  });
  EXPECT_TRUE(test::SpinUntil([&] { return tdm.TrayIcon1->Hint() == "Конфигурация 1-2;"; }));
  EXPECT_TRUE(filled);
  EXPECT_EQ(tdm.Settings().Conf[0].HeadCount, 2);
  EXPECT_NE(test::ReadFile(store.file).find("\"Host\"=\"127.0.0.1\""), std::string::npos);
}

}  // namespace
}  // namespace vigilo
