// The about window's texts without widgets: version labels, addresses, fetched texts.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/about.h"

namespace vigilo {
namespace {

using Lines = std::vector<std::string>;

TEST(AboutTexts, VersionsAndAddresses) {
  EXPECT_EQ(FileVersionText("2.0.1-rc1"), "2.0.1.0");
  EXPECT_EQ(FileVersionText("1.2.3.4.5"), "1.2.3.4");
  EXPECT_EQ(PublisherUrl("  ", kVersionDocument), "");
  EXPECT_EQ(PublisherUrl(" http://h:81// ", kInfoDocument), "http://h:81/project/vigilo/info.txt");
}

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

}  // namespace
}  // namespace vigilo
