// The real program, started as a user starts it (offscreen, private folders).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/regfile.h"
#include "tests/support/server_process.h"
#include "tests/support/tempdir.h"

extern char** environ;

namespace vigilo {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::seconds;

struct Program : ::testing::Test {
  test::TempDir dir;
  std::string home = dir.str() + "home";

  // Each test runs in a process of its own: the program inherits these.
  void SetUp() override {
    fs::create_directory(dir.str() + "run");
    fs::permissions(dir.str() + "run", fs::perms::owner_all);
    unsetenv("VIGILO_HOME");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    setenv("XDG_RUNTIME_DIR", (dir.str() + "run").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir.str() + "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir.str() + "data").c_str(), 1);
    setenv("ASAN_OPTIONS", "detect_leaks=0", 0);
  }

  // Starts the program with its output going to a file in the test folder.
  pid_t Start(std::vector<std::string> args, const std::string& out = "out.txt") {
    args.insert(args.begin(), VIGILO_BINARY);
    std::vector<char*> argv;
    for (auto& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    const std::string out_path = dir.str() + out;
    posix_spawn_file_actions_addopen(&fa, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    return pid;
  }

  // The exit code, -1 when still running after `limit`, -2 when killed by a signal.
  static int WaitExit(pid_t pid, std::chrono::milliseconds limit) {
    for (const auto end = Clock::now() + limit;; std::this_thread::sleep_for(limit / 100)) {
      int status = 0;
      const pid_t r = waitpid(pid, &status, WNOHANG);
      if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
      if (r < 0) return -3;  // not our child (any more)
      if (Clock::now() >= end) return -1;
    }
  }
};

TEST_F(Program, FirstStartWritesTheDefaultsAndASecondCopyLeavesAtOnce) {
  const pid_t first = Start({"--home", home});
  test::WaitUntil([&] { return fs::exists(home + "/registry.reg"); }, 60000);
  ASSERT_EQ(WaitExit(first, std::chrono::milliseconds(0)), -1)
      << test::ReadFile(dir.str() + "out.txt");

  // What a first start writes is the store's business (tests/config); here only that it did,
  // privately.
  RegistryFile reg(home + "/registry.reg", "");
  EXPECT_EQ(reg.ReadInteger("Software\\Brenna\\Vigilo", "Users"), 1);
  EXPECT_EQ(fs::status(home).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_EQ(fs::status(home + "/registry.reg").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  const pid_t second = Start({"--home", home}, "second.txt");
  const int second_code = WaitExit(second, seconds(30));
  EXPECT_EQ(second_code, 0);
  if (second_code == -1) kill(second, SIGKILL);
  EXPECT_EQ(test::ReadFile(dir.str() + "second.txt"), "");  // silently

  EXPECT_EQ(WaitExit(first, std::chrono::milliseconds(300)), -1);  // the first keeps running
  kill(first, SIGTERM);                                            // the end of the session
  EXPECT_EQ(WaitExit(first, seconds(30)), 0);
}

TEST_F(Program, BadArgumentsStartNothing) {
  EXPECT_EQ(WaitExit(Start({"--frobnicate"}), seconds(30)), 2);
  EXPECT_FALSE(fs::exists(dir.str() + "run/vigilo"));
}

}  // namespace
}  // namespace vigilo
