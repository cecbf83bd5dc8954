#include <fstream>
#include <iterator>

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
      return "7 bit";
  }
}

void TmsAddressList::Add(const std::string& address, const std::string& name) {
  items_.push_back(TmsMailAddress{name, address});
}

void TmsAttItem::SetFileName(const std::string& name) {
  file_name_ = CutShortString(name);
  if (file_name_.empty()) return;
  ContentType = ContentTypeOfFile(file_name_);
  std::string t = AsciiUpper(ContentType);
  if (t == "TEXT/PLAIN" || t == "TEXT/RTF" || t == "TEXT/HTML")
    EncodingKind = ekQuotedPrintable;
  else if (t == "MESSAGE/RFC822")
    EncodingKind = ekSevenBit;
  else
    EncodingKind = ekBase64;
}

TmsAttItem& TmsAttList::AddFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EmsError("Cannot open file " + path);
  TmsAttItem item;
  item.SetFileName(path);
  item.Data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) throw EmsError("Cannot read file " + path);
  items_.push_back(std::move(item));
  return items_.back();
}

void ParseAddress(const std::string& text, TmsMailAddress& address) {
  std::size_t p = text.find('<');
  if (p != std::string::npos) {
    std::size_t q = text.find('>');
    if (q != std::string::npos && q > p) {
      address.Address = StripQuotes(text.substr(p + 1, q - p - 1));
      address.Name = StripQuotes(text.substr(0, p) + text.substr(q + 1));
    } else {
      address.Address.clear();
      address.Name = StripQuotes(text);
    }
  } else if ((p = text.find('(')) != std::string::npos) {
    address.Address = StripQuotes(text.substr(0, p));
    std::string name = text.substr(p + 1);
    if (!name.empty() && name.back() == ')') name.pop_back();
    address.Name = StripQuotes(name);
  } else {
    address.Address = text;
    address.Name.clear();
  }
  address.Address = CutShortString(address.Address);
  address.Name = CutShortString(address.Name);
}

}  // namespace ms
