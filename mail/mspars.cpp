#include "mail/mspars.h"

#include <algorithm>
#include <bit>
#include <functional>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "mail/mscodec.h"
#include "mail/msexcept.h"
#include "mail/mspump.h"
#include "mail/msuucode.h"

namespace ms {

namespace {

std::string_view RightTrimBlanks(std::string_view s) {
  std::size_t e = s.size();
  while (e > 0 && (s[e - 1] == ' ' || s[e - 1] == '\t'))
    --e;
  return s.substr(0, e);
}

bool StartsWith(std::string_view s, std::string_view prefix) {
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

// Moves the whole lines at the front of Bytes to Lines, split as SplitLines
// splits them; what may still go on (the last line, a CR that an LF may
// follow) stays.
void TakeWholeLines(std::string& bytes, TmsStrings& lines) {
  const std::size_t n = bytes.size();
  std::size_t i = 0, taken = 0;
  while (i < n) {
    const std::size_t e =
        static_cast<std::size_t>(FindLineEnd(bytes.data() + i, bytes.data() + n) - bytes.data());
    if (e >= n || (bytes[e] == '\r' && e + 1 >= n)) break;
    lines.emplace_back(bytes, i, e - i);
    i = e + 1;
    if (bytes[e] == '\r' && bytes[i] == '\n') ++i;
    taken = i;
  }
  bytes.erase(0, taken);
}

bool IsUUBeginLine(std::string_view line) {
  return line.size() >= 9 && (line[0] == 'b' || line[0] == 'B') && IsUUBegin(std::string(line));
}

// The offset of the first line of Text at or after offset From that begins
// with a byte B for which (B | Fold) == C (lines end at CR LF, a lone CR or a
// lone LF); the size of Text when there is none.
std::size_t FindLineBeginning(std::string_view text, std::size_t from, char c, char fold) {
  const char* const s = text.data();
  const std::size_t n = text.size();
  auto begins_line = [s](std::size_t i) { return i == 0 || s[i - 1] == '\r' || s[i - 1] == '\n'; };
  std::size_t i = from;
#if defined(__SSE2__)
  // Sixteen bytes at a time: the wanted byte right after a CR or LF.
  const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
  const __m128i folding = _mm_set1_epi8(fold), wanted = _mm_set1_epi8(c);
  unsigned after_end = i < n && begins_line(i) ? 1 : 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    const auto ends = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(x, cr), _mm_cmpeq_epi8(x, lf))));
    const auto hits =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(x, folding), wanted)));
    const unsigned starts = hits & ((ends << 1) | after_end);
    if (starts != 0) return i + static_cast<std::size_t>(std::countr_zero(starts));
    after_end = ends >> 15;
  }
#endif
  for (; i < n; ++i)
    if ((s[i] | fold) == c && begins_line(i)) return i;
  return n;
}

// The line of Text that begins at offset I, without its line end.
std::string_view LineAt(std::string_view text, std::size_t i) {
  const char* const line = text.data() + i;
  return std::string_view(line, FindLineEnd(line, text.data() + text.size()) - line);
}

// True when a line of Text begins a uuencoded file.
bool HasUUBeginLine(std::string_view text) {
  for (std::size_t i = FindLineBeginning(text, 0, 'b', 0x20); i < text.size();
       i = FindLineBeginning(text, i + 1, 'b', 0x20)) {
    if (IsUUBeginLine(LineAt(text, i))) return true;
  }
  return false;
}

// Names an attachment without applying the type rule of SetFileName.
void SetNameKeepingType(TmsAttItem& item, const std::string& name) {
  std::string type = item.ContentType;
  std::uint8_t kind = item.EncodingKind;
  item.SetFileName(name);
  item.ContentType = type;
  item.EncodingKind = kind;
}

TmsCharSet CharSetOfLabel(const std::string& cs, TmsCharSet current) {
  if (EqualsNoCase(cs, "iso-2022-jp")) return csISO2022jp;
  if (EqualsNoCase(cs, "utf-8")) return csUTF8;
  return current;
}

TmsCharSet CharSetOf(const std::string& contentType, TmsCharSet current) {
  return CharSetOfLabel(GetHeaderParameter("charset", contentType), current);
}

