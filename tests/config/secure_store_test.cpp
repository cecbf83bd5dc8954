// The secure-mail values of a configuration: stored only when they differ from the
// classic behaviour, read back as saved, and malformed ones never stop a load.

#include <gtest/gtest.h>

#include <tuple>

#include "config/myuser.h"
#include "tests/config/store_fixture.h"

namespace vigilo {
namespace {

const std::string kKey1 = std::string(tusers::kRoot) + "\\1";
const char* const kNames[] = {"POP3Security", "SMTPSecurity",  "SMTPAuth", "SMTPUser",
                              "SMTPPwd",      "SMTPPlainAuth", "TrustCert"};
const std::string kPin = "ab:CD:" + std::string(60, 'e');  // as openssl prints it, any case

struct SecureStore : ::testing::Test, test::StoreFixture {
  bool HasAnyNewValue(int key) {
    for (const char* name : kNames) {
      if (Reg().GetValue(std::string(tusers::kRoot) + "\\" + std::to_string(key), name))
        return true;
    }
    return false;
  }
};

TEST_F(SecureStore, MissingValuesAreTheClassicSessionAndNothingIsWritten) {
  Start();  // first start
  const std::string first = test::ReadFile(file);
  auto s = Start();
  const tuser& u = s->Conf.at(0);
  EXPECT_EQ(std::tie(u.POP3Security, u.SMTPSecurity, u.SMTPAuth, u.SMTPPlainAuth),
            std::make_tuple(0, 0, 0, false));
  EXPECT_EQ(u.SMTPUser + u.SMTPPwd + u.TrustCert, "");
  s->Save();
  s.reset();
  EXPECT_EQ(test::ReadFile(file), first);
  EXPECT_FALSE(HasAnyNewValue(1));
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(SecureStore, RoundTripThenBackToDefaultsRemovesThem) {
  auto s = Start();
  s->AddConf();
  tuser& u = s->Conf[0];
  u.UserName = "pop";
  u.POP3Security = 2;
  u.SMTPSecurity = 1;
  u.SMTPAuth = 2;
  u.SMTPUser = " sender ";
  u.SMTPPwd = "smtp secret";
  u.SMTPPlainAuth = true;
  u.TrustCert = "sha256 Fingerprint=" + kPin;
  s->Save();
  EXPECT_EQ(Reg().ReadString(kKey1, "SMTPPwd"), tusers::EncodePwd("smtp secret", "sender"));
  EXPECT_EQ(test::ReadFile(file).find("smtp secret"), std::string::npos);

  s = Start();
  ASSERT_EQ(s->Users, 2);
  const tuser& r = s->Conf[0];
  EXPECT_EQ(std::tie(r.POP3Security, r.SMTPSecurity, r.SMTPAuth, r.SMTPPlainAuth),
            std::make_tuple(2, 1, 2, true));
  EXPECT_EQ(r.SMTPUser + "/" + r.SMTPPwd, "sender/smtp secret");
  EXPECT_EQ(r.TrustCert, "abcd" + std::string(60, 'e'));  // canonical form
  EXPECT_FALSE(HasAnyNewValue(2));

  // Deleting the first configuration moves the second to key 1: it takes its own
  // value along and none of the first one's stays behind; back to the default, it goes.
  s->Conf[1].SMTPSecurity = 2;
  s->Conf[0].Deleted = true;
  s->Save();
  EXPECT_EQ(Reg().ReadInteger(kKey1, "SMTPSecurity"), 2);
  EXPECT_FALSE(Reg().GetValue(kKey1, "TrustCert"));
  s->Conf[0].SMTPSecurity = 0;
  s->Save();
  EXPECT_FALSE(HasAnyNewValue(1));
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(SecureStore, MalformedValuesLoadAsTheSafeChoiceAndAreLogged) {
  Start();
  {
    RegistryFile& r = Reg();
    RegistryBatch batch(r);
    r.WriteInteger(kKey1, "Port", 995);
    r.WriteString(kKey1, "UserName", "pop");
    r.WriteInteger(kKey1, "POP3Security", 7);
    r.WriteString(kKey1, "SMTPSecurity", "2");  // not a number
    r.WriteInteger(kKey1, "SMTPAuth", -1);
    r.WriteInteger(kKey1, "SMTPPlainAuth", 5);
    r.WriteString(kKey1, "SMTPPwd", "9zz");
    r.WriteString(kKey1, "TrustCert", std::string(63, 'a'));
  }
  auto s = Start();
  const std::string stored = test::ReadFile(file);
  ASSERT_EQ(s->Users, 1);
  const tuser& u = s->Conf[0];
  EXPECT_EQ(u.POP3Security, 2);  // port 995: TLS from the start
  EXPECT_EQ(u.SMTPSecurity, 1);  // STARTTLS, never plain text
  EXPECT_EQ(u.SMTPAuth, 0);      // no credentials handed out
  EXPECT_FALSE(u.SMTPPlainAuth);
  EXPECT_EQ(u.SMTPPwd, "");
  EXPECT_EQ(u.TrustCert, "");  // only the CAs decide
  const std::string log = ErrorLog();
  for (const char* name :
       {"POP3Security", "SMTPSecurity", "SMTPAuth", "SMTPPlainAuth", "SMTPPwd", "TrustCert"})
    EXPECT_NE(log.find(std::string("\"") + name + "\""), std::string::npos) << name;
  s.reset();
  EXPECT_EQ(test::ReadFile(file), stored);  // loading wrote nothing back
}

}  // namespace
}  // namespace vigilo
