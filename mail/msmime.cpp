#include "mail/msmime.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "base/utf8.h"
#include "mail/mscodec.h"
#include "mail/msexcept.h"
#include "mail/mspump.h"
#include "mail/msuucode.h"

namespace ms {

namespace {

constexpr std::size_t kMaxHeaderLine = 998;

bool NameIs(const TmsAttItem& item, const char* name) {
  return AsciiLower(ExtractFileName(item.FileName())) == name;
}

bool NameBeginsWithAlt(const TmsAttItem& item) {
  return AsciiLower(ExtractFileName(item.FileName())).rfind("_alt.", 0) == 0;
}

const char* CharSetLabel(TmsCharSet cs) {
  switch (cs) {
    case csISO2022jp:
      return "iso-2022-jp";
    case csISO8859:
      return "iso-8859-1";
    case csUTF8:
      return "utf-8";
    default:
      return "us-ascii";
  }
}

// True when a declared charset label can be written back as it is.
bool IsCharSetToken(const std::string& label) {
  if (label.empty() || label.size() > 64) return false;
  for (char c : label)
    if (!std::isalnum(static_cast<unsigned char>(c)) &&
        std::string_view("-_.:+").find(c) == std::string_view::npos)
      return false;
  return true;
}

// The label the body is written with: the charset it was declared in when it
// was read (so that a message read and written again keeps the label that
// matches its bytes), else the label of its kind. A declared label that is no
// plain token, or "us-ascii" for eight-bit text, is not kept.
std::string BodyCharSetLabel(const TmsCustomMessage& m, TmsCharSet kind) {
  const std::string& declared = m.DeclaredCharSet;
  if (!IsCharSetToken(declared)) return CharSetLabel(kind);
  if (EqualsNoCase(declared, "us-ascii") || EqualsNoCase(declared, "ascii")) {
    for (const std::string& line : m.Body)
      if (HasEightBit(line)) return CharSetLabel(kind);
  }
  return declared;
}

// Header text that cannot go out as it stands: bytes above 127, something a
// reader would take for an encoded word, or a word too long for one line.
bool NeedsEncodedWords(const std::string& text) {
  if (HasEightBit(text) || text.find("=?") != std::string::npos) return true;
  std::size_t run = 0;
  for (char c : text) {
    run = c == ' ' || c == '\t' ? 0 : run + 1;
    if (run > 900) return true;
  }
  return false;
}

// The charset label of header text, from what its bytes are.
const char* HeaderCharset(const std::string& text) {
  return vigilo::IsValidUtf8(text) ? "utf-8" : "iso-8859-1";
}

// Bytes that stand for themselves in an RFC 2231 value.
bool IsAttributeChar(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         std::string_view("!#$&+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

// A file-name parameter: Key="name" when the name is plain printable ASCII,
// otherwise in the form of RFC 2231 (charset from the bytes, percent-encoded,
// cut into numbered pieces on lines of their own when long).
std::string FileNameParameter(const std::string& key, const std::string& name) {
  bool plain = name.size() <= 200 && name.find("=?") == std::string::npos;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 32 || u > 126 || c == '"' || c == '\\') plain = false;
  }
  if (plain) return key + "=\"" + name + "\"";
  static const char kHex[] = "0123456789ABCDEF";
  std::string enc;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (IsAttributeChar(u)) {
      enc += c;
    } else {
      enc += '%';
      enc += kHex[u >> 4];
      enc += kHex[u & 15];
    }
  }
  const std::string head = std::string(HeaderCharset(name)) + "''";
  if (enc.size() <= 60) return key + "*=" + head + enc;
  std::string out;
  std::size_t pos = 0;
  for (int n = 0; pos < enc.size(); ++n) {
    std::size_t len = std::min<std::size_t>(60, enc.size() - pos);
    // Never between a "%" and its two digits.
    if (pos + len < enc.size()) {
      if (enc[pos + len - 1] == '%') {
        len -= 1;
      } else if (enc[pos + len - 2] == '%') {
        len -= 2;
      }
    }
    if (n > 0) out += ";\r\n ";
    out += key + "*" + std::to_string(n) + "*=" + (n == 0 ? head : "") + enc.substr(pos, len);
    pos += len;
  }
  return out;
}

// True when the bytes can go out as lines of text: no NUL and no line longer
// than the limit of RFC 5322. EightBit tells whether a byte above 127 occurs.
bool FitsAsText(const std::string& data, bool& eightBit) {
  eightBit = false;
  std::size_t line = 0;
  for (char c : data) {
    if (c == '\r' || c == '\n') {
      line = 0;
      continue;
    }
    if (c == '\0' || ++line > kMaxHeaderLine) return false;
    if (static_cast<unsigned char>(c) > 127) eightBit = true;
  }
  return true;
}

bool IsCompositeType(const std::string& type) {
  const std::string t = AsciiLower(Trim(type));
  return t.rfind("message/", 0) == 0 || t.rfind("multipart/", 0) == 0;
}

// How an attachment goes out: its content type, its transfer kind and the
// token that names that kind. Text written as it is must fit in lines of 998
// octets ("7bit" or "8bit"); what does not is sent in base64. A message or
// multipart type admits no encoding but those identities (RFC 2046), so such
// a part that does not fit goes out as application/octet-stream.
struct PartForm {
  std::string type;
  std::uint8_t kind;
  std::string token;
};

PartForm FormOf(const TmsAttItem& item) {
  const std::string type = Trim(item.ContentType);
  const bool composite = IsCompositeType(type);
  if (item.EncodingKind == ekBase64 && !composite) return {type, ekBase64, "base64"};
  if (item.EncodingKind == ekQuotedPrintable && !composite)
    return {type, ekQuotedPrintable, "quoted-printable"};
  bool eightBit = false;
  if (FitsAsText(item.Data, eightBit)) return {type, ekSevenBit, eightBit ? "8bit" : "7bit"};
  return {composite ? "application/octet-stream" : type, ekBase64, "base64"};
}

}  // namespace

