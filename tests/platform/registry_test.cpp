#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fcntl.h>

#include <algorithm>
#include <ctime>
#include <filesystem>

#include "platform/atomicfile.h"
#include "platform/regfile.h"
#include "tests/support/tempdir.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

const std::string kKey = "Software\\Brenna\\Vigilo";
const std::string kHeader =
    "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Brenna\\Vigilo]\n";

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}
unsigned Mode(const fs::path& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}
long LineCount(const std::string& text) {
  return std::count(text.begin(), text.end(), '\n');
}

struct Reg : ::testing::Test {
  test::TempDir dir;
  fs::path file = dir.path() / "registry.reg";
  fs::path log = dir.path() / "error.log";
  RegistryFile Open() { return RegistryFile(file, log); }
  // The store keeps exactly one copy of the file, holding `text`.
  void ExpectKeptCopy(const RegistryFile& r, const std::string& text) {
    ASSERT_EQ(r.KeptCopies().size(), 1u);
    EXPECT_EQ(ReadFile(r.KeptCopies()[0]), text);
  }
};

TEST_F(Reg, EveryValueTypeAndCyrillicSurviveARewrite) {
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
    r.SetValue(kKey + "\\1", "Имя", RegValue::Dword(0));
    EXPECT_FALSE(fs::exists(file));  // a batch writes once, at its end
  }
  EXPECT_EQ(Mode(file), 0600u);
  const std::string text = ReadFile(file);
  EXPECT_EQ(text.rfind(kHeader, 0), 0u);
  for (const char* line :
       {"\"ConfigNM\"=\"Конфигурация 1\"", "\"Port\"=dword:0000006e", "\"Minus\"=dword:ffffffff"})
    EXPECT_TRUE(Has(text, line)) << line;
  // No temporary file is left.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

  RegistryFile again = Open();
  EXPECT_EQ(again.ReadString(kKey, "ConfigNM"), "Конфигурация 1");
  EXPECT_EQ(again.ReadString(kKey, "Tricky"), tricky);
  EXPECT_EQ(again.ReadString(kKey, "Empty"), "");
  EXPECT_EQ(again.GetValue(kKey, "Expand"), RegValue::Expand("%HOME%/звук.wav"));
  EXPECT_EQ(again.ReadString(kKey, "Expand"), "%HOME%/звук.wav");  // accepted as a string
  EXPECT_EQ(again.ReadInteger(kKey, "Minus"), -1);
  EXPECT_EQ(again.ReadInteger(kKey + "\\1", "Имя"), 0);
  EXPECT_TRUE(again.KeptCopies().empty());
  EXPECT_FALSE(fs::exists(log));
}

TEST_F(Reg, TypedReadsLetterCaseAndNestedKeys) {
  RegistryFile r;
  r.WriteString(kKey, "S", "x");
  r.WriteInteger(kKey, "N", 5);
  EXPECT_EQ(r.ReadString(kKey, "Missing"), "");  // a missing string is empty
  EXPECT_EQ(r.ReadString(kKey, "N"), std::nullopt);
  EXPECT_EQ(r.ReadInteger(kKey, "Missing"), std::nullopt);
  EXPECT_EQ(r.ReadInteger(kKey, "S"), std::nullopt);
  r.WriteInteger("SOFTWARE\\brenna\\VIGILO", "n", 0);
  EXPECT_EQ(r.ValueNames(kKey).size(), 2u);
  EXPECT_EQ(r.ReadInteger(kKey, "N"), 0);

  r.WriteInteger(kKey + "\\1", "Port", 1);
  r.WriteInteger(kKey + "\\10", "Port", 10);
  r.WriteInteger(kKey + "\\1\\Deeper", "X", 2);
  EXPECT_TRUE(r.KeyExists("Software\\Brenna"));  // parents exist implicitly
  EXPECT_EQ(r.SubKeyNames(kKey), (std::vector<std::string>{"1", "10"}));
  r.DeleteKey(kKey + "\\1");
  EXPECT_FALSE(r.KeyExists(kKey + "\\1\\Deeper"));
  EXPECT_EQ(r.ReadInteger(kKey + "\\10", "Port"), 10);  // "\10" is not below "\1"
}

TEST_F(Reg, UnknownKeysValuesAndTypesAreKept) {
  WriteFile(file,
            "Windows Registry Editor Version 5.00\r\n\r\n; written by hand\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n\"Binary\"=hex:01,02,\\\r\n  03,04\r\n"
            "@=\"default\"\r\n\r\n[HKEY_CURRENT_USER\\Software\\Brenna\\Vigilo]\r\n"
            "\"Future\"=hex(b):01,00,00,00,00,00,00,00\r\n\"Delay\"=dword:3C\r\n");
  Open().WriteInteger(kKey, "Delay", 120);
  RegistryFile r = Open();
  EXPECT_EQ(r.ReadInteger(kKey, "Delay"), 120);
  EXPECT_EQ(r.GetValue(kKey, "Future"),
            (RegValue{RegType::Other, "hex(b):01,00,00,00,00,00,00,00", 0}));
  EXPECT_TRUE(Has(ReadFile(file),
                  "[HKEY_LOCAL_MACHINE\\Software\\Other]\n\"Binary\"="
                  "hex:01,02,03,04\n@=\"default\""));
  EXPECT_FALSE(fs::exists(log));
}

