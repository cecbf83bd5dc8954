#include "platform/atomicfile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

namespace vigilo {
namespace {

std::string ErrnoText(const std::string& what) {
  return what + ": " + strerror(errno);
}

}  // namespace

std::string WriteFileAtomic(const std::filesystem::path& path, std::string_view bytes,
                            unsigned mode) {
  std::string tmpl = path.string() + ".tmp-XXXXXX";
  const int fd = mkostemp(tmpl.data(), O_CLOEXEC);
  if (fd < 0) return ErrnoText("cannot create " + tmpl);
  std::string error;
  if (fchmod(fd, static_cast<mode_t>(mode)) != 0) error = ErrnoText("chmod");
  for (std::size_t done = 0; error.empty() && done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = ErrnoText("write");
    } else {
      done += static_cast<std::size_t>(n);
    }
  }
  if (error.empty() && fsync(fd) != 0) error = ErrnoText("fsync");
  if (close(fd) != 0 && error.empty()) error = ErrnoText("close");
  if (error.empty() && rename(tmpl.c_str(), path.c_str()) != 0) error = ErrnoText("rename");
  if (!error.empty()) {
    unlink(tmpl.c_str());
    return error + " (" + path.string() + ")";
  }
  // Make the rename itself durable.
  const std::string dir = path.has_parent_path() ? path.parent_path().string() : ".";
  const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return {};
}

std::string ReadWholeFile(const std::filesystem::path& path, std::string& out,
                          std::size_t max_bytes, bool* missing) {
  out.clear();
  if (missing) *missing = false;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT && missing) *missing = true;
    return ErrnoText("cannot open");
  }
  struct stat st;
  std::string error;
  if (fstat(fd, &st) != 0) {
    error = ErrnoText("cannot stat");
  } else if (!S_ISREG(st.st_mode)) {
    error = "not a regular file";
  } else {
    char buf[65536];
    for (;;) {
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n < 0) {
        if (errno == EINTR) continue;
        error = ErrnoText("cannot read");
        break;
      }
      if (n == 0) break;
      if (out.size() + static_cast<std::size_t>(n) > max_bytes) {
        error = "file too large";
        break;
      }
      out.append(buf, static_cast<std::size_t>(n));
    }
  }
  close(fd);
  if (!error.empty()) out.clear();
  return error;
}

std::filesystem::path AsideName(const std::filesystem::path& path, const std::string& tag) {
  const time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
  const std::string base = path.string() + "." + tag + "-" + stamp;
  std::filesystem::path p = base;
  std::error_code ec;
  for (int n = 1; std::filesystem::exists(std::filesystem::symlink_status(p, ec)); ++n) {
    p = base + "-" + std::to_string(n);
  }
  return p;
}

namespace {

// The file names in the folder of `path` that begin with its own name + `infix`.
std::vector<std::filesystem::path> Beside(const std::filesystem::path& path,
                                          const std::string& infix) {
  std::vector<std::filesystem::path> found;
  const std::string prefix = path.filename().string() + infix;
  const std::filesystem::path dir = path.has_parent_path() ? path.parent_path() : ".";
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().filename().string().starts_with(prefix) && it->is_regular_file(ec) &&
        !it->is_symlink(ec))
      found.push_back(it->path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace

std::vector<std::filesystem::path> AsideCopies(const std::filesystem::path& path,
                                               const std::string& tag) {
  // By modification time: a name freed by a removed copy may be given again.
  auto copies = Beside(path, "." + tag + "-");
  std::vector<std::pair<std::filesystem::file_time_type, std::filesystem::path>> timed;
  std::error_code ec;
  for (auto& p : copies)
    timed.emplace_back(std::filesystem::last_write_time(p, ec), std::move(p));
  std::stable_sort(timed.begin(), timed.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  copies.clear();
  for (auto& t : timed)
    copies.push_back(std::move(t.second));
  return copies;
}

void RemoveStaleTemporaries(const std::filesystem::path& path) {
  const time_t now = time(nullptr);
  for (const auto& p : Beside(path, ".tmp-")) {
    struct stat st;
    if (lstat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) continue;
    if (now - st.st_mtime > 60) unlink(p.c_str());
  }
}

}  // namespace vigilo
