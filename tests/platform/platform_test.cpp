// Folders, files, the error log, the single-instance lock, the autostart entry, the
// program's own path, the system sound and the registry-export settings file.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>

#include "platform/atomicfile.h"
#include "platform/autostart.h"
#include "platform/errorlog.h"
#include "platform/folders.h"
#include "platform/regfile.h"
#include "platform/single_instance.h"
#include "platform/sound.h"
#include "tests/support/server_process.h"
#include "tests/support/tempdir.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

EnvLookup Env(std::map<std::string, std::string> vars) {
  return [vars](const std::string& name) -> std::optional<std::string> {
    const auto it = vars.find(name);
    return it == vars.end() ? std::nullopt : std::optional<std::string>(it->second);
  };
}

unsigned ModeOf(const fs::path& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

TEST(Folders, CommandLineThenVigiloHomeThenXdg) {
  const auto env = Env({{"VIGILO_HOME", "/v/home"}, {"HOME", "/h"}, {"XDG_RUNTIME_DIR", "/run/u"}});
  Folders f = ResolveFolders("/given//", env);
  EXPECT_EQ(f.Home + "|" + f.Config + "|" + f.Temp, "/given/|/given/|/run/u/vigilo/");
  EXPECT_TRUE(f.HomeGiven);
  f = ResolveFolders("", env);
  EXPECT_EQ(f.Home + "|" + f.Config, "/v/home/|/v/home/");
  f = ResolveFolders("", Env({{"HOME", "/h"}, {"TMPDIR", "/scratch"}}));
  EXPECT_EQ(f.Home + "|" + f.Config, "/h/.local/share/vigilo/|/h/.config/vigilo/");
  EXPECT_EQ(f.Temp, "/scratch/vigilo-" + std::to_string(getuid()) + "/");
  EXPECT_FALSE(f.HomeGiven);
  f = ResolveFolders("", Env({{"HOME", "/h"},
                              {"XDG_DATA_HOME", "/d"},
                              {"XDG_CONFIG_HOME", "/c"},
                              {"VIGILO_HOME", ""}}));
  EXPECT_EQ(f.Home + "|" + f.Config, "/d/vigilo/|/c/vigilo/");
  f = ResolveFolders("rel/dir", Env({}));  // made absolute
  EXPECT_EQ(f.Home.front(), '/');
  EXPECT_EQ(f.Home.substr(f.Home.size() - 8), "rel/dir/");
}

TEST(SingleInstance, SecondLockIsRefusedUntilTheFirstEnds) {
  TempDir t;
  std::unique_ptr<SingleInstance> first, second;
  ASSERT_EQ(SingleInstance::Acquire(t.str(), &first), SingleInstance::Result::Acquired);
  EXPECT_EQ(SingleInstance::Acquire(t.str(), &second), SingleInstance::Result::HeldByAnother);
  EXPECT_EQ(second, nullptr);
  first.reset();
  EXPECT_EQ(SingleInstance::Acquire(t.str(), &second), SingleInstance::Result::Acquired);
  EXPECT_EQ(ModeOf(t.str() + "CopyOfVigilo.lock"), 0600u);
  std::string error;
  EXPECT_EQ(SingleInstance::Acquire("/nonexistent/folder/", &first, &error),
            SingleInstance::Result::Failed);
  EXPECT_FALSE(error.empty());
}

TEST(Autostart, EntryStartsTheProgramWithItsHomeAndLeavesOtherHomesAlone) {
  TempDir t;
  const std::string path = t.str() + "autostart/vigilo.desktop";
  XdgAutostart a(path, {"--home", "/my home/$x/"});
  EXPECT_FALSE(a.Exists());
  ASSERT_EQ(a.Set("/opt/vig ilo/vigilo"), "");
  EXPECT_TRUE(a.Exists());
  const std::string text = ReadFile(path);
  EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
  EXPECT_NE(text.find("Exec=\"/opt/vig ilo/vigilo\" \"--home\" \"/my home/\\\\$x/\"\n"),
            std::string::npos)
      << text;
  XdgAutostart other(path, {});
  EXPECT_FALSE(other.Exists());
  other.Remove();
  EXPECT_TRUE(a.Exists());
  a.Remove();
  EXPECT_FALSE(a.Exists());
}

TEST(Files, ErrorLogLinesAndAtomicReplacement) {
  TempDir t;
  const auto log = t.path() / "error.log";
  AppendErrorLog(log, "alice", "Ошибка\nвторая");  // one line per entry
  AppendErrorLog(log, "bob", "two");
  std::string text = ReadFile(log);
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }, '9');
  const std::string stamp = "99.99.9999 99:99:99 ";  // the time stamp's digits, any of them
  EXPECT_EQ(text, stamp + "alice Ошибка вторая\n" + stamp + "bob two\n");
  EXPECT_EQ(ModeOf(log.string()), 0600u);

  chmod(log.c_str(), 0644);
  EXPECT_EQ(WriteFileAtomic(log, "new"), "");
  EXPECT_EQ(ReadFile(log), "new");
  EXPECT_EQ(ModeOf(log.string()), 0600u);
  EXPECT_NE(WriteFileAtomic(t.path() / "no" / "f", "x"), "");
  std::string out;
  EXPECT_EQ(ReadWholeFile(log, out, 2), "file too large");
}

