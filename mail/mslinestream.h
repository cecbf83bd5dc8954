#pragma once
// The decoder's view of a raw message: its bytes read back as text lines.

#include <cstddef>
#include <string>
#include <string_view>

namespace ms {

// Holds a copy of the whole input and reads it line by line. Lines end at
// CR LF, a lone CR or a lone LF; a line may be of any length.
class TLineStream {
 public:
  TLineStream() = default;
  explicit TLineStream(std::string data) : data_(std::move(data)) {}

  void Assign(std::string data) {
    data_ = std::move(data);
    Reset();
  }
  // The next line without its line end; false (and Eof) when the data is exhausted.
  bool ReadLine(std::string& line);
  // The same, as a view into Data (valid until the data is assigned again).
  bool NextLine(std::string_view& line);
  bool Eof() const { return eof_; }
  // True when every line has been read.
  bool AtEnd() const { return pos_ >= data_.size(); }
  // Back to the first line.
  void Reset() {
    pos_ = 0;
    eof_ = false;
    next_lf_ = kUnknown;
  }
  const std::string& Data() const { return data_; }
  // The offset of the next line, and back to such an offset.
  std::size_t Position() const { return pos_; }
  void Seek(std::size_t pos) {
    pos_ = pos < data_.size() ? pos : data_.size();
    eof_ = false;
    next_lf_ = kUnknown;
  }

 private:
  std::string data_;
  static constexpr std::size_t kUnknown = static_cast<std::size_t>(-1);
  std::size_t pos_ = 0;
  std::size_t next_lf_ = kUnknown;  // offset of the next LF (size when none)
  bool eof_ = false;
};

}  // namespace ms
