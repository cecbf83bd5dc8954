#include "tests/support/server_process.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "tests/support/free_port.h"
#include "tests/support/tempdir.h"

extern char** environ;

namespace vigilo::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kStartTimeoutMs = 15000;
constexpr int kStartAttempts = 3;

// Spawns argv in a process group of its own, stdin from /dev/null, stdout+stderr to `out`.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& out) {
  posix_spawn_file_actions_t fa;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&fa);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  // Signals the test process ignores or blocks must not carry over to the server.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  std::vector<char*> args;
  for (const auto& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, args[0], &fa, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  return rc == 0 ? pid : -1;
}

bool GroupExists(pid_t pgid) {
  return kill(-pgid, 0) == 0 || errno == EPERM;
}

// Reaps the leader and its group until both are gone: SIGKILL to the group once graceMs have
// passed or `hurry` holds, then 2 s more for members that are not our children.
void ReapGroup(pid_t leader, int graceMs, const std::function<bool()>& hurry = {}) {
  auto until = Clock::now() + milliseconds(graceMs);
  bool killed = false;
  for (;;) {
    while (waitpid(-leader, nullptr, WNOHANG) > 0) {
    }
    if (waitpid(leader, nullptr, WNOHANG) != 0 && !GroupExists(leader)) return;
    if (!killed && (Clock::now() >= until || (hurry && hurry()))) {
      kill(-leader, SIGKILL);
      kill(leader, SIGKILL);
      killed = true;
      until = Clock::now() + milliseconds(2000);
    } else if (killed && Clock::now() >= until) {
      while (waitpid(leader, nullptr, 0) < 0 && errno == EINTR) {
      }
      return;
    }
    std::this_thread::sleep_for(milliseconds(10));
  }
}

// Completes background stops, each on its own thread; waits for all of them at program exit.
class Reaper {
 public:
  // Null once the program's static objects are being destroyed.
  static Reaper* Get() {
    if (gone_) return nullptr;
    static Reaper reaper;
    return &reaper;
  }
  void Add(std::function<void()> job) {
    std::lock_guard<std::mutex> lock(mutex_);
    threads_.emplace_back(std::move(job));
  }
  ~Reaper() {
    gone_ = true;
    std::lock_guard<std::mutex> lock(mutex_);
    threads_.clear();  // joins
  }

 private:
  std::mutex mutex_;
  std::vector<std::jthread> threads_;
  static inline std::atomic<bool> gone_{false};
};

// The first line of a connection to the port (up to 2 s), or "" when nobody answers.
std::string FirstLine(int port, Clock::time_point until) {
  const int fd = ConnectLoopback(port);
  if (fd < 0) return {};
  std::string line;
  until = std::min(until, Clock::now() + milliseconds(2000));
  while (line.find('\n') == std::string::npos && line.size() < 4096 && Clock::now() < until) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    char buf[512];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return line;
}

// Connects until a line starting with `prefix` arrives (""), the server dies or timeoutMs pass.
std::string WaitForGreeting(ServerProcess& server, int port, const std::string& prefix) {
  const auto until = Clock::now() + milliseconds(kStartTimeoutMs);
  std::string error = "timed out waiting for the greeting";
  while (Clock::now() < until) {
    if (!server.Alive()) return "the server exited";
    const std::string line = FirstLine(port, until);
    // A leftover server on the same port could have answered: ours must still be running.
    if (line.rfind(prefix, 0) == 0 && line.find('\n') != std::string::npos)
      return server.Alive() ? "" : "the server exited";
    if (!line.empty()) error = "unexpected greeting \"" + line.substr(0, line.find('\n')) + "\"";
    std::this_thread::sleep_for(milliseconds(20));
  }
  return error;
}

}  // namespace

void ServerProcess::Start(const std::vector<std::string>& argv, const std::string& logFile) {
  Stop();
  // Workers outliving their master would go to PID 1, which need not reap them: adopt them.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  std::vector<std::string> full;
  if (access("/usr/bin/setpriv", X_OK) == 0)
    full = {"/usr/bin/setpriv", "--pdeathsig", "TERM", "--"};
  full.insert(full.end(), argv.begin(), argv.end());
  pid_ = Spawn(full, logFile);
  terminated_ = false;
  if (pid_ < 0) throw std::runtime_error("cannot start " + argv.at(0));
}

bool ServerProcess::Alive() {
  if (pid_ < 0) return false;
  const pid_t r = waitpid(pid_, nullptr, WNOHANG);
  if (r == 0) return true;
  if (r == pid_ || (r < 0 && errno == ECHILD)) {
    ReapGroup(pid_, 0);  // whatever the leader left in its group goes too
    pid_ = -1;
  }
  return false;
}

