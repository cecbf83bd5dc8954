#pragma once
// Inputs of the side-by-side MIME benchmarks, written by Vigilo's own encoder.

#include <string>
#include <vector>

#include "bench/mime_bench_data.h"

namespace bench {

// A message with four base64 attachments of random bytes; at 9 MiB each, about 48.6 MB.
inline std::string Base64Message(std::size_t fileBytes = 9 << 20) {
  ms::TmsMessage m = BaseMessage();
  m.Body = {"See the attached files."};
  for (int i = 0; i < 4; ++i) {
    ms::TmsAttItem a;
    a.SetFileName("file" + std::to_string(i) + ".bin");
    a.ContentType = "application/octet-stream";
    a.EncodingKind = ms::ekBase64;
    a.Data = RandomBytes(fileBytes);
    m.Attachments.AddItem(std::move(a));
  }
  return m.SaveToString();
}

// A quoted-printable UTF-8 text body of about 20 MB on the wire.
inline std::string QuotedPrintableMessage() {
  ms::TmsMessage m = BaseMessage();
  m.Body = TextLines(14 << 20);
  return m.SaveToString();
}

// Small messages of a few kilobytes: plain text, quoted-printable text, and
// text with a small base64 file, in turn.
inline std::vector<std::string> SmallMessages(std::size_t count) {
  std::vector<std::string> all;
  all.reserve(count);
  const std::string file = RandomBytes(3000);
  for (std::size_t i = 0; i < count; ++i) {
    ms::TmsMessage m = BaseMessage();
    m.Subject = "Message " + std::to_string(i);
    if (i % 3 == 0) {
      m.Body = {"Hello,", "", "the report is ready.", "", "-- ", "Ivan"};
    } else {
      m.Body = TextLines(1500);
    }
    if (i % 3 == 2) {
      ms::TmsAttItem a;
      a.SetFileName("report.bin");
      a.ContentType = "application/octet-stream";
      a.EncodingKind = ms::ekBase64;
      a.Data = file;
      m.Attachments.AddItem(std::move(a));
    }
    all.push_back(m.SaveToString());
  }
  return all;
}

// Bytes of the attachment the encoding benchmarks send.
inline constexpr std::size_t kAttachmentBytes = 24u << 20;

inline ms::TmsMessage AttachmentMessage(std::string bytes) {
  ms::TmsMessage m = BaseMessage();
  ms::TmsAttItem a;
  a.SetFileName("big.bin");
  a.ContentType = "application/octet-stream";
  a.EncodingKind = ms::ekBase64;
  a.Data = std::move(bytes);
  m.Attachments.AddItem(std::move(a));
  return m;
}

}  // namespace bench
