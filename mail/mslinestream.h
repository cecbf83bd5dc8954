#pragma once
// The decoder's view of a raw message: its bytes read back as text lines.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace ms {

// Reads the bytes [Offset, Offset + Size) of a message again into Dst; false
// when they cannot be had as they were first read.
using TRefill = std::function<bool(std::size_t offset, char* dst, std::size_t size)>;

// Holds a copy of the whole input and reads it line by line. Lines end at
// CR LF, a lone CR or a lone LF; a line may be of any length.
//
// With a refill, the memory of bytes already decoded may be given back to the
// system (Release); whatever reaches them again (Data, View, Seek) first reads
// them back, and raises EmsError when that fails.
class TLineStream {
 public:
  TLineStream() = default;
  explicit TLineStream(std::string data) : data_(std::move(data)) {}

  void Assign(std::string data) {
    data_ = std::move(data);
    freed_ = 0;
    refill_ = nullptr;
    Reset();
  }
  // The next line without its line end; false (and Eof) when the data is exhausted.
  bool ReadLine(std::string& line);
  // The same, as a view into the data (valid until the data is assigned again).
  bool NextLine(std::string_view& line);
  bool Eof() const { return eof_; }
  // True when every line has been read.
  bool AtEnd() const { return pos_ >= data_.size(); }
  // Back to the first line.
  void Reset() { Seek(0); }
  std::size_t Size() const { return data_.size(); }
  // The whole data.
  const std::string& Data();
  // The data from offset Start (at most Size) to its end.
  std::string_view View(std::size_t start);
  // The offset of the next line, and back to such an offset.
  std::size_t Position() const { return pos_; }
  void Seek(std::size_t pos);

  void SetRefill(TRefill refill) { refill_ = std::move(refill); }
  // The bytes before offset Pos are not needed for now: the whole pages among
  // them go back to the system (only with a refill, and in steps of at least
  // a megabyte).
  void Release(std::size_t pos);

 private:
  // Reads back the bytes whose memory was given back when Offset is among them.
  void RestoreFrom(std::size_t offset);

  std::string data_;
  static constexpr std::size_t kUnknown = static_cast<std::size_t>(-1);
  std::size_t pos_ = 0;
  std::size_t next_lf_ = kUnknown;  // offset of the next LF (size when none)
  bool eof_ = false;
  std::size_t freed_ = 0;  // the bytes before this offset may have lost their memory
  TRefill refill_;
};

}  // namespace ms
