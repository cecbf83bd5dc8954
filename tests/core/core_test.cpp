// What the tray icon shows, icon sets, the timer and the command line, without widgets.

#include <gtest/gtest.h>

#include <climits>

#include "base/utf8.h"
#include "config/inifile.h"
#include "core/cmdline.h"
#include "core/iconset.h"
#include "core/timing.h"
#include "core/trayicon_model.h"
#include "tests/support/tempdir.h"

namespace vigilo {
namespace {

TEST(TrayIconModel, IndexOutsideTheListAndCycling) {
  TrayIconModel m;
  EXPECT_EQ(m.DisplayedIcon(), -1);  // no list yet
  m.SetListSize(3);
  for (const auto& [index, shown] : {std::pair{2, 2}, {7, 2}, {-4, 0}}) {
    m.SetIconIndex(index);
    EXPECT_EQ(m.DisplayedIcon(), shown) << index;
  }
  m.SetIconIndex(2);
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
  TrayIconModel empty;
  empty.SetCycling(true);
  empty.Tick();
  EXPECT_EQ(empty.DisplayedIcon(), -1);
}

TEST(TrayIconModel, TooltipIsCutWholeCharactersAndDelayNeverMeansNoPause) {
  TrayIconModel m;
  std::string hint;
  for (int i = 0; i < 20; ++i)
    hint += "Почта-" + std::to_string(i) + ";\n";
  m.SetHint(hint);
  EXPECT_EQ(m.Hint(), CutChars(hint, 127));
  EXPECT_TRUE(IsValidUtf8(m.Hint()));
  EXPECT_EQ(TimerIntervalMs(0), 0);  // no ticks
  EXPECT_EQ(TimerIntervalMs(-5), 0);
  EXPECT_EQ(TimerIntervalMs(INT_MAX), INT_MAX);  // no overflow
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

TEST(CommandLine, OptionsAndErrors) {
  EXPECT_EQ(ParseCommandLine({"--home", "/x"}).Home, "/x");
  EXPECT_EQ(ParseCommandLine({"--home=/y"}).Home, "/y");
  EXPECT_FALSE(ParseCommandLine({"--home"}).Error.empty());
  EXPECT_TRUE(ParseCommandLine({}).Error.empty());
}

}  // namespace
}  // namespace vigilo
