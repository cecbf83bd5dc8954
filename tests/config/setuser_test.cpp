// The settings window's rules without widgets: what a store accepts and the
// password-guarded configuration.

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
};

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
    EXPECT_EQ(view.errors, std::vector<std::string>{c.message});
    EXPECT_EQ(view.focused, c.field);
    EXPECT_EQ(s->Conf[0].Host, "");  // nothing of the form reached the settings
  }
  EXPECT_EQ(Reload()->Conf[0].Host, "");  // nor the file

  // The limits themselves are accepted; a bad fingerprint is refused too.
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

TEST_F(SetUserTest, GuardedConfigurationOpensOnlyWithItsExactPassword) {
  s->Conf[0].ViewMail = true;
  s->Conf[0].UserPwd = "Secret ";
  form.Show({});
  EXPECT_TRUE(form.Locked);
  for (const auto& typed : {std::optional<std::string>("secret "),
                            std::optional<std::string>("Secret"), std::optional<std::string>()}) {
    view.typed = typed;
    form.Unlock();
    EXPECT_TRUE(form.Locked);
  }
  ASSERT_EQ(view.errors.size(), 3u);
  EXPECT_EQ(view.errors[0],
            "Пароль не верен. Редактирование параметров конфигурации Конфигурация 1 запрещено.");
  view.typed = "Secret ";
  form.Unlock();
  EXPECT_FALSE(form.Locked);
}

}  // namespace
}  // namespace vigilo
