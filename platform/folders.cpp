#include "platform/folders.h"

#include <errno.h>
#include <limits.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string_view>

namespace vigilo {
namespace {

std::string WithSlash(std::string p) {
  if (p.empty() || p.back() != '/') p += '/';
  return p;
}

std::string Absolute(const std::string& p) {
  std::error_code ec;
  const auto a = std::filesystem::absolute(p, ec);
  return ec ? p : a.lexically_normal().string();
}

std::optional<std::string> NonEmpty(const EnvLookup& env, const char* name) {
  auto v = env(name);
  if (v && v->empty()) return std::nullopt;
  return v;
}

std::string UserHome(const EnvLookup& env) {
  if (auto h = NonEmpty(env, "HOME")) return *h;
  if (const passwd* pw = getpwuid(getuid())) return pw->pw_dir;
  return "/tmp";
}

}  // namespace

EnvLookup ProcessEnvironment() {
  return [](const std::string& name) -> std::optional<std::string> {
    const char* v = getenv(name.c_str());
    if (!v) return std::nullopt;
    return std::string(v);
  };
}

Folders ResolveFolders(const std::string& home_arg, const EnvLookup& env) {
  Folders f;
  std::optional<std::string> home;
  if (!home_arg.empty()) {
    home = home_arg;
  } else {
    home = NonEmpty(env, "VIGILO_HOME");
  }
  if (home) {
    f.HomeGiven = true;
    f.Home = WithSlash(Absolute(*home));
    f.Config = f.Home;
  } else {
    const auto data = NonEmpty(env, "XDG_DATA_HOME");
    const auto config = NonEmpty(env, "XDG_CONFIG_HOME");
    f.Home = WithSlash((data ? *data : UserHome(env) + "/.local/share") + "/vigilo");
    f.Config = WithSlash((config ? *config : UserHome(env) + "/.config") + "/vigilo");
  }
  if (auto runtime = NonEmpty(env, "XDG_RUNTIME_DIR")) {
    f.Temp = WithSlash(*runtime + "/vigilo");
  } else {
    std::string tmp = NonEmpty(env, "TMPDIR").value_or("/tmp");
    f.Temp = WithSlash(tmp + "/vigilo-" + std::to_string(getuid()));
  }
  return f;
}

std::string MakePrivateDirs(const std::string& dir) {
  std::string path;
  std::size_t pos = 0;
  while (pos <= dir.size()) {
    std::size_t next = dir.find('/', pos);
    if (next == std::string::npos) next = dir.size();
    path = dir.substr(0, next);
    pos = next + 1;
    if (path.empty()) continue;
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
      return "cannot create " + path + ": " + strerror(errno);
    }
  }
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return dir + " is not a folder";
  return {};
}

std::string CreateFolders(const Folders& f) {
  for (const std::string* d : {&f.Home, &f.Config, &f.Temp}) {
    if (std::string e = MakePrivateDirs(*d); !e.empty()) return e;
  }
  // The temporary folder may lie in a shared place: it must be ours and private.
  std::string temp = f.Temp;
  if (temp.size() > 1) temp.pop_back();
  struct stat st;
  if (lstat(temp.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return f.Temp + " is not a folder";
  if (st.st_uid != getuid()) return f.Temp + " belongs to another user";
  if ((st.st_mode & 077) != 0 && chmod(temp.c_str(), 0700) != 0) {
    return "cannot make " + f.Temp + " private: " + strerror(errno);
  }
  return {};
}

std::string CheckPrivateFolders(const Folders& f, std::vector<std::string>* open) {
  for (const std::string* d : {&f.Home, &f.Config}) {
    if (d != &f.Home && *d == f.Home) continue;
    std::string dir = *d;
    if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) return "cannot examine " + *d + ": " + strerror(errno);
    // Mail, passwords and the queue live here: another user's folder is never used.
    if (st.st_uid != geteuid()) return *d + " belongs to another user";
    if (open && ((st.st_mode & 0007) != 0 || (st.st_mode & 0020) != 0)) {
      char mode[8];
      snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
      open->push_back(*d + " (mode " + mode + ")");
    }
  }
  return {};
}

std::string ProgramFile() {
  char buf[PATH_MAX + 1];
  const ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return {};
  std::string path(buf, static_cast<std::size_t>(n));
  // A program file replaced while it runs (a package upgrade) is named with " (deleted)"
  // appended; the autostart entry must name the path, where the new program now is.
  constexpr std::string_view kDeleted = " (deleted)";
  if (path.ends_with(kDeleted) && access(path.c_str(), F_OK) != 0) {
    path.resize(path.size() - kDeleted.size());
  }
  return path;
}

}  // namespace vigilo
