#include <gtest/gtest.h>

#include "viewer/CyrCoder.h"

namespace vigilo {

TEST(DeclaredPage, CharsetNamesOfThePages) {
  EXPECT_EQ(CodePageOfCharSet("KOI8-R"), TCodePage::KOI8R);
  EXPECT_EQ(CodePageOfCharSet("windows-1251"), TCodePage::CP1251);
  EXPECT_EQ(CodePageOfCharSet("cp866"), TCodePage::CP866);
  EXPECT_EQ(CodePageOfCharSet("IBM866"), TCodePage::CP866);
  EXPECT_EQ(CodePageOfCharSet("iso-8859-5"), TCodePage::ISO8859);
  EXPECT_EQ(CodePageOfCharSet("UTF-8"), TCodePage::UTF8);
  for (const char* other : {"iso-8859-1", "koi8-u", "", "utf-16", "windows-1252"})
    EXPECT_EQ(CodePageOfCharSet(other), std::nullopt) << other;
}

TEST(DeclaredPage, OneDeclaredPageWinsOverTheGuess) {
  // A single KOI8-R letter that the guess alone would not place in KOI8-R.
  const std::string a = "\xC1";
  ASSERT_NE(DetectCodePage(a), TCodePage::KOI8R);
  EXPECT_EQ(DeclaredCodePage(a, {"koi8-r", "KOI8-R"}, false), TCodePage::KOI8R);
  // Words in two pages, a charset that is no page, bytes outside the words, no
  // words at all, or "UTF-8" that is not: the guess.
  const TCodePage guess = DetectCodePage(a);
  EXPECT_EQ(DeclaredCodePage(a, {"koi8-r", "windows-1251"}, false), guess);
  EXPECT_EQ(DeclaredCodePage(a, {"koi8-r", "iso-8859-1"}, false), guess);
  EXPECT_EQ(DeclaredCodePage(a, {"koi8-r"}, true), guess);
  EXPECT_EQ(DeclaredCodePage(a, {}, false), guess);
  EXPECT_EQ(DeclaredCodePage(a, {"utf-8"}, false), guess);
  EXPECT_EQ(DeclaredCodePage("\xD0\x96", {"utf-8"}, false), TCodePage::UTF8);
}

}  // namespace vigilo
