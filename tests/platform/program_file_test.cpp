#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/folders.h"
#include "tests/support/server_process.h"
#include "tests/support/tempdir.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;

// A copy of this test program is started; it deletes its own file, puts a new one in its
// place (as a package upgrade does) and prints what it takes for its path.
TEST(ProgramFile, NamesThePathAfterTheFileWasReplaced) {
  if (getenv("VIGILO_TEST_REPLACE_SELF")) {
    const std::string self = ProgramFile();
    ASSERT_EQ(unlink(self.c_str()), 0);
    test::WriteFile(self, "new program");
    std::printf("PROGRAM=%s\n", ProgramFile().c_str());
    return;
  }
  test::TempDir dir;
  const fs::path copy = dir.path() / "vigilo";
  fs::copy_file(ProgramFile(), copy);
  fs::permissions(copy, fs::perms::owner_all);
  const std::string command = "VIGILO_TEST_REPLACE_SELF=1 '" + copy.string() +
                              "' --gtest_filter=ProgramFile.NamesThePathAfterTheFileWasReplaced";
  std::string out;
  EXPECT_EQ(test::RunShell(command, &out), 0) << out;
  EXPECT_NE(out.find("PROGRAM=" + copy.string() + "\n"), std::string::npos) << out;
}

}  // namespace
}  // namespace vigilo
