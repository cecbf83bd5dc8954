#include "mail/mspars.h"

#include "mail/msexcept.h"

namespace ms {
TmsCustomDecoder::TmsCustomDecoder(std::string source, TmsCustomMessage& target)
    : source_(std::move(source)), target_(target) {}
TmsCustomDecoder::~TmsCustomDecoder() = default;
void TmsCustomDecoder::ApplyHeaders() {
  target_.ParseHeaders(main_headers_);
}
void TmsCustomDecoder::Decode() {
  throw EmsError("not yet");
}
}  // namespace ms
