#include "mail/mscodec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <random>
#include <string_view>

#include "mail/msexcept.h"
#include "mail/mspump.h"

namespace ms {

namespace {

constexpr char kBase64Chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of each byte in the base64 alphabet; -1 outside it, -2 for "=", -3 for blanks.
constexpr std::array<signed char, 256> MakeBase64Table() {
  std::array<signed char, 256> t{};
  for (auto& v : t)
    v = -1;
  for (int i = 0; i < 64; ++i)
    t[static_cast<unsigned char>(kBase64Chars[i])] = static_cast<signed char>(i);
  t['='] = -2;
  t[' '] = t['\t'] = t['\r'] = t['\n'] = -3;
  return t;
}
constexpr auto kBase64Table = MakeBase64Table();

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

constexpr char kHex[] = "0123456789ABCDEF";

}  // namespace

bool HasEightBit(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) > 127) return true;
  return false;
}

// ---------------------------------------------------------------- base64

std::string DecodeBase64Text(const std::string& text) {
  std::string out;
  DecodeBase64Append(text, out);
  return out;
}

namespace {

// Decodes base64 text into Out. With LinesApart every line (ended by CR or LF)
// is a text of its own: a group left open at its end gives its whole bytes
// there, as at the end of the text.
void DecodeBase64Into(std::string_view text, std::string& out, bool linesApart) {
  // The output is sized once for the longest result and cut to what was written.
  const std::size_t base = out.size();
  out.resize(base + text.size() / 4 * 3 + 3);
  char* const begin = out.data() + base;
  char* dst = begin;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* const end = p + text.size();
  unsigned group = 0;  // bits collected so far
  int have = 0;        // characters in the current group
  int pad = 0;         // "=" characters in the current group
  auto fail = [&] {
    out.resize(static_cast<std::size_t>(dst - out.data()));
    throw EmsError("Invalid Character");
  };
  // An unpadded last group still gives its whole bytes.
  auto finish = [&] {
    if (have == 2) {
      *dst++ = static_cast<char>((group >> 4) & 0xFF);
    } else if (have == 3) {
      *dst++ = static_cast<char>((group >> 10) & 0xFF);
      *dst++ = static_cast<char>((group >> 2) & 0xFF);
    }
    group = 0;
    have = pad = 0;
  };
  while (p < end) {
    if (have == 0) {
      // Whole groups of four alphabet characters, the common case, at once.
      while (end - p >= 4) {
        const int a = kBase64Table[p[0]], b = kBase64Table[p[1]], c = kBase64Table[p[2]],
                  d = kBase64Table[p[3]];
        if ((a | b | c | d) < 0) break;
        const unsigned v = (static_cast<unsigned>(a) << 18) | (static_cast<unsigned>(b) << 12) |
                           (static_cast<unsigned>(c) << 6) | static_cast<unsigned>(d);
        dst[0] = static_cast<char>(v >> 16);
        dst[1] = static_cast<char>((v >> 8) & 0xFF);
        dst[2] = static_cast<char>(v & 0xFF);
        dst += 3;
        p += 4;
      }
      if (p >= end) break;
    }
    const unsigned char ch = *p++;
    int v = kBase64Table[ch];
    if (v == -3) {
      if (linesApart && (ch == '\r' || ch == '\n')) finish();
      continue;
    }
    if (v == -1) fail();
    if (v == -2) {
      // Padding may only end a group, after at least two characters.
      if (have < 2) fail();
      ++pad;
      v = 0;
    } else if (pad > 0) {
      fail();
    }
    group = (group << 6) | static_cast<unsigned>(v);
    if (++have == 4) {
      *dst++ = static_cast<char>((group >> 16) & 0xFF);
      if (pad < 2) *dst++ = static_cast<char>((group >> 8) & 0xFF);
      if (pad < 1) *dst++ = static_cast<char>(group & 0xFF);
      group = 0;
      have = pad = 0;
    }
  }
  finish();
  out.resize(base + static_cast<std::size_t>(dst - begin));
}

}  // namespace

