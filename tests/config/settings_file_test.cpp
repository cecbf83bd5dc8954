// The settings file byte for byte against files kept beside this test: a first start, an
// old hand-written store after loading (missing values written back with their defaults,
// nothing else touched) and after a save that changes everything; saving again changes
// nothing. After a deliberate change of the format, VIGILO_UPDATE_GOLDEN=1 rewrites them.

#include <gtest/gtest.h>

#include <cstdlib>

#include "config/myuser.h"
#include "tests/config/store_fixture.h"

namespace vigilo {
namespace {

const std::filesystem::path kGolden = VIGILO_GOLDEN_DIR;

// An old store: global flags missing, a wrong type, a configuration without its
// SMTP port, one with secure-mail values, a count that names a missing key, and
// keys and values the program does not know.
const char kOldStore[] =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Brenna\\Vigilo]\r\n"
    "\"Delay\"=dword:0000003c\r\n\"Sound\"=\"  ding.oga \"\r\n\"Lan\"=dword:00000001\r\n"
    "\"Visual\"=dword:00000002\r\n\"Users\"=dword:00000004\r\n\"Ponty\"=dword:00000000\r\n"
    "\"Unknown\"=\"kept\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Brenna\\Vigilo\\Black]\r\n\"0\"=\"spam@example.test\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Brenna\\Vigilo\\1]\r\n"
    "\"ConfigNM\"=\"Дом\"\r\n\"Host\"=\"pop.test\"\r\n\"Port\"=dword:0000006e\r\n"
    "\"SMTPHost\"=\"smtp.test\"\r\n\"Adress\"=dword:00000007\r\n\"UserName\"=\"ann\"\r\n"
    "\"UserPwd\"=\"2173215\"\r\n\"ViewMail\"=dword:00000001\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Brenna\\Vigilo\\2]\r\n"
    "\"ConfigNM\"=\"Work\"\r\n\"Port\"=dword:000003e3\r\n\"SMTPHost\"=\"mx.test\"\r\n"
    "\"SMTPPort\"=dword:000001d1\r\n\"UserPwd\"=\"\"\r\n\"ViewMail\"=dword:00000000\r\n"
    "\"NonActive\"=dword:00000001\r\n\"POP3Security\"=dword:00000002\r\n"
    "\"SMTPAuth\"=dword:00000009\r\n\"TrustCert\"=\"not a fingerprint\"\r\n"
    "\"Extra\"=\"belongs to Work\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Brenna\\Vigilo\\4]\r\n"
    "\"ConfigNM\"=\"Last\"\r\n\"Port\"=dword:0000006e\r\n\"UserPwd\"=\"\"\r\n"
    "\"ViewMail\"=dword:00000000\r\n\"NonActive\"=dword:00000000\r\n"
    "\"SMTPHost\"=\"\"\r\n\"SMTPPort\"=dword:00000019\r\n\"Adress\"=\"\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Brenna\\Vigilo\\9]\r\n\"ConfigNM\"=\"beyond the count\"\r\n";

struct SettingsFile : ::testing::Test, test::StoreFixture {
  void ExpectGolden(const std::string& name) {
    const std::string actual = test::ReadFile(file);
    if (std::getenv("VIGILO_UPDATE_GOLDEN")) test::WriteFile(kGolden / name, actual);
    EXPECT_EQ(actual, test::ReadFile(kGolden / name)) << name;
  }
};

TEST_F(SettingsFile, IsWrittenByteForByteAsBefore) {
  Start()->Save();  // a first start, saved unchanged: no secure-mail values appear
  ExpectGolden("first_start.reg");
  EXPECT_EQ(ErrorLog(), "");  // a first start is not a problem

  test::WriteFile(file, kOldStore);
  auto s = Start();
  ExpectGolden("old_store_loaded.reg");

  s->Conf.at(0).Deleted = true;  // the others move down, taking their keys' values along
  tuser& u = s->Conf.at(1);
  u.SMTPUser = " sender ";
  u.SMTPPwd = std::string(100, 'p');  // a long password: 400 digits stored
  u.TrustCert = "sha256 Fingerprint=AB:CD:" + std::string(60, 'e');
  u.SMTPAuth = 2;
  u.SMTPPlainAuth = true;
  s->Conf.at(s->AddConf()).Host = " new.test ";
  s->Delay = 300;
  s->Ras = "Модем";
  s->delBlack = true;
  s->Black.push_back("Рассылка <news@example.test>");
  s->Save();
  ExpectGolden("changed_and_saved.reg");
  s->Save();
  ExpectGolden("changed_and_saved.reg");

  const auto t = Start();
  const tuser& back = t->Conf.at(0);
  EXPECT_EQ(back.SMTPPwd, std::string(100, 'p'));
  EXPECT_EQ(back.SMTPUser, "sender");
}

}  // namespace
}  // namespace vigilo
