// The settings window and the password prompt, driven through their widgets.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <filesystem>
#include <tuple>

#include "config/thunderbird.h"
#include "config/ui/parol.h"
#include "config/ui/settings_wiring.h"
#include "config/ui/setuser.h"
#include "core/ui/datm.h"
#include "tests/config/store_fixture.h"
#include "tests/core/gui_app.h"
#include "tests/support/fake_sound.h"

namespace vigilo {
namespace {

using test::Key;
using test::WhenReady;

TEST(PasswordPrompt, EnterAndEscapePressOkTheCloseBoxCancels) {
  test::GuiApp();
  TForm5 prompt;
  const auto answer = [&](const char* text, int key) {
    WhenReady([&] { return prompt.isVisible(); },
              [&, text, key] {
                EXPECT_TRUE(prompt.pwd->text().isEmpty());  // each show starts empty
                prompt.pwd->setText(text);
                if (key)
                  Key(prompt.pwd, key);
                else
                  prompt.close();
              });
  };
  answer("Tайна ", Qt::Key_Escape);
  EXPECT_EQ(prompt.Ask("Пароль к Работа"), "Tайна ");
  answer("", Qt::Key_Return);
  EXPECT_EQ(prompt.Ask("Пароль"), "");
  answer("typed", 0);
  EXPECT_EQ(prompt.Ask("Пароль"), std::nullopt);
}

// The application exists before the fixture's windows.
struct WithApp {
  WithApp() { test::GuiApp(); }
};

struct SettingsWindow : ::testing::Test, WithApp, test::StoreFixture {
  void SetUp() override {
    form.OnError = [this](const std::string& text) { errors.push_back(text); };
    form.OnAsk = [](const std::string&) { return true; };
  }
  // Opens the window, runs `act` in it, and returns the dialog result.
  int Run(std::function<void()> act) {
    WhenReady([this] { return form.isVisible(); }, act);
    return form.Execute();
  }

