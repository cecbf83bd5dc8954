#pragma once
// The in-memory model of one Internet mail message (and of a news article):
// sender, recipients, subject, text body lines, attachments and the raw header
// lines. A message decodes itself from its wire form (LoadFromStream) and
// encodes itself into it (SaveToStream). Streams are binary.

#include <iosfwd>
#include <string>

#include "mail/mslinestream.h"
#include "mail/msmsgcls.h"

namespace ms {

class TmsCustomDecoder;

class TmsCustomMessage {
 public:
  TmsMailAddress Sender;
  std::string Subject;
  TmsMsgEncoding Encoding = meMIME;
  TmsCharSet CharSet = csUSASCII;
  // The charset the body's Content-Type declared (lower case; empty when none was
  // given). Body holds the bytes as they are in it; the encoder labels the body
  // with it again.
  std::string DeclaredCharSet;
  TmsHeaders Headers;
  TmsStrings Body;
  TmsAttList Attachments;

  TmsCustomMessage() = default;
  TmsCustomMessage(const TmsCustomMessage&) = default;
  TmsCustomMessage& operator=(const TmsCustomMessage&) = default;
  virtual ~TmsCustomMessage();

  static const char* Version() { return "2.02"; }

  // The content type computed from the message's parts (what the encoder writes).
  std::string ContentType() const;
  // Stores the given type in lower case.
  void SetContentType(const std::string& type);
  // The stored content type as it is.
  const std::string& StoredContentType() const { return content_type_; }

  // Raises EMessageError when the sender address or every recipient is missing.
  virtual void CheckValid() const;
  virtual void Clear();
  // Decodes a raw message from the stream's current position to its end and
  // adds it to this message (call Clear first for a fresh message).
  virtual void LoadFromStream(std::istream& in);
  // Encodes the message into the stream at its current position (the message
  // itself: no dot-stuffing, which is the SMTP transport's job).
  virtual void SaveToStream(std::ostream& out);
  // Fills the fields from a block of header lines.
  virtual void ParseHeaders(const TmsHeaders& lines);

  // Clear, then LoadFromStream of the file; EmsError when it cannot be opened
  // or read (also when it changes while it is decoded and must be read again).
  void LoadFromFile(const std::string& path);
  void LoadFromString(std::string bytes);
  // Creates (or truncates) the file and writes the message; EmsError on failure.
  void SaveToFile(const std::string& path);
  std::string SaveToString();
  // Writes attachment Index's bytes to Folder + its file-name part.
  void SaveAttachment(int index, const std::string& folder) const;

 protected:
  // Decodes one raw message into this one (the decoder of the class).
  virtual void DecodeRaw(std::string raw);

  mutable std::string content_type_ = "text/plain";

 private:
  friend class TmsCustomDecoder;
  // While LoadFromFile decodes: reads bytes of the file again, so that the
  // decoder may give back the memory of what it has decoded; only for bytes of
  // the file's size as read (a DecodeRaw that changes them gets no refill).
  TRefill source_refill_;
  std::size_t source_size_ = 0;
};

class TmsMessage : public TmsCustomMessage {
 public:
  TmsAddressList Recipients, CC, BCC;
  bool ReturnReceipt = false;
  TmsPriority Priority = ptNormal;

  void CheckValid() const override;
  void Clear() override;
  void SaveToStream(std::ostream& out) override;
  void ParseHeaders(const TmsHeaders& lines) override;

 protected:
  void DecodeRaw(std::string raw) override;
};

// The news-article variant; the program itself does not use it.
class TmsArticle : public TmsCustomMessage {
 public:
  std::string NewsGroups;
  std::string MessageID;
  std::string Path;

  void CheckValid() const override;
  void Clear() override;
  void SaveToStream(std::ostream& out) override;
  void ParseHeaders(const TmsHeaders& lines) override;

 protected:
  void DecodeRaw(std::string raw) override;
};

}  // namespace ms
