#pragma once

// Cyrillic code pages: the converter TCyrCoder, the guess DetectCodePage and
// the helpers that name the pages and turn their text into UTF-8 for display.
// Plain C++, no Qt: text is a string of bytes in the page it claims.

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "base/utf8.h"

namespace vigilo {

// The value is what header records and the store keep; do not renumber.
enum class TCodePage : std::uint8_t {
  CP1251 = 0,   // Windows-1251
  KOI8R = 1,    // KOI8-R
  CP866 = 2,    // DOS code page 866
  ISO8859 = 3,  // ISO-8859-5
  UTF8 = 4,     // UTF-8
};

inline constexpr int kCodePageCount = 5;

// The order of the code-page items in the viewer's menus.
inline constexpr std::array<TCodePage, kCodePageCount> kCodePageMenuOrder = {
    TCodePage::CP1251, TCodePage::CP866, TCodePage::ISO8859, TCodePage::KOI8R, TCodePage::UTF8};

// True for the values 0..4; anything else read from a damaged record is not a page.
constexpr bool IsValidCodePage(int value) {
  return value >= 0 && value < kCodePageCount;
}

// Menu caption: "Windows 1251", "KOI8-R", "DOS 866", "ISO - 8859", "UTF-8" ("" for no page).
std::string_view CodePageCaption(TCodePage cp);

// Name in the store's "info.txt": "cp1251", "koi8r", "cp866", "iso8859", "utf8" ("" for no page).
std::string_view CodePageName(TCodePage cp);

// The page an "info.txt" name stands for. Blanks around the name are ignored; the
// name itself must match exactly (letter case included).
std::optional<TCodePage> CodePageFromName(std::string_view name);

// Raised by TCyrCoder::Convert when Source and Target give no conversion.
class ECyrCoderError : public std::runtime_error {
 public:
  ECyrCoderError();
};

// Converts text between two code pages. An unassigned source byte becomes U+FFFD
// when the target is UTF-8; a character the target lacks becomes "?" (the black
// square 94 in KOI8-R). Invalid UTF-8 counts as a character no page has. The same
// pages give the text back unchanged. Throws ECyrCoderError for a value that is
// no page.
std::string ConvertCodePage(std::string_view text, TCodePage source, TCodePage target);

// The text of page cp as UTF-8 for display. The result is always valid UTF-8:
// unassigned bytes and invalid UTF-8 sequences become U+FFFD. A value that is no
// page is read as Windows-1251.
std::string ToUtf8(std::string_view text, TCodePage cp);

// Guesses the code page of text from Russian letter frequencies: UTF8 for valid
// UTF-8 with at least one multi-byte sequence, otherwise the best of the
// single-byte pages (CP1251 for an empty text or one without bytes above 7F).
TCodePage DetectCodePage(std::string_view text);

// Converts a text between two code pages in place, in the manner of a component:
// assign Text, set Source and Target, call Convert (or set AutoConvert to convert
// on every assignment), read Text.
class TCyrCoder {
 public:
  TCyrCoder() = default;

  bool AutoConvert = false;
  TCodePage Source = TCodePage::CP1251;
  TCodePage Target = TCodePage::KOI8R;

  // The current text (empty before the first assignment).
  std::string Text() const { return buffer_; }
  // Takes the text up to its first NUL byte; converts it at once when AutoConvert is set.
  void SetText(std::string_view text);

  // Converts the current text from Source to Target. Nothing happens before a text
  // was assigned; Source equal to Target (or a value that is no page) raises
  // ECyrCoderError "Found error in codepage settings".
  void Convert();

  // The 256-byte table for (Source, Target) between two single-byte pages, or
  // nullptr when there is none (equal pages, UTF-8 on either side, no page).
  const std::uint8_t* GetTable() const;

 private:
  std::string buffer_;
  bool hasBuffer_ = false;
};

}  // namespace vigilo
