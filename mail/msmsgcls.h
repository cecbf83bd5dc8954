#pragma once
// Building blocks of a mail message: addresses and address lists,
// attachments, the raw header list with its field lookup, and the small text
// routines shared by the protocol clients, the decoder and the encoder.
// Everything works on bytes exactly as they travel (std::string).

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace ms {

// A list of text lines (the body of a message, a block of header lines ...).
using TmsStrings = std::vector<std::string>;

// Days since 1899-12-30 with the time of day as the fraction; 0 means "no date".
using TDateTime = double;

// Short strings (names, addresses, subjects, file names) hold at most this many
// characters (see CutShortString).
inline constexpr std::size_t kShortStringMax = 255;

enum TmsMsgEncoding { meMIME, meUU };
enum TmsCharSet { csUSASCII, csISO8859, csISO2022jp, csUTF8 };
enum TmsPriority { ptLow, ptNormal, ptHigh };

// Transfer kinds of an attachment (TmsAttItem::EncodingKind).
enum : std::uint8_t { ekSevenBit = 0, ekBase64 = 1, ekQuotedPrintable = 2 };
// "7bit", "Base64", "Quoted-Printable"; an unknown kind gives "7bit".
const char* EncodingKindName(std::uint8_t kind);

struct TmsMailAddress {
  std::string Name;
  std::string Address;

  void Assign(const TmsMailAddress& other) { *this = other; }
  bool operator==(const TmsMailAddress&) const = default;
};

class TmsAddressList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  TmsMailAddress& Items(int i) { return items_.at(static_cast<std::size_t>(i)); }
  const TmsMailAddress& Items(int i) const { return items_.at(static_cast<std::size_t>(i)); }
  void AddItem(TmsMailAddress item) { items_.push_back(std::move(item)); }
  void Add(const std::string& address, const std::string& name = "");
  void Clear() { items_.clear(); }
  void Assign(const TmsAddressList& other) { items_ = other.items_; }
  bool operator==(const TmsAddressList&) const = default;

 private:
  std::vector<TmsMailAddress> items_;
};

// One attachment: its bytes, its file name, its content type and the transfer
// kind the encoder will use.
class TmsAttItem {
 public:
  std::string Data;  // the attachment's bytes
  std::string ContentType;
  // The charset its Content-Type declared when it was decoded (lower case; empty
  // when none was given). The bytes are not converted.
  std::string DeclaredCharSet;
  std::uint8_t EncodingKind = ekSevenBit;

  const std::string& FileName() const { return file_name_; }
  // Stores the name (cut to 255 characters); a non-empty name also sets
  // ContentType from the file's extension and EncodingKind from that type.
  void SetFileName(const std::string& name);
  // Sets ContentType from the extension of Path and EncodingKind from that type.
  void SetTypeFrom(const std::string& path);
  void Assign(const TmsAttItem& other) { *this = other; }

 private:
  std::string file_name_;
};

class TmsAttList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  TmsAttItem& Items(int i) { return items_.at(static_cast<std::size_t>(i)); }
  const TmsAttItem& Items(int i) const { return items_.at(static_cast<std::size_t>(i)); }
  void AddItem(TmsAttItem item) { items_.push_back(std::move(item)); }
  // A new attachment whose data is the content of the file at Path, named
  // Path (or, when that is longer than 255 characters, the file-name part,
  // shortened before its extension when it must be); its type comes from the
  // extension. EmsError when the file cannot be read.
  TmsAttItem& AddFile(const std::string& path);
  void Delete(int i) { items_.erase(items_.begin() + i); }
  void Clear() { items_.clear(); }
  void Assign(const TmsAttList& other) { items_ = other.items_; }

 private:
  std::vector<TmsAttItem> items_;
};

// What a decoded header value's bytes were written in: the charset each of its
// encoded words names (lower case, an RFC 2231 language removed), in order, and
// whether bytes above 127 stood outside any encoded word.
struct TmsHeaderCharSets {
  TmsStrings Words;
  bool RawEightBit = false;
};

// The raw header lines of a message in arrival order, continuation lines
// (beginning with a blank or a tab) included. Field names compare without
// regard to letter case. Lookups end at the first empty line: what follows it
// is body, never a header.
class TmsHeaders : public std::vector<std::string> {
 public:
  using std::vector<std::string>::vector;

