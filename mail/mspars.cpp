#include "mail/mspars.h"

#include "mail/mscodec.h"
#include "mail/msexcept.h"
#include "mail/mspump.h"
#include "mail/msuucode.h"

namespace ms {

namespace {

std::string RightTrimBlanks(const std::string& s) {
  std::size_t e = s.size();
  while (e > 0 && (s[e - 1] == ' ' || s[e - 1] == '\t'))
    --e;
  return s.substr(0, e);
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// Transfer kind and uuencode flag of a Content-Transfer-Encoding value.
std::uint8_t KindOf(const std::string& encoding, bool& uue) {
  std::string e = AsciiLower(encoding);
  uue = false;
  if (e == "base64") return ekBase64;
  if (StartsWith(e, "x-uue")) {
    uue = true;
    return ekBase64;
  }
  if (e == "quoted-printable") return ekQuotedPrintable;
  return ekSevenBit;
}

// Appends the bytes of one line of base64 or uuencoded data.
void AppendEncodedLine(const std::string& line, bool uue, std::string& data) {
  if (line.empty()) return;
  if (uue) {
    if (IsUUBegin(line) || line == "`" || EqualsNoCase(line, "end")) return;
    data += DecodeUULine(line);
  } else {
    DecodeBase64Append(line, data);
  }
}

// Lines of a body part to bytes. The line end before a delimiter belongs to
// the delimiter, so the last line gets none.
std::string JoinPartLines(const TmsStrings& lines) {
  std::string r;
  std::size_t total = 0;
  for (const auto& l : lines)
    total += l.size() + 2;
  r.reserve(total);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) r += "\r\n";
    r += lines[i];
  }
  return r;
}

// Names an attachment without applying the type rule of SetFileName.
void SetNameKeepingType(TmsAttItem& item, const std::string& name) {
  std::string type = item.ContentType;
  std::uint8_t kind = item.EncodingKind;
  item.SetFileName(name);
  item.ContentType = type;
  item.EncodingKind = kind;
}

TmsCharSet CharSetOf(const std::string& contentType, TmsCharSet current) {
  std::string cs = GetHeaderParameter("charset", contentType);
  if (EqualsNoCase(cs, "iso-2022-jp")) return csISO2022jp;
  if (EqualsNoCase(cs, "utf-8")) return csUTF8;
  return current;
}

}  // namespace

TmsCustomDecoder::TmsCustomDecoder(std::string source, TmsCustomMessage& target)
    : source_(std::move(source)), target_(target) {}

TmsCustomDecoder::~TmsCustomDecoder() = default;

void TmsCustomDecoder::ApplyHeaders() {
  target_.ParseHeaders(main_headers_);
}

void TmsCustomDecoder::ReadHeaders(TmsHeaders& headers) {
  headers.clear();
  std::string line;
  while (source_.ReadLine(line) && !line.empty())
    headers.push_back(line);
}

void TmsCustomDecoder::Decode() {
  ReadHeaders(main_headers_);
  ApplyHeaders();
  try {
    if (main_headers_.GetFieldValue("MIME-VERSION").find("1.0") == std::string::npos)
      DecodePlain();
    else
      DecodeMime();
  } catch (const std::exception& e) {
    target_.Body.push_back("The following error has been occured while processing the message:");
    target_.Body.push_back(e.what());
    target_.Body.push_back("The original message will be stored as an attachment");
    TmsAttItem original;
    original.SetFileName("original.eml");
    original.ContentType = "message/rfc822";
    original.EncodingKind = ekSevenBit;
    original.Data = source_.Data();
    target_.Attachments.AddItem(std::move(original));
  }
}

void TmsCustomDecoder::DecodeMime() {
  if (main_headers_.GetFieldValue("X-Mailer") == "V Mailsystem R #0001")
    main_headers_.RemoveField("Content-Type");
  const std::string ct = AsciiLower(main_headers_.GetFullFieldValue("Content-type"));
  if (ct.find("multipart/alternative") != std::string::npos) {
    alternative_message_ = true;
    DecodeMultipart();
  } else if (ct.find("multipart") != std::string::npos) {
    DecodeMultipart();
  } else if (!ct.empty() && ct.find("text/") == std::string::npos) {
    DecodeSingleAttachment();
  } else {
    std::string name = GetHeaderParameter("name", ct);
    if (!name.empty() && !EqualsNoCase(name, "cc:Mail"))
      DecodeSingleAttachment();
    else
      DecodeTextBody();
  }
}

