// The converter component, conversions through UTF-8 and the page names.

#include <gtest/gtest.h>

#include <string>

#include "tests/viewer/iconv_helper.h"
#include "viewer/CyrCoder.h"

namespace vigilo {
namespace {

using test::Iconv;
using test::kIconvNames;

constexpr TCodePage kAllPages[] = {TCodePage::CP1251, TCodePage::KOI8R, TCodePage::CP866,
                                   TCodePage::ISO8859, TCodePage::UTF8};

// Russian with Ё/ё and every letter, ASCII punctuation and digits.
const std::string kRussian =
    "Ёжик ёлку нёс в 1999 году: \"Съешь же ещё этих мягких французских булок, да выпей чаю!\"\r\n"
    "ЭХ, ЧУЖАК, ОБЩИЙ СЪЁМ ЦЕН ШЛЯП (ЮФТЬ) - ВДРЫЗГ! Й";

std::string In(TCodePage page, const std::string& utf8) {
  return *Iconv(utf8, "UTF-8", kIconvNames[int(page)]);
}

TEST(TCyrCoder, ConvertsOnAssignmentOnlyWithAutoConvertAndCutsAtNul) {
  const std::string koi = In(TCodePage::KOI8R, "Привет");
  const std::string win = In(TCodePage::CP1251, "Привет");
  TCyrCoder coder;
  coder.Source = TCodePage::KOI8R;
  coder.Target = TCodePage::CP1251;
  coder.SetText(koi);
  EXPECT_EQ(coder.Text(), koi);
  coder.Convert();
  EXPECT_EQ(coder.Text(), win);

  coder.AutoConvert = true;
  coder.SetText(koi + std::string("\0tail", 5));
  EXPECT_EQ(coder.Text(), win);
}

TEST(TCyrCoder, EqualOrUnknownPagesRaiseTheSettingsError) {
  TCyrCoder coder;
  coder.Target = TCodePage::CP1251;
  EXPECT_NO_THROW(coder.Convert());  // nothing assigned yet, nothing to convert
  coder.SetText("abc");
  coder.Source = coder.Target = TCodePage::KOI8R;
  EXPECT_EQ(coder.GetTable(), nullptr);
  try {
    coder.Convert();
    ADD_FAILURE() << "no exception";
  } catch (const ECyrCoderError& e) {
    EXPECT_STREQ(e.what(), "Found error in codepage settings");
  }
  coder.Source = static_cast<TCodePage>(9);  // a damaged record
  EXPECT_THROW(coder.Convert(), ECyrCoderError);
  EXPECT_THROW(ConvertCodePage("abc", TCodePage::CP1251, static_cast<TCodePage>(5)),
               ECyrCoderError);
  EXPECT_EQ(coder.Text(), "abc");
}

TEST(TCyrCoder, RussianTextRoundTripsThroughEveryPair) {
  for (TCodePage a : kAllPages) {
    for (TCodePage b : kAllPages) {
      if (a == b) {
        EXPECT_EQ(ToUtf8(In(a, kRussian), a), kRussian) << CodePageName(a);
        continue;
      }
      TCyrCoder coder;
      coder.AutoConvert = true;
      coder.Source = a;
      coder.Target = b;
      coder.SetText(In(a, kRussian));
      EXPECT_EQ(coder.Text(), In(b, kRussian)) << CodePageName(a) << " -> " << CodePageName(b);
      coder.Source = b;
      coder.Target = a;
      coder.SetText(coder.Text());
      EXPECT_EQ(coder.Text(), In(a, kRussian)) << CodePageName(a) << " and back";
    }
  }
}

TEST(ConvertCodePage, CharactersAPageLacksBecomeTheQuestionMarkOrSquare) {
  const std::string text = "é€ Ґ ☺ ж";  // é and ☺ are in no page, € and Ґ only in Windows-1251
  EXPECT_EQ(ConvertCodePage(text, TCodePage::UTF8, TCodePage::CP1251), "?\x88 \xA5 ? \xE6");
  EXPECT_EQ(ConvertCodePage(text, TCodePage::UTF8, TCodePage::KOI8R), "\x94\x94 \x94 \x94 \xD6");
  EXPECT_EQ(ConvertCodePage(text, TCodePage::UTF8, TCodePage::CP866), "?? ? ? \xA6");
  EXPECT_EQ(ConvertCodePage(text, TCodePage::UTF8, TCodePage::ISO8859), "?? ? ? \xD6");
}

TEST(ConvertCodePage, BrokenUtf8CountsAsOneMissingCharacterPerBrokenSequence) {
  // A truncated sequence, a stray continuation byte, an overlong form, a surrogate.
  const std::string broken = "a\xD0 b\x80 c\xC0\xAF d\xED\xA0\x80 e\xD0";
  EXPECT_EQ(ConvertCodePage(broken, TCodePage::UTF8, TCodePage::CP1251), "a? b? c?? d??? e?");
  EXPECT_EQ(ToUtf8(broken, TCodePage::UTF8),
            "a\uFFFD b\uFFFD c\uFFFD\uFFFD d\uFFFD\uFFFD\uFFFD e\uFFFD");
  EXPECT_TRUE(IsValidUtf8(ToUtf8(broken, TCodePage::UTF8)));
  EXPECT_FALSE(IsValidUtf8(broken));
  EXPECT_TRUE(IsValidUtf8("плюс \U0001F600"));
}

TEST(ToUtf8, ShowsEveryPageAsUnicode) {
  EXPECT_EQ(ToUtf8("a\x98", TCodePage::CP1251), "a\uFFFD");        // unassigned in Windows-1251
  EXPECT_EQ(ToUtf8("\xC0", static_cast<TCodePage>(7)), "\u0410");  // no page: read as Windows-1251
}

TEST(CodePageNames, StoredNamesReadBack) {
  for (TCodePage page : kAllPages)
    EXPECT_EQ(CodePageFromName(" " + std::string(CodePageName(page)) + "\r"), page);
  EXPECT_EQ(CodePageName(TCodePage::KOI8R), "koi8r");
  EXPECT_EQ(CodePageFromName("KOI8R"), std::nullopt);
  EXPECT_EQ(CodePageName(static_cast<TCodePage>(5)), "");
}

}  // namespace
}  // namespace vigilo
