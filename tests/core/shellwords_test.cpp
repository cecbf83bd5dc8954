#include <gtest/gtest.h>

#include "core/shellwords.h"

namespace vigilo {
namespace {

using Words = std::vector<std::string>;

TEST(SplitCommandLine, SplitsLikeAShellWithoutExpanding) {
  EXPECT_EQ(SplitCommandLine("  thunderbird  -P  work "), (Words{"thunderbird", "-P", "work"}));
  EXPECT_EQ(SplitCommandLine("'/opt/My Mail/mail' \"a \\\"b\\\" $HOME\" c\\ d ''"),
            (Words{"/opt/My Mail/mail", "a \"b\" $HOME", "c d", ""}));
  EXPECT_EQ(SplitCommandLine("prog ';' rm -rf '~' `x` $(y)"),
            (Words{"prog", ";", "rm", "-rf", "~", "`x`", "$(y)"}));
  EXPECT_EQ(SplitCommandLine(""), Words{});
  EXPECT_FALSE(SplitCommandLine("prog 'open"));
  EXPECT_FALSE(SplitCommandLine("prog \"open"));
  EXPECT_FALSE(SplitCommandLine("prog \\"));
}

}  // namespace
}  // namespace vigilo
