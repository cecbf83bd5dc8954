#include "mail/mslinestream.h"

#include <cstring>

namespace ms {

bool TLineStream::ReadLine(std::string& line) {
  const std::size_t n = data_.size();
  if (pos_ >= n) {
    eof_ = true;
    line.clear();
    return false;
  }
  const char* base = data_.data();
  std::size_t e = pos_;
  // Look for the first CR or LF.
  const void* lf = std::memchr(base + pos_, '\n', n - pos_);
  std::size_t lf_pos = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - base) : n;
  const void* cr = std::memchr(base + pos_, '\r', lf_pos - pos_);
  e = cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - base) : lf_pos;
  line.assign(base + pos_, e - pos_);
  if (e < n && data_[e] == '\r') {
    ++e;
    if (e < n && data_[e] == '\n') ++e;
  } else if (e < n) {
    ++e;
  }
  pos_ = e;
  return true;
}

}  // namespace ms
