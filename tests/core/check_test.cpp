// The check cycle without servers: message keys and their file names, the blacklist rule,
// and what a check shows when nothing answers.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "base/utf8.h"
#include "tests/core/check_fixture.h"
#include "tests/support/free_port.h"
#include "viewer/blacklist.h"
#include "viewer/msgstore.h"

namespace vigilo {
namespace {

using test::CheckRig;

TEST(MessageKeyTest, BracketedPlainUnclosedAndBlankIds) {
  const std::vector<std::string> headers = {"From: a@b", "Subject: x"};
  EXPECT_EQ(MessageKey("  <abc@host.example> trailing", headers, "", 1), "abc@host.example");
  EXPECT_EQ(MessageKey("  plain-id@host  ", headers, "", 1), "plain-id@host");
  EXPECT_EQ(MessageKey("< spaced@host >", headers, "", 1), "spaced@host");
  EXPECT_EQ(ExtractBracketed("<unclosed@host"), "");
  // An unclosed, missing or blank Message-ID gets a key of its own: header block, first body
  // line and size.
  const std::string k1 = MessageKey("<unclosed@host", headers, "hello", 100);
  EXPECT_EQ(k1.size(), 35u);
  EXPECT_EQ(k1.rfind("vg-", 0), 0u);
  EXPECT_EQ(MessageKey("", headers, "hello", 100), k1);  // the same key check after check
  EXPECT_EQ(MessageKey("<  >", headers, "hello", 100), k1);
  EXPECT_EQ(MessageKey("", {"From: a@b", "Subject: x", "", "other"}, "hello", 100), k1);
  EXPECT_NE(MessageKey("", {"From: a@b", "Subject: y"}, "hello", 100), k1);
  EXPECT_NE(MessageKey("", headers, "hello!", 100), k1);
  EXPECT_NE(MessageKey("", headers, "hello", 101), k1);
  // The parts cannot be shifted into each other.
  EXPECT_NE(MessageKey("", {"From: a@b"}, "Subject: x", 100),
            MessageKey("", {"From: a@b", "Subject: x"}, "", 100));
}

TEST(MessageKeyTest, FileNamesStayInsideTheFolderAndMapBack) {
  EXPECT_EQ(MessageFileName("../../etc/passwd"), "m_%2E.%2F..%2Fetc%2Fpasswd");
  EXPECT_EQ(MessageFilePath("/home/in/uwork", "a\\b"), "/home/in/uwork/m_a%5Cb");
  for (const std::string& key : {std::string("a%2Fb"), std::string("x~y"), std::string("tab\there"),
                                 std::string("nul\0mid", 7), std::string(".hidden"),
                                 std::string("\x7f\x01"), std::string("Кириллица@host")}) {
    const std::string name = EscapeKey(key);
    EXPECT_EQ(name.find_first_of(std::string("/\\\0", 3)), std::string::npos) << name;
    for (unsigned char c : name)
      EXPECT_GE(c, 0x20) << name;
    EXPECT_NE(name[0], '.');
    std::string back;
    ASSERT_TRUE(UnescapeKey(name, &back)) << name;
    EXPECT_EQ(back, key);
  }
  // One mapping, no two keys on one name: random byte keys.
  std::mt19937 rng(7);
  std::set<std::string> keys, names;
  for (int n = 0; n < 3000; ++n) {
    std::string key(rng() % 12, '\0');
    for (char& c : key)
      c = "a./\\%~.\x01\xd0\x9f"[rng() % 10];
    if (!keys.insert(key).second) continue;
    EXPECT_TRUE(names.insert(EscapeKey(key)).second) << key;
    std::string back;
    ASSERT_TRUE(UnescapeKey(EscapeKey(key), &back));
    EXPECT_EQ(back, key);
  }
  EXPECT_FALSE(UnescapeKey("a%2", nullptr));
  EXPECT_FALSE(UnescapeKey("a%41", nullptr));  // "A" is never escaped
  EXPECT_FALSE(UnescapeKey("a/b", nullptr));
}

TEST(MessageKeyTest, LongKeysAreShortenedDistinctlyWithinNameLimits) {
  std::string a(151, 'x');  // the cut at 200 bytes falls inside a letter
  for (int i = 0; i < 100; ++i)
    a += "Ж";  // two bytes each
  std::string b = a;
  b.back() = '\x97';  // "З" instead of the last "Ж"
  const std::string na = EscapeKey(a), nb = EscapeKey(b);
  EXPECT_LE(na.size() + 2, 255u);
  EXPECT_NE(na, nb);
  EXPECT_NE(na.find('~'), std::string::npos);
  // The readable prefix never ends inside a letter.
  const std::string prefix = na.substr(0, na.find('~'));
  EXPECT_TRUE(IsValidUtf8(prefix));
  EXPECT_FALSE(UnescapeKey(na, nullptr));
  // A key made to look like a shortened name still has a name of its own.
  std::string fake = prefix + "~" + na.substr(na.find('~') + 1);
  EXPECT_NE(EscapeKey(fake), na);
  // Escapes are never split by the cut.
  const std::string slashes(300, '/');
  const std::string ns = EscapeKey(slashes);
  EXPECT_EQ(ns.substr(0, ns.find('~')).size() % 3, 0u);
}

TEST(BlacklistTest, WholeTextWithoutRegardToCase) {
  const std::vector<std::string> black = {"Иван Петров <IVAN@Mail.Example>", "ёлка@x.ru"};
  EXPECT_TRUE(IsBlacklisted(black, "иван ПЕТРОВ <ivan@mail.example>"));
  EXPECT_TRUE(IsBlacklisted(black, "ЁЛКА@X.RU"));
  EXPECT_FALSE(IsBlacklisted(black, "ivan@mail.example"));  // no address extraction
  EXPECT_FALSE(IsBlacklisted(black, "Иван Петров <IVAN@Mail.Example> "));
  // Bytes that are not UTF-8 are compared as they are.
  EXPECT_FALSE(SameSenderText("\xc8", "\xe8"));
  // An empty entry names no sender, not even a message without From.
  EXPECT_FALSE(IsBlacklisted({"", "  "}, ""));
  EXPECT_FALSE(IsBlacklisted({""}, " "));
}

TEST(CheckCycle, NothingActiveOrNothingAnswers) {
  CheckRig rig;
  const test::ClosedPort closed;  // nobody answers there
  rig.Add("Off", "off", "pw", closed.Port(), /*nonActive=*/true);
  rig.check.StartCheck();
  EXPECT_EQ(rig.view.hint, "Новой почты нет");
  EXPECT_TRUE(rig.view.tags.empty());
  EXPECT_TRUE(rig.sound.Plays().empty());
  EXPECT_EQ(rig.ErrorLog(), "");
  EXPECT_EQ(rig.view.calls.back(), "steady");

  rig.Add("One", "u1", "pw", closed.Port());
  rig.Add("Two", "u2", "pw", closed.Port());
  rig.check.StartCheck();
  EXPECT_EQ(rig.view.hint, "One-нет связи\r\nTwo-нет связи\r\nНовой почты нет");
  ASSERT_EQ(rig.view.tags, (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(rig.view.looks[0], (ConfItemLook{false, "One (Нет связи)", 0}));
  auto log = test::Lines(rig.ErrorLog());
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(test::HasLogStamp(log[0]));
  EXPECT_NE(log[0].find(" u1 Winsock error no 10061"), std::string::npos) << log[0];
  EXPECT_EQ(rig.busy, 0);
}

}  // namespace
}  // namespace vigilo