  std::unique_ptr<tusers> s = Start();
  TForm5 prompt;
  TForm3 form{*s, prompt, dir.str() + "vg.ini"};
  std::vector<std::string> errors;
};

TEST_F(SettingsWindow, SecureMailControlsRoundTripThroughTheStore) {
  s->delBlack = true;
  s->Conf[0].SMTPAuth = 1;
  const int result = Run([this] {
    EXPECT_TRUE(form.delBlack->isChecked());
    EXPECT_TRUE(form.keyring->isChecked());
    form.keyring->setChecked(false);
    EXPECT_EQ(form.SMTPAuth->currentIndex(), 1);
    EXPECT_FALSE(form.SMTPUser->isEnabled());  // only for an own SMTP login
    EXPECT_FALSE(form.delu->isEnabled());
    form.host->setText(" pop.example.test ");
    form.port->setText("99999");  // refused: the window stays, the field has the focus
    form.BitBtn2->click();
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(errors, std::vector<std::string>{TSetUser::kBadPort});
    EXPECT_EQ(form.focusWidget(), form.port);
    errors.clear();
    form.port->setText("995");
    form.POP3Security->setCurrentIndex(2);
    form.SMTPSecurity->setCurrentIndex(1);
    form.SMTPAuth->setCurrentIndex(2);
    EXPECT_TRUE(form.SMTPUser->isEnabled());
    form.SMTPUser->setText("sender");
    form.SMTPPwd->setText("smtp-secret");
    form.SMTPPlainAuth->setChecked(true);
    form.TrustCert->setText(QString(64, 'A'));
    form.delay->setText("120");
    form.BitBtn2->click();
  });
  EXPECT_EQ(result, QDialog::Accepted);
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(test::ReadFile(file).find("smtp-secret"), std::string::npos);  // stored scrambled
  auto again = Reload();
  const tuser& u = again->Conf[0];
  EXPECT_EQ(u.Host + "|" + u.SMTPUser + "|" + u.SMTPPwd, "pop.example.test|sender|smtp-secret");
  EXPECT_EQ(std::tie(u.Port, u.POP3Security, u.SMTPSecurity, u.SMTPAuth, u.SMTPPlainAuth),
            std::make_tuple(995, 2, 1, 2, true));
  EXPECT_EQ(u.TrustCert, std::string(64, 'a'));
  EXPECT_TRUE(again->delBlack);
  EXPECT_FALSE(again->UseKeyring);
  EXPECT_EQ(again->Delay, 120);
  EXPECT_NE(test::ReadFile(dir.path() / "vg.ini").find("[Setting]"), std::string::npos);
}

TEST_F(SettingsWindow, DialUpChoiceFollowsThePhonebook) {
  s->Lan = 2;
  s->Ras = "Модем";
  Run([this] {  // no entries: the local network, and dial-up cannot be chosen
    EXPECT_TRUE(form.RadioButton1->isChecked());
    for (QWidget* w :
         std::initializer_list<QWidget*>{form.RadioButton2, form.ComboBox1, form.checkifcon})
      EXPECT_FALSE(w->isEnabled());
    form.BitBtn2->click();
  });
  EXPECT_EQ(Reload()->Ras, "Модем");  // kept for when dial-up comes back
  s->Lan = 2;
  form.RasEntries = [] { return std::vector<std::string>{"Модем", "Работа"}; };
  Run([this] {
    EXPECT_TRUE(form.RadioButton2->isChecked());
    EXPECT_EQ(form.ComboBox1->count(), 2);
    EXPECT_TRUE(form.ComboBox1->isEnabled() && form.checkifcon->isEnabled());
    form.RadioButton1->click();
    EXPECT_FALSE(form.ComboBox1->isEnabled() || form.checkifcon->isEnabled());
    form.BitBtn3->click();
  });
}

TEST_F(SettingsWindow, GuardedConfigurationUnlocksThroughThePrompt) {
  s->Conf[0].ViewMail = true;
  s->Conf[0].UserPwd = "pw";
  Run([this] {
    for (QWidget* w : std::initializer_list<QWidget*>{form.host, form.pwd, form.SecureBox})
      EXPECT_FALSE(w->isEnabled());
    EXPECT_TRUE(form.EditUser->isEnabled());
    WhenReady([this] { return prompt.isVisible(); },
              [this] {
                prompt.pwd->setText("pw");
                prompt.BitBtn1->click();
              });
    form.EditUser->click();
    EXPECT_TRUE(form.host->isEnabled());
    EXPECT_FALSE(form.EditUser->isEnabled());
    form.BitBtn3->click();
  });
  EXPECT_TRUE(errors.empty());
}

TEST_F(SettingsWindow, AddImportsTheThunderbirdAccountDeleteRemoves) {
  const auto tb = dir.path() / "tb";
  test::WriteFile(tb / "profiles.ini", "[Profile0]\nPath=p\nIsRelative=1\nDefault=1\n");
  test::WriteFile(tb / "p" / "prefs.js",
                  "user_pref(\"mail.accountmanager.defaultaccount\", \"account1\");\n"
                  "user_pref(\"mail.account.account1.server\", \"server1\");\n"
                  "user_pref(\"mail.server.server1.type\", \"pop3\");\n"
                  "user_pref(\"mail.server.server1.name\", \"Почта\");\n"
                  "user_pref(\"mail.server.server1.hostname\", \"127.0.0.1\");\n"
                  "user_pref(\"mail.server.server1.socketType\", 3);\n");
  form.ImportAccount = [tb] { return ReadThunderbirdAccount(tb.string()); };
  Run([this] {
    form.addu->click();
    EXPECT_EQ(form.listconf->count(), 2);
    EXPECT_EQ(form.listconf->currentText(), "Почта");
    EXPECT_EQ(form.host->text(), "127.0.0.1");
    EXPECT_EQ(form.port->text(), "995");  // TLS and no port given: the TLS port
    EXPECT_EQ(form.SMTPport->text(), "25");
    EXPECT_TRUE(form.delu->isEnabled());
    form.listconf->setCurrentIndex(0);
    form.delu->click();
    EXPECT_EQ(form.listconf->count(), 1);
    EXPECT_FALSE(form.delu->isEnabled());  // the last one stays
    form.BitBtn3->click();
  });
  auto again = Reload();  // the delete saved at once
  ASSERT_EQ(again->Users, 1);
  EXPECT_EQ(again->Conf[0].ConfigNM, "Почта");
  EXPECT_EQ(again->Conf[0].POP3Security, 2);
}

TEST_F(SettingsWindow, IconSetExportThenImportChangesNoList) {
  test::FakeSoundPlayer sound;
  const Folders folders{dir.str(), dir.str(), dir.str() + "tmp/", true};
  TDMU dmu(Reg(), autostart, dir.str(), "/usr/bin/vigilo");
  Tdm tdm(dmu, folders, &sound);
  ConnectSettingsWindows(tdm, form, prompt, folders);
  const auto lists = {&tdm.ImageList1, &tdm.ImageList2, &tdm.ImageList3, &tdm.ImageList4,
                      &tdm.ImageList5, &tdm.ImageList6, &tdm.ImageList8};
  const auto images = [&lists] {
    std::vector<QImage> all;
    for (ImageList* l : lists)
      for (const QIcon& i : l->icons)
        all.push_back(i.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32));
    return all;
  };
  const std::vector<QImage> before = images();
  Run([this] {
    form.bIconWorkSave->click();
    form.bIconWorkLoad->click();
    form.playf->setText(" /tmp/bell.oga ");
    form.BitBtn1->click();
    form.BitBtn3->click();
  });
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "icon.ini"));
  EXPECT_TRUE(images() == before);
  EXPECT_EQ(sound.Plays(), std::vector<std::string>{"/tmp/bell.oga"});
}

}  // namespace
}  // namespace vigilo
