#include "lan/networks.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <sstream>

#include "base/text.h"
#include "mail/mspump.h"

extern char** environ;

namespace vigilo {

namespace {

void AddUnique(TNetworkWorkgroup& list, const std::string& name) {
  if (!name.empty() && std::find(list.begin(), list.end(), name) == list.end())
    list.push_back(name);
}

NetworkWorkgroup& GroupNamed(std::vector<NetworkWorkgroup>& groups, const std::string& name) {
  for (auto& g : groups)
    if (g.Name == name) return g;
  groups.push_back({name, {}});
  return groups.back();
}

std::vector<std::string> Split(const std::string& line, char sep) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, sep))
    fields.push_back(field);
  return fields;
}

class CommandSource : public NeighbourhoodSource {
 public:
  CommandSource(std::vector<std::string> argv,
                std::vector<NetworkWorkgroup> (*parse)(const std::string&), int timeLimitMs)
      : argv_(std::move(argv)), parse_(parse), timeLimitMs_(timeLimitMs) {}
  std::vector<NetworkWorkgroup> Browse() override {
    return parse_(RunProgram(argv_, timeLimitMs_));
  }

 private:
  std::vector<std::string> argv_;
  std::vector<NetworkWorkgroup> (*parse_)(const std::string&);
  int timeLimitMs_;
};

class NoSource : public NeighbourhoodSource {
 public:
  std::vector<NetworkWorkgroup> Browse() override { throw ECannotFindNetwork(); }
};

}  // namespace

// smbtree prints a workgroup at the start of a line, its computers one tab in
// ("\\NAME   comment") and their shares two tabs in.
std::vector<NetworkWorkgroup> ParseSmbtree(const std::string& output) {
  std::vector<NetworkWorkgroup> groups;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (Trim(line).empty()) continue;
    if (line[0] != '\t' && line[0] != ' ') {
      GroupNamed(groups, Trim(line));
    } else if (line.size() > 1 && line[0] == '\t' && line[1] != '\t' && !groups.empty()) {
      std::string name = Trim(line);
      if (name.rfind("\\\\", 0) != 0) continue;
      name = name.substr(2);
      name = name.substr(0, name.find_first_of(" \t\\"));
      AddUnique(groups.back().Computers, name);
    }
  }
  return groups;
}

// avahi-browse -a -t -r -p prints resolved services as
// "=;interface;protocol;name;type;domain;host name;address;port;txt": the domain is the
// workgroup, the host name the computer.
std::vector<NetworkWorkgroup> ParseAvahiBrowse(const std::string& output) {
  std::vector<NetworkWorkgroup> groups;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line)) {
    const auto f = Split(line, ';');
    if (f.size() < 8 || f[0] != "=") continue;
    std::string host = Trim(f[6]);
    if (!host.empty() && host.back() == '.') host.pop_back();
    AddUnique(GroupNamed(groups, Trim(f[5])).Computers, host);
  }
  return groups;
}

std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (!path || name.empty() || name.find('/') != std::string::npos) return "";
  for (const auto& dir : Split(path, ':')) {
    if (dir.empty()) continue;
    const std::string file = dir + "/" + name;
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(file.c_str(), X_OK) == 0)
      return file;
  }
  return "";
}

std::string RunProgram(const std::vector<std::string>& argv, int timeLimitMs,
                       std::size_t maxOutput) {
  const std::string file = argv.empty() ? "" : FindOnPath(argv[0]);
  if (file.empty()) throw std::runtime_error("not installed");
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const auto& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, file.c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (rc != 0) {
    ::close(out[0]);
    throw std::runtime_error("cannot start " + file);
  }
  std::string text;
  bool timedOut = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeLimitMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timedOut = true;
      break;
    }
    // Short slices with the message pump between them keep a window alive meanwhile.
    pollfd p{out[0], POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(std::min<long>(left.count(), 50)));
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) {
      ms::PumpMessages();
      continue;
    }
    char buffer[4096];
    const ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      break;
    }
    text.append(buffer,
                static_cast<std::size_t>(std::min<std::size_t>(
                    static_cast<std::size_t>(n), maxOutput - std::min(maxOutput, text.size()))));
  }
  ::close(out[0]);
  if (timedOut) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timedOut) throw std::runtime_error(file + " ran too long");
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error(file + " failed");
  return text;
}

std::unique_ptr<NeighbourhoodSource> CreateSystemNeighbourhoodSource(int timeLimitMs) {
  if (!FindOnPath("smbtree").empty())
    return std::make_unique<CommandSource>(std::vector<std::string>{"smbtree", "-N"}, &ParseSmbtree,
                                           timeLimitMs);
  if (!FindOnPath("avahi-browse").empty())
    return std::make_unique<CommandSource>(
        std::vector<std::string>{"avahi-browse", "-a", "-t", "-r", "-p"}, &ParseAvahiBrowse,
        timeLimitMs);
  return std::make_unique<NoSource>();
}

std::string LocalComputerName() {
  char name[256] = "";
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return Trim(name);
}

TNetworkNeighborhood::TNetworkNeighborhood(NeighbourhoodSource& source) {
  Refresh(source);
}

void TNetworkNeighborhood::Refresh(NeighbourhoodSource& source) {
  Clear();
  std::vector<NetworkWorkgroup> groups;
  try {
    groups = source.Browse();
  } catch (...) {
    throw ECannotFindNetwork();
  }
  for (auto& g : groups) {
    NetworkWorkgroup item{Trim(g.Name.substr(0, g.Name.find('\0'))), {}};
    for (const auto& c : g.Computers)
      item.Computers.push_back(Trim(c.substr(0, c.find('\0'))));
    items_.push_back(std::move(item));
  }
}

}  // namespace vigilo