void ServerProcess::Terminate() {
  if (pid_ < 0 || terminated_) return;
  kill(pid_, SIGTERM);
  terminated_ = true;
}

void ServerProcess::Stop(int graceMs) {
  if (pid_ < 0) return;
  Terminate();
  // Children the server left behind (workers still shutting down) share its group.
  ReapGroup(pid_, graceMs, [this] { return !lingering_.empty() && OnlyLingeringLeft(); });
  pid_ = -1;
}

bool ServerProcess::OnlyLingeringLeft() const {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos || std::stoi(name) == pid_)
      continue;
    const std::string stat = ReadFile(e.path() / "stat");
    const size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) continue;
    int pgrp = 0, ppid = 0;
    char state = 0;
    if (sscanf(stat.c_str() + close + 1, " %c %d %d", &state, &ppid, &pgrp) != 3) continue;
    if (pgrp != pid_ || state == 'Z') continue;
    const std::string comm = stat.substr(open + 1, close - open - 1);
    if (std::find(lingering_.begin(), lingering_.end(), comm) == lingering_.end()) return false;
  }
  return true;
}

void ServerProcess::StopInBackground(std::function<void()> after) {
  Reaper* reaper = pid_ < 0 ? nullptr : Reaper::Get();
  if (!reaper) {
    Stop();
    if (after) after();
    return;
  }
  Terminate();
  auto owned = std::make_shared<ServerProcess>();
  std::swap(owned->pid_, pid_);
  owned->terminated_ = true;
  owned->lingering_ = lingering_;
  reaper->Add([owned, after = std::move(after)] {
    owned->Stop();
    if (after) after();
  });
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs, int sliceMs) {
  const auto until = Clock::now() + milliseconds(timeoutMs);
  while (Clock::now() < until) {
    if (done()) return true;
    std::this_thread::sleep_for(milliseconds(sliceMs));
  }
  return done();
}

void StartServer(ServerProcess& process, const std::string& name,
                 const std::function<ServerLaunch()>& prepare) {
  for (int attempt = 1;; ++attempt) {
    const ServerLaunch launch = prepare();
    process.Start(launch.argv, launch.out);
    const std::string failure = WaitForGreeting(process, launch.port, launch.greeting);
    if (failure.empty()) return;
    process.Stop();
    std::string log;
    for (const std::string& file : launch.logs)
      log += LogTail(file);
    log += LogTail(launch.out);
    if (attempt >= kStartAttempts || log.find("Address already in use") == std::string::npos)
      throw std::runtime_error(name + " did not start (" + failure + "):\n" + log);
  }
}

std::string LogTail(const std::string& path, int lines) {
  const std::string text = ReadFile(path);
  size_t at = text.size();
  for (int n = 0; n <= lines && at != 0 && at != std::string::npos; ++n)
    at = text.rfind('\n', at - 1);
  return at == std::string::npos ? text : text.substr(at == 0 ? 0 : at + 1);
}

int RunShell(const std::string& command, std::string* output) {
  FILE* p = popen(("(" + command + ") </dev/null 2>&1").c_str(), "r");
  if (!p) return -1;
  std::string out;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
    out.append(buf, n);
  const int status = pclose(p);
  if (output) *output = std::move(out);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s)
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string MakeServerDir(const std::string& prefix) {
  std::string tmpl = "/tmp/" + prefix + "XXXXXX";
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed for " + tmpl);
  SetAccess(tmpl, 0755);
  return tmpl;
}

void SetAccess(const std::string& path, mode_t mode, const char* user, const char* group) {
  chmod(path.c_str(), mode);
  const passwd* p = user ? getpwnam(user) : nullptr;
  const struct group* g = group ? getgrnam(group) : nullptr;
  if (p || g)
    (void)!chown(path.c_str(), p ? p->pw_uid : static_cast<uid_t>(-1),
                 g ? g->gr_gid : static_cast<gid_t>(-1));
}

void MakeDir(const std::string& path, mode_t mode, const char* user, const char* group) {
  std::filesystem::create_directories(path);
  SetAccess(path, mode, user, group);
}

std::string ServerConfig(const std::string& templateName,
                         const std::vector<std::pair<std::string, std::string>>& vars) {
  const std::string path = std::string(VIGILO_TEST_SERVERS_DIR) + "/" + templateName;
  std::string text = ReadFile(path);
  if (text.empty()) throw std::runtime_error("missing server template " + path);
  for (const auto& [key, value] : vars) {
    const std::string mark = "@" + key + "@";
    for (size_t at = text.find(mark); at != std::string::npos;
         at = text.find(mark, at + value.size()))
      text.replace(at, mark.size(), value);
  }
  return text;
}

}  // namespace vigilo::test
