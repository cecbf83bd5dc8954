#include "mail/msmsg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <memory>
#include <ostream>
#include <streambuf>

#include "mail/msexcept.h"
#include "mail/msmime.h"
#include "mail/mspars.h"

namespace ms {

namespace {

// The stream from its current position to its end: in one piece of the size
// it has when that is known (a file), then whatever may follow in blocks.
std::string ReadAll(std::istream& in) {
  std::string bytes;
  const std::istream::pos_type start = in.tellg();
  if (start != std::istream::pos_type(-1) && in.seekg(0, std::ios::end)) {
    const std::istream::pos_type stop = in.tellg();
    in.seekg(start);
    if (stop != std::istream::pos_type(-1) && stop > start) {
      bytes.resize(static_cast<std::size_t>(stop - start));
      in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      bytes.resize(static_cast<std::size_t>(in.gcount()));
    }
  }
  if (in.bad()) return bytes;
  in.clear();
  char block[65536];
  while (in.read(block, sizeof block) || in.gcount() > 0)
    bytes.append(block, static_cast<std::size_t>(in.gcount()));
  return bytes;
}

// A message file, read whole and kept open while it is decoded, so that bytes
// whose memory the decoder gave back can be read again.
class MessageFile {
 public:
  explicit MessageFile(const std::string& path) : path_(path) {
    do
      fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) throw EmsError("Cannot open file " + path);
  }
  ~MessageFile() { close(fd_); }
  MessageFile(const MessageFile&) = delete;
  MessageFile& operator=(const MessageFile&) = delete;

  // The whole file as it is now, however its size changes while it is read:
  // the whole file or an error, never a message cut short by a failing read.
  std::string ReadAll() {
    if (fstat(fd_, &read_as_) != 0) Fail();
    // Read through a small block, so that the bytes of the message are
    // written once, into room sized for them.
    constexpr std::size_t kBlock = 256 * 1024;
    const std::unique_ptr<char[]> block(new char[kBlock]);
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(std::max<off_t>(read_as_.st_size, 0)));
    for (;;) {
      const ssize_t n = read(fd_, block.get(), kBlock);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) Fail();
      if (n == 0) break;
      bytes.append(block.get(), static_cast<std::size_t>(n));
    }
    size_ = bytes.size();
    return bytes;
  }

  // Reads bytes again; false when the file is no longer the one first read.
  TRefill Refill() {
    return [this](std::size_t offset, char* dst, std::size_t size) {
      return Reread(offset, dst, size);
    };
  }

 private:
  [[noreturn]] void Fail() const { throw EmsError("Cannot read file " + path_); }

  bool Unchanged() const {
    struct stat now {};
    return fstat(fd_, &now) == 0 && now.st_size == read_as_.st_size &&
           static_cast<std::size_t>(now.st_size) == size_ &&
           now.st_mtim.tv_sec == read_as_.st_mtim.tv_sec &&
           now.st_mtim.tv_nsec == read_as_.st_mtim.tv_nsec;
  }

  bool Reread(std::size_t offset, char* dst, std::size_t size) const {
    if (!Unchanged() || offset > size_ || size > size_ - offset) return false;
    while (size > 0) {
      const ssize_t n = pread(fd_, dst, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      dst += n;
      offset += static_cast<std::size_t>(n);
      size -= static_cast<std::size_t>(n);
    }
    return Unchanged();
  }

  std::string path_;
  int fd_ = -1;
  struct stat read_as_ {};  // the file when it was first read
  std::size_t size_ = 0;    // bytes read then
};

// A stream buffer appending what is written to a string.
class StringSink : public std::streambuf {
 public:
  explicit StringSink(std::string& bytes) : bytes_(bytes) {}

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) bytes_ += traits_type::to_char_type(c);
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    bytes_.append(s, static_cast<std::size_t>(n));
    return n;
  }

 private:
  std::string& bytes_;
};

