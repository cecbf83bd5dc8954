#include <vector>

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

// The number of header lines: those before the first empty line (the body
// follows it when a list holds a whole reply).
std::size_t BlockEnd(const TmsHeaders& h) {
  for (std::size_t i = 0; i < h.size(); ++i)
    if (h[i].empty() || h[i] == "\r") return i;
  return h.size();
}

// Index of the first header line that starts the field Label ("Name:"), or size().
std::size_t FindField(const TmsHeaders& h, const std::string& label) {
  const std::size_t end = BlockEnd(h);
  for (std::size_t i = 0; i < end; ++i)
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

}  // namespace

std::string TmsHeaders::GetRawFieldValue(const std::string& name) const {
  if (empty()) return "";
  std::size_t i = FindField(*this, FieldLabel(name));
  if (i == size()) return "";
  const std::string& line = (*this)[i];
  std::string value = Trim(line.substr(line.find(':') + 1));
  for (++i; i < size() && IsContinuation((*this)[i]); ++i) {
    // A value that begins on a continuation line gets no leading blank.
    if (!value.empty()) value += ' ';
    value += Trim((*this)[i]);
  }
  return value;
}

std::string TmsHeaders::GetFullFieldValue(const std::string& name) const {
  return DecodeHeaderWords(GetRawFieldValue(name));
}

std::string TmsHeaders::GetFieldValue(const std::string& name) const {
  return CutShortString(GetFullFieldValue(name));
}

std::string TmsHeaders::GetFieldValue(const std::string& name, TmsHeaderCharSets& charsets) const {
  return CutShortString(DecodeHeaderWords(GetRawFieldValue(name), charsets));
}

namespace {

// True when Piece ends inside an encoded word ("=?" without its "?=").
bool InsideEncodedWord(const std::string& piece) {
  std::size_t open = piece.rfind("=?");
  if (open == std::string::npos) return false;
  std::size_t close = piece.rfind("?=");
  return close == std::string::npos || close <= open;
}

// Splits an address field's value at the commas that separate its items: not
// inside a quoted string (a backslash escapes the next character), a comment
// or angle brackets. When quotes or parentheses do not pair up (a hand-made
// header) the text is split at every comma outside angle brackets instead.
// A group "name: member, member;" gives its members: the colon ends the group's
// name and the semicolon closes it.
std::vector<std::string> SplitAddressItems(const std::string& value) {
  for (bool syntax : {true, false}) {
    std::vector<std::string> items;
    std::string piece;
    bool quoted = false, angle = false;
    int comment = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
      const char c = value[i];
      if (syntax && (quoted || comment > 0) && c == '\\' && i + 1 < value.size()) {
        piece += c;
        piece += value[++i];
        continue;
      }
      if (syntax && c == '"' && comment == 0) {
        quoted = !quoted;
      } else if (syntax && !quoted && c == '(') {
        ++comment;
      } else if (syntax && !quoted && c == ')' && comment > 0) {
        --comment;
      } else if (!quoted && comment == 0 && c == '<') {
        angle = true;
      } else if (!quoted && comment == 0 && c == '>') {
        angle = false;
      } else if ((c == ',' || (syntax && c == ';')) && !quoted && comment == 0 && !angle) {
        items.push_back(Trim(piece));
        piece.clear();
        continue;
      } else if (syntax && c == ':' && !quoted && comment == 0 && !angle &&
                 !InsideEncodedWord(piece)) {
        piece.clear();  // a group's name
        continue;
      }
      piece += c;
    }
    if (syntax && (quoted || comment > 0)) continue;
    items.push_back(Trim(piece));
    std::erase_if(items, [](const std::string& t) { return t.empty(); });
    return items;
  }
  return {};
}

// The raw value of every field called Name, with its folded and colon-less
// continuation lines, in order.
std::vector<std::string> RawFieldValues(const TmsHeaders& h, const std::string& name) {
  std::vector<std::string> values;
  const std::size_t end = BlockEnd(h);
  std::size_t i = 0;
  while (i < end) {
    if (!IsFieldLine(h[i], name)) {
      ++i;
      continue;
    }
    const std::string& first = h[i];
    std::string value = first.substr(first.find(':') + 1);
    // Continuation lines: folded lines, and lines without a colon.
    for (++i; i < end; ++i) {
      const std::string& l = h[i];
      if (!IsContinuation(l) && l.find(':') != std::string::npos) break;
      value += ' ';
      value += Trim(l);
    }
    values.push_back(std::move(value));
  }
  return values;
}

}  // namespace

void TmsHeaders::GetFieldList(const std::string& name, TmsStrings& list) const {
  list.clear();
  for (const std::string& value : RawFieldValues(*this, name))
    for (const std::string& item : SplitAddressItems(value))
      // Not cut here: ParseAddress cuts the name and the address each to 255.
      list.push_back(DecodeHeaderWords(item));
}

void TmsHeaders::GetAddresses(const std::string& name, TmsAddressList& list) const {
  for (const std::string& value : RawFieldValues(*this, name))
    for (const std::string& item : SplitAddressItems(value)) {
      TmsMailAddress a;
      ParseAddressField(item, a);
      list.AddItem(std::move(a));
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