void DecodeBase64Append(const std::string& text, std::string& out) {
  DecodeBase64Into(text, out, false);
}

void DecodeBase64LinesAppend(std::string_view text, std::string& out) {
  DecodeBase64Into(text, out, true);
}

std::string EncodeBase64Text(const std::string& bytes) {
  std::string out;
  EncodeBase64Append(bytes.data(), bytes.size(), out);
  return out;
}

namespace {

// Base64 of n bytes into dst, which has room for (n + 2) / 3 * 4 characters;
// returns the end of what was written.
// The two characters of every 12 bits.
constexpr std::array<char, 8192> MakeBase64Pairs() {
  std::array<char, 8192> t{};
  for (std::size_t i = 0; i < 4096; ++i) {
    t[2 * i] = kBase64Chars[i >> 6];
    t[2 * i + 1] = kBase64Chars[i & 63];
  }
  return t;
}
constexpr auto kBase64Pairs = MakeBase64Pairs();

char* EncodeBase64Raw(const unsigned char* src, std::size_t n, char* dst) {
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const unsigned v = (static_cast<unsigned>(src[i]) << 16) |
                       (static_cast<unsigned>(src[i + 1]) << 8) | src[i + 2];
    std::memcpy(dst, &kBase64Pairs[(v >> 12) * 2], 2);
    std::memcpy(dst + 2, &kBase64Pairs[(v & 0xFFF) * 2], 2);
    dst += 4;
  }
  if (n - i == 1) {
    const unsigned v = static_cast<unsigned>(src[i]) << 16;
    dst[0] = kBase64Chars[(v >> 18) & 63];
    dst[1] = kBase64Chars[(v >> 12) & 63];
    dst[2] = dst[3] = '=';
    dst += 4;
  } else if (n - i == 2) {
    const unsigned v =
        (static_cast<unsigned>(src[i]) << 16) | (static_cast<unsigned>(src[i + 1]) << 8);
    dst[0] = kBase64Chars[(v >> 18) & 63];
    dst[1] = kBase64Chars[(v >> 12) & 63];
    dst[2] = kBase64Chars[(v >> 6) & 63];
    dst[3] = '=';
    dst += 4;
  }
  return dst;
}

}  // namespace

void EncodeBase64Append(const char* bytes, std::size_t n, std::string& out) {
  const std::size_t base = out.size();
  out.resize(base + (n + 2) / 3 * 4);
  EncodeBase64Raw(reinterpret_cast<const unsigned char*>(bytes), n, out.data() + base);
}

void EncodeBase64Block(const char* bytes, std::size_t n, std::string& out) {
  constexpr std::size_t kBlock = 57;
  const std::size_t lines = (n + kBlock - 1) / kBlock;
  const std::size_t base = out.size();
  out.resize(base + (n + 2) / 3 * 4 + lines * 2);
  const unsigned char* src = reinterpret_cast<const unsigned char*>(bytes);
  char* dst = out.data() + base;
  for (std::size_t i = 0; i < n; i += kBlock) {
    dst = EncodeBase64Raw(src + i, std::min(kBlock, n - i), dst);
    *dst++ = '\r';
    *dst++ = '\n';
  }
}

void EncodeBase64Lines(const std::string& bytes, TmsStrings& lines) {
  constexpr std::size_t kBlock = 57;
  lines.reserve(lines.size() + bytes.size() / kBlock + 1);
  for (std::size_t i = 0; i < bytes.size(); i += kBlock) {
    if ((i / kBlock) % 4096 == 4095) PumpMessages();
    std::string line;
    EncodeBase64Append(bytes.data() + i, std::min(kBlock, bytes.size() - i), line);
    lines.push_back(std::move(line));
  }
}

// ---------------------------------------------------------- quoted-printable

