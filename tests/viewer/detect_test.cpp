// Guessing the code page of a text.

#include <gtest/gtest.h>

#include <string>

#include "tests/viewer/iconv_helper.h"
#include "viewer/CyrCoder.h"

namespace vigilo {
namespace {

using test::Iconv;
using test::kIconvNames;

const char* const kParagraphs[] = {
    "Уважаемые коллеги! Напоминаем, что в пятницу в 15:00 состоится общее собрание. "
    "На повестке дня отчёт о работе за квартал и планы на следующий год. Просим не опаздывать, "
    "а тех, кто не сможет прийти, заранее сообщить секретарю.",

    "Ёлки в нашем лесу растут медленно, но живут долго. Осенью мы собирали грибы и ягоды, "
    "а зимой катались на лыжах по замёрзшей реке. Вечером вся семья садилась у печки, пила чай "
    "с вареньем и слушала, как за окном воет ветер.",
};

constexpr TCodePage kAllPages[] = {TCodePage::CP1251, TCodePage::KOI8R, TCodePage::CP866,
                                   TCodePage::ISO8859, TCodePage::UTF8};

TEST(DetectCodePage, FindsThePageOfARussianParagraph) {
  for (const char* paragraph : kParagraphs)
    for (TCodePage page : kAllPages) {
      const std::string text = *Iconv(paragraph, "UTF-8", kIconvNames[int(page)]);
      EXPECT_EQ(DetectCodePage(text), page) << CodePageName(page) << ": " << paragraph;
    }
}

TEST(DetectCodePage, EmptyAndAsciiTextIsWindows1251AndOnlyWellFormedUtf8IsUtf8) {
  for (const std::string& ascii :
       {std::string(), std::string("Re: meeting at 10:30\r\n"), std::string("a\0b", 3)})
    EXPECT_EQ(DetectCodePage(ascii), TCodePage::CP1251);
  EXPECT_EQ(DetectCodePage("Subject: привет"), TCodePage::UTF8);
  EXPECT_EQ(DetectCodePage("\xF0\x9F\x98\x80"), TCodePage::UTF8);
  // The same letters with one byte cut off are read as a single-byte page.
  EXPECT_NE(DetectCodePage("Subject: привет\xD0"), TCodePage::UTF8);
  EXPECT_NE(DetectCodePage("\xC0\xAF"), TCodePage::UTF8);
  // Short words of a one-byte page that happen to be valid UTF-8 decode to no Cyrillic or
  // Latin text ("чай" in CP866 is U+7829), so they are not taken for UTF-8.
  for (const char* word : {"чай", "уже"}) {
    const std::string cp866 = *Iconv(word, "UTF-8", kIconvNames[int(TCodePage::CP866)]);
    EXPECT_NE(DetectCodePage(cp866), TCodePage::UTF8) << word;
    EXPECT_NE(DetectCodePage("Re: " + cp866), TCodePage::UTF8) << word;
  }
  EXPECT_EQ(DetectCodePage("Price 10 \xE2\x82\xAC \xE2\x84\x96 5"), TCodePage::UTF8);  // €, №
}

}  // namespace
}  // namespace vigilo
