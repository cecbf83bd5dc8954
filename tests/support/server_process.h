#pragma once
// A server program run in the background for a test: stdin from /dev/null, output to a log
// file, in a process group of its own. Stopped by the recorded PID: SIGTERM, a bounded wait,
// then SIGKILL to the whole group, and always reaped. Should the test program die first, the
// server gets SIGTERM (parent-death signal; "parent" is the thread that started it).

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace vigilo::test {

class ServerProcess {
 public:
  ServerProcess() = default;
  ~ServerProcess() { Stop(); }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Starts argv[0] (a full path) with the given arguments; throws std::runtime_error when the
  // program cannot be started.
  void Start(const std::vector<std::string>& argv, const std::string& logFile);
  pid_t Pid() const { return pid_; }
  // Processes (by command name) that only delay a stop: once SIGTERM was sent and nothing but
  // the leader and such processes is left of the group, the group is killed at once (and the
  // orphans reaped by the test program). Dovecot's master waits a second or two for its "log"
  // process, which has nothing left to do by then.
  void SetLingering(std::vector<std::string> names) { lingering_ = std::move(names); }
  // True while the program runs (not exited, not a zombie); reaps it once it has ended.
  bool Alive();
  // Sends SIGTERM and returns at once (to stop several servers in parallel).
  void Terminate();
  // Terminates (if not done yet), waits up to graceMs, then kills the group; reaps. Idempotent.
  void Stop(int graceMs = 5000);
  // Terminates now and lets a background thread finish Stop() and then run `after` (e.g. remove
  // the server's folder), so a test need not wait the seconds some servers take to exit. Every
  // such stop is complete before the test program exits.
  void StopInBackground(std::function<void()> after = {});

 private:
  bool OnlyLingeringLeft() const;

  pid_t pid_ = -1;
  bool terminated_ = false;
  std::vector<std::string> lingering_;
};

// Connects to 127.0.0.1:port until a line starting with `prefix` arrives, the server dies or
// timeoutMs passes. Returns true on the greeting; `lastError` tells what went wrong otherwise.
bool WaitForGreeting(ServerProcess& server, int port, const std::string& prefix, int timeoutMs,
                     std::string* lastError);

// The last `lines` lines of a log file, for error messages.
std::string LogTail(const std::string& path, int lines = 30);

// Runs a shell command line, returns its exit status (-1 when it could not run); output
// (stdout and stderr) goes to *output when given.
int RunShell(const std::string& command, std::string* output = nullptr);

// A new folder /tmp/<prefix>XXXXXX with mode 0755 (server users must traverse it).
std::string MakeServerDir(const std::string& prefix);

// Replaces every @KEY@ of the template text.
std::string FillTemplate(std::string text,
                         const std::vector<std::pair<std::string, std::string>>& vars);

// The text of a template file in tests/servers/.
std::string ServerTemplate(const std::string& name);

}  // namespace vigilo::test
