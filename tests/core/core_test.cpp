// The core without widgets: what the tray icon shows, icon sets, the timer, the command line,
// the mail program's command, the about window's texts, the hints of error.log lines, message
// keys and their file names, and the blacklist rule.

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/utf8.h"
#include "config/inifile.h"
#include "core/about.h"
#include "core/check.h"
#include "core/cmdline.h"
#include "core/iconset.h"
#include "core/mailhint.h"
#include "core/shellwords.h"
#include "core/timing.h"
#include "core/trayicon_model.h"
#include "mail/msexcept.h"
#include "tests/support/tempdir.h"
#include "viewer/blacklist.h"
#include "viewer/msgstore.h"

namespace vigilo {
namespace {

TEST(TrayIconModel, IndexOutsideTheListCyclingAndTheCutTooltip) {
  TrayIconModel m;
  EXPECT_EQ(m.DisplayedIcon(), -1);  // no list yet
  m.SetListSize(3);
  for (const auto& [index, shown] : {std::pair{7, 2}, {-4, 0}}) {
    m.SetIconIndex(index);
    EXPECT_EQ(m.DisplayedIcon(), shown) << index;
  }
  m.SetCycling(true);  // always from icon 0
  std::vector<int> seen{m.DisplayedIcon()};
  for (int i = 0; i < 4; ++i) {
    m.Tick();
    seen.push_back(m.DisplayedIcon());
  }
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 0, 1}));
  m.SetIconIndex(9);  // an index beyond the list cycles on from the icon shown
  m.Tick();
  EXPECT_EQ(m.DisplayedIcon(), 0);
  m.SetListSize(1);  // another list shows its icon 0
  EXPECT_EQ(m.IconIndex(), 0);
  TrayIconModel empty;  // cycling no icons divides by nothing
  empty.SetCycling(true);
  empty.Tick();
  EXPECT_EQ(empty.DisplayedIcon(), -1);
  std::string hint;
  for (int i = 0; i < 20; ++i)
    hint += "Почта-" + std::to_string(i) + ";\n";
  m.SetHint(hint);
  EXPECT_EQ(m.Hint(), CutChars(hint, 127));
  EXPECT_TRUE(IsValidUtf8(m.Hint()));
  // A delay of 0 (or less) never means ticks without a pause, and no overflow.
  EXPECT_EQ(TimerIntervalMs(-5), 0);
  EXPECT_EQ(TimerIntervalMs(INT_MAX), INT_MAX);
}

TEST(IconSet, EntriesFollowKeyOrderAndSkipMissingFiles) {
  test::TempDir t;
  test::WriteFile(t.path() / "a.ico", "x");
  test::WriteFile(t.path() / "c.ico", "x");
  test::WriteFile(t.path() / "icon.ini", "[ImageList5]\nz=" + t.str() + "a.ico\ny=" + t.str() +
                                             "missing.ico\nx=" + t.str() + "c.ico\n");
  const auto entries = IconSetEntries(IniFile(t.str() + "icon.ini"), "ImageList5");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].Position, 0);
  EXPECT_EQ(entries[1].Position, 2);
  EXPECT_EQ(entries[1].File, t.str() + "c.ico");
  std::vector<int> icons{10, 11};
  PlaceIcon(icons, 1, 21);
  PlaceIcon(icons, 5, 25);
  EXPECT_EQ(icons, (std::vector<int>{10, 21, 25}));
}

using Lines = std::vector<std::string>;

TEST(AboutTexts, FetchedTextIsPlainAndBounded) {
  EXPECT_EQ(FetchedTextLines("1.5\r\nnew\rold\nlast\n"), (Lines{"1.5", "new", "old", "last"}));
  // Control characters go, tabs stay, bytes that are not UTF-8 become U+FFFD.
  EXPECT_EQ(FetchedTextLines(std::string("a\0b\x1b[31m\tc\x7f\xff", 12)),
            (Lines{"ab[31m\tc\xEF\xBF\xBD"}));
  EXPECT_EQ(FetchedTextLines(std::string(100000, '\n')).size(), kFetchedTextLines);
  const Lines wide = FetchedTextLines(std::string(100000, 'x'));
  ASSERT_EQ(wide.size(), 1u);
  EXPECT_EQ(wide[0].size(), kFetchedTextChars);
  // A cut never splits a character.
  std::string cyrillic;
  for (int i = 0; i < 10000; ++i)
    cyrillic += "ж";
  EXPECT_EQ(FetchedTextLines(cyrillic)[0].size(), 2 * kFetchedTextChars);
}

