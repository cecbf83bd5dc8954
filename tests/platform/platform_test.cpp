#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>

#include "platform/atomicfile.h"
#include "platform/autostart.h"
#include "platform/errorlog.h"
#include "platform/folders.h"
#include "platform/single_instance.h"
#include "platform/sound.h"
#include "platform/utf8.h"
#include "tests/support/tempdir.h"

namespace vigilo {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

EnvLookup Env(std::map<std::string, std::string> vars) {
  return [vars](const std::string& name) -> std::optional<std::string> {
    const auto it = vars.find(name);
    if (it == vars.end()) return std::nullopt;
    return it->second;
  };
}

unsigned ModeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

TEST(Folders, HomeFromTheCommandLineBeforeTheEnvironment) {
  const auto env = Env({{"VIGILO_HOME", "/v/home"}, {"HOME", "/h"}, {"XDG_RUNTIME_DIR", "/run/u"}});
  Folders f = ResolveFolders("/given//", env);
  EXPECT_EQ(f.Home, "/given/");
  EXPECT_EQ(f.Config, "/given/");
  EXPECT_TRUE(f.HomeGiven);
  EXPECT_EQ(f.Temp, "/run/u/vigilo/");
  f = ResolveFolders("", env);
  EXPECT_EQ(f.Home, "/v/home/");
  EXPECT_EQ(f.Config, "/v/home/");
}

TEST(Folders, XdgFoldersWhenNoHomeIsGiven) {
  Folders f = ResolveFolders("", Env({{"HOME", "/h"}, {"TMPDIR", "/scratch"}}));
  EXPECT_EQ(f.Home, "/h/.local/share/vigilo/");
  EXPECT_EQ(f.Config, "/h/.config/vigilo/");
  EXPECT_EQ(f.Temp, "/scratch/vigilo-" + std::to_string(getuid()) + "/");
  EXPECT_FALSE(f.HomeGiven);
  f = ResolveFolders("", Env({{"HOME", "/h"},
                              {"XDG_DATA_HOME", "/d"},
                              {"XDG_CONFIG_HOME", "/c"},
                              {"VIGILO_HOME", ""}}));
  EXPECT_EQ(f.Home, "/d/vigilo/");
  EXPECT_EQ(f.Config, "/c/vigilo/");
}

TEST(Folders, RelativeHomeBecomesAbsolute) {
  const Folders f = ResolveFolders("rel/dir", Env({}));
  EXPECT_EQ(f.Home.front(), '/');
  EXPECT_EQ(f.Home.substr(f.Home.size() - 8), "rel/dir/");
}

TEST(Folders, CreatedFoldersArePrivate) {
  TempDir t;
  const Folders f{t.str() + "home/a/", t.str() + "cfg/", t.str() + "tmp/", true};
  ASSERT_EQ(CreateFolders(f), "");
  EXPECT_EQ(ModeOf(t.str() + "home"), 0700u);
  EXPECT_EQ(ModeOf(t.str() + "home/a"), 0700u);
  EXPECT_EQ(ModeOf(t.str() + "tmp"), 0700u);
  chmod((t.str() + "tmp").c_str(), 0755);
  ASSERT_EQ(CreateFolders(f), "");
  EXPECT_EQ(ModeOf(t.str() + "tmp"), 0700u);  // the temporary folder is made private again
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
}

TEST(SingleInstance, MissingFolderFails) {
  std::unique_ptr<SingleInstance> lock;
  std::string error;
  EXPECT_EQ(SingleInstance::Acquire("/nonexistent/folder/", &lock, &error),
            SingleInstance::Result::Failed);
  EXPECT_FALSE(error.empty());
}

TEST(Autostart, EntryStartsTheProgramWithItsHome) {
  TempDir t;
  const std::string path = t.str() + "autostart/vigilo.desktop";
  XdgAutostart a(path, {"--home", "/my home/$x/"});
  EXPECT_FALSE(a.Exists());
  a.Set("/opt/vig ilo/vigilo");
  EXPECT_TRUE(a.Exists());
  const std::string text = ReadFile(path);
  EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(text.find("Exec=\"/opt/vig ilo/vigilo\" \"--home\" \"/my home/\\\\$x/\"\n"),
            std::string::npos)
      << text;
  a.Remove();
  EXPECT_FALSE(a.Exists());
}

TEST(Autostart, AnotherHomesEntryIsLeftAlone) {
  TempDir t;
  const std::string path = t.str() + "vigilo.desktop";
  XdgAutostart plain(path, {});
  plain.Set("/usr/bin/vigilo");
  XdgAutostart other(path, {"--home", "/tmp/demo"});
  EXPECT_FALSE(other.Exists());
  other.Remove();
  EXPECT_TRUE(plain.Exists());
}

TEST(Utf8, CutNeverSplitsACharacter) {
  const std::string word = "Ёж";  // 2 characters, 4 bytes
  EXPECT_EQ(CutChars(word, 1), "Ё");
  EXPECT_EQ(CutChars(word, 5), word);
  std::string long_text;
  for (int i = 0; i < 300; ++i)
    long_text += "ж";
  const std::string cut = CutChars(long_text, 255);
  EXPECT_EQ(cut.size(), 510u);
  EXPECT_TRUE(IsValidUtf8(cut));
  // Bytes of a single-byte code page count one character each.
  EXPECT_EQ(CutChars(std::string(300, '\xe6'), 255).size(), 255u);
  EXPECT_FALSE(IsValidUtf8("\xed\xa0\x80"));  // a surrogate
  EXPECT_EQ(ToValidUtf8("a\xffz"), "a\xEF\xBF\xBDz");
  EXPECT_EQ(Trim(" \t x y \r\n"), "x y");
}

TEST(ErrorLog, OneLineWithDateTimeWhoAndMessage) {
  TempDir t;
  const auto log = t.path() / "error.log";
  AppendErrorLog(log, "alice", "Ошибка\nвторая");
  AppendErrorLog(log, "bob", "two");
  const std::string text = ReadFile(log);
  // "dd.MM.yyyy HH:mm:ss " before each line's text.
  const auto stamped = [](const std::string& line) {
    const std::string shape = "dd.dd.dddd dd:dd:dd ";
    if (line.size() < shape.size()) return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
      const bool digit = line[i] >= '0' && line[i] <= '9';
      if (shape[i] == 'd' ? !digit : line[i] != shape[i]) return false;
    }
    return true;
  };
  const auto nl = text.find('\n');
  ASSERT_NE(nl, std::string::npos);
  const std::string first = text.substr(0, nl), second = text.substr(nl + 1);
  EXPECT_TRUE(stamped(first) && stamped(second)) << text;
  EXPECT_EQ(first.substr(20), "alice Ошибка вторая");
  EXPECT_EQ(second.substr(20), "bob two\n");
  EXPECT_EQ(ModeOf(log.string()), 0600u);
}

TEST(AtomicFile, ReplacesWholeAndPrivate) {
  TempDir t;
  const auto p = t.path() / "f";
  WriteFile(p, "old");
  chmod(p.c_str(), 0644);
  EXPECT_EQ(WriteFileAtomic(p, "new"), "");
  EXPECT_EQ(ReadFile(p), "new");
  EXPECT_EQ(ModeOf(p.string()), 0600u);
  EXPECT_NE(WriteFileAtomic(t.path() / "no" / "f", "x"), "");
  std::string out;
  EXPECT_EQ(ReadWholeFile(p, out, 2), "file too large");
}

TEST(Sound, SystemPlayerReturnsPromptlyForUnknownSounds) {
  auto player = CreateSystemSoundPlayer();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NE(player->Play("/nonexistent/sound.wav"), 0);
  EXPECT_NE(player->Play(""), 0);
  player->Play("message-new-email");  // may or may not play; must not hang
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace vigilo
