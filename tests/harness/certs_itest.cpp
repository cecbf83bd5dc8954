#include "tests/support/certs.h"

#include <gtest/gtest.h>

#include "tests/support/dovecot.h"
#include "tests/support/server_process.h"

namespace vigilo::test {
namespace {

TEST(Certificates, ServerCertsAreSignedByTheTestCaForTheirNames) {
  const TestCertificates& c = Certificates();
  EXPECT_EQ(&c, &Certificates());  // made once
  for (const CertPair* p : {&c.ca, &c.server, &c.other}) {
    EXPECT_EQ(p->sha256.size(), 64u);
    EXPECT_EQ(p->sha256Colon.size(), 95u);
  }
  EXPECT_NE(c.server.sha256, c.other.sha256);
  std::string out;
  EXPECT_EQ(RunShell("openssl verify -CAfile '" + c.ca.cert + "' -verify_hostname localhost '" +
                         c.server.cert + "' && openssl verify -CAfile '" + c.ca.cert +
                         "' -verify_ip 127.0.0.1 '" + c.server.cert + "'",
                     &out),
            0)
      << out;
  EXPECT_EQ(RunShell("openssl verify -CAfile '" + c.ca.cert +
                         "' -verify_hostname other.example.test '" + c.other.cert + "'",
                     &out),
            0)
      << out;
  EXPECT_NE(RunShell("openssl verify -CAfile '" + c.ca.cert + "' -verify_hostname localhost '" +
                         c.other.cert + "'",
                     &out),
            0);
}

// The POP3-over-TLS port shows the chosen certificate.
TEST(Certificates, DovecotShowsTheChosenCertificate) {
  DovecotServer server({{"alice", "pw"}}, DovecotServer::Cert::OtherHost);
  std::string out;
  ASSERT_EQ(RunShell("openssl s_client -connect 127.0.0.1:" + std::to_string(server.Pop3sPort()) +
                         " </dev/null 2>/dev/null | openssl x509 -noout -fingerprint -sha256",
                     &out),
            0);
  EXPECT_NE(out.find(Certificates().other.sha256Colon), std::string::npos) << out;
}

}  // namespace
}  // namespace vigilo::test