TmsCustomEncoder::TmsCustomEncoder(TmsCustomMessage& message, std::ostream& out)
    : message_(message), out_(out) {
  bool eight_bit = false;
  for (const std::string& line : message_.Body) {
    if (line.size() >= 256) long_lines_ = true;
    if (!eight_bit && HasEightBit(line)) eight_bit = true;
  }
  charset_ = message_.CharSet;
  // Text with bytes above 127 is never labelled us-ascii.
  if (charset_ == csUSASCII && eight_bit) charset_ = csUTF8;
}

TmsCustomEncoder::~TmsCustomEncoder() {
  try {
    Flush();
  } catch (...) {  // a stream that throws has already failed
  }
}

namespace {
constexpr std::size_t kFlushBytes = 64 * 1024;
}  // namespace

void TmsCustomEncoder::Flush() {
  out_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
  pending_.clear();
}

void TmsCustomEncoder::WriteLine(std::string_view text) {
  pending_.append(text);
  pending_ += "\r\n";
  if (pending_.size() >= kFlushBytes) Flush();
}

std::string TmsCustomEncoder::CleanHeader(const std::string& value) {
  std::string r = value;
  for (char& c : r)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  return r;
}

std::string TmsCustomEncoder::HeaderText(const std::string& text) const {
  std::string clean = CleanHeader(text);
  if (message_.CharSet == csISO2022jp && message_.Encoding == meMIME && !clean.empty() &&
      clean[0] == 27)
    return EncodeHeaderWord(clean);
  if (!NeedsEncodedWords(clean)) return clean;
  // Labelled by what the bytes are, whatever the body's charset or encoding.
  return EncodeHeaderWords(clean, HeaderCharset(clean), true);
}

std::string TmsCustomEncoder::AddressText(const TmsMailAddress& address) const {
  std::string name = CleanHeader(address.Name);
  if (NeedsEncodedWords(name) || (!name.empty() && name[0] == 27))
    name = HeaderText(name);
  else
    name = QuoteDisplayName(name);
  return name + " <" + CleanHeader(address.Address) + ">";
}

void TmsCustomEncoder::WriteHeaderLine(const std::string& text) {
  // Encoded words bring their own folds (CR LF and a blank); every physical
  // line longer than the limit is folded at its last blank within the limit,
  // else after its last ";" or "," (where structured fields allow a blank),
  // else at the limit itself: no line ever exceeds 998 octets.
  std::size_t start = 0;
  for (;;) {
    std::size_t e = text.find("\r\n", start);
    std::string rest = text.substr(start, e == std::string::npos ? std::string::npos : e - start);
    while (rest.size() > kMaxHeaderLine) {
      std::size_t b = rest.find_last_of(" \t", kMaxHeaderLine);
      if (b != std::string::npos && b > 1) {
        WriteLine(rest.substr(0, b));
        rest.erase(0, b);
        continue;
      }
      b = rest.find_last_of(";,", kMaxHeaderLine - 1);
      b = b != std::string::npos && b > 1 ? b + 1 : kMaxHeaderLine;
      WriteLine(rest.substr(0, b));
      rest = " " + rest.substr(b);
    }
    WriteLine(rest);
    if (e == std::string::npos) break;
    start = e + 2;
  }
}

