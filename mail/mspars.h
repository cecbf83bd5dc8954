#pragma once
// MIME decoding: one raw Internet message into a message object.

#include <string>

#include "mail/mslinestream.h"
#include "mail/msmsg.h"

namespace ms {

// Decodes a raw message (headers, text body, attachments) into its target.
// Once the headers are read nothing fails outward: a decoding error is written
// into the body and the raw message is attached as "original.eml".
class TmsCustomDecoder {
 public:
  TmsCustomDecoder(std::string source, TmsCustomMessage& target);
  virtual ~TmsCustomDecoder();
  TmsCustomDecoder(const TmsCustomDecoder&) = delete;
  TmsCustomDecoder& operator=(const TmsCustomDecoder&) = delete;

  void Decode();

 protected:
  // Hands the main headers to the target.
  virtual void ApplyHeaders();

  TLineStream source_;
  TmsHeaders main_headers_;
  TmsHeaders part_headers_;
  TmsCustomMessage& target_;
  std::string boundary_;
  bool in_alternative_ = false;
  std::string outer_boundary_;
  bool alternative_message_ = false;
  bool first_part_pending_ = false;  // the first part is read by DecodeParts
  std::string last_delimiter_;       // the delimiter line SkipTo stopped at

 private:
  void ReadHeaders(TmsHeaders& headers);
  void DecodeMime();
  void DecodeTextBody();
  void DecodePlain();
  void UUExtract(const std::string& beginLine);
  void DecodeSingleAttachment();
  void DecodeMultipart();
  bool DecodeFirstPart();
  void DecodeParts();
  bool SkipTo(const std::string& delimiter, bool prefix);
  // Reads the lines of one part up to a delimiter; returns the delimiter line
  // (blanks at its end removed), or an empty text when the data ended first.
  std::string ReadPartLines(TmsStrings& lines, bool prefixMatch);
  bool IsDelimiter(const std::string& line, bool prefixMatch) const;
};

class TmsMessageDecoder : public TmsCustomDecoder {
 public:
  TmsMessageDecoder(std::string source, TmsMessage& target)
      : TmsCustomDecoder(std::move(source), target) {}
};

class TmsArticleDecoder : public TmsCustomDecoder {
 public:
  TmsArticleDecoder(std::string source, TmsArticle& target)
      : TmsCustomDecoder(std::move(source), target) {}
};

}  // namespace ms
