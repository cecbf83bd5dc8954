// The about window's texts and scrolling, and the notice's movement, without widgets.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/about.h"
#include "core/notice.h"

namespace vigilo {
namespace {

using Lines = std::vector<std::string>;

TEST(AboutTexts, DescriptionVersionAndAddresses) {
  ASSERT_EQ(AboutDescription().size(), 26u);
  EXPECT_EQ(AboutDescription().front(), "Vigilo - почтогонялка");
  EXPECT_EQ(VersionLabelText("1.4", "18.01.2002"), "Версия: 1.4.0.0 от 18.01.2002");
  EXPECT_EQ(FileVersionText("2.0.1-rc1"), "2.0.1.0");
  EXPECT_EQ(FileVersionText("1.2.3.4.5"), "1.2.3.4");
  EXPECT_EQ(PublisherUrl("  ", kVersionDocument), "");
  EXPECT_EQ(PublisherUrl(" http://h:81// ", kInfoDocument), "http://h:81/project/vigilo/info.txt");
}

TEST(AboutTexts, FetchedTextIsPlainAndBounded) {
  EXPECT_EQ(FetchedTextLines("1.5\r\nnew\rold\nlast\n"), (Lines{"1.5", "new", "old", "last"}));
  EXPECT_EQ(FetchedTextLines(""), (Lines{""}));
  // Control characters go, tabs stay, bytes that are not UTF-8 become U+FFFD.
  EXPECT_EQ(FetchedTextLines(std::string("a\0b\x1b[31m\tc\x7f\xff", 12)),
            (Lines{"ab[31m\tc\xEF\xBF\xBD"}));
  const Lines many = FetchedTextLines(std::string(100000, '\n'));
  EXPECT_EQ(many.size(), kFetchedTextLines);
  const Lines wide = FetchedTextLines(std::string(100000, 'x'));
  ASSERT_EQ(wide.size(), 1u);
  EXPECT_EQ(wide[0].size(), kFetchedTextChars);
  // A cut never splits a character.
  std::string cyrillic;
  for (int i = 0; i < 10000; ++i)
    cyrillic += "ж";
  EXPECT_EQ(FetchedTextLines(cyrillic)[0].size(), 2 * kFetchedTextChars);
}

TEST(AboutScroll, NoScrollDuringTheSplashThenFromTheBottomOnEveryShowing) {
  TAboutScroll scroll;
  EXPECT_FALSE(scroll.Show(100, 26));  // the splash
  EXPECT_FALSE(scroll.Tick());
  EXPECT_EQ(scroll.Tag, TAboutScroll::kStopped);

  ASSERT_TRUE(scroll.Show(100, 2));
  EXPECT_EQ(scroll.MemoHeight, 26);
  EXPECT_EQ(scroll.MemoTop, 95);
  // Panel height + text height steps up, then it starts again from the bottom.
  for (int i = 0; i < 126; ++i)
    ASSERT_TRUE(scroll.Tick());
  EXPECT_EQ(scroll.MemoTop, 95 - 126);
  ASSERT_TRUE(scroll.Tick());
  EXPECT_EQ(scroll.MemoTop, 94);

  scroll.Stop();
  EXPECT_FALSE(scroll.Tick());
  EXPECT_EQ(scroll.MemoTop, 94);
  ASSERT_TRUE(scroll.Show(100, 2));  // showing again: from the bottom
  EXPECT_EQ(scroll.MemoTop, 95);
}

TEST(NoticeMotion, RisesSinksAndNeverOverlaps) {
  TNoticeMotion motion;
  EXPECT_FALSE(motion.Step());
  ASSERT_TRUE(motion.Start());
  EXPECT_FALSE(motion.Start());  // a second notice while one runs is dropped
  std::vector<int> lifts{motion.Lift()};
  while (motion.Step())
    lifts.push_back(motion.Lift());
  ASSERT_EQ(lifts.size(), 2u * TNoticeMotion::kRise + 1);
  EXPECT_EQ(lifts.front(), 0);
  EXPECT_EQ(lifts[TNoticeMotion::kRise], 61);
  EXPECT_EQ(lifts.back(), 0);
  for (std::size_t i = 1; i < lifts.size(); ++i)
    EXPECT_EQ(std::abs(lifts[i] - lifts[i - 1]), 1);
  EXPECT_FALSE(motion.Running());
  EXPECT_TRUE(motion.Start());  // a later notice runs again

  EXPECT_EQ(TNoticeMotion::Left(0, 1920, 300), 1590);
  EXPECT_EQ(motion.Top(0, 1080), 1080);  // just below the screen at the start
}

TEST(VersionCheck, NoAddressNoRequest) {
  bool called = false;
  TVersion version("  ", [&](TVersion::Which, Lines) { called = true; });
  EXPECT_FALSE(version.Started());
  EXPECT_TRUE(version.WaitDone(0));
  EXPECT_FALSE(called);
}

}  // namespace
}  // namespace vigilo
