// The settings window's rules without widgets: what Show fills in, what a store
// accepts, the password-guarded configuration, add with import, delete.

#include <gtest/gtest.h>

#include "config/setuser.h"
#include "tests/config/store_fixture.h"

namespace vigilo {
namespace {

struct RecordingView : SetUserView {
  std::optional<std::string> AskPassword(const std::string& caption) override {
    captions.push_back(caption);
    return typed;
  }
  void ShowError(const std::string& text) override { errors.push_back(text); }
  void FocusField(SetUserField field) override { focused = field; }
  std::optional<std::string> typed;
  std::vector<std::string> captions, errors;
  SetUserField focused = SetUserField::None;
};

struct SetUserTest : ::testing::Test, test::StoreFixture {
  std::unique_ptr<tusers> s = Start();
  RecordingView view;
  TSetUser form{*s, view};

  // What a new start of the program would read, beside the store in use.
  std::unique_ptr<tusers> Reload() {
    other = std::make_unique<RegistryFile>(file, dir.path() / "error.log");
    return std::make_unique<tusers>(*other, autostart, dir.str(), "/usr/bin/vigilo");
  }
  std::unique_ptr<RegistryFile> other;
};

TEST_F(SetUserTest, ShowFillsTheWindowAndOkKeepsIt) {
  s->delBlack = true;
  s->Visual = 2;
  s->Delay = 300;
  s->Lan = 2;
  s->Ras = "Модем";
  form.Show({});
  EXPECT_EQ(form.ConfNames, std::vector<std::string>{"Конфигурация 1"});
  EXPECT_EQ(form.Selected, 0);
  EXPECT_FALSE(form.DeleteEnabled);  // only one configuration
  EXPECT_EQ(form.Conf.Port, "110");
  EXPECT_EQ(form.Global.Delay, "300");
  EXPECT_TRUE(form.Global.delBlack);
  EXPECT_TRUE(form.Global.Visual);
  // No dial-up entries: the local network is chosen and RAS cannot be.
  EXPECT_TRUE(form.Global.LocalNet);
  EXPECT_FALSE(form.RasEnabled);
  EXPECT_FALSE(form.ComboEnabled);
  EXPECT_FALSE(form.CheckIfConEnabled);
  EXPECT_TRUE(form.Global.Keyring);  // on unless turned off

  form.Global.Keyring = false;
  ASSERT_TRUE(form.Ok());
  auto again = Reload();
  EXPECT_FALSE(again->UseKeyring);
  EXPECT_TRUE(again->delBlack);
  EXPECT_EQ(again->Visual, 1);
  EXPECT_EQ(again->Lan, 1);
  EXPECT_EQ(again->Ras, "Модем");  // the entry is kept for when dial-up comes back

  // With entries, dial-up mode enables the list and the "only when connected" box.
  s->Lan = 2;
  form.Show({"Модем", "Работа"});
  EXPECT_FALSE(form.Global.LocalNet);
  EXPECT_TRUE(form.ComboEnabled);
  EXPECT_TRUE(form.CheckIfConEnabled);
  form.Global.LocalNet = true;
  form.RadioClick();
  EXPECT_FALSE(form.ComboEnabled);
  EXPECT_FALSE(form.CheckIfConEnabled);
}

TEST_F(SetUserTest, BadNumbersAreReportedFocusedAndNothingIsStored) {
  form.Show({});
  form.Conf.Host = "  pop.example.test ";
  struct Case {
    std::string port, smtp, delay;
    SetUserField field;
    const char* message;
  };
  const Case cases[] = {
      {"abc", "25", "60", SetUserField::Port, TSetUser::kBadPort},
      {"0", "25", "60", SetUserField::Port, TSetUser::kBadPort},
      {"110", "65536", "60", SetUserField::SMTPPort, TSetUser::kBadPort},
      {"110", "25", "-1", SetUserField::Delay, TSetUser::kBadDelay},
      {"110", "25", "86401", SetUserField::Delay, TSetUser::kBadDelay},
      {"110", "25", "", SetUserField::Delay, TSetUser::kBadDelay},
      {"110", "25", "1e3", SetUserField::Delay, TSetUser::kBadDelay},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port + "/" + c.smtp + "/" + c.delay);
    view.errors.clear();
    form.Conf.Port = c.port;
    form.Conf.SMTPPort = c.smtp;
    form.Global.Delay = c.delay;
    EXPECT_FALSE(form.Ok());
    ASSERT_EQ(view.errors.size(), 1u);
    EXPECT_EQ(view.errors[0], c.message);
    EXPECT_EQ(view.focused, c.field);
    EXPECT_EQ(s->Conf[0].Host, "");  // nothing of the form reached the settings
  }
  EXPECT_FALSE(Reload()->Conf[0].Host.size());  // nor the file

