#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/regfile.h"
#include "tests/support/tempdir.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr const char* kKey = "Software\\Brenna\\Vigilo";

struct RegFixture : ::testing::Test {
  TempDir dir;
  fs::path file = dir.path() / "registry.reg";
  fs::path log = dir.path() / "error.log";
  RegistryFile Open() { return RegistryFile(file, log); }
  std::vector<fs::path> Entries() const {
    std::vector<fs::path> v;
    for (const auto& e : fs::directory_iterator(dir.path()))
      v.push_back(e.path().filename());
    return v;
  }
};

TEST_F(RegFixture, EveryValueTypeAndCyrillicSurviveARewrite) {
  const std::string tricky = "Работа \"в кавычках\" C:\\путь\\файл\nвторая строка";
  {
    RegistryFile r = Open();
    RegistryBatch batch(r);
    r.WriteString(kKey, "ConfigNM", "Конфигурация 1");
    r.WriteString(kKey, "Tricky", tricky);
    r.WriteString(kKey, "Empty", "");
    r.SetValue(kKey, "Expand", RegValue::Expand("%HOME%/звук.wav"));
    r.WriteInteger(kKey, "Port", 110);
    r.WriteInteger(kKey, "Minus", -1);
    r.SetValue(kKey + std::string("\\1"), "Имя", RegValue::Dword(0));
  }
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::string text = ReadFile(file);
  EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Brenna\\Vigilo]\n"), std::string::npos);
  EXPECT_NE(text.find("\"ConfigNM\"=\"Конфигурация 1\""), std::string::npos);
  EXPECT_NE(text.find("\"Port\"=dword:0000006e"), std::string::npos);
  EXPECT_NE(text.find("\"Minus\"=dword:ffffffff"), std::string::npos);

  RegistryFile again = Open();
  EXPECT_EQ(again.ReadString(kKey, "ConfigNM"), "Конфигурация 1");
  EXPECT_EQ(again.ReadString(kKey, "Tricky"), tricky);
  EXPECT_EQ(again.ReadString(kKey, "Empty"), "");
  EXPECT_EQ(again.GetValue(kKey, "Expand"), RegValue::Expand("%HOME%/звук.wav"));
  EXPECT_EQ(again.ReadString(kKey, "Expand"), "%HOME%/звук.wav");  // accepted as a string
  EXPECT_EQ(again.ReadInteger(kKey, "Port"), 110);
  EXPECT_EQ(again.ReadInteger(kKey, "Minus"), -1);
  EXPECT_EQ(again.ReadInteger(kKey + std::string("\\1"), "Имя"), 0);
  EXPECT_TRUE(again.KeptCopies().empty());
  EXPECT_FALSE(fs::exists(log));
}

TEST_F(RegFixture, TypedReadsTellMissingAndWrongTypes) {
  RegistryFile r;
  r.WriteString(kKey, "S", "x");
  r.WriteInteger(kKey, "N", 5);
  EXPECT_EQ(r.ReadString(kKey, "Missing"), "");  // a missing string is empty
  EXPECT_EQ(r.ReadString(kKey, "N"), std::nullopt);
  EXPECT_EQ(r.ReadInteger(kKey, "Missing"), std::nullopt);
  EXPECT_EQ(r.ReadInteger(kKey, "S"), std::nullopt);
  EXPECT_EQ(r.ReadBool(kKey, "N"), true);
}

TEST_F(RegFixture, NamesCompareWithoutLetterCase) {
  RegistryFile r = Open();
  r.WriteInteger(kKey, "Visual", 1);
  r.WriteInteger("SOFTWARE\\brenna\\VIGILO", "visual", 0);
  EXPECT_EQ(r.ValueNames(kKey).size(), 1u);
  EXPECT_EQ(r.ReadInteger(kKey, "VISUAL"), 0);
}

TEST_F(RegFixture, KeysNestAndDeleteWithEverythingBelow) {
  RegistryFile r = Open();
  r.WriteInteger(kKey + std::string("\\1"), "Port", 1);
  r.WriteInteger(kKey + std::string("\\10"), "Port", 10);
  r.WriteInteger(kKey + std::string("\\1\\Deeper"), "X", 2);
  EXPECT_TRUE(r.KeyExists("Software\\Brenna"));  // parents exist implicitly
  const auto subkeys = r.SubKeyNames(kKey);
  EXPECT_EQ(subkeys, (std::vector<std::string>{"1", "10"}));
  r.DeleteKey(kKey + std::string("\\1"));
  EXPECT_FALSE(r.KeyExists(kKey + std::string("\\1")));
  EXPECT_FALSE(r.KeyExists(kKey + std::string("\\1\\Deeper")));
  EXPECT_EQ(r.ReadInteger(kKey + std::string("\\10"), "Port"), 10);  // "\10" is not below "\1"
}

TEST_F(RegFixture, UnknownKeysValuesAndTypesAreKept) {
  WriteFile(file,
            "Windows Registry Editor Version 5.00\r\n"
            "\r\n"
            "; written by hand\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n"
            "\"Binary\"=hex:01,02,\\\r\n"
            "  03,04\r\n"
            "@=\"default\"\r\n"
            "\r\n"
            "[HKEY_CURRENT_USER\\Software\\Brenna\\Vigilo]\r\n"
            "\"Future\"=hex(b):01,00,00,00,00,00,00,00\r\n"
            "\"Delay\"=dword:3C\r\n");
  {
    RegistryFile r = Open();
    EXPECT_EQ(r.ReadInteger(kKey, "Delay"), 60);
    r.WriteInteger(kKey, "Delay", 120);
  }
  RegistryFile r = Open();
  EXPECT_EQ(r.ReadInteger(kKey, "Delay"), 120);
  EXPECT_EQ(r.GetValue(kKey, "Future"),
            (RegValue{RegType::Other, "hex(b):01,00,00,00,00,00,00,00", 0}));
  const std::string text = ReadFile(file);
  EXPECT_NE(
      text.find("[HKEY_LOCAL_MACHINE\\Software\\Other]\n\"Binary\"=hex:01,02,03,04\n@=\"default\""),
      std::string::npos)
      << text;
  EXPECT_FALSE(fs::exists(log));
}

