#include "core/certprobe.h"

#include <exception>

#include "core/check.h"
#include "mail/mspop.h"
#include "mail/mstls.h"

namespace vigilo {
namespace {

// The fingerprint a failed handshake names in its text ("... (SHA-256 fingerprint
// AB:CD:...)"), or "".
std::string FingerprintInText(const std::string& text) {
  static const std::string kLabel = "SHA-256 fingerprint ";
  const std::size_t at = text.find(kLabel);
  if (at == std::string::npos) return {};
  const std::size_t from = at + kLabel.size();
  const std::size_t end = text.find(')', from);
  return ms::NormalizeFingerprint(text.substr(from, end == std::string::npos ? end : end - from));
}

}  // namespace

CertProbeResult ProbeServerCertificate(const std::string& host, int port, int32_t security,
                                       int timeout_seconds) {
  CertProbeResult result;
  if (security != 1 && security != 2) {
    result.Error = "Соединение без шифрования: сервер не предъявляет сертификат.";
    return result;
  }
  ms::TmsPOPClient pop;
  pop.SetHost(host);
  pop.Port = port;
  pop.TimeOut = timeout_seconds;
  try {
    if (SecurityOf(security) == ms::TmsSecurity::TLS) {
      ms::ConnectTLS(pop, ms::TlsHostOf(pop), pop.Tls);
    } else {
      pop.Connect();
    }
    if (pop.ReadMultiLineReply() != 1) throw ms::EmsServerError(pop.LastReply);
    if (SecurityOf(security) == ms::TmsSecurity::StartTLS) {
      pop.WriteLine("STLS");
      if (pop.ReadReply() != 1) throw ms::EmsServerError(pop.LastReply);
      ms::StartTLS(pop, ms::TlsHostOf(pop), pop.Tls);
    }
    if (const auto* tls = dynamic_cast<const ms::TmsTlsTransport*>(pop.Transport())) {
      result.Fingerprint = tls->PeerFingerprint();
      result.TrustedByCA = !tls->TrustedByFingerprint();
    }
    pop.WriteLine("QUIT");
    pop.Disconnect();
  } catch (const std::exception& e) {
    result.Fingerprint = FingerprintInText(e.what());
    if (result.Fingerprint.empty()) result.Error = e.what();
    pop.Disconnect();
  }
  return result;
}

}  // namespace vigilo
