// Fuzz target: one raw message through the decoder, and what it gives back
// through the encoder and the decoder again.

#include <cstddef>
#include <cstdint>
#include <string>

#include "mail/msmsg.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string raw(reinterpret_cast<const char*>(data), size);
  ms::TmsMessage m;
  m.LoadFromString(raw);  // must never throw once the headers are read
  for (int i = 0; i < m.Attachments.Count(); ++i)
    (void)m.Attachments.Items(i).Data.size();
  std::string again = m.SaveToString();
  ms::TmsMessage back;
  back.LoadFromString(again);
  return 0;
}
