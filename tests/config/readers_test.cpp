// Ini files (window places, icon sets) and the mail account of Thunderbird's profile.

#include <gtest/gtest.h>

#include "config/inifile.h"
#include "config/thunderbird.h"
#include "tests/support/tempdir.h"

namespace vigilo {
namespace {

const char* kPrefs = R"(// Mozilla User Preferences
user_pref("mail.accountmanager.accounts", "account1,account2");
user_pref("mail.accountmanager.defaultaccount", "account2");
user_pref("mail.account.account2.identities", "id2,id3");
user_pref("mail.account.account2.server", "server2");
user_pref("mail.identity.id2.useremail", "ivan@example.test");
user_pref("mail.identity.id2.smtpServer", "smtp1");
user_pref("mail.server.server2.hostname", "pop.example.test");
user_pref("mail.server.server2.name", "Иван \"дома\"");
user_pref("mail.server.server2.socketType", 3);
user_pref("mail.server.server2.type", "pop3");
user_pref("mail.server.server2.userName", "ivan");
user_pref("mail.server.server1.type", "imap");
user_pref("mail.smtpserver.smtp1.hostname", "smtp.example.test");
user_pref("mail.smtpserver.smtp1.port", 587);
user_pref("mail.smtpserver.smtp1.try_ssl", 2);
)";

TEST(Thunderbird, ReadsTheDefaultPop3AccountOfTheDefaultProfile) {
  test::TempDir home;
  const auto tb = home.path() / ".thunderbird";
  test::WriteFile(tb / "profiles.ini",
                  "[Profile1]\nName=old\nIsRelative=1\nPath=old.default\nDefault=1\n\n"
                  "[Profile0]\nName=default-release\nIsRelative=1\nPath=abc.default-release\n\n"
                  "[Install4F96D1932A9F858E]\nDefault=abc.default-release\nLocked=1\n");
  test::WriteFile(tb / "abc.default-release" / "prefs.js", kPrefs);
  test::WriteFile(tb / "old.default" / "prefs.js", "");
  const auto a = FindThunderbirdAccount(ThunderbirdFolders(home.path().string()));
  ASSERT_TRUE(a);
  EXPECT_EQ(
      a->AccountName + "|" + a->Email + "|" + a->PopServer + "|" + a->PopUser + "|" + a->SmtpServer,
      "Иван \"дома\"|ivan@example.test|pop.example.test|ivan|smtp.example.test");
  EXPECT_FALSE(a->PopPort);
  EXPECT_EQ(a->PopSecurity, 2);
  EXPECT_EQ(a->SmtpPort, 587);
  EXPECT_EQ(a->SmtpSecurity, 1);

  // Without an install section the profile flagged Default=1 is used; an IMAP
  // default account gives nothing.
  test::WriteFile(tb / "profiles.ini",
                  "[Profile0]\nPath=abc.default-release\n\n[Profile1]\nPath=old.default\n"
                  "Default=1\n");
  test::WriteFile(tb / "old.default" / "prefs.js",
                  "user_pref(\"mail.accountmanager.defaultaccount\", \"account1\");\n"
                  "user_pref(\"mail.account.account1.server\", \"server1\");\n"
                  "user_pref(\"mail.server.server1.type\", \"imap\");\n");
  EXPECT_FALSE(ReadThunderbirdAccount(tb.string()));
  EXPECT_FALSE(ReadThunderbirdAccount((home.path() / "missing").string()));
}

TEST(IniFile, KeysKeepFileOrderAndNamesIgnoreCase) {
  test::TempDir t;
  const std::string path = t.str() + "icon.ini";
  test::WriteFile(
      path, "[ImageList1]\r\n 1 = /b.ico \r\n0=/a.ico\r\n; note\r\n[Other]\nLeft=10\nbad line\n");
  IniFile ini(path);
  EXPECT_EQ(ini.Keys("imagelist1"), (std::vector<std::string>{"1", "0"}));
  EXPECT_EQ(ini.ReadString("ImageList1", "1", ""), "/b.ico");
  EXPECT_EQ(ini.ReadInteger("other", "LEFT", 0), 10);
  EXPECT_EQ(ini.ReadInteger("other", "Top", 7), 7);
  EXPECT_FALSE(ini.HasSection("Missing"));

  ini.Write("ImageList1", "0", "/c.ico");
  ini.Write("New", "Путь", "/д.ico");
  ASSERT_EQ(ini.Save(), "");
  IniFile again(path);
  EXPECT_EQ(again.ReadString("ImageList1", "0", ""), "/c.ico");
  EXPECT_EQ(again.ReadString("New", "Путь", ""), "/д.ico");
  EXPECT_EQ(again.Keys("ImageList1"), (std::vector<std::string>{"1", "0"}));
}

}  // namespace
}  // namespace vigilo
