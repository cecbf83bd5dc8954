// The dial-up service on Linux: NetworkManager's connection profiles through nmcli.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

#include "platform/rasbackend.h"

extern char** environ;

namespace vigilo {
namespace {

// Codes of this backend beside nmcli's own exit statuses (1 to 65).
constexpr int kCannotStart = 1001;  // the program could not be started
constexpr int kNoAnswer = 1002;     // it gave no answer in time
constexpr int kNotRunning = 8;      // nmcli: NetworkManager is not running
constexpr int kQuerySeconds = 10;

// A started program with its output read through pipes.
struct Child {
  pid_t Pid = -1;
  int OutFd = -1;
  int ErrFd = -1;
  std::string Out, Err;
  int Status = -1;  // exit status once reaped

  ~Child() { Stop(); }

  // errno of the start, 0 when it runs.
  int Start(const std::vector<std::string>& argv) {
    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0) return errno;
    if (pipe2(err_pipe, O_CLOEXEC) != 0) {
      const int e = errno;
      close(out_pipe[0]);
      close(out_pipe[1]);
      return e;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    std::vector<char*> args;
    for (const std::string& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // The client speaks English whatever the desktop's language: its words are parsed.
    std::vector<std::string> env_strings;
    std::vector<char*> env;
    for (char** e = environ; *e; ++e) {
      if (std::strncmp(*e, "LC_ALL=", 7) != 0 && std::strncmp(*e, "LANG=", 5) != 0)
        env.push_back(*e);
    }
    env_strings.push_back("LC_ALL=C");
    env.push_back(env_strings.back().data());
    env.push_back(nullptr);
    const int rc = posix_spawnp(&Pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (rc != 0) {
      Pid = -1;
      close(out_pipe[0]);
      close(err_pipe[0]);
      return rc;
    }
    OutFd = out_pipe[0];
    ErrFd = err_pipe[0];
    fcntl(OutFd, F_SETFL, O_NONBLOCK);
    fcntl(ErrFd, F_SETFL, O_NONBLOCK);
    return 0;
  }

  // Reads what is there (waiting up to `ms`); true once the program ended and all
  // its output is read.
  bool Poll(int ms) {
    if (OutFd >= 0 || ErrFd >= 0) {
      pollfd fds[2] = {{OutFd, POLLIN, 0}, {ErrFd, POLLIN, 0}};
      poll(fds, 2, ms);
      Drain(OutFd, Out);
      Drain(ErrFd, Err);
      return false;
    }
    if (Pid > 0) {
      int st = 0;
      if (waitpid(Pid, &st, WNOHANG) == Pid) {
        Status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        Pid = -1;
      } else if (ms > 0) {
        poll(nullptr, 0, ms);  // output closed, the program not yet ended
      }
    }
    return Pid < 0;
  }

  void Stop() {
    if (Pid > 0) {
      kill(Pid, SIGKILL);
      waitpid(Pid, nullptr, 0);
      Pid = -1;
    }
    if (OutFd >= 0) close(OutFd);
    if (ErrFd >= 0) close(ErrFd);
    OutFd = ErrFd = -1;
  }

 private:
  static void Drain(int& fd, std::string& into) {
    if (fd < 0) return;
    char buffer[4096];
    for (;;) {
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n > 0) {
        if (into.size() < (1u << 20)) into.append(buffer, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
      close(fd);  // end of output or an error
      fd = -1;
      return;
    }
  }
};

// Fields of one line of terse output: separated by ':', with "\:" and "\\" escaped.
std::vector<std::string> TerseFields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) {
      fields.back() += line[++i];
    } else if (line[i] == ':') {
      fields.emplace_back();
    } else {
      fields.back() += line[i];
    }
  }
  return fields;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != '\r') {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// The first line of an error output, without nmcli's "Error: " prefix.
std::string FirstLine(const std::string& text) {
  std::vector<std::string> lines = Lines(text);
  if (lines.empty()) return {};
  std::string line = lines.front();
  if (line.rfind("Error: ", 0) == 0) line.erase(0, 7);
  return line;
}

class NmcliRasBackend : public RasBackend {
 public:
  explicit NmcliRasBackend(std::string program) : program_(std::move(program)) {}
  ~NmcliRasBackend() override { AbandonDial(); }

  int Entries(std::vector<std::string>& names) override {
    names.clear();
    std::string out;
    if (const int rc = Query({"-t", "-f", "NAME,TYPE", "connection", "show"}, out); rc != 0)
      return Absent(rc) ? 0 : rc;
    types_.clear();
    for (const std::string& line : Lines(out)) {
      const std::vector<std::string> f = TerseFields(line);
      if (f[0].empty()) continue;
      names.push_back(f[0]);
      types_[f[0]] = f.size() > 1 ? f[1] : "";
    }
    return 0;
  }

  int Active(std::vector<RasActive>& connections) override {
    connections.clear();
    std::string out;
    if (const int rc =
            Query({"-t", "-f", "NAME,UUID,STATE", "connection", "show", "--active"}, out);
        rc != 0)
      return Absent(rc) ? 0 : rc;
    for (const std::string& line : Lines(out)) {
      const std::vector<std::string> f = TerseFields(line);
      if (f.size() < 3 || f[0].empty()) continue;
      connections.push_back({f[0], f[1], f[2] == "activated"});
    }
    return 0;
  }

  int Address(const std::string& handle, std::string& address) override {
    address.clear();
    std::string out;
    if (const int rc = Query(
            {"-t", "-f", "IP4.ADDRESS", "connection", "show", "--active", "uuid", handle}, out);
        rc != 0)
      return rc;
    for (const std::string& line : Lines(out)) {
      const std::vector<std::string> f = TerseFields(line);
      if (f.size() >= 2 && f[0].rfind("IP4.ADDRESS", 0) == 0 && !f[1].empty()) {
        address = f[1].substr(0, f[1].find('/'));
        return 0;
      }
    }
    return 0;
  }

  int StartDial(const std::string& entry, const std::string& password, int timeout_s) override {
    AbandonDial();
    std::vector<std::string> argv = {
        program_,     "-t", "-w", std::to_string(std::max(timeout_s, 1)),
        "connection", "up", "id", entry};
    if (!password.empty()) {
      const std::string file = PasswordFile(entry, password);
      if (!file.empty()) {
        argv.push_back("passwd-file");
        argv.push_back(file);
      }
    }
    dial_ = std::make_unique<Child>();
    if (const int e = dial_->Start(argv); e != 0) {
      dial_.reset();
      RemovePasswordFile();
      return Remember(kCannotStart, std::strerror(e));
    }
    return 0;
  }

  DialState PollDial(int* error) override {
    if (!dial_) {
      if (error) *error = kCannotStart;
      return DialState::Failed;
    }
    if (!dial_->Poll(0)) return DialState::Running;
    const int status = dial_->Status;
    const std::string text = FirstLine(dial_->Err);
    dial_.reset();
    RemovePasswordFile();
    if (status == 0) return DialState::Connected;
    if (error) *error = Remember(status, text);
    return DialState::Failed;
  }

  void AbandonDial() override {
    dial_.reset();  // the client goes; NetworkManager finishes or fails on its own
    RemovePasswordFile();
  }

  int HangUp(const std::string& entry, const std::string& handle) override {
    std::string out;
    if (!handle.empty()) return Query({"connection", "down", "uuid", handle}, out);
    return Query({"connection", "down", "id", entry}, out);
  }

  std::string ErrorText(int code) override { return code == lastCode_ ? lastText_ : ""; }
  bool ServicePresent() const override { return present_; }

 private:
  // No client program or no NetworkManager: the service is simply not there.
  static bool Absent(int rc) { return rc == kCannotStart || rc == kNotRunning; }

  int Remember(int code, std::string text) {
    lastCode_ = code;
    lastText_ = std::move(text);
    return code;
  }

  // Runs the client with `args` and waits for it; its exit status, or a code of this
  // backend.
  int Query(const std::vector<std::string>& args, std::string& out) {
    std::vector<std::string> argv = {program_};
    argv.insert(argv.end(), args.begin(), args.end());
    Child child;
    if (const int e = child.Start(argv); e != 0) {
      present_ = false;
      return Remember(kCannotStart, std::strerror(e));
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kQuerySeconds);
    while (!child.Poll(20)) {
      if (std::chrono::steady_clock::now() > deadline) {
        child.Stop();
        return Remember(kNoAnswer, "");
      }
    }
    out = std::move(child.Out);
    present_ = child.Status != kNotRunning;
    if (child.Status != 0) return Remember(child.Status, FirstLine(child.Err));
    return 0;
  }

  // A private file with the password in the setting of the profile's kind; the
  // password never appears on a command line. Empty for kinds that take none.
  std::string PasswordFile(const std::string& entry, const std::string& password) {
    static const std::map<std::string, std::string> settings = {{"gsm", "gsm.password"},
                                                                {"cdma", "cdma.password"},
                                                                {"pppoe", "pppoe.password"},
                                                                {"vpn", "vpn.secrets.password"}};
    const auto type = types_.find(entry);
    if (type == types_.end()) return {};
    const auto setting = settings.find(type->second);
    if (setting == settings.end()) return {};
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/vigilo-dial-XXXXXX";
    const int fd = mkostemp(path.data(), O_CLOEXEC);  // mode 0600
    if (fd < 0) return {};
    const std::string line = setting->second + ":" + password + "\n";
    const bool ok = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    close(fd);
    if (!ok) {
      unlink(path.c_str());
      return {};
    }
    passwordFile_ = path;
    return path;
  }

  void RemovePasswordFile() {
    if (passwordFile_.empty()) return;
    unlink(passwordFile_.c_str());
    passwordFile_.clear();
  }

  std::string program_;
  std::map<std::string, std::string> types_;  // entry name -> profile kind
  std::unique_ptr<Child> dial_;
  std::string passwordFile_;
  int lastCode_ = 0;
  std::string lastText_;
  bool present_ = true;
};

}  // namespace

std::unique_ptr<RasBackend> CreateNmcliRasBackend(std::string program) {
  return std::make_unique<NmcliRasBackend>(std::move(program));
}

}  // namespace vigilo
