// The settings store: round trips, damaged or hostile stores, bounds, the password scramble,
// passwords in the keyring.
// The exact bytes written are pinned by the golden files of settings_file_test.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <tuple>

#include "base/utf8.h"
#include "config/myuser.h"
#include "tests/config/store_fixture.h"

namespace vigilo {
namespace {

using test::ReadFile;

const std::string kRoot = "Software\\Brenna\\Vigilo";
std::string Key(int n) {
  return kRoot + "\\" + std::to_string(n);
}
bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

struct Store : ::testing::Test, test::StoreFixture {
  // A store with the global values and `n` configurations named C1..Cn.
  void WriteStore(int n) {
    RegistryFile& r = Reg();
    RegistryBatch batch(r);
    for (const char* name : {"Delay", "Lan", "Visual"})
      r.WriteInteger(kRoot, name, name[0] == 'D' ? 60 : 1);
    r.WriteInteger(kRoot, "Users", n);
    for (int i = 1; i <= n; ++i) {
      const std::string s = std::to_string(i);
      r.WriteString(Key(i), "ConfigNM", "C" + s);
      r.WriteString(Key(i), "Host", "pop" + s + ".test");
      r.WriteInteger(Key(i), "Port", 110 + i);
      r.WriteString(Key(i), "SMTPHost", "smtp" + s + ".test");
      r.WriteInteger(Key(i), "SMTPPort", 25);
      r.WriteString(Key(i), "UserName", "user" + s);
      r.WriteString(Key(i), "UserPwd", tusers::EncodePwd("pw" + s, "user" + s));
      r.WriteInteger(Key(i), "ViewMail", 0);
      r.WriteInteger(Key(i), "NonActive", 0);
    }
  }
  static std::vector<std::string> Names(const tusers& s) {
    std::vector<std::string> v;
    for (const tuser& u : s.Conf)
      v.push_back(u.ConfigNM);
    return v;
  }
  // A store that could not be read starts as a first start does.
  void ExpectFirstStart(const tusers& s) {
    EXPECT_EQ(Names(s), std::vector<std::string>{"Конфигурация 1"});
    EXPECT_EQ(Reg().ReadInteger(kRoot, "Users"), 1);
  }
};

TEST_F(Store, EverythingSurvivesSaveAndLoad) {
  WriteStore(1);
  auto s = Start();
  s->Delay = 300;
  s->Sound = "  /usr/share/sounds/звук.oga  ";
  s->Post = "thunderbird -mail";
  s->Avir = "clamscan";
  s->Lan = 2;
  s->Ras = "Модем";
  s->Ponty = s->delType = s->delBlack = s->ChIfCon = s->AutoRun = true;
  s->Black = {"spam@example.test", "Рассылка <news@example.test>", "a\"b\\c"};
  const std::pair<std::string tuser::*, std::string> texts[] = {
      {&tuser::Host, "pop.example.test"},
      {&tuser::SMTPHost, "smtp.example.test"},
      {&tuser::Adress, "я@example.test"},
      {&tuser::UserPwd, "пароль 123"},
      {&tuser::SMTPPwd, "smtp secret"}};
  const std::pair<int tuser::*, int> numbers[] = {{&tuser::Port, 995},
                                                  {&tuser::SMTPPort, 587},
                                                  {&tuser::POP3Security, 2},
                                                  {&tuser::SMTPSecurity, 1},
                                                  {&tuser::SMTPAuth, 2}};
  tuser& u = s->Conf[0];
  for (const auto& [field, value] : texts)
    u.*field = value;
  for (const auto& [field, value] : numbers)
    u.*field = value;
  u.ConfigNM = " Работа ";
  u.UserName = " alice ";
  u.SMTPUser = " sender ";
  u.ViewMail = u.NonActive = u.SMTPPlainAuth = true;
  u.TrustCert = "sha256 Fingerprint=ab:CD:" + std::string(60, 'e');  // as openssl prints it
  s->Save();
  EXPECT_EQ(autostart.program, "/usr/bin/vigilo");
  EXPECT_FALSE(Has(ReadFile(file), "secret") || Has(ReadFile(file), "пароль"));  // scrambled

  // Loaded and saved again, the file is the same: nothing was lost or swapped.
  const std::string saved = ReadFile(file);
  auto t = Start();
  t->Save();
  EXPECT_EQ(ReadFile(file), saved);
  EXPECT_EQ(t->Sound, "/usr/share/sounds/звук.oga");  // written trimmed
  EXPECT_TRUE(t->Ponty && t->delType && t->delBlack && t->ChIfCon && t->AutoRun);
  EXPECT_EQ(t->Black, s->Black);
  const tuser& v = t->Conf.at(0);
  for (const auto& [field, value] : texts)
    EXPECT_EQ(v.*field, value);
  for (const auto& [field, value] : numbers)
    EXPECT_EQ(v.*field, value);
  EXPECT_EQ(v.ConfigNM + "|" + v.UserName + "|" + v.SMTPUser, "Работа|alice|sender");
  EXPECT_TRUE(v.ViewMail && v.NonActive && v.SMTPPlainAuth);
  EXPECT_EQ(v.TrustCert, "abcd" + std::string(60, 'e'));  // canonical form
  EXPECT_EQ(v.InDir + "|" + v.OutDir,
            dir.str() + "in/ualicepop.example.test|" + dir.str() + "out/ualicepop.example.test");
  t->AutoRun = false;
  t->Conf[0].SMTPSecurity = 0;  // back to the default: the value leaves the file
  t->Save();
  EXPECT_EQ(autostart.program, "");
  EXPECT_FALSE(Reg().GetValue(Key(1), "SMTPSecurity"));
}

TEST_F(Store, MalformedSecureValuesLoadAsTheSafeChoiceAndAreLogged) {
  Start();
  {
    RegistryFile& r = Reg();
    RegistryBatch batch(r);
    r.WriteInteger(Key(1), "Port", 995);
    r.WriteString(Key(1), "UserName", "pop");
    r.WriteInteger(Key(1), "POP3Security", 7);
    r.WriteString(Key(1), "SMTPSecurity", "2");  // not a number
    r.WriteInteger(Key(1), "SMTPAuth", -1);
    r.WriteInteger(Key(1), "SMTPPlainAuth", 5);
    r.WriteString(Key(1), "SMTPPwd", "9zz");
    r.WriteString(Key(1), "TrustCert", std::string(63, 'a'));
  }
  auto s = Start();
  const std::string stored = ReadFile(file);
  ASSERT_EQ(s->Users, 1);
  const tuser& u = s->Conf[0];
  // Port 995: TLS from the start; STARTTLS, never plain text; no credentials handed out;
  // only the CAs decide.
  EXPECT_EQ(std::tie(u.POP3Security, u.SMTPSecurity, u.SMTPAuth, u.SMTPPlainAuth),
            std::make_tuple(2, 1, 0, false));
  EXPECT_EQ(u.SMTPPwd + u.TrustCert, "");
  for (const char* name :
       {"POP3Security", "SMTPSecurity", "SMTPAuth", "SMTPPlainAuth", "SMTPPwd", "TrustCert"})
    EXPECT_TRUE(Has(ErrorLog(), std::string("\"") + name + "\"")) << name;
  s.reset();
  EXPECT_EQ(ReadFile(file), stored);  // loading wrote nothing back
}

TEST_F(Store, BrokenConfigurationsAreSkippedAndKept) {
  WriteStore(3);
  Reg().DeleteValue(Key(2), "Port");
  auto s = Start();
  EXPECT_EQ(Names(*s), (std::vector<std::string>{"C1", "C3"}));
  EXPECT_EQ(s->Conf[1].Host, "pop3.test");  // from its own key, not another one
  EXPECT_EQ(s->Conf[1].UserPwd, "pw3");
  EXPECT_TRUE(Has(ErrorLog(), "configuration 2 not loaded")) << ErrorLog();
  ASSERT_EQ(Reg().KeptCopies().size(), 1u);  // the broken key survives in the copy
  EXPECT_TRUE(Has(ReadFile(Reg().KeptCopies()[0]), "\"ConfigNM\"=\"C2\""));
  EXPECT_FALSE(Reg().GetValue(Key(2), "Port").has_value());  // no defaults written into it
  s->Save();
  EXPECT_EQ(Reg().ReadInteger(Key(2), "Port"), 113);
  EXPECT_FALSE(Reg().KeyExists(Key(3)));

  // A missing key and a malformed password are skipped too.
  WriteStore(4);
  Reg().DeleteKey(Key(2));
  Reg().WriteString(Key(3), "UserPwd", "4123");
  s = Start();
  EXPECT_EQ(Names(*s), (std::vector<std::string>{"C1", "C4"}));
  EXPECT_EQ(s->Conf[1].Index, 1);
}

TEST_F(Store, DamagedStoresStartAfresh) {
  WriteStore(2);
  Reg().WriteString(kRoot, "Lan", "two");
  auto s = Start();
  ExpectFirstStart(*s);
  EXPECT_EQ(s->Delay, 60);  // read before the damaged value
  EXPECT_EQ(s->Lan, 0);
  ASSERT_EQ(Reg().KeptCopies().size(), 1u);
  EXPECT_TRUE(Has(ReadFile(Reg().KeptCopies()[0]), "\"ConfigNM\"=\"C2\""));
  EXPECT_TRUE(Has(ErrorLog(), "\"Lan\""));

  test::WriteFile(file, std::string("\0\0\0garbage", 10));
  ExpectFirstStart(*Start());
}

TEST_F(Store, AWildCountVisitsOnlyTheKeysThatExistAndLogsOnce) {
  WriteStore(2);
  {
    RegistryFile& r = Reg();
    RegistryBatch batch(r);
    for (const auto& name : r.ValueNames(Key(2)))
      r.SetValue(Key(4'999'999), name, *r.GetValue(Key(2), name));
    r.DeleteKey(Key(2));
    r.WriteInteger(kRoot, "Users", 5'000'000);
  }
  auto s = Start();
  EXPECT_EQ(Names(*s), (std::vector<std::string>{"C1", "C2"}));
  const std::string log = ErrorLog();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log.substr(0, 1000);
  s->Save();
  EXPECT_EQ(Reg().ReadInteger(kRoot, "Users"), 2);
  EXPECT_EQ(Reg().ReadString(Key(2), "ConfigNM"), "C2");
  EXPECT_FALSE(Reg().KeyExists(Key(4'999'999)));
}

// Long texts are cut at whole characters, hostile names cannot lead folders outside, and
// a header count a server may claim reserves no memory.
TEST_F(Store, LongValuesAreCutCountsBoundedAndFoldersStayInside) {
  WriteStore(2);
  std::string long_name;
  for (int i = 0; i < 300; ++i)
    long_name += "Ж";
  Reg().WriteString(Key(1), "ConfigNM", long_name);
  auto s = Start();
  EXPECT_EQ(s->Conf[0].ConfigNM, CutChars(long_name, 255));
  EXPECT_EQ(s->AddConf(), 2);
  EXPECT_EQ(s->Conf[2].ConfigNM, "Конфигурация 3");
  EXPECT_FALSE(Reg().KeyExists(Key(3)));  // nothing written before Save
  tuser& u = s->Conf[0];
  u.Host = std::string(400, 'h');
  s->Save();
  EXPECT_EQ(Reg().ReadString(Key(1), "Host")->size(), 255u);
  u.UserName = "../../etc";
  u.Host = "/passwd";
  s->ComputeDirs(u);
  EXPECT_EQ(u.InDir, dir.str() + "in/u.._.._etc_passwd");
  EXPECT_EQ(u.OutDir, dir.str() + "out/u.._.._etc_passwd");

  s->ClearHeads(0, 4'000'000'000LL);
  EXPECT_LE(s->Conf[0].Heads.capacity(), 1024u);
  s->AddHead(0, 0, "a@b", long_name, " 2048 байт", "date", "to", "id1", 3);
  ASSERT_EQ(s->Conf[0].HeadCount, 1);
  EXPECT_EQ(s->Conf[0].Heads[0].Subject, CutChars(long_name, 255));
  EXPECT_THROW(s->ClearHeads(5, 1), std::out_of_range);
}

// Stored files hold passwords in this form: its digits must not change.
TEST(Password, ScramblingRoundTripsAndRefusesMalformedText) {
  // 'a'^'k' = 10, 'b'^'e' = 7, 'c'^'k' = 8: the key is used cyclically.
  EXPECT_EQ(tusers::EncodePwd("abc", "ke"), "2101718");
  EXPECT_EQ(tusers::EncodePwd("\xff", "\x01"), "3254");
  EXPECT_EQ(tusers::DecodePwd(tusers::EncodePwd("pw", ""), ""), "pw");  // no key
  std::string all;
  for (int b = 0; b < 256; ++b)
    all += static_cast<char>(b);
  EXPECT_EQ(tusers::DecodePwd(tusers::EncodePwd(all, "ключ"), "ключ"), all);
  const std::string stored = tusers::EncodePwd(std::string(255, '\x80'), "a");
  EXPECT_EQ(stored.size(), 1020u);
  EXPECT_EQ(tusers::DecodePwd(stored, "a"), std::string(255, '\x80'));
  for (const char* bad : {"4123", "0", "2", "31", "312", "3256", "2a1", " 15", "15 "})
    EXPECT_THROW(tusers::DecodePwd(bad, "key"), std::invalid_argument) << bad;
}

// The keyring misbehaving in ways a real one rarely shows on demand: it takes a password
// but gives back another, the backup cannot be written, an item is gone for good.
class MemoryKeyring : public Keyring {
 public:
  Lookup Find(const std::string& id) override {
    if (down) return {Status::Unreachable, {}, "down"};
    const auto it = items.find(id);
    if (it == items.end()) return {Status::Missing, {}, {}};
    return {Status::Found, garble ? it->second + "?" : it->second, {}};
  }
  std::string Store(const std::string& id, const std::string&, const std::string& s) override {
    if (down) return "down";
    items[id] = s;
    return {};
  }
  std::string Remove(const std::string& id) override {
    if (down) return "down";
    items.erase(id);
    return {};
  }
  std::map<std::string, std::string> items;
  bool down = false;
  bool garble = false;
};

struct KeyringStore : ::testing::Test, test::StoreFixture {
  MemoryKeyring keyring;
  std::filesystem::path backup_file = dir.path() / "passwords.reg";
  std::unique_ptr<RegistryFile> backup;

  // A new start with the keyring and a backup store (nullptr: one that cannot be written).
  std::unique_ptr<tusers> Open(bool backup_writable = true) {
    reg.reset();
    backup = backup_writable ? std::make_unique<RegistryFile>(backup_file, dir.path() / "error.log")
                             : std::make_unique<RegistryFile>();
    return std::make_unique<tusers>(Reg(), autostart, dir.str(), "/usr/bin/vigilo", &keyring,
                                    backup.get());
  }
  void SetPassword(tusers& s, const std::string& pwd) {
    s.Conf.at(0).UserName = "work";
    s.Conf.at(0).UserPwd = pwd;
    s.Save();
  }
  std::string Stored() { return Reg().ReadString(Key(1), "UserPwd").value_or("?"); }
};

TEST_F(KeyringStore, NoMarkerUnlessTheKeyringGivesThePasswordBackAndTheBackupHoldsIt) {
  keyring.garble = true;
  SetPassword(*Open(), "pw");
  EXPECT_EQ(Stored(), tusers::EncodePwd("pw", "work"));
  EXPECT_TRUE(keyring.items.empty());  // the item it garbled went again
  keyring.garble = false;
  SetPassword(*Open(false), "pw");
  EXPECT_EQ(Stored(), tusers::EncodePwd("pw", "work"));
  SetPassword(*Open(), "pw");
  EXPECT_EQ(Stored(), "keyring:" + Open()->Conf.at(0).UserPwdKeyring);
}

TEST_F(KeyringStore, AnUnreadableItemKeepsItsConfigurationAndItsMarkerUntilRetyped) {
  SetPassword(*Open(), "pw");
  const std::string marker = Stored();
  keyring.items.clear();
  std::filesystem::remove(backup_file);
  auto s = Open();
  ASSERT_EQ(s->Conf.size(), 1u);
  EXPECT_NE(ErrorLog().find("must be entered again"), std::string::npos);
  s->UseKeyring = false;  // even moving out keeps what cannot be read
  s->Save();
  EXPECT_EQ(Stored(), marker);
  SetPassword(*s, "typed");
  EXPECT_EQ(Stored(), tusers::EncodePwd("typed", "work"));
}

TEST_F(KeyringStore, ADeletedConfigurationLeavesNoItemBehind) {
  auto s = Open();
  SetPassword(*s, "one");
  s->Conf[s->AddConf()].UserPwd = "two";
  s->Save();
  EXPECT_EQ(keyring.items.size(), 2u);
  s->Conf[0].Deleted = true;
  s->Save();
  ASSERT_EQ(keyring.items.size(), 1u);
  EXPECT_EQ(Open()->Conf.at(0).UserPwd, "two");
}

}  // namespace
}  // namespace vigilo