// Bytes of text once every byte that quoted-printable writes as "=XX" is
// counted three times.
std::size_t QuotedSize(const std::string& text) {
  std::size_t n = text.size();
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 32 || u == '=' || u >= 127) n += 2;
  }
  return n + n / 64 * 3;
}

// About the size of the encoded message, so that its bytes are seldom moved.
std::size_t EncodedSizeGuess(const TmsCustomMessage& m) {
  std::size_t n = 4096;
  for (const std::string& h : m.Headers)
    n += h.size() + 2;
  for (const std::string& line : m.Body)
    n += QuotedSize(line) + 2;
  for (int i = 0; i < m.Attachments.Count(); ++i) {
    const TmsAttItem& a = m.Attachments.Items(i);
    const std::size_t size = a.Data.size();
    if (a.EncodingKind == ekBase64)
      n += (size + 2) / 3 * 4 + (size + 56) / 57 * 2;
    else if (a.EncodingKind == ekQuotedPrintable)
      n += QuotedSize(a.Data);
    else
      n += size + size / 32;
    n += 1024;
  }
  return n;
}

bool NameBeginsWith(const TmsAttItem& item, const std::string& prefix) {
  return AsciiLower(ExtractFileName(item.FileName())).rfind(prefix, 0) == 0;
}

bool NameIs(const TmsAttItem& item, const std::string& name) {
  return AsciiLower(ExtractFileName(item.FileName())) == name;
}

}  // namespace

TmsCustomMessage::~TmsCustomMessage() = default;

std::string TmsCustomMessage::ContentType() const {
  if (Encoding == meUU) return "";
  const int count = Attachments.Count();
  if (count > 0) {
    bool all_alt = true;
    for (int i = 0; i < count && all_alt; ++i)
      all_alt = NameBeginsWith(Attachments.Items(i), "_alt.");
    if (all_alt) return content_type_ = "multipart/alternative";
  }
  if (count == 1 && Body.empty()) {
    if (NameIs(Attachments.Items(0), "_rtfbody.rtf")) return content_type_ = "text/rtf";
    if (NameIs(Attachments.Items(0), "_htmbody.htm")) return content_type_ = "text/html";
  }
  if (Body.empty()) {
    if (count == 1) return Attachments.Items(0).ContentType;
    if (count == 0) return "text/plain";
    return content_type_ = "multipart/mixed";
  }
  if (count > 0) return content_type_ = "multipart/mixed";
  return content_type_.empty() ? "text/plain" : content_type_;
}

void TmsCustomMessage::SetContentType(const std::string& type) {
  content_type_ = AsciiLower(type);
}

void TmsCustomMessage::CheckValid() const {
  if (Sender.Address.empty()) throw EMessageError("The address of sender is required");
}

void TmsCustomMessage::Clear() {
  Body.clear();
  Attachments.Clear();
  Sender = TmsMailAddress{};
  Headers.clear();
  Subject.clear();
  Encoding = meMIME;
  CharSet = csUSASCII;
  DeclaredCharSet.clear();
  content_type_.clear();
}

void TmsCustomMessage::ParseHeaders(const TmsHeaders& lines) {
  ParseAddressField(lines.GetRawFieldValue("FROM"), Sender);
  // The whole subject: a message read back from a file is sent as it was written.
  std::string subject = lines.GetFullFieldValue("Subject");
  if (!subject.empty()) Subject = subject;
  Headers = lines;
}

void TmsCustomMessage::LoadFromStream(std::istream& in) {
  DecodeRaw(ReadAll(in));
}

void TmsCustomMessage::DecodeRaw(std::string raw) {
  TmsCustomDecoder decoder(std::move(raw), *this);
  decoder.Decode();
}

void TmsCustomMessage::SaveToStream(std::ostream& out) {
  TmsCustomEncoder encoder(*this, out);
  encoder.Encode();
}

void TmsCustomMessage::LoadFromFile(const std::string& path) {
  Clear();
  MessageFile file(path);
  std::string bytes = file.ReadAll();
  // The decoder takes the refill over; an overridden DecodeRaw may leave it.
  source_refill_ = file.Refill();
  source_size_ = bytes.size();
  try {
    DecodeRaw(std::move(bytes));
  } catch (...) {
    source_refill_ = nullptr;
    throw;
  }
  source_refill_ = nullptr;
}