namespace {

constexpr std::array<signed char, 256> MakeHexTable() {
  std::array<signed char, 256> t{};
  for (auto& v : t)
    v = -1;
  for (int i = 0; i < 10; ++i)
    t['0' + i] = static_cast<signed char>(i);
  for (int i = 0; i < 6; ++i)
    t['A' + i] = t['a' + i] = static_cast<signed char>(10 + i);
  return t;
}
constexpr auto kHexTable = MakeHexTable();

// Decodes one quoted-printable line (without its line end) to dst, which has
// room for its length + 2; returns the end of what was written.
char* DecodeQpLine(const char* line, std::size_t n, bool breakAfter, char* dst) {
  // Blanks at the end of an encoded line are transport padding.
  while (n > 0 && (line[n - 1] == ' ' || line[n - 1] == '\t'))
    --n;
  const bool soft = n > 0 && line[n - 1] == '=';
  if (soft) --n;
  std::size_t i = 0;
  while (i < n) {
    // Copy up to the next "=" in one piece.
    const void* eq = std::memchr(line + i, '=', n - i);
    const std::size_t e = eq ? static_cast<std::size_t>(static_cast<const char*>(eq) - line) : n;
    std::memcpy(dst, line + i, e - i);
    dst += e - i;
    i = e;
    if (i >= n) break;
    const int hi = i + 2 < n ? kHexTable[static_cast<unsigned char>(line[i + 1])] : -1;
    const int lo = i + 2 < n ? kHexTable[static_cast<unsigned char>(line[i + 2])] : -1;
    if (hi >= 0 && lo >= 0) {
      *dst++ = static_cast<char>(hi * 16 + lo);
      i += 3;
    } else {
      *dst++ = '=';
      ++i;
    }
  }
  if (!soft && breakAfter && !(n > 0 && line[n - 1] == 26)) {
    *dst++ = '\r';
    *dst++ = '\n';
  }
  return dst;
}

}  // namespace

void QuotedPrintableDecode(const TmsStrings& lines, std::string& out, bool finalLineBreak) {
  std::size_t room = 0;
  for (const std::string& line : lines)
    room += line.size() + 2;
  const std::size_t base = out.size();
  out.resize(base + room);
  char* dst = out.data() + base;
  for (std::size_t li = 0; li < lines.size(); ++li) {
    const bool last = li + 1 == lines.size();
    dst = DecodeQpLine(lines[li].data(), lines[li].size(), finalLineBreak || !last, dst);
    if (li % 4096 == 4095) PumpMessages();
  }
  out.resize(static_cast<std::size_t>(dst - out.data()));
}

namespace {

// The byte two hex digits stand for; negative when one of them is none.
inline int HexPair(unsigned char hi, unsigned char lo) {
  return kHexTable[hi] * 16 | kHexTable[lo];
}

// Source bytes decoded between two checks of the room left in the output.
constexpr std::size_t kQpWindow = 64 * 1024;

// The high bit of each byte of the word X that is "=" or below 14 (CR, LF and
// the other controls). Only the lowest one set surely marks such a byte; that
// is the first of them in memory order.
inline std::uint64_t QpStops(std::uint64_t x) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
  const std::uint64_t eq = x ^ (kOnes * '=');
  return ((eq - kOnes) & ~eq & kHighs) | ((x - kOnes * 14) & ~x & kHighs);
}

// Ends the line [Line, End) of the source whose decoded bytes end at Dst: blanks
// at its end are transport padding, an "=" before them a soft break, and any
// other line gets CR LF when LineBreak is set, unless it ends with the byte 26.
// Returns the new end of the decoded bytes.
char* EndQpLine(const unsigned char* line, const unsigned char* end, char* dst, bool lineBreak) {
  const unsigned char* q = end;
  while (q > line && (q[-1] == ' ' || q[-1] == '\t'))
    --q;
  // The blanks were copied byte for byte, and so was a final "=": no escape
  // ends with one.
  dst -= end - q;
  const unsigned char last = q > line ? q[-1] : 0;
  if (last == '=') return dst - 1;
  if (lineBreak && last != 26) {
    *dst++ = '\r';
    *dst++ = '\n';
  }
  return dst;
}

