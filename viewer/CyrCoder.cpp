#include "viewer/CyrCoder.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "viewer/CyrTables.h"
#include "viewer/CyrUtf8.h"

namespace vigilo {

namespace {

using cyrtables::kHighCodePoints;
using cyrtables::kPairTables;

constexpr int kSingleBytePages = 4;

constexpr bool IsSingleByte(TCodePage cp) {
  return static_cast<int>(cp) < kSingleBytePages;
}

constexpr unsigned char MissingByte(TCodePage target) {
  return target == TCodePage::KOI8R ? 0x94 : 0x3F;
}

// UTF-8 form of every byte of every single-byte page (all below U+10000).
struct Utf8Char {
  unsigned char Length;
  char Bytes[3];
};
using Utf8Table = std::array<Utf8Char, 256>;

constexpr std::array<Utf8Table, kSingleBytePages> kUtf8Of = [] {
  std::array<Utf8Table, kSingleBytePages> all{};
  for (int page = 0; page < kSingleBytePages; ++page) {
    for (int b = 0; b < 256; ++b) {
      const char32_t cp = b < 0x80 ? char32_t(b) : char32_t(kHighCodePoints[page][b - 0x80]);
      Utf8Char& c = all[page][b];
      if (cp < 0x80) {
        c = {1, {static_cast<char>(cp), 0, 0}};
      } else if (cp < 0x800) {
        c = {2, {static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F)), 0}};
      } else {
        c = {3,
             {static_cast<char>(0xE0 | (cp >> 12)), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
              static_cast<char>(0x80 | (cp & 0x3F))}};
      }
    }
  }
  return all;
}();

// Code point -> byte of each single-byte page for code points 80 up to the highest
// one any page holds; 0 where the page lacks the character.
constexpr char32_t kReverseLimit = [] {
  char32_t top = 0;
  for (const auto& page : kHighCodePoints)
    for (const std::uint16_t cp : page)
      if (cp != utf8::kReplacement) top = std::max<char32_t>(top, cp);
  return top + 1;
}();
using ReverseTable = std::array<std::uint8_t, kReverseLimit>;

constexpr std::array<ReverseTable, kSingleBytePages> kReverse = [] {
  std::array<ReverseTable, kSingleBytePages> all{};
  for (int page = 0; page < kSingleBytePages; ++page)
    for (int b = 0x80; b < 256; ++b) {
      const std::uint16_t cp = kHighCodePoints[page][b - 0x80];
      if (cp != utf8::kReplacement) all[page][cp] = static_cast<std::uint8_t>(b);
    }
  return all;
}();

std::string ThroughTable(std::string_view text, const std::uint8_t* table) {
  std::string out(text.size(), '\0');
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < text.size(); ++i)
    out[i] = static_cast<char>(table[in[i]]);
  return out;
}

std::string SingleByteToUtf8(std::string_view text, TCodePage source) {
  const Utf8Table& table = kUtf8Of[static_cast<int>(source)];
  std::string out;
  out.resize(text.size() * 3);
  char* dst = out.data();
  for (const char ch : text) {
    const Utf8Char& c = table[static_cast<unsigned char>(ch)];
    std::memcpy(dst, c.Bytes, 3);  // fixed size: cheaper than a variable copy
    dst += c.Length;
  }
  out.resize(static_cast<std::size_t>(dst - out.data()));
  return out;
}

std::string Utf8ToSingleByte(std::string_view text, TCodePage target) {
  const ReverseTable& reverse = kReverse[static_cast<int>(target)];
  const unsigned char missing = MissingByte(target);
  std::string out(text.size(), '\0');  // never longer than the UTF-8 text
  char* dst = out.data();
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    if (*p < 0x80) {
      *dst++ = static_cast<char>(*p++);
      continue;
    }
    char32_t cp;
    p += utf8::Decode(p, end, cp);
    const std::uint8_t b = cp < kReverseLimit ? reverse[cp] : 0;
    *dst++ = static_cast<char>(b != 0 ? b : missing);
  }
  out.resize(static_cast<std::size_t>(dst - out.data()));
  return out;
}

std::string SanitizeUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    char32_t cp;
    const std::size_t n = utf8::Decode(p, end, cp);
    if (cp == utf8::kInvalid)
      utf8::Append(out, utf8::kReplacement);
    else
      out.append(reinterpret_cast<const char*>(p), n);
    p += n;
  }
  return out;
}

constexpr std::array<std::string_view, kCodePageCount> kCaptions = {
    "Windows 1251", "KOI8-R", "DOS 866", "ISO - 8859", "UTF-8"};
constexpr std::array<std::string_view, kCodePageCount> kNames = {"cp1251", "koi8r", "cp866",
                                                                 "iso8859", "utf8"};

}  // namespace

