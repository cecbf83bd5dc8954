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
#include "tests/support/tempdir.h"

extern char** environ;

namespace vigilo {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Program : ::testing::Test {
  test::TempDir dir;
  std::string home = dir.str() + "home";

  void SetUp() override {
    fs::create_directory(dir.str() + "run");
    fs::permissions(dir.str() + "run", fs::perms::owner_all);
  }

  std::vector<std::string> Environment() const {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string var = *e;
      const auto ours = [&](const char* p) { return var.rfind(p, 0) == 0; };
      if (!ours("VIGILO_HOME=") && !ours("XDG_") && !ours("QT_QPA_PLATFORM=") &&
          !ours("DBUS_SESSION"))
        env.push_back(var);
    }
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("DBUS_SESSION_BUS_ADDRESS=disabled:");
    env.push_back("XDG_RUNTIME_DIR=" + dir.str() + "run");
    env.push_back("XDG_CONFIG_HOME=" + dir.str() + "config");
    env.push_back("XDG_DATA_HOME=" + dir.str() + "data");
    if (!getenv("ASAN_OPTIONS")) env.push_back("ASAN_OPTIONS=detect_leaks=0");
    return env;
  }

  // Starts the program with its output going to a file in the test folder.
  pid_t Start(std::vector<std::string> args, const std::string& out = "out.txt") {
    args.insert(args.begin(), VIGILO_BINARY);
    std::vector<char*> argv;
    for (auto& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    auto env = Environment();
    std::vector<char*> envp;
    for (auto& e : env)
      envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    const std::string out_path = dir.str() + out;
    posix_spawn_file_actions_addopen(&fa, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    EXPECT_EQ(rc, 0);
    return pid;
  }

  // The exit code, -1 when still running after `limit`, -2 when killed by a signal.
  static int WaitExit(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    for (;;) {
      int status = 0;
      const pid_t r = waitpid(pid, &status, WNOHANG);
      if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
      if (r < 0) return -3;  // not our child (any more)
      if (Clock::now() >= end) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  static void Stop(pid_t pid) {
    kill(pid, SIGTERM);
    if (WaitExit(pid, std::chrono::seconds(10)) == -1) {
      kill(pid, SIGKILL);
      WaitExit(pid, std::chrono::seconds(5));
    }
  }

  template <class F>
  static bool WaitFor(F done) {
    for (const auto end = Clock::now() + std::chrono::seconds(20); Clock::now() < end;) {
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
};

TEST_F(Program, FirstStartWritesTheDefaultsAndASecondCopyLeavesAtOnce) {
  const pid_t first = Start({"--home", home});
  ASSERT_TRUE(WaitFor([&] { return fs::exists(home + "/registry.reg"); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let it settle
  ASSERT_EQ(WaitExit(first, std::chrono::milliseconds(0)), -1)
      << test::ReadFile(dir.str() + "out.txt");

  // What a first start writes is the store's business (tests/config); here only that it did.
  RegistryFile reg(home + "/registry.reg", "");
  EXPECT_EQ(reg.ReadInteger("Software\\Brenna\\Vigilo", "Users"), 1);
  EXPECT_EQ(fs::status(home).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_EQ(fs::status(home + "/registry.reg").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  const pid_t second = Start({"--home", home}, "second.txt");
  const int second_code = WaitExit(second, std::chrono::seconds(30));
  EXPECT_EQ(second_code, 0);
  if (second_code == -1) Stop(second);
  EXPECT_EQ(test::ReadFile(dir.str() + "second.txt"), "");  // silently

  EXPECT_EQ(WaitExit(first, std::chrono::milliseconds(300)), -1);  // the first keeps running
  kill(first, SIGTERM);                                            // the end of the session
  EXPECT_EQ(WaitExit(first, std::chrono::seconds(10)), 0);
}

TEST_F(Program, BadArgumentsStartNothing) {
  EXPECT_EQ(WaitExit(Start({"--frobnicate"}), std::chrono::seconds(10)), 2);
  EXPECT_FALSE(fs::exists(dir.str() + "run/vigilo"));
}

}  // namespace
}  // namespace vigilo