// True when part headers name a file: a name, a file name, or the disposition "attachment".
bool NamesAFile(const std::string& contentType, const std::string& disposition) {
  return !GetHeaderParameter("name", contentType).empty() ||
         !GetHeaderParameter("filename", disposition).empty() ||
         StartsWith(AsciiLower(Trim(disposition)), "attachment");
}

// Parts are decoded in pieces of about this many bytes of source.
constexpr std::size_t kPiece = 256 * 1024;

// Room for a decoded part of about Size bytes, sized once; a small part is
// left to the codec.
void ReserveFor(std::string& out, std::size_t size) {
  if (size > kPiece) out.reserve(out.size() + size + kPiece);
}

// Nesting of multiparts, and leaf parts of one message, that are decoded; deeper
// or further parts are kept raw.
constexpr int kMaxDepth = 16;
constexpr std::size_t kMaxParts = 10000;

}  // namespace

TmsCustomDecoder::TmsCustomDecoder(std::string source, TmsCustomMessage& target)
    : source_(std::move(source)), target_(target) {
  if (source_.Size() == target.source_size_) source_.SetRefill(std::move(target.source_refill_));
  target.source_refill_ = nullptr;
}

TmsCustomDecoder::~TmsCustomDecoder() = default;

void TmsCustomDecoder::ApplyHeaders() {
  target_.ParseHeaders(main_headers_);
}

bool TmsCustomDecoder::DecodePieces(std::size_t start, std::size_t end,
                                    const PieceDecoder& decode) {
  std::string_view text = source_.View(start);
  text = text.substr(0, end > start ? end - start : 0);
  const std::size_t stop = start + text.size();
  // Each piece but the last ends after an LF, so that it holds whole lines.
  do {
    std::size_t cut = text.size();
    if (cut > kPiece) {
      const std::size_t lf = text.find('\n', kPiece);
      if (lf != std::string_view::npos) cut = lf + 1;
    }
    if (!decode(text.substr(0, cut), cut == text.size())) return false;
    text.remove_prefix(cut);
    source_.Release(stop - text.size());
    PumpMessages();
  } while (!text.empty());
  return true;
}

