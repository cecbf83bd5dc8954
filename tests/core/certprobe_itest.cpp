// Reading a POP3 server's certificate for the user to trust, against Dovecot.

#include <gtest/gtest.h>

#include "core/certprobe.h"
#include "tests/support/dovecot.h"

namespace vigilo {
namespace {

TEST(CertProbe, ShowsTheFingerprintOverStlsAndTls) {
  test::DovecotServer server({{"alice", "alicepw"}});
  const std::string expected = test::Certificates().server.sha256;
  const CertProbeResult stls = ProbeServerCertificate("127.0.0.1", server.Pop3Port(), 1);
  EXPECT_EQ(stls.Fingerprint, expected) << stls.Error;
  EXPECT_FALSE(stls.TrustedByCA);  // the test CA is not among the system's
  const CertProbeResult tls = ProbeServerCertificate("127.0.0.1", server.Pop3sPort(), 2);
  EXPECT_EQ(tls.Fingerprint, expected) << tls.Error;

  const CertProbeResult plain = ProbeServerCertificate("127.0.0.1", server.Pop3Port(), 0);
  EXPECT_TRUE(plain.Fingerprint.empty());
  EXPECT_FALSE(plain.Error.empty());
  // TLS spoken to the plain port: no certificate, a reason instead.
  const CertProbeResult wrong = ProbeServerCertificate("127.0.0.1", server.Pop3Port(), 2, 5);
  EXPECT_TRUE(wrong.Fingerprint.empty());
  EXPECT_FALSE(wrong.Error.empty());
}

}  // namespace
}  // namespace vigilo