void TmsCustomMessage::LoadFromString(std::string bytes) {
  DecodeRaw(std::move(bytes));
}

void TmsCustomMessage::SaveToFile(const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw EmsError("Cannot create file " + path);
  SaveToStream(out);
  out.flush();
  if (!out) throw EmsError("Cannot write file " + path);
}

std::string TmsCustomMessage::SaveToString() {
  std::string bytes;
  bytes.reserve(EncodedSizeGuess(*this));
  StringSink sink(bytes);
  std::ostream out(&sink);
  SaveToStream(out);
  return bytes;
}

void TmsCustomMessage::SaveAttachment(int index, const std::string& folder) const {
  const TmsAttItem& item = Attachments.Items(index);
  std::string name = ExtractFileName(item.FileName());
  // A name from a message must not lead out of the folder.
  if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string::npos)
    throw EmsError("Invalid attachment file name");
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw EmsError("Cannot create file " + path);
  out.write(item.Data.data(), static_cast<std::streamsize>(item.Data.size()));
  out.flush();
  if (!out) throw EmsError("Cannot write file " + path);
}

// ------------------------------------------------------------- TmsMessage

void TmsMessage::CheckValid() const {
  TmsCustomMessage::CheckValid();
  auto any = [](const TmsAddressList& l) {
    for (int i = 0; i < l.Count(); ++i)
      if (!l.Items(i).Address.empty()) return true;
    return false;
  };
  if (!any(Recipients) && !any(CC) && !any(BCC))
    throw EMessageError("At least one Recipient, CC or BCC must be entered");
}

void TmsMessage::Clear() {
  TmsCustomMessage::Clear();
  Recipients.Clear();
  CC.Clear();
  BCC.Clear();
}

void TmsMessage::DecodeRaw(std::string raw) {
  TmsMessageDecoder decoder(std::move(raw), *this);
  decoder.Decode();
}

void TmsMessage::SaveToStream(std::ostream& out) {
  TmsMessageEncoder encoder(*this, out);
  encoder.Encode();
}

void TmsMessage::ParseHeaders(const TmsHeaders& lines) {
  ParseAddressField(lines.GetRawFieldValue("FROM"), Sender);
  lines.GetAddresses("TO", Recipients);
  lines.GetAddresses("CC", CC);
  lines.GetAddresses("BCC", BCC);
  // The whole subject: a message read back from a file is sent as it was written.
  std::string subject = lines.GetFullFieldValue("Subject");
  if (!subject.empty()) Subject = subject;
  std::string prio = lines.GetFieldValue("X-Priority");
  Priority = prio == "1" ? ptHigh : prio == "5" ? ptLow : ptNormal;
  if (!lines.GetFieldValue("Return-receipt-to").empty()) ReturnReceipt = true;
  Headers = lines;
}

// ------------------------------------------------------------- TmsArticle

void TmsArticle::CheckValid() const {
  TmsCustomMessage::CheckValid();
  if (Trim(NewsGroups).empty()) throw EMessageError("At least one newsgroup must be entered");
}

void TmsArticle::Clear() {
  TmsCustomMessage::Clear();
  NewsGroups.clear();
  MessageID.clear();
  Path.clear();
}

void TmsArticle::DecodeRaw(std::string raw) {
  TmsArticleDecoder decoder(std::move(raw), *this);
  decoder.Decode();
}

void TmsArticle::SaveToStream(std::ostream& out) {
  TmsArticleEncoder encoder(*this, out);
  encoder.Encode();
}

void TmsArticle::ParseHeaders(const TmsHeaders& lines) {
  TmsCustomMessage::ParseHeaders(lines);
  NewsGroups = lines.GetFullFieldValue("Newsgroups");
  MessageID = lines.GetFieldValue("Message-ID");
  Path = lines.GetFullFieldValue("Path");
}

}  // namespace ms