std::string_view CodePageCaption(TCodePage cp) {
  return IsValidCodePage(static_cast<int>(cp)) ? kCaptions[static_cast<int>(cp)]
                                               : std::string_view();
}

std::string_view CodePageName(TCodePage cp) {
  return IsValidCodePage(static_cast<int>(cp)) ? kNames[static_cast<int>(cp)] : std::string_view();
}

std::optional<TCodePage> CodePageFromName(std::string_view name) {
  constexpr std::string_view blanks = " \t\r\n\v\f";
  const auto first = name.find_first_not_of(blanks);
  if (first == std::string_view::npos) return std::nullopt;
  name = name.substr(first, name.find_last_not_of(blanks) - first + 1);
  for (int i = 0; i < kCodePageCount; ++i)
    if (kNames[i] == name) return static_cast<TCodePage>(i);
  return std::nullopt;
}

std::optional<TCodePage> CodePageOfCharSet(std::string_view charset) {
  std::string name;
  for (char c : charset) {
    if (c == ' ' || c == '\t') continue;
    name += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  static const std::pair<std::string_view, TCodePage> kAliases[] = {
      {"windows-1251", TCodePage::CP1251}, {"cp1251", TCodePage::CP1251},
      {"x-cp1251", TCodePage::CP1251},     {"win-1251", TCodePage::CP1251},
      {"koi8-r", TCodePage::KOI8R},        {"koi8r", TCodePage::KOI8R},
      {"ibm866", TCodePage::CP866},        {"cp866", TCodePage::CP866},
      {"866", TCodePage::CP866},           {"csibm866", TCodePage::CP866},
      {"iso-8859-5", TCodePage::ISO8859},  {"iso8859-5", TCodePage::ISO8859},
      {"iso_8859-5", TCodePage::ISO8859},  {"cyrillic", TCodePage::ISO8859},
      {"utf-8", TCodePage::UTF8},          {"utf8", TCodePage::UTF8}};
  for (const auto& [alias, page] : kAliases)
    if (alias == name) return page;
  return std::nullopt;
}

TCodePage DeclaredCodePage(std::string_view text, const std::vector<std::string>& wordCharSets,
                           bool rawEightBit) {
  std::optional<TCodePage> page;
  bool one = !wordCharSets.empty() && !rawEightBit;
  for (const std::string& cs : wordCharSets) {
    if (!one) break;
    std::optional<TCodePage> p = CodePageOfCharSet(cs);
    one = p && (!page || *page == *p);
    page = p;
  }
  if (one && page && (*page != TCodePage::UTF8 || IsValidUtf8(text))) return *page;
  return DetectCodePage(text);
}

ECyrCoderError::ECyrCoderError() : std::runtime_error("Found error in codepage settings") {}

std::string ConvertCodePage(std::string_view text, TCodePage source, TCodePage target) {
  if (!IsValidCodePage(static_cast<int>(source)) || !IsValidCodePage(static_cast<int>(target)))
    throw ECyrCoderError();
  if (source == target) return std::string(text);
  if (IsSingleByte(source) && IsSingleByte(target))
    return ThroughTable(text,
                        kPairTables[static_cast<int>(source)][static_cast<int>(target)].data());
  if (IsSingleByte(source)) return SingleByteToUtf8(text, source);
  return Utf8ToSingleByte(text, target);
}

std::string ToUtf8(std::string_view text, TCodePage cp) {
  if (cp == TCodePage::UTF8) return IsValidUtf8(text) ? std::string(text) : SanitizeUtf8(text);
  if (!IsSingleByte(cp)) cp = TCodePage::CP1251;
  return SingleByteToUtf8(text, cp);
}

void TCyrCoder::SetText(std::string_view text) {
  buffer_.assign(text.substr(0, text.find('\0')));
  hasBuffer_ = true;
  if (AutoConvert) Convert();
}

const std::uint8_t* TCyrCoder::GetTable() const {
  if (Source == Target || !IsSingleByte(Source) || !IsSingleByte(Target)) return nullptr;
  return kPairTables[static_cast<int>(Source)][static_cast<int>(Target)].data();
}

void TCyrCoder::Convert() {
  if (!hasBuffer_) return;
  if (Source == Target || !IsValidCodePage(static_cast<int>(Source)) ||
      !IsValidCodePage(static_cast<int>(Target)))
    throw ECyrCoderError();
  if (const std::uint8_t* table = GetTable()) {
    for (char& ch : buffer_)
      ch = static_cast<char>(table[static_cast<unsigned char>(ch)]);
    return;
  }
  buffer_ = ConvertCodePage(buffer_, Source, Target);
}

}  // namespace vigilo
