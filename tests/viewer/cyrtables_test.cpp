// Every conversion table and every page's Unicode mapping against glibc's iconv.

#include <gtest/gtest.h>

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
  int tables = 0;
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
      ++tables;
    }
  }
  EXPECT_EQ(tables, 12);
}

TEST(CyrTables, EveryPageDecodesToTheUnicodeIconvGives) {
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

}  // namespace
}  // namespace vigilo
