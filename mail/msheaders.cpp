#include "mail/mscodec.h"
#include "mail/msmsgcls.h"

namespace ms {

namespace {

bool StartsWithNoCase(const std::string& line, const std::string& prefix) {
  if (line.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char a = line[i], b = prefix[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

bool IsContinuation(const std::string& line) {
  return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

std::string FieldLabel(const std::string& name) {
  return !name.empty() && name.back() == ':' ? name : name + ":";
}

// Index of the first line that starts the field Label ("Name:"), or size().
std::size_t FindField(const TmsHeaders& h, const std::string& label) {
  for (std::size_t i = 0; i < h.size(); ++i)
    if (StartsWithNoCase(h[i], label)) return i;
  return h.size();
}

// True when Line begins a field called Name: the name, optional blanks, a colon.
bool IsFieldLine(const std::string& line, const std::string& name) {
  if (!name.empty() && name.back() == ':') return StartsWithNoCase(line, name);
  if (!StartsWithNoCase(line, name)) return false;
  std::size_t p = name.size();
  while (p < line.size() && (line[p] == ' ' || line[p] == '\t'))
    ++p;
  return p < line.size() && line[p] == ':';
}

// The unfolded value of the first field called Name, encoded words as they are.
std::string RawFieldValue(const TmsHeaders& h, const std::string& name) {
  if (h.empty()) return "";
  std::size_t i = FindField(h, FieldLabel(name));
  if (i == h.size()) return "";
  const std::string& line = h[i];
  std::string value = Trim(line.substr(line.find(':') + 1));
  for (++i; i < h.size() && IsContinuation(h[i]); ++i) {
    // A value that begins on a continuation line gets no leading blank.
    if (!value.empty()) value += ' ';
    value += Trim(h[i]);
  }
  return value;
}

}  // namespace

std::string TmsHeaders::GetFullFieldValue(const std::string& name) const {
  return DecodeHeaderWords(RawFieldValue(*this, name));
}

std::string TmsHeaders::GetFieldValue(const std::string& name) const {
  return CutShortString(GetFullFieldValue(name));
}

std::string TmsHeaders::GetFieldValue(const std::string& name, TmsHeaderCharSets& charsets) const {
  return CutShortString(DecodeHeaderWords(RawFieldValue(*this, name), charsets));
}

namespace {

// True when Piece ends inside an encoded word ("=?" without its "?=").
bool InsideEncodedWord(const std::string& piece) {
  std::size_t open = piece.rfind("=?");
  if (open == std::string::npos) return false;
  std::size_t close = piece.rfind("?=");
  return close == std::string::npos || close <= open;
}

}  // namespace

void TmsHeaders::GetFieldList(const std::string& name, TmsStrings& list) const {
  list.clear();
  std::size_t i = 0;
  while (i < size()) {
    if (!IsFieldLine((*this)[i], name)) {
      ++i;
      continue;
    }
    const std::string& first = (*this)[i];
    std::string value = first.substr(first.find(':') + 1);
    // Continuation lines: folded lines, and lines without a colon.
    for (++i; i < size(); ++i) {
      const std::string& l = (*this)[i];
      if (!IsContinuation(l) && l.find(':') != std::string::npos) break;
      value += ' ';
      value += Trim(l);
    }
    // Split at commas outside double quotes (where a backslash escapes the next
    // character). A group "name: member, member;" gives its members: the colon
    // ends the group's name and the semicolon closes it.
    bool quoted = false;
    int angle = 0, paren = 0;  // depth of <...> and of (...) comments
    std::string piece;
    auto flush = [&] {
      std::string t = Trim(piece);
      // Not cut here: ParseAddress cuts the name and the address each to 255.
      if (!t.empty()) list.push_back(DecodeHeaderWords(t));
      piece.clear();
      angle = paren = 0;
    };
    for (std::size_t k = 0; k < value.size(); ++k) {
      const char c = value[k];
      if (quoted) {
        piece += c;
        if (c == '\\' && k + 1 < value.size())
          piece += value[++k];
        else if (c == '"')
          quoted = false;
        continue;
      }
      const bool plain = angle == 0 && paren == 0;
      if (c == ',' || (c == ';' && plain)) {
        flush();
        continue;
      }
      if (c == ':' && plain && !InsideEncodedWord(piece)) {
        piece.clear();  // a group's name
        continue;
      }
      if (c == '"') quoted = true;
      if (c == '<') ++angle;
      if (c == '>' && angle > 0) --angle;
      if (c == '(') ++paren;
      if (c == ')' && paren > 0) --paren;
      piece += c;
    }
    flush();
  }
}

TmsStrings TmsHeaders::GetFieldList(const std::string& name) const {
  TmsStrings list;
  GetFieldList(name, list);
  return list;
}

void TmsHeaders::RemoveField(const std::string& name) {
  std::size_t i = FindField(*this, FieldLabel(name));
  if (i == size()) return;
  std::size_t e = i + 1;
  while (e < size() && IsContinuation((*this)[e]))
    ++e;
  erase(begin() + static_cast<std::ptrdiff_t>(i), begin() + static_cast<std::ptrdiff_t>(e));
}

}  // namespace ms
