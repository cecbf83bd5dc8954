#pragma once
// A server program run for a test in a process group of its own, output to a log file. Stopped
// by SIGTERM, a bounded wait, SIGKILL to the group; always reaped. Gets SIGTERM should the test
// program die first. Below it, what the real servers of tests/servers share.

#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
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

// Polls `done` every sliceMs until it holds or timeoutMs pass; its last answer.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs, int sliceMs = 20);

// One start of a server, as StartServer's `prepare` makes it (with fresh ports each time).
struct ServerLaunch {
  std::vector<std::string> argv;
  std::string out;                // the program's stdout+stderr
  int port = 0;                   // where it greets
  std::string greeting;           // how its first line starts
  std::vector<std::string> logs;  // logs explaining a failed start, besides `out`
};
// Starts `name` and waits for its greeting, again with new ports when one was taken meanwhile;
// throws std::runtime_error with the logs' tails when it does not come up.
void StartServer(ServerProcess& process, const std::string& name,
                 const std::function<ServerLaunch()>& prepare);

// The last `lines` lines of a log file, for error messages.
std::string LogTail(const std::string& path, int lines = 30);

// Runs a shell command line: its exit status (-1 if it could not run); stdout+stderr to *output.
int RunShell(const std::string& command, std::string* output = nullptr);
// `s` as one word of a shell command line.
std::string ShellQuote(const std::string& s);

// A new folder /tmp/<prefix>XXXXXX with mode 0755 (server users must traverse it).
std::string MakeServerDir(const std::string& prefix);
// Sets the mode and, for the names given, the owner of a file or folder.
void SetAccess(const std::string& path, mode_t mode, const char* user = nullptr,
               const char* group = nullptr);
// Creates the folder (and its parents) with SetAccess.
void MakeDir(const std::string& path, mode_t mode, const char* user = nullptr,
             const char* group = nullptr);

// A template of tests/servers/ with every @KEY@ replaced.
std::string ServerConfig(const std::string& templateName,
                         const std::vector<std::pair<std::string, std::string>>& vars);

}  // namespace vigilo::test
