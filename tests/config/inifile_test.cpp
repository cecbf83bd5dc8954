#include <gtest/gtest.h>

#include "config/inifile.h"
#include "tests/support/tempdir.h"

namespace vigilo {
namespace {

TEST(IniFile, KeysKeepFileOrderAndNamesIgnoreCase) {
  test::TempDir t;
  const std::string path = t.str() + "icon.ini";
  test::WriteFile(
      path, "[ImageList1]\r\n 1 = /b.ico \r\n0=/a.ico\r\n; note\r\n[Other]\nLeft=10\nbad line\n");
  IniFile ini(path);
  EXPECT_EQ(ini.Keys("imagelist1"), (std::vector<std::string>{"1", "0"}));
  EXPECT_EQ(ini.ReadString("ImageList1", "1", ""), "/b.ico");
  EXPECT_EQ(ini.ReadInteger("other", "LEFT", 0), 10);
  EXPECT_EQ(ini.ReadInteger("other", "Top", 7), 7);
  EXPECT_FALSE(ini.HasSection("Missing"));

  ini.Write("ImageList1", "0", "/c.ico");
  ini.Write("New", "Путь", "/д.ico");
  ASSERT_EQ(ini.Save(), "");
  IniFile again(path);
  EXPECT_EQ(again.ReadString("ImageList1", "0", ""), "/c.ico");
  EXPECT_EQ(again.ReadString("New", "Путь", ""), "/д.ico");
  EXPECT_EQ(again.Keys("ImageList1"), (std::vector<std::string>{"1", "0"}));
}

}  // namespace
}  // namespace vigilo