TEST(Files, ErrorLogIsNeverFollowedThroughALinkAndPersistentNoticesAreWrittenOnce) {
  TempDir t;
  const auto target = t.path() / "elsewhere";
  test::WriteFile(target, "");
  std::filesystem::create_symlink(target, t.path() / "error.log");
  AppendErrorLog(t.path() / "error.log", "eve", "planted");
  EXPECT_EQ(ReadFile(target), "");

  const auto log = t.path() / "real.log";
  AppendErrorLogOnce(log, "vigilo", "the folder is open");
  AppendErrorLog(log, "vigilo", "something else");
  AppendErrorLogOnce(log, "vigilo", "the folder is open");
  AppendErrorLogOnce(log, "vigilo", "the folder");  // a different, shorter notice
  const std::string text = ReadFile(log);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << text;
}

// Created folders are private, the temporary one is made private again; an open home
// is reported and a foreign one refused.
TEST(Folders, CreatedFoldersArePrivateAndOpenOrForeignOnesReported) {
  TempDir t;
  const Folders f{t.str() + "home/a/", t.str() + "config/", t.str() + "tmp/", true};
  ASSERT_EQ(CreateFolders(f), "");
  for (const char* sub : {"home", "home/a", "tmp"})
    EXPECT_EQ(ModeOf(t.str() + sub), 0700u) << sub;
  chmod((t.str() + "tmp").c_str(), 0755);
  ASSERT_EQ(CreateFolders(f), "");
  EXPECT_EQ(ModeOf(t.str() + "tmp"), 0700u);
  std::vector<std::string> open;
  EXPECT_EQ(CheckPrivateFolders(f, &open), "");
  EXPECT_TRUE(open.empty());
  chmod(f.Home.c_str(), 0755);
  EXPECT_EQ(CheckPrivateFolders(f, &open), "");
  EXPECT_EQ(open, std::vector<std::string>{f.Home + " (mode 0755)"});
  if (geteuid() == 0) {
    ASSERT_EQ(chown(f.Config.c_str(), 12345, 12345), 0);
    EXPECT_EQ(CheckPrivateFolders(f, nullptr), f.Config + " belongs to another user");
  }
}

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

// Played through ALSA, the backend that talks the most when there is no sound device
// (on a machine with sound the plays may simply succeed).
TEST(Sound, NoSoundDeviceKeepsTheTerminalQuietAndLogsEachFailureOnce) {
  TempDir dir;
  const auto log = dir.path() / "error.log";
  setenv("CANBERRA_DRIVER", "alsa", 1);
  testing::internal::CaptureStderr();  // the descriptor, as the sound libraries write to it
  {
    auto player = CreateSystemSoundPlayer(log);
    for (int i = 0; i < 3; ++i) {
      player->Play("message-new-email");
      EXPECT_NE(player->Play("/nonexistent/sound.wav"), 0);
    }
  }
  // A new run does not repeat a line the log already holds.
  CreateSystemSoundPlayer(log)->Play("/nonexistent/sound.wav");
  const std::string terminal = testing::internal::GetCapturedStderr();
  unsetenv("CANBERRA_DRIVER");

  EXPECT_EQ(terminal, "");
  const std::string text = ReadFile(log);
  const auto count = [&text](const std::string& part) {
    int n = 0;
    for (std::size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1))
      ++n;
    return n;
  };
  EXPECT_EQ(count("sound \"/nonexistent/sound.wav\" cannot be played"), 1) << text;
  EXPECT_LE(count("\"message-new-email\""), 1) << text;
}

// The settings file in the registry-export format.

const std::string kKey = "Software\\Brenna\\Vigilo";
const std::string kHeader =
    "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Brenna\\Vigilo]\n";

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
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
  EXPECT_EQ(ModeOf(file), 0600u);
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
  EXPECT_EQ(ModeOf(copies.back()), 0600u);

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
