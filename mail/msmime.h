#pragma once
// MIME encoding: a message object into its wire form.

#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>

#include "mail/msmsg.h"

namespace ms {

class TmsCustomEncoder {
 public:
  TmsCustomEncoder(TmsCustomMessage& message, std::ostream& out);
  virtual ~TmsCustomEncoder();
  TmsCustomEncoder(const TmsCustomEncoder&) = delete;
  TmsCustomEncoder& operator=(const TmsCustomEncoder&) = delete;

  void Encode();

 protected:
  // The header block up to (not including) the Content-Type lines.
  virtual void WriteHeaders();
  // Writes the text followed by CR LF.
  void WriteLine(std::string_view text);
  // Hands what was written so far to the stream (done after every 64 KiB).
  void Flush();
  // A header value with CR, LF and NUL replaced by blanks.
  static std::string CleanHeader(const std::string& value);
  // Header text: encoded words when it holds bytes above 127.
  std::string HeaderText(const std::string& text) const;
  // An address as written in From, To and CC: name <address>.
  std::string AddressText(const TmsMailAddress& address) const;
  // The remaining custom header lines, after removing the fields the encoder
  // writes (and the fields More).
  void WriteCustomHeaders(std::initializer_list<const char*> more);
  // A header line, folded at blanks when longer than 998 octets.
  void WriteHeaderLine(const std::string& text);

  TmsCustomMessage& message_;
  std::ostream& out_;
  std::string pending_;  // written, not yet handed to the stream
  bool long_lines_ = false;
  TmsCharSet charset_ = csUSASCII;  // the charset the text is labelled with

 private:
  void TextPartHeaders();
  void TextBodyLines();
  // The body lines, each followed by CR LF, in quoted-printable.
  void WriteBodyQuotedPrintable();
  // Bytes in quoted-printable.
  void WriteQuotedPrintable(std::string_view bytes);
  void EncodeText();
  void EncodeHtmlRtf(const std::string& type);
  void EncodeSingleAttachment();
  void EncodeMultipart(bool alternative);
  void EncodeUU();
  // The attachment's bytes in the transfer kind Kind.
  void WriteAttachmentData(const TmsAttItem& item, std::uint8_t kind);
  std::string FileNameText(const TmsAttItem& item) const;
  std::string NewBoundary(const std::string& prefix) const;
};

class TmsMessageEncoder : public TmsCustomEncoder {
 public:
  TmsMessageEncoder(TmsMessage& message, std::ostream& out) : TmsCustomEncoder(message, out) {}

 protected:
  void WriteHeaders() override;
};

class TmsArticleEncoder : public TmsCustomEncoder {
 public:
  TmsArticleEncoder(TmsArticle& message, std::ostream& out) : TmsCustomEncoder(message, out) {}

 protected:
  void WriteHeaders() override;
};

}  // namespace ms