// Room after Dst for Window source bytes (two decoded bytes each at most, as a
// lone CR or LF becomes CR LF, and a word more for copying a word at a time):
// the window is narrowed to the room left, or the output grows.
char* QpRoom(std::string& out, char* dst, std::size_t& window) {
  const auto at = static_cast<std::size_t>(dst - out.data());
  const std::size_t room = out.size() - at;
  if (room >= 2 * window + 16) return dst;
  if (room >= 2 * 4096 + 16) {
    window = (room - 16) / 2;
    return dst;
  }
  out.resize(std::max(at + 2 * window + 16, out.size() + out.size() / 2));
  return out.data() + at;
}

}  // namespace

void QuotedPrintableDecodeText(std::string_view text, std::string& out, bool finalLineBreak) {
  // Sized for text with CR LF line ends, which never decodes to more bytes.
  const std::size_t base = out.size(), n = text.size();
  out.resize(base + n + std::max(n / 16, std::min(n, kQpWindow)) + 16);
  char* dst = out.data() + base;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* const end = p + n;
  const unsigned char* line = p;  // where the line being decoded begins
  std::size_t count = 0;
  while (p < end) {
    std::size_t window = std::min(static_cast<std::size_t>(end - p), kQpWindow);
    dst = QpRoom(out, dst, window);
    const unsigned char* const limit = p + window;
    while (p < limit) {
      // Plain bytes a word at a time, up to the first "=" or control.
      while (limit - p >= 8) {
        std::uint64_t x;
        std::memcpy(&x, p, 8);
        std::memcpy(dst, &x, 8);
        const std::uint64_t stops = QpStops(x);
        if (stops == 0) {
          p += 8;
          dst += 8;
          continue;
        }
        const auto k = static_cast<std::size_t>(std::countr_zero(stops) / 8);
        p += k;
        dst += k;
        break;
      }
      if (p >= limit) break;
      const unsigned char c = *p;
      if (c == '=') {
        // Escapes come in runs (every byte of a non-Latin letter is one).
        do {
          const int v = end - p >= 3 ? HexPair(p[1], p[2]) : -1;
          if (v >= 0) {
            *dst++ = static_cast<char>(v);
            p += 3;
          } else {
            *dst++ = '=';
            ++p;
          }
        } while (p < limit && *p == '=');
      } else if (c == '\r' || c == '\n') {
        // The line ends at CR LF, a lone CR or a lone LF, as TLineStream reads it.
        const unsigned char* next = p + 1;
        if (c == '\r' && next < end && *next == '\n') ++next;
        dst = EndQpLine(line, p, dst, finalLineBreak || next < end);
        p = line = next;
        if (++count % 4096 == 0) PumpMessages();
      } else {
        *dst++ = static_cast<char>(c);
        ++p;
      }
    }
  }
  if (line < end) dst = EndQpLine(line, end, dst, finalLineBreak);
  out.resize(static_cast<std::size_t>(dst - out.data()));
}

