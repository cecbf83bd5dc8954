#include "mail/msmime.h"

#include "mail/msexcept.h"

namespace ms {
TmsCustomEncoder::TmsCustomEncoder(TmsCustomMessage& message, std::ostream& out)
    : message_(message), out_(out) {}
TmsCustomEncoder::~TmsCustomEncoder() = default;
void TmsCustomEncoder::WriteHeaders() {}
void TmsMessageEncoder::WriteHeaders() {}
void TmsArticleEncoder::WriteHeaders() {}
void TmsCustomEncoder::Encode() {
  throw EmsError("not yet");
}
}  // namespace ms
