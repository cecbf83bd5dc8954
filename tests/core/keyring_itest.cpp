// Passwords in a real desktop keyring (a private gnome-keyring-daemon on a bus of
// its own), with `vigilo --check` logging in to a private Dovecot after every change:
// saved, moved in, locked, gone, turned off, moved out.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "config/myuser.h"
#include "platform/keyring.h"
#include "platform/regfile.h"
#include "tests/core/check_fixture.h"
#include "tests/support/dovecot.h"
#include "tests/support/keyring_daemon.h"
#include "tests/support/tempdir.h"

#ifdef VIGILO_BINARY
namespace vigilo {
namespace {

constexpr const char* kPwd = "work pw1";
constexpr const char* kSmtpPwd = "smtp 'secret'";

// The settings of the home as the program opens them, with or without the keyring.
struct Store {
  Store(const test::TempDir& home, Keyring* keyring)
      : reg(home.path() / "registry.reg", home.path() / "error.log"),
        backup(home.path() / "passwords.reg", home.path() / "error.log"),
        s(reg, autostart, home.str(), "/usr/bin/vigilo", keyring, keyring ? &backup : nullptr) {}
  test::RecordingAutostart autostart;
  RegistryFile reg;
  RegistryFile backup;
  tusers s;
};

class KeyringIT : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!daemon.Ready()) GTEST_SKIP() << "no private keyring can run here: " << daemon.Error();
    daemon.Use();
    keyring = CreateSecretServiceKeyring(std::chrono::seconds(30));
    server = std::make_unique<test::DovecotServer>(std::vector<test::MailUser>{{"work", kPwd}});
    // A store of before the keyring: the passwords scrambled in registry.reg.
    test::Settings st(home);
    tuser& u = st.Add("Work", "work", kPwd, server->Pop3Port());
    u.SMTPAuth = 2;
    u.SMTPUser = "mailer";
    u.SMTPPwd = kSmtpPwd;
    st.Save();
  }

  std::unique_ptr<Store> Open(bool with_keyring = true) {
    return std::make_unique<Store>(home, with_keyring ? keyring.get() : nullptr);
  }
  // Saves through the keyring and checks that registry.reg kept no password.
  void SaveIntoKeyring() {
    auto st = Open();
    st->s.Save();
    ASSERT_TRUE(st->reg.Flush());
    const tuser& u = st->s.Conf.at(0);
    ASSERT_FALSE(u.UserPwdKeyring.empty()) << ErrorLog();
    ASSERT_FALSE(u.SMTPPwdKeyring.empty());
    pop_id = u.UserPwdKeyring;
    const std::string reg = Registry();
    EXPECT_EQ(reg.find(tusers::EncodePwd(kPwd, "work")), std::string::npos);
    EXPECT_EQ(reg.find(tusers::EncodePwd(kSmtpPwd, "mailer")), std::string::npos);
    EXPECT_NE(reg.find("\"UserPwd\"=\"keyring:" + u.UserPwdKeyring + "\""), std::string::npos);
    EXPECT_EQ(keyring->Find(u.UserPwdKeyring).secret, kPwd);
  }
  // Both passwords as a fresh start of the program reads them.
  void ExpectPasswordsLoad(bool with_keyring = true) {
    auto st = Open(with_keyring);
    ASSERT_EQ(st->s.Conf.size(), 1u);
    EXPECT_EQ(st->s.Conf[0].UserPwd, kPwd) << ErrorLog();
    EXPECT_EQ(st->s.Conf[0].SMTPPwd, kSmtpPwd);
  }
  // Runs `vigilo --check` on the home: true when the mailbox logged in.
  ::testing::AssertionResult ChecksIn() {
    const auto [code, out] = test::RunCheck(home, xdg);
    if (code == 0 || code == 1) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "exit " << code << ": " << out << "\n" << ErrorLog();
  }
  std::string Registry() const { return test::ReadFile(home.path() / "registry.reg"); }
  std::string ErrorLog() const { return test::ReadFile(home.path() / "error.log"); }

  test::KeyringDaemon daemon;
  std::unique_ptr<Keyring> keyring;
  std::unique_ptr<test::DovecotServer> server;
  test::TempDir home, xdg;
  std::string pop_id;
};

// The check logs in whatever becomes of the keyring. A save while the keyring is gone keeps
// the passwords in registry.reg; with the keyring back the next save moves them in again,
// and turning the keyring off moves them back for good.
TEST_F(KeyringIT, MovedInLockedGoneAndTurnedOffTheCheckLogsInEveryTime) {
  EXPECT_TRUE(ChecksIn());
  SaveIntoKeyring();
  EXPECT_TRUE(ChecksIn());
  ASSERT_EQ(daemon.Lock(), "");
  EXPECT_TRUE(ChecksIn());
  daemon.StopKeyring();
  EXPECT_TRUE(ChecksIn());
  ExpectPasswordsLoad();
  {
    auto st = Open();  // the passwords come from the backup copy
    st->s.Conf[0].ConfigNM = "Renamed";
    st->s.Save();
    ASSERT_TRUE(st->reg.Flush());
  }
  EXPECT_NE(Registry().find(tusers::EncodePwd(kPwd, "work")), std::string::npos);
  EXPECT_NE(Registry().find(tusers::EncodePwd(kSmtpPwd, "mailer")), std::string::npos);
  std::filesystem::remove(home.path() / "passwords.reg");
  EXPECT_TRUE(ChecksIn());
  ExpectPasswordsLoad(false);

  ASSERT_EQ(daemon.StartKeyring(), "");
  SaveIntoKeyring();
  EXPECT_TRUE(ChecksIn());
  {
    auto st = Open();
    st->s.UseKeyring = false;
    st->s.Save();
    ASSERT_TRUE(st->reg.Flush());
  }
  EXPECT_NE(Registry().find("\"Keyring\"=dword:00000000"), std::string::npos);
  EXPECT_NE(Registry().find(tusers::EncodePwd(kPwd, "work")), std::string::npos);
  EXPECT_EQ(Registry().find("keyring:"), std::string::npos);
  EXPECT_EQ(keyring->Find(pop_id).status, Keyring::Status::Missing);
  // registry.reg alone is enough now.
  daemon.StopKeyring();
  std::filesystem::remove(home.path() / "passwords.reg");
  EXPECT_TRUE(ChecksIn());
  ExpectPasswordsLoad();
}

}  // namespace
}  // namespace vigilo
#endif
