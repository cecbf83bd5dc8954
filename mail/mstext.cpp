#include <bit>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/utf8.h"
#include "mail/msmsgcls.h"

namespace ms {

std::string CutShortString(const std::string& text, std::size_t max) {
  // Characters, not bytes: a byte that starts no UTF-8 sequence counts as one.
  return text.size() <= max ? text : vigilo::CutChars(text, max);
}

std::string StripQuotes(const std::string& text) {
  std::string s = Trim(text);
  std::size_t b = 0, e = s.size();
  while (b < e && s[b] == '"')
    ++b;
  while (e > b && s[e - 1] == '"')
    --e;
  return s.substr(b, e - b);
}

std::string ReplaceControls(std::string_view text, char with) {
  std::string out(text);
  for (char& c : out) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) c = with;
  }
  return out;
}

std::string ExtractWord(const std::string& text, int skip) {
  std::string s = Trim(text);
  for (int i = 0; i < skip; ++i) {
    std::size_t p = s.find(' ');
    if (p == std::string::npos) return "";
    s = Trim(s.substr(p + 1));
  }
  std::size_t p = s.find(' ');
  return Trim(p == std::string::npos ? s : s.substr(0, p));
}

long long ExtractNumber(const std::string& text, int skip) {
  std::string w = ExtractWord(text, skip);
  const char* b = w.data();
  const char* e = w.data() + w.size();
  if (b != e && *b == '+') ++b;
  if (b == e) return -1;
  long long v = 0;
  auto [ptr, ec] = std::from_chars(b, e, v);
  if (ec != std::errc() || ptr != e) return -1;
  return v;
}

std::string FirstToken(const std::string& text) {
  std::string t = Trim(text);
  std::size_t p = t.find_first_of(" \t;");
  return p == std::string::npos ? t : t.substr(0, p);
}

namespace {

// The ";"-separated parameters of a header value as (lower-case key, raw value).
// A ";" inside double quotes does not split; a backslash inside them escapes the
// next character.
std::vector<std::pair<std::string, std::string>> SplitParameters(const std::string& value) {
  std::vector<std::pair<std::string, std::string>> params;
  std::string piece;
  bool quoted = false;
  auto flush = [&] {
    std::size_t eq = piece.find('=');
    if (eq != std::string::npos) {
      // A parameter that follows the type after a blank instead of a ";" still counts.
      std::string key = Trim(piece.substr(0, eq));
      std::size_t blank = key.find_last_of(" \t");
      if (blank != std::string::npos) key = key.substr(blank + 1);
      params.emplace_back(AsciiLower(key), Trim(piece.substr(eq + 1)));
    }
    piece.clear();
  };
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (quoted && c == '\\' && i + 1 < value.size()) {
      piece += c;
      piece += value[++i];
      continue;
    }
    if (c == '"') quoted = !quoted;
    if (c == ';' && !quoted)
      flush();
    else
      piece += c;
  }
  flush();
  return params;
}

