#include "tests/support/server_process.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
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

#include "tests/support/tempdir.h"

extern char** environ;

namespace vigilo::test {
namespace {

using Clock = std::chrono::steady_clock;

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

// Workers outliving their master would go to PID 1, which need not reap them: adopt them.
void AdoptOrphans() {
  prctl(PR_SET_CHILD_SUBREAPER, 1);
}

// Reaps what is left of a stopped server's group, killing it after graceMs.
void ReapGroup(pid_t group, int graceMs) {
  auto until = Clock::now() + std::chrono::milliseconds(graceMs);
  bool killed = false;
  for (;;) {
    int status = 0;
    while (waitpid(-group, &status, WNOHANG) > 0) {
    }
    if (!GroupExists(group)) return;
    if (Clock::now() >= until) {
      if (killed) return;  // members that are not our children: nothing more to do
      kill(-group, SIGKILL);
      killed = true;
      until = Clock::now() + std::chrono::milliseconds(2000);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
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
    for (auto& t : threads_)
      t.join();
  }

 private:
  std::mutex mutex_;
  std::vector<std::thread> threads_;
  static inline std::atomic<bool> gone_{false};
};

}  // namespace

void ServerProcess::Start(const std::vector<std::string>& argv, const std::string& logFile) {
  Stop();
  AdoptOrphans();
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
  int status = 0;
  pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == 0) return true;
  if (r == pid_ || (r < 0 && errno == ECHILD)) {
    // The leader is gone; whatever it left in its group goes too.
    ReapGroup(pid_, 0);
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
  pid_t group = pid_;
  auto until = Clock::now() + std::chrono::milliseconds(graceMs);
  int status = 0;
  bool reaped = false;
  while (Clock::now() < until) {
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || (r < 0 && errno != EINTR)) {
      reaped = true;
      break;
    }
    if (!lingering_.empty() && OnlyLingeringLeft()) break;  // killed below, with the leader
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!reaped) {
    kill(-group, SIGKILL);
    kill(pid_, SIGKILL);
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  // Children the server left behind (workers still shutting down) share its group.
  ReapGroup(group, 1000);
  pid_ = -1;
}

bool ServerProcess::OnlyLingeringLeft() const {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/proc", ec)) {
    std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    if (std::stoi(name) == pid_) continue;
    std::string stat = ReadFile(e.path() / "stat");
    size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) continue;
    int pgrp = 0, ppid = 0;
    char state = 0;
    if (sscanf(stat.c_str() + close + 1, " %c %d %d", &state, &ppid, &pgrp) != 3) continue;
    if (pgrp != pid_ || state == 'Z') continue;
    std::string comm = stat.substr(open + 1, close - open - 1);
    if (std::find(lingering_.begin(), lingering_.end(), comm) == lingering_.end()) return false;
  }
  return true;
}

void ServerProcess::StopInBackground(std::function<void()> after) {
  if (pid_ < 0) {
    if (after) after();
    return;
  }
  Reaper* reaper = Reaper::Get();
  if (!reaper) {
    Stop();
    if (after) after();
    return;
  }
  Terminate();
  auto owned = std::make_shared<ServerProcess>();
  owned->pid_ = pid_;
  owned->terminated_ = true;
  owned->lingering_ = lingering_;
  pid_ = -1;
  reaper->Add([owned, after = std::move(after)] {
    owned->Stop();
    if (after) after();
  });
}

bool WaitForGreeting(ServerProcess& server, int port, const std::string& prefix, int timeoutMs,
                     std::string* lastError) {
  auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string error = "timed out waiting for the greeting";
  while (Clock::now() < until) {
    if (!server.Alive()) {
      if (lastError) *lastError = "the server exited";
      return false;
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    std::string line;
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      auto lineUntil = std::min(until, Clock::now() + std::chrono::milliseconds(2000));
      while (line.find('\n') == std::string::npos && line.size() < 4096 &&
             Clock::now() < lineUntil) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        char buf[512];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        line.append(buf, static_cast<size_t>(n));
      }
      if (line.compare(0, prefix.size(), prefix) == 0 && line.find('\n') != std::string::npos) {
        close(fd);
        // A leftover server on the same port could have answered: ours must still be running.
        if (server.Alive()) return true;
        if (lastError) *lastError = "the server exited";
        return false;
      }
      error = "unexpected greeting \"" + line.substr(0, line.find('\n')) + "\"";
    }
    if (fd >= 0) close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (lastError) *lastError = error;
  return false;
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

std::string MakeServerDir(const std::string& prefix) {
  std::string tmpl = "/tmp/" + prefix + "XXXXXX";
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed for " + tmpl);
  chmod(tmpl.c_str(), 0755);
  return tmpl;
}

std::string FillTemplate(std::string text,
                         const std::vector<std::pair<std::string, std::string>>& vars) {
  for (const auto& [key, value] : vars) {
    const std::string mark = "@" + key + "@";
    for (size_t at = text.find(mark); at != std::string::npos;
         at = text.find(mark, at + value.size()))
      text.replace(at, mark.size(), value);
  }
  return text;
}

std::string ServerTemplate(const std::string& name) {
  std::string path = std::string(VIGILO_TEST_SERVERS_DIR) + "/" + name;
  std::string text = ReadFile(path);
  if (text.empty()) throw std::runtime_error("missing server template " + path);
  return text;
}

}  // namespace vigilo::test