namespace {

// Bytes written as "=XX": controls, "=" and bytes from 127 up.
constexpr std::array<bool, 256> MakeQuotingTable() {
  std::array<bool, 256> t{};
  for (int c = 0; c < 256; ++c)
    t[static_cast<std::size_t>(c)] = c < 32 || c == '=' || c >= 127;
  return t;
}
constexpr auto kNeedsQuoting = MakeQuotingTable();

// Cuts one paragraph (without its line end) into quoted-printable lines, each
// appended to Out with CR LF. When SoftEnd is set the paragraph did not end
// with a line break and its last line gets a soft break as well.
void EncodeParagraph(std::string_view p, bool softEnd, std::string& out) {
  constexpr std::size_t kMaxRaw = 65;      // characters of text per line
  constexpr std::size_t kMaxEncoded = 73;  // encoded characters before "=" (or "=20")
  std::size_t s = 0, n = p.size();
  if (n == 0) {
    out += softEnd ? "=\r\n" : "\r\n";
    return;
  }
  char line[kMaxRaw * 3 + 8];
  while (s < n) {
    std::size_t e = s, enc = 0;
    bool lf_break = false;
    while (e < n && e - s < kMaxRaw) {
      const auto c = static_cast<unsigned char>(p[e]);
      const std::size_t w = kNeedsQuoting[c] ? 3 : 1;
      if (enc + w > kMaxEncoded) break;
      enc += w;
      ++e;
      if (c == '\n') {  // a bare LF: keep the encoded lines readable
        lf_break = true;
        break;
      }
    }
    const bool last_piece = e >= n;
    if (!last_piece && !lf_break) {
      // End before the last blank within the limit; the blank begins the next piece.
      std::size_t b = e;
      while (b > s && p[b] != ' ')
        --b;
      if (b > s) e = b;
    }
    char* d = line;
    for (std::size_t i = s; i < e; ++i) {
      const auto c = static_cast<unsigned char>(p[i]);
      const bool trailing_blank = last_piece && !softEnd && i + 1 == e && c == ' ';
      if (kNeedsQuoting[c] || trailing_blank) {
        d[0] = '=';
        d[1] = kHex[c >> 4];
        d[2] = kHex[c & 15];
        d += 3;
      } else {
        *d++ = static_cast<char>(c);
      }
    }
    if (!last_piece || softEnd) *d++ = '=';
    *d++ = '\r';
    *d++ = '\n';
    out.append(line, static_cast<std::size_t>(d - line));
    s = e;
  }
}

}  // namespace

void QuotedPrintableEncodeBlock(std::string_view bytes, std::string& out) {
  // Only CR LF ends a paragraph; a lone CR or LF is written as =0D or =0A so
  // that decoding gives back exactly the same bytes.
  std::size_t s = 0, n = bytes.size(), count = 0;
  while (s < n) {
    std::size_t e = bytes.find("\r\n", s);
    if (e == std::string_view::npos) {
      EncodeParagraph(bytes.substr(s), true, out);
      break;
    }
    EncodeParagraph(bytes.substr(s, e - s), false, out);
    s = e + 2;
    if (++count % 4096 == 0) PumpMessages();
  }
}

void QuotedPrintableEncode(const std::string& bytes, TmsStrings& lines) {
  std::string block;
  QuotedPrintableEncodeBlock(bytes, block);
  // Encoded lines hold no CR or LF of their own: every CR LF ends one.
  for (std::size_t s = 0; s < block.size();) {
    const std::size_t e = block.find("\r\n", s);
    lines.emplace_back(block, s, e - s);
    s = e + 2;
  }
}

// ------------------------------------------------------------ header words

namespace {

// Decodes the text of a "Q" encoded word; false when it is malformed.
bool DecodeQWord(const std::string& text, std::string& out) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '_') {
      out += ' ';
    } else if (c == '=') {
      if (i + 2 >= text.size()) return false;
      int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
      if (hi < 0 || lo < 0) return false;
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      out += c;
    }
  }
  return true;
}

bool IsWhite(const std::string& s) {
  for (char c : s)
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
  return true;
}

}  // namespace

std::string DecodeHeaderWords(const std::string& text) {
  TmsHeaderCharSets ignored;
  return DecodeHeaderWords(text, ignored);
}

namespace {
// The charset of an encoded word's "charset*language" part, in lower case.
std::string WordCharSet(const std::string& text, std::size_t begin, std::size_t end) {
  std::string cs = AsciiLower(text.substr(begin, end - begin));
  std::size_t star = cs.find('*');
  if (star != std::string::npos) cs.erase(star);
  return cs;
}
}  // namespace