  form.Conf.Port = " 995 ";
  form.Conf.SMTPPort = "65535";
  form.Global.Delay = "86400";
  form.Conf.UserName = std::string(300, 'u');
  form.Conf.TrustCert = "not a fingerprint";
  EXPECT_FALSE(form.StoreForm());
  EXPECT_EQ(view.focused, SetUserField::TrustCert);
  form.Conf.TrustCert = "SHA256 Fingerprint=" + std::string(32, 'A') + ":" + std::string(32, 'b');
  ASSERT_TRUE(form.Ok());
  auto again = Reload();
  EXPECT_EQ(again->Conf[0].Host, "pop.example.test");
  EXPECT_EQ(again->Conf[0].Port, 995);
  EXPECT_EQ(again->Delay, 86400);
  EXPECT_EQ(again->Conf[0].UserName.size(), 255u);
  EXPECT_EQ(again->Conf[0].TrustCert, std::string(32, 'a') + std::string(32, 'b'));
}

TEST_F(SetUserTest, GuardedConfigurationOpensOnlyWithItsPassword) {
  s->Conf[0].ViewMail = true;
  s->Conf[0].UserPwd = "Secret ";
  form.Show({});
  EXPECT_TRUE(form.Locked);
  for (const std::optional<std::string>& typed :
       {std::optional<std::string>("secret "), std::optional<std::string>("Secret"),
        std::optional<std::string>()}) {
    view.typed = typed;
    form.Unlock();
    EXPECT_TRUE(form.Locked);
  }
  ASSERT_EQ(view.errors.size(), 3u);
  EXPECT_EQ(view.errors[0],
            "Пароль не верен. Редактирование параметров конфигурации Конфигурация 1 запрещено.");
  EXPECT_EQ(view.captions[0], "Пароль");
  view.typed = "Secret ";
  form.Unlock();
  EXPECT_FALSE(form.Locked);
}

TEST_F(SetUserTest, AddImportsTheAccountAndDeleteSavesAtOnce) {
  form.Show({});
  form.Conf.ConfigNM = "Первая";
  MailAccount account;
  account.AccountName = "Дом";
  account.Email = "me@example.test";
  account.PopServer = "pop.example.test";
  account.PopUser = "me";
  account.PopSecurity = 2;  // no port given: the TLS port
  account.SmtpServer = "smtp.example.test";
  account.SmtpPort = 587;
  account.SmtpSecurity = 1;
  ASSERT_TRUE(form.AddConf(account));
  EXPECT_EQ(form.ConfNames, (std::vector<std::string>{"Первая", "Дом"}));
  EXPECT_EQ(form.Selected, 1);
  EXPECT_TRUE(form.DeleteEnabled);
  const tuser& added = s->Conf[1];
  EXPECT_EQ(added.Host, "pop.example.test");
  EXPECT_EQ(added.Port, 995);
  EXPECT_EQ(added.SMTPPort, 587);
  EXPECT_EQ(added.Adress, "me@example.test");
  EXPECT_EQ(added.POP3Security, 2);
  EXPECT_EQ(added.SMTPSecurity, 1);
  EXPECT_EQ(Reload()->Users, 1);  // added in memory only

  // Without an account the new configuration keeps its defaults.
  ASSERT_TRUE(form.AddConf(std::nullopt));
  EXPECT_EQ(form.Conf.ConfigNM, "Конфигурация 3");
  EXPECT_EQ(form.Conf.Port, "110");

  form.ChangeConf(0);
  form.DeleteConf();
  EXPECT_TRUE(form.DeletedSome);
  EXPECT_EQ(form.ConfNames, (std::vector<std::string>{"Дом", "Конфигурация 3"}));
  auto again = Reload();
  ASSERT_EQ(again->Users, 2);
  EXPECT_EQ(again->Conf[0].ConfigNM, "Дом");
  form.DeleteConf();
  form.DeleteConf();  // the last one stays
  EXPECT_EQ(Reload()->Users, 1);
  EXPECT_FALSE(form.DeleteEnabled);
}

}  // namespace
}  // namespace vigilo
