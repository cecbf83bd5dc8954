#include "mail/mslinestream.h"

#include <cstring>

namespace ms {

bool TLineStream::ReadLine(std::string& line) {
  std::string_view view;
  const bool got = NextLine(view);
  line.assign(view);
  return got;
}

bool TLineStream::NextLine(std::string_view& line) {
  const std::size_t n = data_.size();
  if (pos_ >= n) {
    eof_ = true;
    line = {};
    return false;
  }
  const char* base = data_.data();
  // The next LF is remembered, so that text with lone CRs is not scanned again
  // for every line.
  if (next_lf_ < pos_ || next_lf_ == kUnknown) {
    const void* lf = std::memchr(base + pos_, '\n', n - pos_);
    next_lf_ = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - base) : n;
  }
  const void* cr = std::memchr(base + pos_, '\r', next_lf_ - pos_);
  std::size_t e = cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - base) : next_lf_;
  line = std::string_view(base + pos_, e - pos_);
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