void TmsCustomDecoder::DecodeTextBody() {
  const std::string ct = main_headers_.GetFullFieldValue("Content-Type");
  const std::string bare = AsciiLower(FirstToken(ct));
  if (bare == "text/html" || bare == "text/rtf") target_.SetContentType(bare);
  const std::string cte = AsciiLower(main_headers_.GetFieldValue("Content-Transfer-Encoding"));
  const bool qp =
      cte == "quoted-printable" ||
      AsciiLower(main_headers_.GetFieldValue("X-MIME-Autoconverted")).find("quoted-printable") !=
          std::string::npos;
  const bool b64 = cte == "base64";
  TmsCharSet cs = CharSetOf(ct, target_.CharSet);
  if (qp && cs != csUTF8) cs = csISO8859;
  target_.CharSet = cs;

  std::string line;
  if (!b64) {
    TmsStrings lines;
    bool uu = false;
    while (source_.ReadLine(line)) {
      if (IsUUBegin(line)) {
        uu = true;
        break;
      }
      lines.push_back(line);
    }
    if (uu) {
      // A uuencoded file inside a text body: read the message again as plain text.
      source_.Reset();
      while (source_.ReadLine(line) && !line.empty()) {
      }
      main_headers_.RemoveField("MIME-VERSION");
      main_headers_.RemoveField("CONTENT-TYPE");
      main_headers_.RemoveField("CONTENT-TRANSFER-ENCODING");
      DecodePlain();
      return;
    }
    if (qp) {
      std::string bytes;
      QuotedPrintableDecode(lines, bytes);
      for (auto& l : SplitLines(bytes))
        target_.Body.push_back(std::move(l));
    } else {
      for (auto& l : lines)
        target_.Body.push_back(std::move(l));
    }
  } else {
    std::string bytes;
    std::size_t count = 0;
    while (source_.ReadLine(line)) {
      if (!line.empty()) DecodeBase64Append(line, bytes);
      if (++count % 4096 == 0) PumpMessages();
    }
    for (auto& l : SplitLines(bytes))
      target_.Body.push_back(std::move(l));
  }
}

void TmsCustomDecoder::DecodePlain() {
  std::string line;
  while (source_.ReadLine(line)) {
    if (IsUUBegin(line)) {
      // The blank line that separates a file from the text before it.
      if (!target_.Body.empty() && target_.Body.back().empty()) target_.Body.pop_back();
      UUExtract(line);
      target_.Encoding = meUU;
    } else {
      target_.Body.push_back(line);
    }
  }
}

void TmsCustomDecoder::UUExtract(const std::string& beginLine) {
  TmsAttItem item;
  std::string name = UUFileName(beginLine);
  item.SetFileName(name.empty() ? "att." + std::to_string(target_.Attachments.Count()) : name);
  std::string line;
  bool backquote = false;
  std::size_t count = 0;
  while (source_.ReadLine(line)) {
    if (line == "`") {
      backquote = true;
      break;
    }
    if (EqualsNoCase(line, "end")) break;
    if (!line.empty()) item.Data += DecodeUULine(line);
    if (++count % 4096 == 0) PumpMessages();
  }
  target_.Attachments.AddItem(std::move(item));
  // The "end" line after the closing backquote.
  if (backquote) {
    std::size_t pos = source_.Position();
    if (source_.ReadLine(line) && !EqualsNoCase(line, "end")) source_.Seek(pos);
  }
}