std::string DecodeHeaderWords(const std::string& text, TmsHeaderCharSets& charsets) {
  charsets = TmsHeaderCharSets{};
  if (text.find("=?") == std::string::npos) {
    charsets.RawEightBit = HasEightBit(text);
    return text;
  }
  std::string out;
  std::size_t pos = 0;      // start of the text not yet copied
  bool after_word = false;  // the copied text ends with a decoded word
  std::size_t scan = 0;
  std::size_t close = std::string::npos;  // the next "?=" after the last candidate
  std::size_t open = std::string::npos;   // the next "=?" after the last candidate
  for (;;) {
    std::size_t p = text.find("=?", scan);
    if (p == std::string::npos) break;
    // charset ? encoding ? text ?=
    std::size_t q1 = text.find('?', p + 2);
    if (q1 == std::string::npos || q1 == p + 2 || q1 + 2 >= text.size() || text[q1 + 2] != '?') {
      scan = p + 2;
      continue;
    }
    char enc = text[q1 + 1];
    // Candidates only move forward, so the last "?=" found is reused while it
    // still lies ahead: the scan stays linear however many words fail.
    if (close == std::string::npos || close < q1 + 3) close = text.find("?=", q1 + 3);
    std::size_t end = close;
    if (end == std::string::npos) break;
    // A word that another "=?" starts inside of is not a word (the "=" of
    // base64 padding before the closing "?=" aside).
    if (open == std::string::npos || open < q1 + 3) open = text.find("=?", q1 + 3);
    if (open != std::string::npos && open + 1 < end) {
      scan = p + 2;
      continue;
    }
    std::string payload = text.substr(q1 + 3, end - q1 - 3);
    std::string decoded;
    bool ok = false;
    if (enc == 'B' || enc == 'b') {
      try {
        decoded = DecodeBase64Text(payload);
        ok = true;
      } catch (const EmsError&) {
        ok = false;
      }
    } else if (enc == 'Q' || enc == 'q') {
      ok = DecodeQWord(payload, decoded);
    }
    if (!ok) {
      scan = p + 2;
      continue;
    }
    std::string between = text.substr(pos, p - pos);
    // Blanks between two adjacent encoded words vanish.
    if (!(after_word && IsWhite(between))) out += between;
    if (HasEightBit(between)) charsets.RawEightBit = true;
    charsets.Words.push_back(WordCharSet(text, p + 2, q1));
    // A decoded word never brings a line break, NUL or other control byte into a
    // header value (ESC stays: ISO-2022-JP text needs it).
    for (char& c : decoded) {
      const auto b = static_cast<unsigned char>(c);
      if ((b < 0x20 && b != 0x1B) || b == 0x7F) c = ' ';
    }
    out += decoded;
    pos = scan = end + 2;
    after_word = true;
  }
  if (pos < text.size() && HasEightBit(text.substr(pos))) charsets.RawEightBit = true;
  out.append(text, pos, std::string::npos);
  return out;
}

std::string EncodeHeaderWord(const std::string& text) {
  if (!text.empty() && text[0] == 27) return "=?ISO-2022-JP?B?" + EncodeBase64Text(text) + "?=";
  return text;
}

std::string EncodeHeaderWords(const std::string& text, const std::string& charset, bool always) {
  if (!always && !HasEightBit(text)) return text;
  const std::string head = "=?" + charset + "?B?";
  // An encoded word is at most 75 characters long.
  std::size_t room = 75 > head.size() + 2 ? 75 - head.size() - 2 : 4;
  std::size_t max_bytes = room / 4 * 3;
  if (max_bytes < 3) max_bytes = 3;
  bool utf8 = EqualsNoCase(charset, "utf-8");
  std::string out;
  std::size_t s = 0;
  while (s < text.size()) {
    std::size_t e = std::min(text.size(), s + max_bytes);
    if (utf8 && e < text.size()) {
      std::size_t b = e;
      while (b > s && (static_cast<unsigned char>(text[b]) & 0xC0) == 0x80)
        --b;
      if (b > s) e = b;
    }
    if (!out.empty()) out += "\r\n ";
    out += head + EncodeBase64Text(text.substr(s, e - s)) + "?=";
    s = e;
  }
  return out;
}

std::string GenerateBoundary(const std::string& prefix) {
  thread_local std::mt19937 gen{std::random_device{}()};
  std::uniform_int_distribution<int> digit(0, 8);
  std::string r = prefix;
  for (int i = 0; i < 8; ++i)
    r += static_cast<char>('0' + digit(gen));
  return r;
}

}  // namespace ms
