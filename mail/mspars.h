#pragma once
// MIME decoding: one raw Internet message into a message object.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

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
  bool alternative_message_ = false;  // the message itself is multipart/alternative

 private:
  // One leaf part of a multipart message, decoded.
  struct Leaf {
    TmsAttItem item;           // bytes, content type, transfer kind, charset, file name
    std::string bare_type;     // the declared type in lower case
    bool is_file = false;      // named, or marked as an attachment
    bool alternative = false;  // without a name it is called "_alt." rather than "att."
    bool qp = false;           // its transfer encoding was quoted-printable
    bool may_be_body = false;  // a text without a file name
  };
  // Where the lines of a part stopped: at a delimiter of the multipart at Level
  // of boundaries_ (its closing one when Close), or at the end of the data (Level -1).
  struct Stop {
    int level = -1;
    bool close = false;
  };

  // Decodes one piece of source (whole lines) into Out.
  using BodyDecoder = std::function<void(std::string_view piece, std::string& out)>;
  // Decodes one piece of source (whole lines unless it is the last); false to stop.
  using PieceDecoder = std::function<bool(std::string_view piece, bool last)>;

  void ReadHeaders(TmsHeaders& headers);
  // Decodes the source from offset Start to End piece by piece, giving back the
  // memory of each piece once it is decoded; false when Decode stopped.
  bool DecodePieces(std::size_t start, std::size_t end, const PieceDecoder& decode);
  // Decodes the rest of the source from offset Start into the lines of the
  // body. With StopAtFile it stops, leaving the body as it was, and returns
  // false at a line that begins a uuencoded file.
  bool DecodeBodyLines(std::size_t start, bool stopAtFile, const BodyDecoder& decode);
  // Decodes the source from Start to End into Item's data by its transfer
  // kind (base64, quoted-printable or as it is); FinalLineBreak as for
  // QuotedPrintableDecodeText.
  void DecodeLeafPieces(TmsAttItem& item, std::size_t start, std::size_t end, bool finalLineBreak);
  void DecodeMime();
  void DecodeTextBody();
  void DecodePlain();
  void UUExtract(const std::string& beginLine);
  void DecodeSingleAttachment();
  void DecodeMultipart();
  // Reads the parts of the innermost open multipart; returns the leaf its text
  // body would come from (-1 for none).
  int DecodeParts(bool alternative, bool inAlternative, int depth, Stop& stop);
  // One nested multipart (its headers read): its leaves, or one raw leaf when it
  // cannot be entered. Returns its body leaf as DecodeParts does.
  int DecodeNested(const std::string& contentType, bool inAlternative, int depth, Stop& stop);
  // A leaf part (its headers read); MayBeBody false keeps it from being the body.
  int AddLeaf(bool inAlternative, bool directlyInAlternative, bool mayBeBody, Stop& stop);
  void ReadLeafData(Leaf& leaf, bool uue, Stop& stop);
  // Reads part headers; a delimiter inside them ends the part at once.
  bool ReadPartHeaders(Stop& stop);
  Stop MatchDelimiter(std::string_view line) const;
  // Reads the lines of a part up to a delimiter of an open multipart (or the
  // end); returns where the delimiter line begins (or the end of the data).
  std::size_t ScanPart(Stop& stop);
  // Skips lines up to a delimiter of an open multipart (or the end).
  Stop SkipToDelimiter();
  void TakeLeaves(int body);

  std::vector<std::string> boundaries_;  // delimiters ("--" + boundary) of the open multiparts
  std::vector<Leaf> leaves_;
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
