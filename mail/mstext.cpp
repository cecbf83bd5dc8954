#include <cctype>
#include <charconv>
#include <map>
#include <utility>
#include <vector>

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
std::vector<std::pair<std::string, std::string>> SplitParameters(const std::string& value) {
  std::vector<std::pair<std::string, std::string>> params;
  std::string piece;
  bool quoted = false;
  auto flush = [&] {
    std::size_t eq = piece.find('=');
    if (eq != std::string::npos)
      params.emplace_back(AsciiLower(Trim(piece.substr(0, eq))), Trim(piece.substr(eq + 1)));
    piece.clear();
  };
  for (char c : value) {
    if (c == '"') quoted = !quoted;
    if (c == ';' && !quoted)
      flush();
    else
      piece += c;
  }
  flush();
  return params;
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

// RFC 2231 parameter Key ("name*=utf-8''%D0%A4", or the pieces "name*0*=",
// "name*1=" ...): the bytes, the charset not converted.
std::string Rfc2231Parameter(const std::string& key, const std::string& value) {
  std::map<std::string, std::string> params;  // the first of each key
  for (auto& [k, v] : SplitParameters(value))
    params.emplace(k, std::move(v));
  auto piece = [](std::string text, bool extended, bool first) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
      text = text.substr(1, text.size() - 2);
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

}  // namespace

std::string GetHeaderParameter(const std::string& name, const std::string& value) {
  if (name.empty()) return "";
  std::size_t p = AsciiLower(value).find(AsciiLower(name));
  if (p == std::string::npos) return "";
  if (p + name.size() < value.size() && value[p + name.size()] == '*') {
    // An RFC 2231 parameter; the key is the word the name was found in.
    std::size_t k = p;
    while (k > 0 && value[k - 1] != ';' && value[k - 1] != ' ' && value[k - 1] != '\t')
      --k;
    return Trim(Rfc2231Parameter(AsciiLower(value.substr(k, p + name.size() - k)), value));
  }
  std::string rest = Trim(value.substr(p + name.size()));
  if (!rest.empty() && rest[0] == '=') rest = Trim(rest.substr(1));
  std::string result;
  if (!rest.empty() && rest[0] == '"') {
    std::size_t q = rest.find('"', 1);
    result = q == std::string::npos ? rest.substr(1) : rest.substr(1, q - 1);
  } else {
    // An unquoted value ends at a blank, a tab or the ";" of the next parameter.
    std::size_t q = rest.find_first_of(" \t;");
    result = q == std::string::npos ? rest : rest.substr(0, q);
  }
  if (!result.empty() && result.back() == ';') result.pop_back();
  return Trim(result);
}

std::string ExtractFileName(const std::string& path) {
  std::size_t p = path.find_last_of("/\\");
  return p == std::string::npos ? path : path.substr(p + 1);
}

TmsStrings SplitLines(const std::string& text) {
  TmsStrings lines;
  std::size_t i = 0, n = text.size();
  while (i < n) {
    std::size_t e = i;
    while (e < n && text[e] != '\r' && text[e] != '\n')
      ++e;
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
