#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>

#include "platform/atomicfile.h"
#include "platform/autostart.h"
#include "platform/errorlog.h"
#include "platform/folders.h"
#include "platform/single_instance.h"
#include "platform/sound.h"
#include "tests/support/tempdir.h"

namespace vigilo {
namespace {

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

TEST(Folders, CreatedFoldersArePrivate) {
  TempDir t;
  const Folders f{t.str() + "home/a/", t.str() + "cfg/", t.str() + "tmp/", true};
  ASSERT_EQ(CreateFolders(f), "");
  for (const char* sub : {"home", "home/a", "tmp"})
    EXPECT_EQ(ModeOf(t.str() + sub), 0700u) << sub;
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
  AppendErrorLog(log, "alice", "Ошибка\nвторая");
  AppendErrorLog(log, "bob", "two");
  const auto stamped = [](const std::string& line) {  // "dd.MM.yyyy HH:mm:ss "
    const std::string shape = "00.00.0000 00:00:00 ";
    for (std::size_t i = 0; i < shape.size(); ++i)
      if (shape[i] == '0' ? !std::isdigit(static_cast<unsigned char>(line[i]))
                          : line[i] != shape[i])
        return false;
    return true;
  };
  const std::string text = ReadFile(log);
  ASSERT_GT(text.size(), 40u);
  const std::size_t nl = text.find('\n');
  EXPECT_TRUE(stamped(text) && stamped(text.substr(nl + 1))) << text;
  EXPECT_EQ(text.substr(20, nl - 20), "alice Ошибка вторая");
  EXPECT_EQ(text.substr(nl + 21), "bob two\n");
  EXPECT_EQ(ModeOf(log.string()), 0600u);

  chmod(log.c_str(), 0644);
  EXPECT_EQ(WriteFileAtomic(log, "new"), "");
  EXPECT_EQ(ReadFile(log), "new");
  EXPECT_EQ(ModeOf(log.string()), 0600u);
  EXPECT_NE(WriteFileAtomic(t.path() / "no" / "f", "x"), "");
  std::string out;
  EXPECT_EQ(ReadWholeFile(log, out, 2), "file too large");
}

TEST(Sound, SystemPlayerReturnsPromptlyForUnknownSounds) {
  auto player = CreateSystemSoundPlayer();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NE(player->Play("/nonexistent/sound.wav"), 0);
  EXPECT_NE(player->Play(""), 0);
  player->Play("message-new-email");  // may or may not play; must not hang
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

}  // namespace
}  // namespace vigilo

namespace vigilo {
namespace {

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

TEST(Folders, AnOpenHomeIsReportedAndAForeignOneRefused) {
  TempDir t;
  Folders f;
  f.Home = t.str() + "home/";
  f.Config = t.str() + "config/";
  f.Temp = t.str() + "tmp/";
  ASSERT_EQ(CreateFolders(f), "");
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

}  // namespace
}  // namespace vigilo