TEST(MailErrorHint, RefusalsGetTheHintTheyAskForOthersNone) {
  const std::pair<const char*, const char*> cases[] = {
      {"-ERR [PRIVACY] Use STLS first", "требует шифрование"},
      {"530 5.7.0 Must issue a STARTTLS command first", "требует шифрование"},
      {"535 Incorrect authentication data", "имя или пароль SMTP"},
      {"550 5.7.0 Authentication required", "авторизацию SMTP"},
      {"SMTP authentication needs an encrypted connection; the password was not sent",
       "пароль не отправлен"},
      {"-ERR [AUTH] Authentication failed.", ""},
      {"550 Unrouteable address", ""},
      {"Operation timed out", ""},
  };
  for (const auto& [line, words] : cases) {
    const std::string hint = MailErrorHint(line);
    EXPECT_EQ(hint.empty(), !*words) << line;
    EXPECT_NE(hint.find(words), std::string::npos) << line;
  }
  // An unknown stored level never means plain text.
  EXPECT_EQ(SecurityOf(0), ms::TmsSecurity::None);
  EXPECT_EQ(SecurityOf(2), ms::TmsSecurity::TLS);
  EXPECT_EQ(SecurityOf(7), ms::TmsSecurity::StartTLS);
}

using Words = std::vector<std::string>;

TEST(CommandLines, OptionsAndTheMailProgramSplitLikeAShellWithoutExpanding) {
  EXPECT_EQ(ParseCommandLine({"--home", "/x"}).Home, "/x");
  EXPECT_EQ(ParseCommandLine({"--home=/y"}).Home, "/y");
  EXPECT_FALSE(ParseCommandLine({"--home"}).Error.empty());
  EXPECT_EQ(SplitCommandLine("  thunderbird  -P  work "), (Words{"thunderbird", "-P", "work"}));
  EXPECT_EQ(SplitCommandLine("'/opt/My Mail/mail' \"a \\\"b\\\" $HOME\" c\\ d ''"),
            (Words{"/opt/My Mail/mail", "a \"b\" $HOME", "c d", ""}));
  EXPECT_EQ(SplitCommandLine("prog ';' rm -rf '~' `x` $(y)"),
            (Words{"prog", ";", "rm", "-rf", "~", "`x`", "$(y)"}));
  EXPECT_EQ(SplitCommandLine(""), Words{});
  for (const char* unclosed : {"prog 'open", "prog \"open", "prog \\"})
    EXPECT_FALSE(SplitCommandLine(unclosed)) << unclosed;
}

TEST(MessageKeyTest, BracketedPlainUnclosedAndBlankIds) {
  const std::vector<std::string> headers = {"From: a@b", "Subject: x"};
  for (const auto& [id, key] : {std::pair{"  <abc@host.example> trailing", "abc@host.example"},
                                {"  plain-id@host  ", "plain-id@host"},
                                {"< spaced@host >", "spaced@host"}})
    EXPECT_EQ(MessageKey(id, headers, "", 1), key);
  EXPECT_EQ(ExtractBracketed("<unclosed@host"), "");
  // An unclosed, missing or blank Message-ID gets a key of its own: header block, first body
  // line and size.
  const std::string k1 = MessageKey("<unclosed@host", headers, "hello", 100);
  EXPECT_EQ(k1.size(), 35u);
  EXPECT_EQ(k1.rfind("vg-", 0), 0u);
  EXPECT_EQ(MessageKey("<  >", headers, "hello", 100), k1);  // the same key check after check
  EXPECT_EQ(MessageKey("", {"From: a@b", "Subject: x", "", "other"}, "hello", 100), k1);
  for (const std::string& other :
       {MessageKey("", {"From: a@b", "Subject: y"}, "hello", 100),
        MessageKey("", headers, "hello!", 100), MessageKey("", headers, "hello", 101)})
    EXPECT_NE(other, k1);
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

}  // namespace
}  // namespace vigilo