TEST_F(RegFixture, UnreadableLinesAreReportedWithTheirNumbersAndTheFileKept) {
  const std::string original =
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "[HKEY_CURRENT_USER\\Software\\Brenna\\Vigilo]\n"
      "\"Delay\"=dword:0000003c\n"
      "\"Lan\"=dword:xyz\n"       // line 5
      "\"Sound\"=\"\xff\xfe\"\n"  // line 6: not UTF-8
      "garbage\n"                 // line 7
      "\"Post\"=\"mutt\"\n";
  WriteFile(file, original);
  RegistryFile r = Open();
  EXPECT_EQ(r.ReadInteger(kKey, "Delay"), 60);
  EXPECT_EQ(r.ReadString(kKey, "Post"), "mutt");
  EXPECT_EQ(r.GetValue(kKey, "Lan"), std::nullopt);
  const std::string errors = ReadFile(log);
  EXPECT_NE(errors.find("line 5:"), std::string::npos) << errors;
  EXPECT_NE(errors.find("line 6:"), std::string::npos);
  EXPECT_NE(errors.find("line 7:"), std::string::npos);
  EXPECT_EQ(errors.find("line 4:"), std::string::npos);
  ASSERT_EQ(r.KeptCopies().size(), 1u);
  EXPECT_EQ(ReadFile(r.KeptCopies()[0]), original);
  EXPECT_FALSE(r.StartedFromDamagedFile());
}

TEST_F(RegFixture, TornFileKeepsWhatCameBeforeTheCut) {
  {
    RegistryFile r = Open();
    RegistryBatch batch(r);
    r.WriteInteger(kKey, "Delay", 60);
    r.WriteString(kKey, "Sound", "Сигнал почты");
  }
  std::string text = ReadFile(file);
  // Cut in the middle of the Cyrillic text's last character.
  text.resize(text.size() - 4);
  WriteFile(file, text);
  RegistryFile r = Open();
  EXPECT_EQ(r.ReadInteger(kKey, "Delay"), 60);
  EXPECT_EQ(r.GetValue(kKey, "Sound"), std::nullopt);
  EXPECT_NE(ReadFile(log).find("line 5:"), std::string::npos);
}

TEST_F(RegFixture, CorruptFileIsMovedAsideAndTheStoreStartsEmpty) {
  const std::string junk(
      "\x7f"
      "ELF\0\0\x01binary junk",
      17);
  WriteFile(file, junk);
  {
    RegistryFile r = Open();
    EXPECT_TRUE(r.StartedFromDamagedFile());
    EXPECT_FALSE(r.KeyExists(kKey));
    ASSERT_EQ(r.KeptCopies().size(), 1u);
    EXPECT_EQ(ReadFile(r.KeptCopies()[0]), junk);
    r.WriteInteger(kKey, "Delay", 0);
  }
  EXPECT_NE(ReadFile(log).find("registry.reg"), std::string::npos);
  RegistryFile r = Open();
  EXPECT_EQ(r.ReadInteger(kKey, "Delay"), 0);
}

TEST_F(RegFixture, FileWithoutTheHeaderIsNotUsed) {
  WriteFile(file, "[HKEY_CURRENT_USER\\Software\\Brenna\\Vigilo]\n\"Delay\"=dword:00000001\n");
  RegistryFile r = Open();
  EXPECT_TRUE(r.StartedFromDamagedFile());
  EXPECT_FALSE(r.KeyExists(kKey));
}

TEST_F(RegFixture, ABatchWritesOnceAndLeavesNoTemporaryFiles) {
  RegistryFile r = Open();
  {
    RegistryBatch batch(r);
    r.WriteInteger(kKey, "A", 1);
    EXPECT_FALSE(fs::exists(file));  // not yet
    r.WriteInteger(kKey, "B", 2);
  }
  EXPECT_TRUE(fs::exists(file));
  EXPECT_EQ(Entries(), std::vector<fs::path>{"registry.reg"});
}

TEST_F(RegFixture, KeepCopyPreservesTheCurrentFile) {
  RegistryFile r = Open();
  r.WriteInteger(kKey, "Delay", 5);
  const std::string before = ReadFile(file);
  r.KeepCopy("settings damaged");
  ASSERT_EQ(r.KeptCopies().size(), 1u);
  EXPECT_EQ(ReadFile(r.KeptCopies()[0]), before);
  EXPECT_NE(ReadFile(log).find("settings damaged"), std::string::npos);
}

TEST_F(RegFixture, AFolderInPlaceOfTheFileIsNeverWrittenOver) {
  fs::create_directory(file);
  WriteFile(file / "inside", "x");
  RegistryFile r = Open();
  EXPECT_TRUE(r.StartedFromDamagedFile());
  r.WriteInteger(kKey, "Delay", 1);
  ASSERT_EQ(r.KeptCopies().size(), 1u);
  EXPECT_EQ(ReadFile(r.KeptCopies()[0] / "inside"), "x");
  EXPECT_TRUE(fs::is_regular_file(file));
}

}  // namespace
}  // namespace vigilo
