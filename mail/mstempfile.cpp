#include "mail/mstempfile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "mail/msexcept.h"

namespace ms {
namespace {

void EnsurePrivateFolder(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    throw EmsError("Cannot create the temporary folder " + folder + ": " + std::strerror(errno));
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
    throw EmsError("The temporary folder " + folder + " is not a private folder of this user");
  if ((st.st_mode & 0077) != 0) ::chmod(folder.c_str(), 0700);
}

}  // namespace

std::string PrivateTempFolder() {
  std::string folder;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime && std::filesystem::is_directory(runtime)) {
    folder = std::string(runtime);
    if (folder.back() != '/') folder += '/';
    folder += "vigilo";
  } else {
    std::error_code ec;
    std::string base = std::filesystem::temp_directory_path(ec).string();
    if (ec || base.empty()) base = "/tmp";
    if (base.back() != '/') base += '/';
    folder = base + "vigilo-" + std::to_string(::geteuid());
  }
  EnsurePrivateFolder(folder);
  return folder + "/";
}

TmsTempFile::TmsTempFile(const std::string& prefix) {
  std::string templ = PrivateTempFolder() + prefix + "XXXXXX";
  std::vector<char> name(templ.begin(), templ.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0)
    throw EmsError("Cannot create a temporary file: " + std::string(std::strerror(errno)));
  ::close(fd);
  path_ = name.data();
  stream_.open(path_, std::ios::in | std::ios::out | std::ios::binary | std::ios::trunc);
  if (!stream_) {
    ::unlink(path_.c_str());
    throw EmsError("Cannot open the temporary file " + path_);
  }
}

TmsTempFile::~TmsTempFile() {
  stream_.close();
  ::unlink(path_.c_str());
}

}  // namespace ms