void TmsCustomDecoder::DecodeSingleAttachment() {
  const std::string ct = main_headers_.GetFullFieldValue("Content-type");
  if (ct.empty()) throw EMessageParserError("Missing required field: Content-Type");
  TmsAttItem item;
  const std::string bare = FirstToken(ct);
  item.ContentType = bare;
  std::string name = GetHeaderParameter("name", ct);
  if (!name.empty()) {
    item.SetFileName(name);
    item.ContentType = bare;
  }
  bool uue = false;
  item.EncodingKind = KindOf(main_headers_.GetFieldValue("Content-Transfer-Encoding"), uue);
  if (item.FileName().empty()) {
    name = GetHeaderParameter("filename", main_headers_.GetFullFieldValue("Content-Disposition"));
    if (name.empty()) name = "att." + std::to_string(target_.Attachments.Count());
    SetNameKeepingType(item, name);
  }
  std::string line;
  if (item.EncodingKind == ekBase64) {
    std::size_t count = 0;
    while (source_.ReadLine(line) && line != ".") {
      AppendEncodedLine(line, uue, item.Data);
      if (++count % 4096 == 0) PumpMessages();
    }
  } else if (item.EncodingKind == ekSevenBit) {
    while (source_.ReadLine(line)) {
      item.Data += line;
      item.Data += "\r\n";
    }
  } else {
    TmsStrings lines;
    while (source_.ReadLine(line))
      lines.push_back(line);
    QuotedPrintableDecode(lines, item.Data);
  }
  target_.Attachments.AddItem(std::move(item));
}

bool TmsCustomDecoder::IsDelimiter(const std::string& line, bool prefixMatch) const {
  if (!StartsWith(line, boundary_)) return false;
  if (prefixMatch) return true;
  std::string t = RightTrimBlanks(line);
  return t == boundary_ || t == boundary_ + "--";
}

std::string TmsCustomDecoder::ReadPartLines(TmsStrings& lines, bool prefixMatch) {
  std::string line;
  std::size_t count = 0;
  while (source_.ReadLine(line)) {
    if (IsDelimiter(line, prefixMatch)) return RightTrimBlanks(line);
    lines.push_back(line);
    if (++count % 4096 == 0) PumpMessages();
  }
  return std::string();
}

bool TmsCustomDecoder::SkipTo(const std::string& delimiter, bool prefix) {
  std::string line;
  while (source_.ReadLine(line)) {
    std::string t = RightTrimBlanks(line);
    if (prefix ? StartsWith(t, delimiter) : t == delimiter) {
      last_delimiter_ = t;
      return true;
    }
  }
  return false;
}

void TmsCustomDecoder::DecodeMultipart() {
  std::string b = GetHeaderParameter("Boundary", main_headers_.GetFullFieldValue("Content-Type"));
  if (b.empty()) throw EMessageParserError("Cannot find boundary");
  boundary_ = "--" + b;
  if (!SkipTo(boundary_, false)) throw EMessageParserError("Cannot find boundary");
  if (DecodeFirstPart()) DecodeParts();
}

bool TmsCustomDecoder::DecodeFirstPart() {
  ReadHeaders(part_headers_);
  std::string ct = part_headers_.GetFullFieldValue("Content-Type");
  target_.CharSet = CharSetOf(ct, target_.CharSet);
  if (AsciiLower(ct).find("multipart/alternative") != std::string::npos) {
    in_alternative_ = true;
    outer_boundary_ = boundary_;
    std::string b = GetHeaderParameter("boundary", ct);
    if (b.empty()) throw EMessageParserError("Cannot find boundary");
    boundary_ = "--" + b;
    if (!SkipTo(boundary_, false)) throw EMessageParserError("Cannot find boundary");
    ReadHeaders(part_headers_);
    ct = part_headers_.GetFullFieldValue("Content-Type");
    target_.CharSet = CharSetOf(ct, target_.CharSet);
  }
  const std::string cte = AsciiLower(part_headers_.GetFieldValue("Content-Transfer-Encoding"));
  // A base64 part (other than ISO-2022-JP text) and a part that is plainly a
  // file are left to DecodeParts as the first attachment.
  const std::string disposition =
      AsciiLower(part_headers_.GetFullFieldValue("Content-Disposition"));
  const bool is_file = StartsWith(Trim(disposition), "attachment") ||
                       !GetHeaderParameter("name", ct).empty() ||
                       !GetHeaderParameter("filename", disposition).empty();
  if ((cte == "base64" && target_.CharSet != csISO2022jp) || is_file) {
    first_part_pending_ = true;
    return true;
  }
  target_.Body.clear();
  const bool qp = cte == "quoted-printable";
  const bool b64 = cte == "base64";
  if (qp && target_.CharSet != csUTF8) target_.CharSet = csISO8859;
  TmsStrings lines;
  const std::string end = ReadPartLines(lines, false);
  if (qp) {
    std::string bytes;
    QuotedPrintableDecode(lines, bytes, false);
    target_.Body = SplitLines(bytes);
  } else if (b64) {
    std::string bytes;
    for (const auto& l : lines)
      if (!l.empty()) DecodeBase64Append(l, bytes);
    target_.Body = SplitLines(bytes);
  } else {
    // The line end before the delimiter belongs to the delimiter.
    if (!lines.empty() && !end.empty() && lines.back().empty()) lines.pop_back();
    target_.Body = std::move(lines);
  }
  if (target_.Body.empty()) target_.Body.push_back("");

  if (end.empty()) return false;  // no closing delimiter: the part runs to the end
  if (end == boundary_ + "--") {
    if (in_alternative_) {
      // Only a text alternative: go on with the outer multipart.
      in_alternative_ = false;
      boundary_ = outer_boundary_;
      if (!SkipTo(boundary_, true)) return false;
      return last_delimiter_ != boundary_ + "--";
    }
    target_.SetContentType(AsciiLower(FirstToken(ct)));
    return false;
  }
  return true;
}

