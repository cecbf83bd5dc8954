#include "platform/regsyntax.h"

#include <cstdio>

#include "base/text.h"
#include "base/utf8.h"

namespace vigilo {
namespace {

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

// Reads a quoted string at s[pos] (which must be '"'); on success pos is past the
// closing quote.
bool ReadQuoted(std::string_view s, std::size_t& pos, std::string& out) {
  if (pos >= s.size() || s[pos] != '"') return false;
  out.clear();
  for (std::size_t i = pos + 1; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"') {
      pos = i + 1;
      return true;
    }
    if (c == '\\') {
      if (++i >= s.size()) return false;
      switch (s[i]) {
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        default:
          out += s[i];
          break;  // \\ and \" (and anything else taken literally)
      }
    } else {
      out += c;
    }
  }
  return false;
}

void WriteQuoted(std::string& out, std::string_view s) {
  out += '"';
  for (const char c : ToValidUtf8(s)) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  out += '"';
}

bool ParseHex32(std::string_view s, uint32_t& v) {
  if (s.empty() || s.size() > 8) return false;
  v = 0;
  for (const char c : s) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    v = v * 16 + static_cast<uint32_t>(d);
  }
  return true;
}

// Parses the data part of a value line; empty reason on success.
std::string ParseData(std::string_view data, RegValue& v) {
  std::size_t pos = 0;
  std::string text;
  if (!data.empty() && data[0] == '"') {
    if (!ReadQuoted(data, pos, text) || pos != data.size()) return "unterminated string";
    v = RegValue::Str(std::move(text));
    return {};
  }
  if (StartsWithNoCase(data, "dword:")) {
    uint32_t d;
    if (!ParseHex32(data.substr(6), d)) return "bad dword";
    v = RegValue::Dword(d);
    return {};
  }
  if (StartsWithNoCase(data, "str(2):")) {
    pos = 7;
    if (!ReadQuoted(data, pos, text) || pos != data.size()) return "unterminated string";
    v = RegValue::Expand(std::move(text));
    return {};
  }
  if (StartsWithNoCase(data, "hex")) {
    v = RegValue{RegType::Other, std::string(data), 0};
    return {};
  }
  if (data == "-") return "value deletion is not supported";
  return "unknown value type";
}

}  // namespace

RegParseResult ParseRegText(std::string_view text) {
  RegParseResult r;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  if (text.find('\0') != std::string_view::npos) {
    r.Corrupt = true;
    r.CorruptReason = "not a text file";
    return r;
  }
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t nl = text.find('\n', start);
    if (nl == std::string_view::npos) nl = text.size();
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  if (lines.empty() || TrimView(lines[0]) != kRegHeader) {
    r.Corrupt = true;
    r.CorruptReason = "the first line is not \"" + std::string(kRegHeader) + "\"";
    return r;
  }
  RegKeyData* key = nullptr;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const int number = static_cast<int>(i + 1);
    std::string_view line = TrimView(lines[i]);
    if (line.empty() || line[0] == ';') continue;
    const auto bad = [&](std::string reason) { r.BadLines.push_back({number, std::move(reason)}); };
    if (!IsValidUtf8(line)) {
      bad("not UTF-8 text");
      continue;
    }
    if (line[0] == '[') {
      key = nullptr;
      if (line.back() != ']' || line.size() < 3 || line[1] == '-') {
        bad("bad key line");
        continue;
      }
      std::string_view path = line.substr(1, line.size() - 2);
      while (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
      if (path.empty()) {
        bad("bad key line");
        continue;
      }
      for (auto& k : r.Doc.Keys) {
        if (EqualsNoCase(k.Path, path)) key = &k;
      }
      if (!key) {
        r.Doc.Keys.push_back({std::string(path), {}});
        key = &r.Doc.Keys.back();
      }
      continue;
    }
    std::string name;
    std::size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else if (!ReadQuoted(line, pos, name)) {
      bad("unreadable line");
      continue;
    }
    if (pos >= line.size() || line[pos] != '=') {
      bad("unreadable line");
      continue;
    }
    std::string data(TrimView(line.substr(pos + 1)));
    // Raw values (hex:...) may continue over lines ending with '\'.
    if (StartsWithNoCase(data, "hex")) {
      while (!data.empty() && data.back() == '\\' && i + 1 < lines.size()) {
        data.pop_back();
        data += TrimView(lines[++i]);
      }
    }
    if (!key) {
      bad("value outside a key");
      continue;
    }
    RegValue v;
    if (std::string reason = ParseData(data, v); !reason.empty()) {
      bad(reason);
      continue;
    }
    bool replaced = false;
    for (auto& [n, old] : key->Values) {
      if (EqualsNoCase(n, name)) {
        old = std::move(v);
        replaced = true;
        break;
      }
    }
    if (!replaced) key->Values.emplace_back(std::move(name), std::move(v));
  }
  return r;
}

std::string FormatRegText(const RegDocument& doc) {
  std::string out(kRegHeader);
  out += "\n\n";
  for (const auto& key : doc.Keys) {
    out += '[';
    out += ToValidUtf8(key.Path);
    out += "]\n";
    for (const auto& [name, v] : key.Values) {
      if (name.empty()) {
        out += '@';
      } else {
        WriteQuoted(out, name);
      }
      out += '=';
      switch (v.Type) {
        case RegType::String:
          WriteQuoted(out, v.Text);
          break;
        case RegType::ExpandString:
          out += "str(2):";
          WriteQuoted(out, v.Text);
          break;
        case RegType::Dword: {
          char buf[16];
          std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(v.Number));
          out += buf;
          break;
        }
        case RegType::Other:
          out += ToValidUtf8(v.Text);
          break;
      }
      out += '\n';
    }
    out += '\n';
  }
  return out;
}

}  // namespace vigilo