TEST_F(Reg, UnreadableAndTornLinesAreReportedAndTheFileKept) {
  const std::string original = kHeader +
                               "\"Delay\"=dword:0000003c\n"
                               "\"Lan\"=dword:xyz\n"       // line 5
                               "\"Sound\"=\"\xff\xfe\"\n"  // line 6: not UTF-8
                               "garbage\n"                 // line 7
                               "\"Post\"=\"mutt\"\n"
                               "\"Ras\"=\"Моде";  // torn inside a character
  WriteFile(file, original.substr(0, original.size() - 1));
  RegistryFile r = Open();
  EXPECT_EQ(r.ReadInteger(kKey, "Delay"), 60);
  EXPECT_EQ(r.ReadString(kKey, "Post"), "mutt");
  EXPECT_EQ(r.GetValue(kKey, "Lan"), std::nullopt);
  EXPECT_EQ(r.GetValue(kKey, "Ras"), std::nullopt);
  const std::string errors = ReadFile(log);
  for (const char* line : {"line 5:", "line 6:", "line 7:", "line 9:"})
    EXPECT_TRUE(Has(errors, line)) << line << errors;
  EXPECT_FALSE(Has(errors, "line 4:"));
  ExpectKeptCopy(r, original.substr(0, original.size() - 1));
  EXPECT_FALSE(r.StartedFromDamagedFile());
}

// Binary junk, a file without its header line, and a folder where the file belongs are
// moved aside whole and the store starts empty; the folder is never written over.
TEST_F(Reg, CorruptHeaderlessOrFolderIsMovedAsideAndTheStoreStartsEmpty) {
  const std::string junk(
      "\x7f"
      "ELF\0\0\x01binary junk",
      17);
  WriteFile(file, junk);
  {
    RegistryFile r = Open();
    EXPECT_TRUE(r.StartedFromDamagedFile());
    EXPECT_FALSE(r.KeyExists(kKey));
    ExpectKeptCopy(r, junk);
    r.WriteInteger(kKey, "Delay", 0);
  }
  EXPECT_TRUE(Has(ReadFile(log), "registry.reg"));
  EXPECT_EQ(Open().ReadInteger(kKey, "Delay"), 0);

  WriteFile(file, kHeader.substr(kHeader.find('[')) + "\"Delay\"=dword:00000001\n");
  EXPECT_FALSE(Open().KeyExists(kKey));

  fs::remove(file);
  fs::create_directory(file);
  WriteFile(file / "inside", "x");
  RegistryFile r = Open();
  EXPECT_TRUE(r.StartedFromDamagedFile());
  r.WriteInteger(kKey, "Delay", 1);
  EXPECT_EQ(ReadFile(r.KeptCopies().back() / "inside"), "x");
  EXPECT_TRUE(fs::is_regular_file(file));
}

// A file with an unreadable line, read at every start until a save rewrites it: one copy
// per distinct content, the oldest dropped beyond a few, one short log line for a file
// already kept; a thousand bad lines give a bounded report.
TEST_F(Reg, DamagedFileIsCopiedOncePerContentAndFewCopiesStay) {
  const std::string bad = kHeader + "\"Delay\"=dword:xyz\n";
  WriteFile(file, bad);
  for (int start = 0; start < 5; ++start)
    ExpectKeptCopy(Open(), bad);
  EXPECT_EQ(AsideCopies(file, "damaged").size(), 1u);
  EXPECT_EQ(LineCount(ReadFile(log)), 2 + 4) << ReadFile(log);  // 2, then 1 each
  for (int k = 0; k < 5; ++k) {
    WriteFile(file, bad + "\"Other" + std::to_string(k) + "\"=dword:zz\n");
    Open();
  }
  const auto copies = AsideCopies(file, "damaged");
  ASSERT_EQ(copies.size(), RegistryFile::kMaxDamagedCopies);
  EXPECT_TRUE(Has(ReadFile(copies.back()), "Other4"));
  EXPECT_EQ(Mode(copies.back()), 0600u);

  std::string many = kHeader;
  for (int k = 0; k < 1000; ++k)
    many += "junk\n";
  WriteFile(file, many);
  fs::remove(log);
  Open();
  const std::string errors = ReadFile(log);
  EXPECT_LT(LineCount(errors), 15) << errors;
  EXPECT_TRUE(Has(errors, "and 990 more unreadable lines skipped"));
}

// regedit writes UTF-16LE with a byte-order mark and CR LF line ends.
TEST_F(Reg, RegeditExportInUtf16IsRead) {
  const std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Brenna\\"
      u"Vigilo]\r\n\"Post\"=\"Почта \U0001F4E7\"\r\n\"Delay\"=dword:0000003c\r\n";
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  WriteFile(file, bytes);
  {
    RegistryFile r = Open();
    EXPECT_EQ(r.ReadString(kKey, "Post"), "Почта \xF0\x9F\x93\xA7");
    EXPECT_EQ(r.ReadInteger(kKey, "Delay"), 60);
    EXPECT_TRUE(r.KeptCopies().empty());
    r.WriteInteger(kKey, "Delay", 61);
  }
  EXPECT_TRUE(ReadFile(file).starts_with("Windows Registry Editor Version 5.00\n"));
  // An odd byte count or an unpaired surrogate is not text: moved aside.
  WriteFile(file, bytes + "\x3D\xD8");
  EXPECT_TRUE(Open().StartedFromDamagedFile());
}

// A save killed between writing its temporary file and renaming it leaves the temporary
// file behind; the next start removes it, but never one a running save may still own.
TEST_F(Reg, TemporariesOfAnUnfinishedSaveAreRemovedAtStart) {
  const fs::path stale = dir.path() / "registry.reg.tmp-AbC123";
  const fs::path fresh = dir.path() / "registry.reg.tmp-XyZ789";
  const fs::path other = dir.path() / "vg.ini.tmp-AbC123";
  for (const fs::path& p : {stale, fresh, other})
    WriteFile(p, "secret");
  const timespec old[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
  for (const fs::path& p : {stale, other})
    ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), old, 0), 0);
  Open();
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(fresh));
  EXPECT_TRUE(fs::exists(other));
}

}  // namespace
}  // namespace vigilo
