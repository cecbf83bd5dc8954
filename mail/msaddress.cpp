#include <fstream>
#include <iterator>

#include "mail/mscodec.h"
#include "mail/msexcept.h"
#include "mail/msmsgcls.h"

namespace ms {

const char* EncodingKindName(std::uint8_t kind) {
  switch (kind) {
    case ekBase64:
      return "Base64";
    case ekQuotedPrintable:
      return "Quoted-Printable";
    default:
      return "7bit";
  }
}

void TmsAddressList::Add(const std::string& address, const std::string& name) {
  items_.push_back(TmsMailAddress{name, address});
}

void TmsAttItem::SetFileName(const std::string& name) {
  file_name_ = CutShortString(name);
  if (file_name_.empty()) return;
  SetTypeFrom(file_name_);
}

void TmsAttItem::SetTypeFrom(const std::string& path) {
  ContentType = ContentTypeOfFile(path);
  std::string t = AsciiUpper(ContentType);
  if (t == "TEXT/PLAIN" || t == "TEXT/RTF" || t == "TEXT/HTML")
    EncodingKind = ekQuotedPrintable;
  else if (t == "MESSAGE/RFC822")
    EncodingKind = ekSevenBit;
  else
    EncodingKind = ekBase64;
}

namespace {

// The name an attached file is stored under: its path when that fits the short
// string, else its file-name part, shortened (when even that is too long) in
// front of its extension so that the type stays visible.
std::string StoredFileName(const std::string& path) {
  if (CutShortString(path) == path) return path;
  std::string name = ExtractFileName(path);
  if (CutShortString(name) == name) return name;
  const std::size_t dot = name.rfind('.');
  std::string ext = dot == std::string::npos ? "" : name.substr(dot);
  if (CutShortString(ext, 32) != ext) ext.clear();
  std::string stem = name.substr(0, name.size() - ext.size());
  const std::size_t room = kShortStringMax - CutShortString(ext, 32).size();
  return CutShortString(stem, room) + ext;
}

}  // namespace

TmsAttItem& TmsAttList::AddFile(const std::string& path) {
  // The whole path is read; only the stored name is bounded.
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EmsError("Cannot open file " + path);
  TmsAttItem item;
  item.SetFileName(StoredFileName(path));
  item.SetTypeFrom(path);
  item.Data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) throw EmsError("Cannot read file " + path);
  items_.push_back(std::move(item));
  return items_.back();
}

namespace {

// Position of the first C outside quoted strings and comments at or after From;
// npos when there is none or when the quotes do not pair up.
std::size_t FindOutside(const std::string& text, char wanted, std::size_t from = 0) {
  bool quoted = false;
  int comment = 0;
  for (std::size_t i = from; i < text.size(); ++i) {
    const char c = text[i];
    if ((quoted || comment > 0) && c == '\\') {
      ++i;
    } else if (c == '"' && comment == 0) {
      quoted = !quoted;
    } else if (quoted) {
      continue;
    } else if (c == wanted) {
      return i;
    } else if (c == '(') {
      ++comment;
    } else if (c == ')' && comment > 0) {
      --comment;
    }
  }
  return std::string::npos;
}

// True when every quoted string of the text is closed.
bool QuotesPair(const std::string& text) {
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (quoted && text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      quoted = !quoted;
    }
  }
  return !quoted;
}

// A display name: quoted strings lose their quotes and escapes, the rest is kept.
std::string UnquoteName(const std::string& text) {
  std::string out;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted && c == '\\' && i + 1 < text.size()) {
      out += text[++i];
    } else if (c == '"') {
      quoted = !quoted;
    } else {
      out += c;
    }
  }
  return Trim(out);
}

// The text before a comment and the comment's content (without its parentheses).
void SplitComment(const std::string& text, std::size_t open, std::string& address,
                  std::string& name) {
  address = StripQuotes(text.substr(0, open));
  name = text.substr(open + 1);
  if (!name.empty() && name.back() == ')') name.pop_back();
  name = StripQuotes(name);
}

// ParseAddress without the cut to 255 characters.
void SplitAddress(const std::string& text, TmsMailAddress& address) {
  if (QuotesPair(text)) {
    // "<" and "(" inside a quoted name are part of the name.
    const std::size_t p = FindOutside(text, '<');
    if (p != std::string::npos) {
      const std::size_t q = text.find('>', p);
      if (q != std::string::npos) {
        address.Address = StripQuotes(text.substr(p + 1, q - p - 1));
        address.Name = UnquoteName(text.substr(0, p) + text.substr(q + 1));
      } else {
        address.Address.clear();
        address.Name = UnquoteName(text);
      }
    } else if (const std::size_t c = FindOutside(text, '('); c != std::string::npos) {
      SplitComment(text, c, address.Address, address.Name);
    } else {
      address.Address = text;
      address.Name.clear();
    }
  } else {
    // A stray double quote: take the text as it stands.
    std::size_t p = text.find('<');
    if (p != std::string::npos) {
      std::size_t q = text.find('>', p);
      if (q != std::string::npos) {
        address.Address = StripQuotes(text.substr(p + 1, q - p - 1));
        address.Name = StripQuotes(text.substr(0, p) + text.substr(q + 1));
      } else {
        address.Address.clear();
        address.Name = StripQuotes(text);
      }
    } else if ((p = text.find('(')) != std::string::npos) {
      SplitComment(text, p, address.Address, address.Name);
    } else {
      address.Address = text;
      address.Name.clear();
    }
  }
}

}  // namespace

void ParseAddress(const std::string& text, TmsMailAddress& address) {
  SplitAddress(text, address);
  address.Address = CutShortString(address.Address);
  address.Name = CutShortString(address.Name);
}

void ParseAddressField(const std::string& raw, TmsMailAddress& address) {
  SplitAddress(Trim(raw), address);
  // Decoded before the cut, which counts the characters of the name itself.
  address.Address = CutShortString(address.Address);
  address.Name = CutShortString(DecodeHeaderWords(address.Name));
}

std::string QuoteDisplayName(const std::string& name) {
  // RFC 5322 specials; a name without them is a phrase of atoms as it stands.
  if (name.find_first_of("()<>[]:;@\\,.\"") == std::string::npos) return name;
  std::string out = "\"";
  for (char c : name) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace ms