bool TmsCustomDecoder::DecodeBodyLines(std::size_t start, bool stopAtFile,
                                       const BodyDecoder& decode) {
  // The lines join the body only once all of them are decoded: an error
  // leaves the body as it was.
  TmsStrings lines;
  std::string bytes;
  const std::size_t size = source_.Size() - std::min(start, source_.Size());
  const bool whole = DecodePieces(start, source_.Size(), [&](std::string_view piece, bool) {
    if (stopAtFile && HasUUBeginLine(piece)) return false;
    decode(piece, bytes);
    const bool first = lines.empty();
    TakeWholeLines(bytes, lines);
    // Room for as many lines as the first piece promises, so that they are
    // seldom moved (at most one for every 16 bytes of source).
    if (first && !lines.empty() && piece.size() < size)
      lines.reserve(std::min(lines.size() * (size / piece.size() + 1), size / 16));
    return true;
  });
  if (!whole) return false;
  for (auto& l : SplitLines(bytes))
    lines.push_back(std::move(l));
  source_.Seek(source_.Size());
  if (target_.Body.empty()) {
    target_.Body.swap(lines);
  } else {
    for (auto& l : lines)
      target_.Body.push_back(std::move(l));
  }
  return true;
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
    // A text part is a file when it is named (by name, filename or filename*) or
    // marked as an attachment; the name "cc:Mail" is that mailer's label for its text.
    std::string name = GetHeaderParameter("name", ct);
    const std::string disposition = main_headers_.GetFullFieldValue("Content-Disposition");
    if (EqualsNoCase(name, "cc:Mail") || !NamesAFile(ct, disposition))
      DecodeTextBody();
    else
      DecodeSingleAttachment();
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
  target_.DeclaredCharSet = AsciiLower(GetHeaderParameter("charset", ct));

  bool uu = false;
  if (b64) {
    DecodeBodyLines(source_.Position(), false, [](std::string_view piece, std::string& bytes) {
      DecodeBase64LinesAppend(piece, bytes);
    });
  } else if (qp) {
    uu = !DecodeBodyLines(source_.Position(), true, [](std::string_view piece, std::string& bytes) {
      QuotedPrintableDecodeText(piece, bytes);
    });
  } else {
    TmsStrings lines;
    std::string_view view;
    while (!uu && source_.NextLine(view)) {
      uu = IsUUBeginLine(view);
      if (!uu) lines.emplace_back(view);
    }
    if (!uu) {
      for (auto& l : lines)
        target_.Body.push_back(std::move(l));
    }
  }
  if (uu) {
    // A uuencoded file inside a text body: read the message again as plain text.
    std::string line;
    source_.Reset();
    while (source_.ReadLine(line) && !line.empty()) {
    }
    main_headers_.RemoveField("MIME-VERSION");
    main_headers_.RemoveField("CONTENT-TYPE");
    main_headers_.RemoveField("CONTENT-TRANSFER-ENCODING");
    DecodePlain();
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
  item.DeclaredCharSet = AsciiLower(GetHeaderParameter("charset", ct));
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
  if (item.EncodingKind == ekBase64) {
    // The data ends at a line of a single dot, or at the end.
    const std::size_t start = source_.Position();
    std::size_t end = source_.Size();
    std::string_view line;
    std::size_t count = 0;
    for (;;) {
      const std::size_t before = source_.Position();
      if (!source_.NextLine(line)) break;
      if (line == ".") {
        end = before;
        break;
      }
      if (uue) AppendEncodedLine(std::string(line), true, item.Data);
      if (++count % 4096 == 0) PumpMessages();
    }
    if (!uue) DecodeLeafPieces(item, start, end, true);
  } else {
    DecodeLeafPieces(item, source_.Position(), source_.Size(), true);
    source_.Seek(source_.Size());
  }
  target_.Attachments.AddItem(std::move(item));
}

TmsCustomDecoder::Stop TmsCustomDecoder::MatchDelimiter(std::string_view line) const {
  if (line.size() < 2 || line[0] != '-' || line[1] != '-') return Stop{};
  // The innermost multipart first: an inner boundary may begin with an outer one.
  for (std::size_t k = boundaries_.size(); k-- > 0;) {
    const std::string& d = boundaries_[k];
    if (!StartsWith(line, d)) continue;
    const std::string_view rest = RightTrimBlanks(line.substr(d.size()));
    if (rest.empty()) return Stop{static_cast<int>(k), false};
    if (StartsWith(rest, "--")) return Stop{static_cast<int>(k), true};
  }
  return Stop{};
}

TmsCustomDecoder::Stop TmsCustomDecoder::SkipToDelimiter() {
  std::string line;
  while (source_.ReadLine(line)) {
    Stop s = MatchDelimiter(line);
    if (s.level >= 0) return s;
  }
  return Stop{};
}

bool TmsCustomDecoder::ReadPartHeaders(Stop& stop) {
  part_headers_.clear();
  std::string line;
  while (source_.ReadLine(line) && !line.empty()) {
    Stop s = MatchDelimiter(line);
    if (s.level >= 0) {
      stop = s;
      return false;
    }
    part_headers_.push_back(line);
  }
  return true;
}

void TmsCustomDecoder::DecodeMultipart() {
  std::string b = GetHeaderParameter("Boundary", main_headers_.GetFullFieldValue("Content-Type"));
  if (b.empty()) throw EMessageParserError("Cannot find boundary");
  boundaries_.assign(1, "--" + b);
  // The preamble ends at the first delimiter; a closing one does not open the parts.
  for (;;) {
    Stop s = SkipToDelimiter();
    if (s.level < 0) throw EMessageParserError("Cannot find boundary");
    if (!s.close) break;
  }
  Stop stop;
  int body = -1;
  try {
    body = DecodeParts(alternative_message_, alternative_message_, 1, stop);
  } catch (...) {
    // What was decoded before the error stays: the first text that could be
    // the body, and the files.
    boundaries_.clear();
    for (std::size_t i = 0; i < leaves_.size() && body < 0; ++i)
      if (leaves_[i].may_be_body) body = static_cast<int>(i);
    TakeLeaves(body);
    throw;
  }
  boundaries_.clear();
  TakeLeaves(body);
}

int TmsCustomDecoder::DecodeParts(bool alternative, bool inAlternative, int depth, Stop& stop) {
  const int level = static_cast<int>(boundaries_.size()) - 1;
  int body = -1;
  bool first = true;
  for (;;) {
    PumpMessages();
    int candidate = -1;
    if (leaves_.size() >= kMaxParts) {
      // Too many parts: the rest of the message is kept as it is, in one piece.
      Leaf rest;
      rest.item.ContentType = rest.bare_type = "text/plain";
      rest.item.Data = std::string(source_.View(source_.Position()));
      source_.Seek(source_.Size());
      leaves_.push_back(std::move(rest));
      stop = Stop{};
      return body;
    }
    Stop part_stop;
    const bool empty = !ReadPartHeaders(part_stop);  // a part cut off inside its headers
    if (!empty) {
      const std::string ct = part_headers_.GetFullFieldValue("Content-type");
      if (StartsWith(AsciiLower(FirstToken(ct)), "multipart/"))
        candidate = DecodeNested(ct, inAlternative, depth, part_stop);
      else
        candidate = AddLeaf(inAlternative, alternative, true, part_stop);
    }
    stop = part_stop;
    // The body: the first part's, or in an alternative the plain text if there is one.
    if (first) {
      body = candidate;
    } else if (alternative && candidate >= 0) {
      auto plain = [&](int i) {
        return leaves_[static_cast<std::size_t>(i)].bare_type == "text/plain";
      };
      if (body < 0 || (!plain(body) && plain(candidate))) body = candidate;
    }
    if (!empty) first = false;
    if (stop.level != level || stop.close) return body;
  }
}

int TmsCustomDecoder::DecodeNested(const std::string& ct, bool inAlternative, int depth,
                                   Stop& stop) {
  const std::string b = GetHeaderParameter("boundary", ct);
  if (b.empty() || depth >= kMaxDepth) return AddLeaf(inAlternative, false, false, stop);
  const int outer = static_cast<int>(boundaries_.size()) - 1;
  const std::size_t start = source_.Position();
  boundaries_.push_back("--" + b);
  Stop s = SkipToDelimiter();
  if (s.level != outer + 1) {
    // Never opened: what was read is one raw part.
    boundaries_.pop_back();
    source_.Seek(start);
    return AddLeaf(inAlternative, false, false, stop);
  }
  int body = -1;
  if (!s.close) {
    const bool alternative = AsciiLower(FirstToken(ct)) == "multipart/alternative";
    body = DecodeParts(alternative, inAlternative || alternative, depth + 1, s);
  }
  boundaries_.pop_back();
  // After its closing delimiter the epilogue runs to the next delimiter of an outer part.
  stop = s.level > outer ? SkipToDelimiter() : s;
  return body;
}

int TmsCustomDecoder::AddLeaf(bool inAlternative, bool directlyInAlternative, bool mayBeBody,
                              Stop& stop) {
  Leaf leaf;
  TmsAttItem& item = leaf.item;
  std::string ct = part_headers_.GetFullFieldValue("Content-type");
  if (ct.empty()) ct = "text/plain";
  const std::string bare = FirstToken(ct);
  leaf.bare_type = AsciiLower(bare);
  item.ContentType = bare;
  item.DeclaredCharSet = AsciiLower(GetHeaderParameter("charset", ct));
  const std::string disposition = part_headers_.GetFullFieldValue("Content-Disposition");
  std::string name = GetHeaderParameter("name", ct);
  if (name.empty()) name = GetHeaderParameter("filename", disposition);
  leaf.is_file = !name.empty() || NamesAFile(ct, disposition);
  if (!name.empty()) {
    item.SetFileName(name);
    // The declared type wins over a guess from the extension.
    if (!bare.empty() && !EqualsNoCase(bare, "application/octet-stream")) item.ContentType = bare;
  }
  const bool text = StartsWith(leaf.bare_type, "text/");
  leaf.alternative = directlyInAlternative || (inAlternative && text);
  const std::string cte = part_headers_.GetFieldValue("Content-Transfer-Encoding");
  bool uue = false;
  item.EncodingKind = KindOf(cte, uue);
  leaf.qp = item.EncodingKind == ekQuotedPrintable;
  ReadLeafData(leaf, uue, stop);
  // A text part (or an unnamed part not in base64) without a file name may be the body.
  leaf.may_be_body = mayBeBody && !leaf.is_file && (text || item.EncodingKind != ekBase64);
  leaves_.push_back(std::move(leaf));
  return leaves_.back().may_be_body ? static_cast<int>(leaves_.size()) - 1 : -1;
}

std::size_t TmsCustomDecoder::ScanPart(Stop& stop) {
  stop = Stop{};
  const std::size_t start = source_.Position();
  const std::string_view text = source_.View(start);
  // Only a line that begins with "-" may be a delimiter; the search pauses
  // now and then for the message pump.
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t limit = std::min(text.size(), i + 4 * kPiece);
    i = FindLineBeginning(text.substr(0, limit), i, '-', 0);
    if (i >= limit) {
      PumpMessages();
      continue;
    }
    if ((stop = MatchDelimiter(LineAt(text, i))).level >= 0) {
      // The delimiter line is read.
      std::string_view line;
      source_.Seek(start + i);
      source_.NextLine(line);
      return start + i;
    }
    ++i;
  }
  source_.Seek(source_.Size());
  return source_.Size();
}