void TmsCustomEncoder::WriteCustomHeaders(std::initializer_list<const char*> more) {
  TmsHeaders h = message_.Headers;
  for (const char* f :
       {"From", "To", "CC", "BCC", "Return-Receipt-To", "X-Priority", "Subject", "Mime-Version",
        "Content-Type", "X-Encoding", "Content-Transfer-Encoding", "Content-Disposition"})
    h.RemoveField(f);
  for (const char* f : more)
    h.RemoveField(f);
  for (const std::string& line : h)
    WriteHeaderLine(CleanHeader(line));
}

void TmsCustomEncoder::WriteHeaders() {
  WriteHeaderLine("From:     " + AddressText(message_.Sender));
  WriteCustomHeaders({});
  if (!message_.Subject.empty()) WriteHeaderLine("Subject: " + HeaderText(message_.Subject));
  if (message_.Encoding == meMIME) WriteLine("Mime-Version: 1.0");
}

void TmsMessageEncoder::WriteHeaders() {
  const TmsMessage& m = static_cast<const TmsMessage&>(message_);
  WriteHeaderLine("From:     " + AddressText(m.Sender));
  auto list = [&](const char* label, const TmsAddressList& l) {
    if (l.Count() == 0) return;
    std::string head = std::string(label) + ":";
    head.resize(10, ' ');
    for (int i = 0; i < l.Count(); ++i) {
      std::string line = (i == 0 ? head : std::string(10, ' ')) + AddressText(l.Items(i));
      if (i + 1 < l.Count()) line += ',';
      WriteHeaderLine(line);
    }
  };
  list("To", m.Recipients);
  list("CC", m.CC);
  if (m.ReturnReceipt) WriteLine("Return-Receipt-To: <" + CleanHeader(m.Sender.Address) + ">");
  if (m.Priority == ptLow) WriteLine("X-Priority: 5");
  if (m.Priority == ptHigh) WriteLine("X-Priority: 1");
  WriteCustomHeaders({});
  if (!m.Subject.empty()) WriteHeaderLine("Subject: " + HeaderText(m.Subject));
  if (m.Encoding == meMIME) WriteLine("Mime-Version: 1.0");
}

void TmsArticleEncoder::WriteHeaders() {
  const TmsArticle& a = static_cast<const TmsArticle&>(message_);
  WriteHeaderLine("From:     " + AddressText(a.Sender));
  WriteHeaderLine("Newsgroups: " + CleanHeader(a.NewsGroups));
  WriteCustomHeaders({"Newsgroups"});
  if (!a.Subject.empty()) WriteHeaderLine("Subject:  " + HeaderText(a.Subject));
  WriteLine("Mime-Version: 1.0");
}

// ------------------------------------------------------------------ bodies

void TmsCustomEncoder::Encode() {
  pending_.reserve(kFlushBytes + 4096);
  WriteHeaders();
  if (message_.Encoding == meUU) {
    EncodeUU();
    Flush();
    return;
  }
  const std::string ct = message_.ContentType();
  const int count = message_.Attachments.Count();
  if (ct == "multipart/mixed") {
    EncodeMultipart(false);
  } else if (ct == "multipart/alternative") {
    EncodeMultipart(true);
  } else if (count == 0) {
    if (ct == "text/html" || ct == "text/rtf")
      EncodeHtmlRtf(ct);
    else
      EncodeText();
  } else {
    EncodeSingleAttachment();
  }
  Flush();
}

void TmsCustomEncoder::TextPartHeaders() {
  WriteLine("Content-Type: text/plain; charset=\"" + BodyCharSetLabel(message_, charset_) + "\"");
  const bool qp = charset_ == csISO8859 || charset_ == csUTF8 || long_lines_;
  WriteLine(qp ? "Content-Transfer-Encoding: quoted-printable" : "Content-Transfer-Encoding: 7bit");
}

