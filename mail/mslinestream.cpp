#include "mail/mslinestream.h"

#include <cstdint>
#include <cstring>

#include "mail/msexcept.h"

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace ms {

namespace {

// Gives back the memory of the whole pages in [Begin, End) and returns the end
// of the last one (Begin when there was none to give back).
char* ForgetPages(char* begin, char* end) {
#if defined(__linux__)
  static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto b = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) / page * page;
  const auto e = reinterpret_cast<std::uintptr_t>(end) / page * page;
  if (e <= b) return begin;
  // Private anonymous memory: the pages read as zeros afterwards, which is why
  // the stream reads them back before anything reaches them again.
  if (madvise(reinterpret_cast<void*>(b), e - b, MADV_DONTNEED) != 0) return begin;
  return reinterpret_cast<char*>(e);
#else
  (void)end;
  return begin;
#endif
}

}  // namespace

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

const std::string& TLineStream::Data() {
  RestoreFrom(0);
  return data_;
}

std::string_view TLineStream::View(std::size_t start) {
  if (start > data_.size()) start = data_.size();
  RestoreFrom(start);
  return std::string_view(data_).substr(start);
}

void TLineStream::Seek(std::size_t pos) {
  pos_ = pos < data_.size() ? pos : data_.size();
  RestoreFrom(pos_);
  eof_ = false;
  next_lf_ = kUnknown;
}

void TLineStream::Release(std::size_t pos) {
  constexpr std::size_t kMinStep = 1 << 20;
  if (!refill_ || pos > data_.size() || pos < freed_ + kMinStep) return;
  char* const base = data_.data();
  // Only whole pages go: the page that holds Pos stays.
  const char* const end = ForgetPages(base + freed_, base + pos);
  if (end > base + freed_) freed_ = static_cast<std::size_t>(end - base);
}

void TLineStream::RestoreFrom(std::size_t offset) {
  if (offset >= freed_) return;
  if (!refill_(0, data_.data(), freed_)) throw EmsError("The message changed while it was read");
  freed_ = 0;
}

}  // namespace ms