// A raw parameter value without its quotes: a quoted string ends at its closing
// quote and its backslash escapes are undone; an unquoted value ends at a blank.
std::string ParameterText(const std::string& raw) {
  if (raw.empty() || raw[0] != '"') {
    std::size_t q = raw.find_first_of(" \t");
    return q == std::string::npos ? raw : raw.substr(0, q);
  }
  std::string out;
  for (std::size_t i = 1; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 1 < raw.size()) {
      out += raw[++i];
    } else if (raw[i] == '"') {
      break;
    } else {
      out += raw[i];
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string PercentDecode(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    int hi, lo;
    if (s[i] == '%' && i + 2 < s.size() && (hi = HexDigit(s[i + 1])) >= 0 &&
        (lo = HexDigit(s[i + 2])) >= 0) {
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

using ParameterList = std::vector<std::pair<std::string, std::string>>;

// An RFC 2231 parameter ("name*=utf-8''%D0%A4", or the pieces "name*0*=",
// "name*1=" ...): the bytes, the charset not converted.
std::string Rfc2231Parameter(const std::string& key, const ParameterList& list) {
  std::map<std::string, std::string> params;  // the first of each key
  for (auto& [k, v] : list)
    params.emplace(k, v);
  auto piece = [](const std::string& raw, bool extended, bool first) {
    std::string text = ParameterText(raw);
    if (!extended) return text;
    if (first) {
      // The first piece starts with charset'language'.
      std::size_t a = text.find('\'');
      std::size_t b = a == std::string::npos ? a : text.find('\'', a + 1);
      if (b != std::string::npos) text = text.substr(b + 1);
    }
    return PercentDecode(text);
  };
  if (auto it = params.find(key + "*"); it != params.end()) return piece(it->second, true, true);
  std::string out;
  for (int n = 0; n < 1000; ++n) {
    const std::string idx = key + "*" + std::to_string(n);
    if (auto it = params.find(idx + "*"); it != params.end()) {
      out += piece(it->second, true, n == 0);
    } else if (auto plain = params.find(idx); plain != params.end()) {
      out += piece(plain->second, false, n == 0);
    } else {
      break;
    }
  }
  return out;
}

// True when Key is Name in its RFC 2231 form: "name*", "name*0", "name*0*" ...
bool IsExtendedKey(const std::string& key, const std::string& name) {
  if (key.size() <= name.size() || key.compare(0, name.size(), name) != 0) return false;
  if (key[name.size()] != '*') return false;
  for (std::size_t i = name.size() + 1; i < key.size(); ++i)
    if (!(key[i] >= '0' && key[i] <= '9') && !(key[i] == '*' && i + 1 == key.size())) return false;
  return true;
}

}  // namespace

std::string GetHeaderParameter(const std::string& name, const std::string& value) {
  const std::string key = AsciiLower(Trim(name));
  if (key.empty()) return "";
  const ParameterList params = SplitParameters(value);
  // The first parameter of that name wins, in its plain or its RFC 2231 form.
  for (const auto& [k, v] : params) {
    if (k == key) return Trim(ParameterText(v));
    if (IsExtendedKey(k, key)) return Trim(Rfc2231Parameter(key, params));
  }
  return "";
}

std::string ExtractFileName(const std::string& path) {
  std::size_t p = path.find_last_of("/\\");
  return p == std::string::npos ? path : path.substr(p + 1);
}

const char* FindLineEnd(const char* p, const char* end) {
#if defined(__SSE2__)
  // Sixteen bytes at a time.
  const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
  for (; end - p >= 16; p += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const auto ends = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(x, cr), _mm_cmpeq_epi8(x, lf))));
    if (ends != 0) return p + std::countr_zero(ends);
  }
#endif
  // Eight bytes at a time while none of them is below 14 (CR is 13, LF 10).
  constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
  for (;;) {
    while (end - p >= 8) {
      std::uint64_t x;
      std::memcpy(&x, p, 8);
      if (((x - kOnes * 14) & ~x & kHighs) != 0) break;
      p += 8;
    }
    const char* const stop = end - p >= 8 ? p + 8 : end;
    for (; p < stop; ++p)
      if (*p == '\r' || *p == '\n') return p;
    if (p >= end) return end;
  }
}

TmsStrings SplitLines(const std::string& text) {
  TmsStrings lines;
  const char* const base = text.data();
  std::size_t i = 0, n = text.size();
  while (i < n) {
    std::size_t e = static_cast<std::size_t>(FindLineEnd(base + i, base + n) - base);
    lines.emplace_back(text, i, e - i);
    // CR LF counts as one line end; a lone CR or LF ends the line too.
    if (e < n && text[e] == '\r') {
      ++e;
      if (e < n && text[e] == '\n') ++e;
    } else if (e < n) {
      ++e;
    }
    i = e;
  }
  return lines;
}

void AppendCrLfLines(std::string_view text, std::string& out, bool finalLineBreak) {
  out.reserve(out.size() + text.size() + 2);
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const std::size_t e =
        static_cast<std::size_t>(FindLineEnd(text.data() + i, text.data() + n) - text.data());
    out.append(text, i, e - i);
    // CR LF counts as one line end; a lone CR or LF ends the line too.
    i = e;
    if (i < n && text[i] == '\r') ++i;
    if (i < n && text[i] == '\n' && (i == e || i == e + 1)) ++i;
    if (i < n || finalLineBreak) out += "\r\n";
  }
}

std::string JoinLines(const TmsStrings& lines) {
  std::size_t total = 0;
  for (const auto& l : lines)
    total += l.size() + 2;
  std::string r;
  r.reserve(total);
  for (const auto& l : lines) {
    r += l;
    r += "\r\n";
  }
  return r;
}

}  // namespace ms
