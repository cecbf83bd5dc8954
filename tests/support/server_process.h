#pragma once
// A server program run for a test in a process group of its own, output to a log file. Stopped
// by SIGTERM, a bounded wait, SIGKILL to the group; always reaped. Gets SIGTERM should the test
// program die first.

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

  // Starts argv[0] (a full path); throws std::runtime_error when it cannot be started.
  void Start(const std::vector<std::string>& argv, const std::string& logFile);
  pid_t Pid() const { return pid_; }
  // Command names that only delay a stop: once only these are left after SIGTERM, the group is
  // killed at once (Dovecot's master waits seconds for its "log").
  void SetLingering(std::vector<std::string> names) { lingering_ = std::move(names); }
  // True while the program runs (not exited, not a zombie); reaps it once it has ended.
  bool Alive();
  void Terminate();  // SIGTERM, returning at once
  // Terminates (if not done yet), waits up to graceMs, then kills the group; reaps. Idempotent.
  void Stop(int graceMs = 5000);
  // Terminates now; a thread finishes Stop(), then runs `after`, before the program exits.
  void StopInBackground(std::function<void()> after = {});

 private:
  bool OnlyLingeringLeft() const;

  pid_t pid_ = -1;
  bool terminated_ = false;
  std::vector<std::string> lingering_;
};

// Connects to 127.0.0.1:port until a line starting with `prefix` arrives (true), the server
// dies or timeoutMs passes (false, with the reason in `lastError`).
bool WaitForGreeting(ServerProcess& server, int port, const std::string& prefix, int timeoutMs,
                     std::string* lastError);

// The last `lines` lines of a log file, for error messages.
std::string LogTail(const std::string& path, int lines = 30);

// Runs a shell command line: its exit status (-1 if it could not run); stdout+stderr to *output.
int RunShell(const std::string& command, std::string* output = nullptr);

// A new folder /tmp/<prefix>XXXXXX with mode 0755 (server users must traverse it).
std::string MakeServerDir(const std::string& prefix);

// Replaces every @KEY@ of the template text.
std::string FillTemplate(std::string text,
                         const std::vector<std::pair<std::string, std::string>>& vars);

// The text of a template file in tests/servers/.
std::string ServerTemplate(const std::string& name);

}  // namespace vigilo::test