void TmsCustomDecoder::ReadLeafData(Leaf& leaf, bool uue, Stop& stop) {
  TmsAttItem& item = leaf.item;
  stop = Stop{};
  try {
    if (uue) {
      std::string line;
      std::size_t count = 0;
      while (source_.ReadLine(line)) {
        if ((stop = MatchDelimiter(line)).level >= 0) break;
        AppendEncodedLine(line, true, item.Data);
        if (++count % 4096 == 0) PumpMessages();
      }
      return;
    }
    // The part is decoded straight from the source once its end is known.
    const std::size_t start = source_.Position();
    const std::size_t end = ScanPart(stop);
    // The line end before a delimiter belongs to the delimiter.
    DecodeLeafPieces(item, start, end, stop.level < 0);
  } catch (const EMessageParserError&) {
    throw;
  } catch (const std::exception&) {
    throw EMessageParserError("Error decoding the attachment");
  }
}

void TmsCustomDecoder::DecodeLeafPieces(TmsAttItem& item, std::size_t start, std::size_t end,
                                        bool finalLineBreak) {
  const std::size_t size = end > start ? end - start : 0;
  const std::uint8_t kind = item.EncodingKind;
  ReserveFor(item.Data, kind == ekBase64 ? size / 4 * 3 : size);
  DecodePieces(start, end, [&](std::string_view piece, bool last) {
    const bool lineBreak = finalLineBreak || !last;
    if (kind == ekBase64)
      DecodeBase64LinesAppend(piece, item.Data);
    else if (kind == ekQuotedPrintable)
      QuotedPrintableDecodeText(piece, item.Data, lineBreak);
    else
      AppendCrLfLines(piece, item.Data, lineBreak);
    return true;
  });
}

void TmsCustomDecoder::TakeLeaves(int body) {
  if (body >= 0) {
    Leaf& b = leaves_[static_cast<std::size_t>(body)];
    TmsCharSet cs = CharSetOfLabel(b.item.DeclaredCharSet, target_.CharSet);
    if (b.qp && cs != csUTF8) cs = csISO8859;
    target_.CharSet = cs;
    target_.DeclaredCharSet = b.item.DeclaredCharSet;
    target_.Body = SplitLines(b.item.Data);
    if (target_.Body.empty()) target_.Body.push_back("");
    // The type of a message whose only part is the body, and of an HTML body.
    if (leaves_.size() == 1 || b.bare_type == "text/html") target_.SetContentType(b.bare_type);
  }
  for (std::size_t i = 0; i < leaves_.size(); ++i) {
    if (static_cast<int>(i) == body) continue;
    Leaf& leaf = leaves_[i];
    if (leaf.item.FileName().empty()) {
      SetNameKeepingType(leaf.item, (leaf.alternative ? "_alt." : "att.") +
                                        std::to_string(target_.Attachments.Count()));
    }
    target_.Attachments.AddItem(std::move(leaf.item));
  }
  leaves_.clear();
}

}  // namespace ms
