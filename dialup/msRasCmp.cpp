#include "dialup/msRasCmp.h"

#include <strings.h>

#include <algorithm>

namespace vigilo {

void TmsRas::SetService(const std::string& name) {
  if (name.empty()) {
    service_.clear();
    return;
  }
  const std::vector<std::string> entries = Entries();
  if (entries.empty() || connected_) return;
  const bool known = std::any_of(entries.begin(), entries.end(), [&](const std::string& e) {
    return strcasecmp(e.c_str(), name.c_str()) == 0;
  });
  service_ = known ? name : std::string();
}

void TmsRas::Dial() {
  if (IsConnected() || service_.empty()) {
    connected_ = true;
    dialed_here_ = false;
    return;
  }
  // Without a dial-up service no entry can be chosen, so this is not reached; a
  // backend replaces it.
  throw EmsRASError(623, "The system could not find the phone book entry for this connection.");
}

void TmsRas::HangUp() {
  if (!dialed_here_) return;
  dialed_here_ = false;
  connected_ = false;
  if (OnDisconnected) OnDisconnected(*this);
}

}  // namespace vigilo