void TmsCustomDecoder::DecodeParts() {
  for (;;) {
    PumpMessages();
    if (first_part_pending_)
      first_part_pending_ = false;
    else
      ReadHeaders(part_headers_);
    TmsAttItem item;
    std::string ct = part_headers_.GetFullFieldValue("Content-type");
    if (ct.empty()) ct = "text/plain";
    const std::string bare = FirstToken(ct);
    item.ContentType = bare;
    std::string name = GetHeaderParameter("name", ct);
    if (!name.empty()) {
      item.SetFileName(name);
      // The declared type wins over a guess from the extension.
      if (!bare.empty() && !EqualsNoCase(bare, "application/octet-stream")) item.ContentType = bare;
    }
    bool uue = false;
    item.EncodingKind = KindOf(part_headers_.GetFieldValue("Content-Transfer-Encoding"), uue);
    if (item.FileName().empty()) {
      name = GetHeaderParameter("filename", part_headers_.GetFullFieldValue("Content-Disposition"));
      if (!name.empty()) {
        std::uint8_t kind = item.EncodingKind;
        item.SetFileName(name);
        item.EncodingKind = kind;
        if (!bare.empty() && !EqualsNoCase(bare, "application/octet-stream"))
          item.ContentType = bare;
      } else {
        SetNameKeepingType(item, (in_alternative_ || alternative_message_ ? "_alt." : "att.") +
                                     std::to_string(target_.Attachments.Count()));
      }
    }

    std::string end;
    try {
      if (item.EncodingKind == ekBase64) {
        std::string line;
        std::size_t count = 0;
        while (source_.ReadLine(line)) {
          if (IsDelimiter(line, true)) {
            end = RightTrimBlanks(line);
            break;
          }
          AppendEncodedLine(line, uue, item.Data);
          if (++count % 4096 == 0) PumpMessages();
        }
      } else {
        TmsStrings lines;
        end = ReadPartLines(lines, true);
        if (item.EncodingKind == ekSevenBit) {
          item.Data = end.empty() ? JoinLines(lines) : JoinPartLines(lines);
        } else {
          QuotedPrintableDecode(lines, item.Data, end.empty());
        }
      }
    } catch (const EMessageParserError&) {
      throw;
    } catch (const std::exception&) {
      throw EMessageParserError("Error decoding the attachment");
    }
    target_.Attachments.AddItem(std::move(item));

    bool done = end.empty() || end == boundary_ + "--";
    if (!done) continue;
    if (end.empty() || !in_alternative_) return;
    // The nested alternative is closed: back to the outer multipart.
    in_alternative_ = false;
    boundary_ = outer_boundary_;
    if (!SkipTo(boundary_, true)) throw EMessageParserError("Cannot find closing boundary");
    if (last_delimiter_ == boundary_ + "--") return;
  }
}

}  // namespace ms
