// How the settings store decides between the keyring and the registry when the keyring
// misbehaves in ways a real one rarely shows on demand: it takes a password but gives
// back another, the backup cannot be written, an item is gone for good.

#include <gtest/gtest.h>

#include <map>

#include "config/myuser.h"
#include "tests/config/store_fixture.h"

namespace vigilo {
namespace {

const std::string kKey1 = std::string(tusers::kRoot) + "\\1";

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
  std::string Stored() { return Reg().ReadString(kKey1, "UserPwd").value_or("?"); }
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
