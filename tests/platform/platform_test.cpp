// Folders, files, the error log, the single-instance lock, the autostart entry, the
// program's own path and the system sound.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "platform/atomicfile.h"
#include "platform/autostart.h"
#include "platform/errorlog.h"
#include "platform/folders.h"
#include "platform/single_instance.h"
#include "platform/sound.h"
#include "tests/support/server_process.h"
#include "tests/support/tempdir.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;

EnvLookup Env(std::map<std::string, std::string> vars) {
  return [vars](const std::string& name) -> std::optional<std::string> {
    const auto it = vars.find(name);
    return it == vars.end() ? std::nullopt : std::optional<std::string>(it->second);
  };
}

unsigned ModeOf(const std::string& path) {
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

// Everything the process writes to stderr from construction to Text() goes into a file.
class CapturedStderr {
 public:
  explicit CapturedStderr(const std::filesystem::path& file) : file_(file), saved_(dup(2)) {
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    dup2(fd, 2);
    close(fd);
  }
  std::string Text() {
    fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    return ReadFile(file_);
  }

 private:
  std::filesystem::path file_;
  int saved_;
};

// Played through ALSA, the backend that talks the most when there is no sound device
// (on a machine with sound the plays may simply succeed).
TEST(Sound, NoSoundDeviceKeepsTheTerminalQuietAndLogsEachFailureOnce) {
  TempDir dir;
  const auto log = dir.path() / "error.log";
  setenv("CANBERRA_DRIVER", "alsa", 1);
  CapturedStderr captured(dir.path() / "stderr");
  {
    auto player = CreateSystemSoundPlayer(log);
    for (int i = 0; i < 3; ++i) {
      player->Play("message-new-email");
      EXPECT_NE(player->Play("/nonexistent/sound.wav"), 0);
    }
  }
  // A new run does not repeat a line the log already holds.
  CreateSystemSoundPlayer(log)->Play("/nonexistent/sound.wav");
  const std::string terminal = captured.Text();
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

}  // namespace
}  // namespace vigilo
