// Code pages: every conversion table and every page's Unicode mapping against glibc's
// iconv, the converter component, broken input, guessing and declared pages.

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/viewer/iconv_helper.h"
#include "viewer/CyrCoder.h"

namespace vigilo {
namespace {

using test::Iconv;
using test::kIconvNames;

constexpr TCodePage kSingleByte[] = {TCodePage::CP1251, TCodePage::KOI8R, TCodePage::CP866,
                                     TCodePage::ISO8859};
constexpr TCodePage kAllPages[] = {TCodePage::CP1251, TCodePage::KOI8R, TCodePage::CP866,
                                   TCodePage::ISO8859, TCodePage::UTF8};

std::string In(TCodePage page, const std::string& utf8) {
  return *Iconv(utf8, "UTF-8", kIconvNames[int(page)]);
}

struct Range {
  int first, last, value;
};

// The deliberate departures from "same character, else ? (or the KOI8-R square)".
const std::map<std::pair<TCodePage, TCodePage>, std::vector<Range>>& Exceptions() {
  using enum TCodePage;
  static const std::map<std::pair<TCodePage, TCodePage>, std::vector<Range>> list = {
      {{CP1251, KOI8R}, {{0x95, 0x95, 0x95}}},
      {{CP1251, CP866}, {{0xA0, 0xA0, 0x20}, {0xAD, 0xAD, 0x2D}, {0xB7, 0xB7, 0xF9}}},
      {{KOI8R, CP1251}, {{0x95, 0x95, 0x95}}},
      {{KOI8R, CP866},
       {{0x80, 0x92, 0x3F},
        {0x95, 0x96, 0x3F},
        {0xA0, 0xA2, 0x3F},
        {0xA4, 0xB2, 0x3F},
        {0xB4, 0xBE, 0x3F},
        {0x9A, 0x9A, 0x20},
        {0x9E, 0x9E, 0xF9}}},
      {{CP866, CP1251}, {{0xF9, 0xF9, 0xB7}, {0xFA, 0xFA, 0x3F}, {0xFF, 0xFF, 0x3F}}},
      {{CP866, KOI8R},
       {{0xB0, 0xDF, 0x94}, {0xF9, 0xF9, 0x9E}, {0xFA, 0xFB, 0x94}, {0xFF, 0xFF, 0x94}}},
      {{CP866, ISO8859}, {{0xFF, 0xFF, 0x3F}}},
      {{ISO8859, CP866}, {{0xA0, 0xA0, 0x20}, {0xAD, 0xAD, 0x2D}}},
  };
  return list;
}

// What iconv says byte b of source becomes in target, under the "?"/square rule.
int PublishedEntry(TCodePage source, TCodePage target, int b) {
  if (b < 0x80) return b;
  const int missing = target == TCodePage::KOI8R ? 0x94 : 0x3F;
  const auto unicode =
      Iconv(std::string(1, static_cast<char>(b)), kIconvNames[int(source)], "UTF-8");
  if (!unicode) return missing;
  const auto encoded = Iconv(*unicode, "UTF-8", kIconvNames[int(target)]);
  if (!encoded || encoded->size() != 1) return missing;
  return static_cast<unsigned char>((*encoded)[0]);
}

TEST(CyrTables, EveryTableFollowsThePublishedPagesAndTheExceptions) {
  for (TCodePage source : kSingleByte) {
    for (TCodePage target : kSingleByte) {
      if (source == target) continue;
      std::array<int, 256> expected{};
      for (int b = 0; b < 256; ++b)
        expected[b] = PublishedEntry(source, target, b);
      if (auto it = Exceptions().find({source, target}); it != Exceptions().end())
        for (const Range& r : it->second)
          for (int b = r.first; b <= r.last; ++b)
            expected[b] = r.value;

      TCyrCoder coder;
      coder.Source = source;
      coder.Target = target;
      const std::uint8_t* table = coder.GetTable();
      ASSERT_NE(table, nullptr);
      for (int b = 0; b < 256; ++b)
        EXPECT_EQ(table[b], expected[b])
            << CodePageName(source) << " -> " << CodePageName(target) << " byte " << std::hex << b;
    }
  }
}

TEST(CyrTables, EveryPageDecodesToTheUnicodeIconvGivesAndBack) {
  for (TCodePage page : kSingleByte) {
    for (int b = 0; b < 256; ++b) {
      const std::string byte(1, static_cast<char>(b));
      const auto published = Iconv(byte, kIconvNames[int(page)], "UTF-8");
      // Iconv refuses a byte the page leaves unassigned (0x98 of Windows-1251).
      EXPECT_EQ(ToUtf8(byte, page), published.value_or("\xEF\xBF\xBD"))
          << CodePageName(page) << " " << b;
      if (published) {
        EXPECT_EQ(ConvertCodePage(*published, TCodePage::UTF8, page), byte);
      }
    }
  }
}

// Conversion happens on assignment only with AutoConvert and stops at a NUL; equal pages or
// a damaged record's page number raise the settings error and leave the text alone, and
// unknown pages read as Windows-1251 for display.
TEST(TCyrCoder, ConvertsOnRequestAndRefusesEqualOrUnknownPages) {
  const std::string koi = In(TCodePage::KOI8R, "Привет");
  const std::string win = In(TCodePage::CP1251, "Привет");
  TCyrCoder coder;
  EXPECT_NO_THROW(coder.Convert());  // nothing assigned yet, nothing to convert
  coder.Source = TCodePage::KOI8R;
  coder.Target = TCodePage::CP1251;
  coder.SetText(koi);
  EXPECT_EQ(coder.Text(), koi);
  coder.Convert();
  EXPECT_EQ(coder.Text(), win);
  coder.AutoConvert = true;
  coder.SetText(koi + std::string("\0tail", 5));
  EXPECT_EQ(coder.Text(), win);

  coder.AutoConvert = false;
  coder.SetText("abc");
  coder.Source = coder.Target = TCodePage::KOI8R;
  EXPECT_THROW(coder.Convert(), ECyrCoderError);
  coder.Source = static_cast<TCodePage>(9);
  EXPECT_THROW(coder.Convert(), ECyrCoderError);
  EXPECT_THROW(ConvertCodePage("abc", TCodePage::CP1251, static_cast<TCodePage>(5)),
               ECyrCoderError);
  EXPECT_EQ(coder.Text(), "abc");
  EXPECT_EQ(ToUtf8("\xC0", static_cast<TCodePage>(7)), "\u0410");
  EXPECT_EQ(CodePageName(static_cast<TCodePage>(5)), "");
}

TEST(ConvertCodePage, MissingCharactersAndBrokenUtf8BecomeTheQuestionMarkOrSquare) {
  const std::string text = "é€ Ґ ☺ ж";  // é and ☺ are in no page, € and Ґ only in Windows-1251
  EXPECT_EQ(ConvertCodePage(text, TCodePage::UTF8, TCodePage::CP1251), "?\x88 \xA5 ? \xE6");
  EXPECT_EQ(ConvertCodePage(text, TCodePage::UTF8, TCodePage::KOI8R), "\x94\x94 \x94 \x94 \xD6");
  EXPECT_EQ(ConvertCodePage(text, TCodePage::UTF8, TCodePage::CP866), "?? ? ? \xA6");
  // A truncated sequence, a stray continuation byte, an overlong form, a surrogate:
  // one missing character per broken sequence, and the display is valid UTF-8.
  const std::string broken = "a\xD0 b\x80 c\xC0\xAF d\xED\xA0\x80 e\xD0";
  EXPECT_EQ(ConvertCodePage(broken, TCodePage::UTF8, TCodePage::CP1251), "a? b? c?? d??? e?");
  EXPECT_EQ(ToUtf8(broken, TCodePage::UTF8),
            "a\uFFFD b\uFFFD c\uFFFD\uFFFD d\uFFFD\uFFFD\uFFFD e\uFFFD");
  EXPECT_TRUE(IsValidUtf8(ToUtf8(broken, TCodePage::UTF8)));
}

// A Russian paragraph in any page is placed; empty and ASCII text is Windows-1251, and
// only well-formed UTF-8 is UTF-8.
TEST(DetectCodePage, FindsThePageAndTakesOnlyWellFormedTextForUtf8) {
  const char* paragraph =
      "Уважаемые коллеги! Напоминаем, что в пятницу в 15:00 состоится общее собрание. "
      "Ёлки в нашем лесу растут медленно, но живут долго.";
  for (TCodePage page : kAllPages)
    EXPECT_EQ(DetectCodePage(In(page, paragraph)), page) << CodePageName(page);
  for (const std::string& ascii :
       {std::string(), std::string("Re: meeting at 10:30\r\n"), std::string("a\0b", 3)})
    EXPECT_EQ(DetectCodePage(ascii), TCodePage::CP1251);
  EXPECT_EQ(DetectCodePage("Subject: привет"), TCodePage::UTF8);
  EXPECT_EQ(DetectCodePage("Price 10 \xE2\x82\xAC \xE2\x84\x96 5"), TCodePage::UTF8);  // €, №
  // The same letters with one byte cut off are read as a single-byte page.
  EXPECT_NE(DetectCodePage("Subject: привет\xD0"), TCodePage::UTF8);
  EXPECT_NE(DetectCodePage("\xC0\xAF"), TCodePage::UTF8);
  // Short words of a one-byte page that happen to be valid UTF-8 decode to no Cyrillic or
  // Latin text ("чай" in CP866 is U+7829), so they are not taken for UTF-8.
  for (const char* word : {"чай", "уже"}) {
    EXPECT_NE(DetectCodePage(In(TCodePage::CP866, word)), TCodePage::UTF8) << word;
    EXPECT_NE(DetectCodePage("Re: " + In(TCodePage::CP866, word)), TCodePage::UTF8) << word;
  }
}

TEST(DeclaredPage, OneDeclaredPageWinsOverTheGuess) {
  for (const char* other : {"iso-8859-1", "koi8-u", "", "utf-16", "windows-1252"})
    EXPECT_EQ(CodePageOfCharSet(other), std::nullopt) << other;
  EXPECT_EQ(CodePageOfCharSet("IBM866"), TCodePage::CP866);
  // A single KOI8-R letter that the guess alone would not place in KOI8-R.
  const std::string a = "\xC1";
  const TCodePage guess = DetectCodePage(a);
  ASSERT_NE(guess, TCodePage::KOI8R);
  EXPECT_EQ(DeclaredCodePage(a, {"koi8-r", "KOI8-R"}, false), TCodePage::KOI8R);
  // Words in two pages, a charset that is no page, bytes outside the words, no
  // words at all, or "UTF-8" that is not: the guess.
  EXPECT_EQ(DeclaredCodePage(a, {"koi8-r", "windows-1251"}, false), guess);
  EXPECT_EQ(DeclaredCodePage(a, {"koi8-r", "iso-8859-1"}, false), guess);
  EXPECT_EQ(DeclaredCodePage(a, {"koi8-r"}, true), guess);
  EXPECT_EQ(DeclaredCodePage(a, {}, false), guess);
  EXPECT_EQ(DeclaredCodePage(a, {"utf-8"}, false), guess);
  EXPECT_EQ(DeclaredCodePage("\xD0\x96", {"utf-8"}, false), TCodePage::UTF8);
}

}  // namespace
}  // namespace vigilo