void TmsCustomEncoder::TextBodyLines() {
  if (charset_ != csISO8859 && charset_ != csUTF8 && !long_lines_) {
    for (const std::string& line : message_.Body)
      WriteLine(line);
    return;
  }
  WriteBodyQuotedPrintable();
}

void TmsCustomEncoder::WriteBodyQuotedPrintable() {
  // The lines joined by CR LF, encoded a piece at a time: a piece ends right
  // after a CR LF, so the encoded lines are those of the whole text.
  std::string piece;
  for (const std::string& line : message_.Body) {
    piece += line;
    piece += "\r\n";
    if (piece.size() >= kFlushBytes) {
      WriteQuotedPrintable(piece);
      piece.clear();
    }
  }
  WriteQuotedPrintable(piece);
}

void TmsCustomEncoder::WriteQuotedPrintable(std::string_view bytes) {
  while (!bytes.empty()) {
    std::size_t cut = bytes.size();
    if (cut > kFlushBytes) {
      const std::size_t e = bytes.find("\r\n", kFlushBytes);
      if (e != std::string_view::npos) cut = e + 2;
    }
    QuotedPrintableEncodeBlock(bytes.substr(0, cut), pending_);
    bytes.remove_prefix(cut);
    Flush();
  }
}

void TmsCustomEncoder::EncodeText() {
  TextPartHeaders();
  WriteLine("");
  TextBodyLines();
}

void TmsCustomEncoder::EncodeHtmlRtf(const std::string& type) {
  std::string line = type == "text/html" ? "Content-Type: text/html" : "Content-Type: text/rtf";
  if (!message_.DeclaredCharSet.empty() && message_.DeclaredCharSet != "us-ascii")
    line += "; charset=\"" + BodyCharSetLabel(message_, charset_) + "\"";
  else if (charset_ != csUSASCII)
    line += std::string("; charset=\"") + (charset_ == csUTF8 ? "utf-8" : "iso-8859-1") + "\"";
  WriteLine(line);
  WriteLine("Content-Transfer-Encoding: quoted-printable");
  WriteLine("");
  WriteBodyQuotedPrintable();
}

std::string TmsCustomEncoder::FileNameText(const TmsAttItem& item) const {
  return CleanHeader(ExtractFileName(item.FileName()));
}

void TmsCustomEncoder::EncodeSingleAttachment() {
  const TmsAttItem& item = message_.Attachments.Items(0);
  const bool htm = NameIs(item, "_htmbody.htm");
  const bool rtf = NameIs(item, "_rtfbody.rtf");
  const std::string name = FileNameText(item);
  const PartForm form = FormOf(item);
  if (htm)
    WriteLine("Content-Type: text/html");
  else if (rtf)
    WriteLine("Content-Type: text/rtf");
  else
    WriteHeaderLine("Content-Type: " + CleanHeader(form.type) + "; " +
                    FileNameParameter("name", name));
  WriteLine("Content-Transfer-Encoding: " + form.token);
  if (!htm && !rtf)
    WriteHeaderLine("Content-Disposition: attachment; " + FileNameParameter("filename", name));
  WriteLine("");
  WriteAttachmentData(item, form.kind);
}

void TmsCustomEncoder::WriteAttachmentData(const TmsAttItem& item, std::uint8_t kind) {
  switch (kind) {
    case ekBase64: {
      // Blocks of 57 bytes give lines of 76 characters; 1024 lines are written at once.
      constexpr std::size_t kChunk = 57 * 1024;
      for (std::size_t i = 0; i < item.Data.size(); i += kChunk) {
        EncodeBase64Block(item.Data.data() + i, std::min(kChunk, item.Data.size() - i), pending_);
        Flush();
        if ((i / kChunk) % 4 == 3) PumpMessages();
      }
      return;
    }
    case ekQuotedPrintable:
      WriteQuotedPrintable(item.Data);
      return;
    default: {
      // Lines as they are, a piece at a time (a piece ends after an LF).
      std::string_view rest = item.Data;
      while (!rest.empty()) {
        std::size_t cut = rest.size();
        if (cut > kFlushBytes) {
          const std::size_t lf = rest.find('\n', kFlushBytes);
          if (lf != std::string_view::npos) cut = lf + 1;
        }
        AppendCrLfLines(rest.substr(0, cut), pending_);
        rest.remove_prefix(cut);
        Flush();
      }
      return;
    }
  }
}

