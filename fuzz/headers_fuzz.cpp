// Fuzz target: the header routines over arbitrary header lines.

#include <cstddef>
#include <cstdint>
#include <string>

#include "mail/mscodec.h"
#include "mail/msmsg.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ms::TmsHeaders headers;
  for (std::string& line : ms::SplitLines(text))
    headers.push_back(std::move(line));

  for (const char* field : {"Subject", "From", "Content-Type", "To:", ""}) {
    std::string value = headers.GetFieldValue(field);
    if (value.size() > ms::kShortStringMax) __builtin_trap();
    (void)ms::GetHeaderParameter("boundary", value);
    (void)ms::GetHeaderParameter("name", value);
    (void)ms::FirstToken(value);
    ms::TmsMailAddress address;
    ms::ParseAddress(value, address);
    if (address.Name.size() > ms::kShortStringMax || address.Address.size() > ms::kShortStringMax)
      __builtin_trap();
    ms::TDateTime date;
    std::string zone;
    ms::ParseMailDate(value, date, zone);
    (void)ms::ExtractNumber(value, 1);
    (void)ms::StripQuotes(value);
  }
  (void)headers.GetFieldList("TO");
  (void)ms::DecodeHeaderWords(text);
  (void)ms::CutShortString(text);

  ms::TmsMessage m;
  m.ParseHeaders(headers);
  headers.RemoveField("Subject");
  headers.RemoveField(text.substr(0, 8));
  return 0;
}
