#pragma once
// Fetching the certificate a POP3 server shows, so that the user can decide to trust
// it by its SHA-256 fingerprint: one connection, no login.

#include <cstdint>
#include <string>

namespace vigilo {

struct CertProbeResult {
  std::string Fingerprint;   // 64 lower-case hexadecimal digits; "" when none was seen
  bool TrustedByCA = false;  // the system's CAs vouch for it already
  std::string Error;         // why no fingerprint could be read
};

// Connects to the POP3 server host:port with `security` (1 STLS, 2 TLS from the
// start), reads its certificate and says QUIT. Security 0 has no certificate.
CertProbeResult ProbeServerCertificate(const std::string& host, int port, int32_t security,
                                       int timeout_seconds = 30);

}  // namespace vigilo