std::string TmsCustomEncoder::NewBoundary(const std::string& prefix) const {
  // A delimiter must not occur in any text the message carries as it is.
  for (;;) {
    std::string b = GenerateBoundary(prefix);
    std::string delimiter = "--" + b;
    bool clash = false;
    for (const std::string& line : message_.Body)
      if (line.find(delimiter) != std::string::npos) clash = true;
    for (int i = 0; i < message_.Attachments.Count() && !clash; ++i) {
      const TmsAttItem& item = message_.Attachments.Items(i);
      if (FormOf(item).kind != ekBase64 && item.Data.find(delimiter) != std::string::npos)
        clash = true;
    }
    if (!clash) return b;
  }
}

void TmsCustomEncoder::EncodeMultipart(bool alternative) {
  const TmsAttList& atts = message_.Attachments;
  bool htm = atts.Count() == 1 && message_.Body.empty() && NameIs(atts.Items(0), "_htmbody.htm");
  bool rtf = atts.Count() == 1 && message_.Body.empty() && NameIs(atts.Items(0), "_rtfbody.rtf");
  std::string b = NewBoundary("");
  std::string outer;
  WriteLine("Content-Type: " + message_.ContentType() + "; boundary=\"" + b + "\"");
  WriteLine("");
  WriteLine("This is a multipart message in MIME format");
  WriteLine("");
  WriteLine("--" + b);
  bool alt = atts.Count() > 0 && NameBeginsWithAlt(atts.Items(0));
  if (alt && !alternative) {
    outer = b;
    b = NewBoundary(b);
    WriteLine("Content-Type:  multipart/alternative; boundary=\"" + b + "\"");
    WriteLine("Content-Transfer-Encoding: 7bit");
    WriteLine("");
    WriteLine("--" + b);
  } else {
    alt = false;
  }
  if (!message_.Body.empty()) {
    TextPartHeaders();
    WriteLine("");
    TextBodyLines();
    WriteLine("");
    WriteLine("--" + b);
  }
  bool closed_alt = false;
  for (int i = 0; i < atts.Count(); ++i) {
    const TmsAttItem& item = atts.Items(i);
    if (i > 0) {
      // The empty line after the data already ends the previous part; another
      // one would become part of its content.
      if (closed_alt) WriteLine("");
      WriteLine("--" + b);
      htm = rtf = false;
      closed_alt = false;
    }
    const std::string name = FileNameText(item);
    const bool named = !(alternative || alt || htm || rtf) && !name.empty();
    const PartForm form = FormOf(item);
    std::string ct = "Content-Type: " + CleanHeader(form.type);
    // A text keeps the charset it was read in (an HTML alternative, a text file).
    if (IsCharSetToken(item.DeclaredCharSet) && AsciiLower(form.type).rfind("text/", 0) == 0)
      ct += "; charset=\"" + item.DeclaredCharSet + "\"";
    if (named) ct += "; " + FileNameParameter("name", name);
    WriteHeaderLine(ct);
    WriteLine("Content-Transfer-Encoding: " + form.token);
    if (named)
      WriteHeaderLine("Content-Disposition: attachment; " + FileNameParameter("filename", name));
    WriteLine("");
    WriteAttachmentData(item, form.kind);
    WriteLine("");
    if (i + 1 == atts.Count()) {
      WriteLine("--" + b + "--");
      if (alt) {
        WriteLine("");
        WriteLine("--" + outer + "--");
      }
    } else if (alt && !NameBeginsWithAlt(atts.Items(i + 1))) {
      // The alternatives end here; the following files go into the outer multipart.
      WriteLine("--" + b + "--");
      alt = false;
      closed_alt = true;
      b = outer;
    }
  }
}

void TmsCustomEncoder::EncodeUU() {
  WriteLine("");
  for (const std::string& line : message_.Body)
    WriteLine(line);
  for (int i = 0; i < message_.Attachments.Count(); ++i) {
    const TmsAttItem& item = message_.Attachments.Items(i);
    WriteLine("");
    WriteLine("begin 600 " + CleanHeader(ExtractFileName(item.FileName())));
    for (std::size_t p = 0; p < item.Data.size(); p += 45)
      WriteLine(EncodeUULine(item.Data.substr(p, 45)));
    WriteLine("`");
    WriteLine("end");
  }
}

}  // namespace ms
