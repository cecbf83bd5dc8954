#pragma once
// The user's private temporary folder and temporary files in it.

#include <fstream>
#include <string>

namespace ms {

// "$XDG_RUNTIME_DIR/vigilo/" or, without that variable, "<system temp>/vigilo-<uid>/",
// created with mode 0700 when missing. A folder that is not a real folder
// owned by the user (for example a link another user planted) raises EmsError.
std::string PrivateTempFolder();

// A new file in the private temporary folder, named prefix + random
// characters, open for reading and writing in binary mode. The file is
// deleted when the object goes away.
class TmsTempFile {
 public:
  explicit TmsTempFile(const std::string& prefix);
  ~TmsTempFile();
  TmsTempFile(const TmsTempFile&) = delete;
  TmsTempFile& operator=(const TmsTempFile&) = delete;

  const std::string& Path() const { return path_; }
  std::fstream& Stream() { return stream_; }

 private:
  std::string path_;
  std::fstream stream_;
};

}  // namespace ms