  // The unfolded value of the first field called Name with its encoded words
  // decoded, cut to 255 characters (see CutShortString); empty when there is
  // no such field.
  std::string GetFieldValue(const std::string& name) const;
  // The same, also telling the charsets its encoded words declared.
  std::string GetFieldValue(const std::string& name, TmsHeaderCharSets& charsets) const;
  // The same without the cut (subjects, content types with long parameters).
  std::string GetFullFieldValue(const std::string& name) const;
  // The same without decoding the encoded words.
  std::string GetRawFieldValue(const std::string& name) const;
  // Every comma-separated item of every field called Name, decoded (and not
  // cut, so that a long name does not push the address out). A comma inside a
  // quoted string (with its backslash escapes), a comment or angle brackets
  // does not split.
  void GetFieldList(const std::string& name, TmsStrings& list) const;
  TmsStrings GetFieldList(const std::string& name) const;
  // Every address of every field called Name: each item parsed with
  // ParseAddress before its display name's encoded words are decoded, so that
  // a decoded name may hold commas, quotes and angle brackets.
  void GetAddresses(const std::string& name, TmsAddressList& list) const;
  // Deletes the first field called Name with its continuation lines.
  void RemoveField(const std::string& name);
};

// ---- text routines ----

using vigilo::AsciiLower;
using vigilo::AsciiUpper;
using vigilo::EqualsNoCase;
using vigilo::Trim;

// Cuts to at most Max characters: UTF-8 text counts characters and is never cut
// inside one; other text (a one-byte code page) counts bytes.
std::string CutShortString(const std::string& text, std::size_t max = kShortStringMax);

// The text with every control byte (below 0x20, and 0x7F: CR, LF, NUL, ESC ...)
// replaced by `with`; for text from a peer on its way to a terminal, a log or a record.
std::string ReplaceControls(std::string_view text, char with = '?');

// Trims, then removes every leading and every trailing double quote.
std::string StripQuotes(const std::string& text);
// The word after skipping Skip blank-separated words, trimmed.
std::string ExtractWord(const std::string& text, int skip);
// ExtractWord read as a decimal number; -1 when it is not one.
long long ExtractNumber(const std::string& text, int skip);
// The characters up to the first blank or ";", trimmed (the bare media type).
std::string FirstToken(const std::string& text);
// The parameter Name of a header value ("boundary", "name", "charset" ...).
std::string GetHeaderParameter(const std::string& name, const std::string& value);
// The MIME type of a file from its extension (/etc/mime.types, ~/.mime.types);
// "application/octet-stream" when unknown.
std::string ContentTypeOfFile(const std::string& path);
// Replaces the mime.types files read by ContentTypeOfFile (later files win); an
// empty list goes back to the system's and the user's files. For tests.
void SetMimeTypesFiles(const std::vector<std::string>& files);
// Splits "Name <address>", "address (Name)" or a bare address. A display name
// in double quotes loses its quotes and backslash escapes; "<", "(" and ","
// inside it are part of the name. Name and address are cut to 255 characters.
void ParseAddress(const std::string& text, TmsMailAddress& address);
// ParseAddress of a raw header item, then the display name's encoded words decoded.
void ParseAddressField(const std::string& raw, TmsMailAddress& address);
// A display name as written in an address: plain when it is made of atoms and
// blanks, else a quoted string with every '"' and '\' escaped (RFC 5322).
std::string QuoteDisplayName(const std::string& name);
// Parses an RFC 822 date; DateTime 0 and an empty Zone when it cannot.
void ParseMailDate(const std::string& text, TDateTime& dateTime, std::string& zone);
// The local time When as an RFC 5322 date: English day and month names and
// the numeric zone ("Sun, 6 Dec 2026 23:54:19 +0100"), whatever the locale.
std::string FormatMailDate(std::time_t when);
// The calendar date and time of day as a TDateTime (no range check).
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0,
                         int second = 0);
// The file-name part of a path (after the last '/' or '\').
std::string ExtractFileName(const std::string& path);

// The first CR or LF in [P, End), or End.
const char* FindLineEnd(const char* p, const char* end);
// Splits bytes into lines at CR LF, CR or LF; a line end at the very end adds no empty line.
TmsStrings SplitLines(const std::string& text);
// Joins lines, each followed by CR LF.
std::string JoinLines(const TmsStrings& lines);
// Appends the lines of Text (split as SplitLines splits them) to Out, each
// followed by CR LF; the last one only when FinalLineBreak is set.
void AppendCrLfLines(std::string_view text, std::string& out, bool finalLineBreak = true);

}  // namespace ms
