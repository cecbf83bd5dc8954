#include "mail/msmime.h"

#include <algorithm>

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

// A display name that holds characters with a meaning in an address is quoted.
bool NeedsQuotes(const std::string& name) {
  return name.find('"') == std::string::npos &&
         name.find_first_of(".,;:<>@()[]\\") != std::string::npos;
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

TmsCustomEncoder::~TmsCustomEncoder() = default;

void TmsCustomEncoder::WriteLine(const std::string& text) {
  out_.write(text.data(), static_cast<std::streamsize>(text.size()));
  out_.write("\r\n", 2);
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
  if (!HasEightBit(clean)) return clean;
  return EncodeHeaderWords(clean, charset_ == csISO8859 ? "iso-8859-1" : "utf-8");
}

std::string TmsCustomEncoder::AddressText(const TmsMailAddress& address) const {
  std::string name = CleanHeader(address.Name);
  if (HasEightBit(name) || (!name.empty() && name[0] == 27))
    name = HeaderText(name);
  else if (NeedsQuotes(name))
    name = "\"" + name + "\"";
  return name + " <" + CleanHeader(address.Address) + ">";
}

void TmsCustomEncoder::WriteHeaderLine(const std::string& text) {
  // Encoded words bring their own folds (CR LF and a blank); every physical
  // line longer than the limit is folded at its last blank within the limit.
  std::size_t start = 0;
  for (;;) {
    std::size_t e = text.find("\r\n", start);
    std::string rest = text.substr(start, e == std::string::npos ? std::string::npos : e - start);
    while (rest.size() > kMaxHeaderLine) {
      std::size_t b = rest.find_last_of(" \t", kMaxHeaderLine);
      if (b == std::string::npos || b == 0) break;
      WriteLine(rest.substr(0, b));
      rest.erase(0, b);
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
  WriteHeaders();
  if (message_.Encoding == meUU) {
    EncodeUU();
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
}

void TmsCustomEncoder::TextPartHeaders() {
  WriteLine(std::string("Content-Type: text/plain; charset=\"") + CharSetLabel(charset_) + "\"");
  const bool qp = charset_ == csISO8859 || charset_ == csUTF8 || long_lines_;
  WriteLine(qp ? "Content-Transfer-Encoding: quoted-printable" : "Content-Transfer-Encoding: 7bit");
}

void TmsCustomEncoder::TextBodyLines() {
  if (charset_ != csISO8859 && charset_ != csUTF8 && !long_lines_) {
    for (const std::string& line : message_.Body)
      WriteLine(line);
    return;
  }
  TmsStrings lines;
  QuotedPrintableEncode(JoinLines(message_.Body), lines);
  for (const std::string& line : lines)
    WriteLine(line);
}

void TmsCustomEncoder::EncodeText() {
  TextPartHeaders();
  WriteLine("");
  TextBodyLines();
}

void TmsCustomEncoder::EncodeHtmlRtf(const std::string& type) {
  std::string line = type == "text/html" ? "Content-Type: text/html" : "Content-Type: text/rtf";
  if (charset_ != csUSASCII)
    line += std::string("; charset=\"") + (charset_ == csUTF8 ? "utf-8" : "iso-8859-1") + "\"";
  WriteLine(line);
  WriteLine("Content-Transfer-Encoding: quoted-printable");
  WriteLine("");
  TmsStrings lines;
  QuotedPrintableEncode(JoinLines(message_.Body), lines);
  for (const std::string& l : lines)
    WriteLine(l);
}

std::string TmsCustomEncoder::FileNameText(const TmsAttItem& item) const {
  return HeaderText(ExtractFileName(item.FileName()));
}

void TmsCustomEncoder::EncodeSingleAttachment() {
  const TmsAttItem& item = message_.Attachments.Items(0);
  const bool htm = NameIs(item, "_htmbody.htm");
  const bool rtf = NameIs(item, "_rtfbody.rtf");
  const std::string name = FileNameText(item);
  if (htm)
    WriteLine("Content-Type: text/html");
  else if (rtf)
    WriteLine("Content-Type: text/rtf");
  else
    WriteHeaderLine("Content-Type: " + CleanHeader(item.ContentType) + "; name=\"" + name + "\"");
  WriteLine(std::string("Content-Transfer-Encoding: ") + EncodingKindName(item.EncodingKind));
  if (!htm && !rtf) WriteHeaderLine("Content-Disposition: attachment; filename=\"" + name + "\"");
  WriteLine("");
  WriteAttachmentData(item);
}

void TmsCustomEncoder::WriteAttachmentData(const TmsAttItem& item) {
  TmsStrings lines;
  switch (item.EncodingKind) {
    case ekBase64: {
      // Blocks of 57 bytes give lines of 76 characters.
      std::string line;
      for (std::size_t i = 0; i < item.Data.size(); i += 57) {
        line.clear();
        EncodeBase64Append(item.Data.data() + i, std::min<std::size_t>(57, item.Data.size() - i),
                           line);
        WriteLine(line);
        if ((i / 57) % 4096 == 4095) PumpMessages();
      }
      return;
    }
    case ekQuotedPrintable:
      QuotedPrintableEncode(item.Data, lines);
      break;
    default:
      lines = SplitLines(item.Data);
      break;
  }
  for (const std::string& line : lines)
    WriteLine(line);
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
      if (item.EncodingKind != ekBase64 && item.Data.find(delimiter) != std::string::npos)
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
    std::string ct = "Content-Type: " + CleanHeader(item.ContentType);
    if (named) ct += "; name=\"" + name + "\"";
    WriteHeaderLine(ct);
    WriteLine(std::string("Content-Transfer-Encoding: ") + EncodingKindName(item.EncodingKind));
    if (named) WriteHeaderLine("Content-Disposition: attachment; filename=\"" + name + "\"");
    WriteLine("");
    WriteAttachmentData(item);
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
