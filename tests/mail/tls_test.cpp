// TLS, STLS/STARTTLS and SMTP authentication against scripted servers that
// speak TLS with certificates made for the purpose: what real servers do not
// show (forged lines, wrong, expired and self-signed certificates).

#include <gtest/gtest.h>

#include <chrono>

#include "mail/msexcept.h"
#include "mail/mspop.h"
#include "mail/mspump.h"
#include "mail/mssasl.h"
#include "mail/mssmtp.h"
#include "mail/mstls.h"
#include "tests/mail/tls_script_server.h"
#include "tests/support/scripted_server.h"

namespace {

using namespace tlstest;
using ms::EmsTlsError;
using ms::TmsSecurity;

std::vector<Step> StlsLogin(const std::string& goAhead = "+OK Begin TLS\r\n") {
  return {Send("+OK ready\r\n"), Expect("STLS"),       Send(goAhead),         StartTls(),
          Expect("USER ann"),    Send("+OK\r\n"),      Expect("PASS secret"), Send("+OK in\r\n"),
          Expect("STAT"),        Send("+OK 1 10\r\n"), Expect("QUIT"),        Send("+OK bye\r\n")};
}

struct Pop {
  ms::TmsPOPClient pop;
  Pop(int port, TmsSecurity security, const std::string& host = "127.0.0.1") {
    pop.SetHost(host + ":" + std::to_string(port));
    pop.UserName = "ann";
    pop.Password = "secret";
    pop.TimeOut = 3;
    pop.Security = security;
    pop.Tls.CAFile = Certs().caFile;
  }
};

// The login must fail with a TLS error of the given kind whose text holds
// `words`, and the server must have seen nothing after "STLS".
void ExpectRefused(const Cert& cert, EmsTlsError::Reason reason, const std::string& words,
                   const std::string& caFile = Certs().caFile) {
  TlsScriptServer server(cert, StlsLogin());
  Pop c(server.Port(), TmsSecurity::StartTLS);
  c.pop.Tls.CAFile = caFile;
  try {
    c.pop.Login();
    FAIL() << "login succeeded";
  } catch (const EmsTlsError& e) {
    EXPECT_EQ(reason, e.Why()) << e.what();
    EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
  }
  EXPECT_FALSE(c.pop.IsOpen());
  server.Outcome();
  EXPECT_EQ(std::vector<std::string>{"STLS"}, server.Received());
}

TEST(TlsFingerprint, AcceptsTheFormsPeopleCopy) {
  const std::string hex(64, 'a');
  std::string colon;
  for (int i = 0; i < 32; ++i)
    colon += std::string(i ? ":" : "") + "AA";
  EXPECT_EQ(hex, ms::NormalizeFingerprint(hex));
  EXPECT_EQ(hex, ms::NormalizeFingerprint(colon));
  EXPECT_EQ(hex, ms::NormalizeFingerprint("sha256 Fingerprint=" + colon));
  EXPECT_EQ(colon, ms::ColonFingerprint(hex));
  EXPECT_EQ("", ms::NormalizeFingerprint(hex.substr(1)));
  EXPECT_EQ("", ms::NormalizeFingerprint(hex + "a"));
  EXPECT_EQ("", ms::NormalizeFingerprint(hex.substr(1) + "g"));
  ms::TmsTlsOptions bad;
  bad.TrustCert = "12:34";
  EXPECT_THROW(ms::CheckTlsOptions(bad), ms::EmsError);
}

TEST(TlsPop3, StlsVerifiedThroughTheCaForAddressAndName) {
  for (const char* host : {"127.0.0.1", "localhost"}) {
    TlsScriptServer server(*Certs().localhost, StlsLogin());
    Pop c(server.Port(), TmsSecurity::StartTLS, host);
    c.pop.Login();
    EXPECT_TRUE(ms::IsEncrypted(c.pop));
    EXPECT_EQ(1, c.pop.MessageCount());
    c.pop.Quit();
    EXPECT_EQ("", server.Outcome()) << host;
  }
}

TEST(TlsPop3, ImplicitTlsAndThePumpRunsDuringTheHandshake) {
  TlsScriptServer server(
      *Certs().localhost,
      {Send("+OK ready\r\n"), Expect("USER ann"), Send("+OK\r\n"), Expect("PASS secret"),
       Send("+OK\r\n"), Expect("STAT"), Send("+OK 0 0\r\n"), Expect("QUIT"), Send("+OK\r\n")},
      true);
  int pumped = 0;
  ms::SetMessagePump([&] { ++pumped; });
  Pop c(server.Port(), TmsSecurity::TLS);
  c.pop.Login();
  ms::SetMessagePump(nullptr);
  EXPECT_TRUE(ms::IsEncrypted(c.pop));
  EXPECT_EQ(-1, c.pop.CurrentMessage());
  c.pop.Quit();
  EXPECT_EQ("", server.Outcome());
  EXPECT_GT(pumped, 0);
}

TEST(TlsPop3, ForgedLineAfterTheGoAheadIsNeverAReply) {
  // Arriving with the go-ahead, the forged line is thrown away unread and the
  // session goes on over TLS.
  TlsScriptServer server(*Certs().localhost, StlsLogin("+OK Begin TLS\r\n-ERR forged\r\n"));
  Pop c(server.Port(), TmsSecurity::StartTLS);
  c.pop.Login();
  EXPECT_EQ(1, c.pop.MessageCount());
  c.pop.Quit();
  EXPECT_EQ("", server.Outcome());

  // Arriving later, it breaks the handshake: nothing is sent after STLS.
  TlsScriptServer late(*Certs().localhost,
                       {Send("+OK ready\r\n"), Expect("STLS"), Send("+OK go\r\n"), Sleep(200),
                        Send("-ERR forged\r\n+OK forged too\r\n"), StartTls(), Expect("USER ann")});
  Pop d(late.Port(), TmsSecurity::StartTLS);
  EXPECT_THROW(d.pop.Login(), EmsTlsError);
  late.Outcome();
  EXPECT_EQ(std::vector<std::string>{"STLS"}, late.Received());
}

TEST(TlsPop3, CertificatesThatMustBeRefused) {
  ExpectRefused(*Certs().other, EmsTlsError::WrongHost, "another host (other.example.test)");
  ExpectRefused(*Certs().expired, EmsTlsError::Expired, "expired");
  ExpectRefused(*Certs().selfSigned, EmsTlsError::Untrusted, "self-signed");
  // Without the test CA nobody vouches for the certificate.
  ExpectRefused(*Certs().localhost, EmsTlsError::Untrusted, "unknown authority", "");
}

TEST(TlsPop3, TrustedFingerprintOverridesCaAndName) {
  for (const Cert* cert : {Certs().other.get(), Certs().selfSigned.get()}) {
    TlsScriptServer server(*cert, StlsLogin());
    Pop c(server.Port(), TmsSecurity::StartTLS);
    c.pop.Tls.CAFile.clear();
    c.pop.Tls.TrustCert = ms::ColonFingerprint(cert->sha256);
    c.pop.Login();
    c.pop.Quit();
    EXPECT_EQ("", server.Outcome());
  }
  // Another certificate's fingerprint does not help.
  TlsScriptServer server(*Certs().other, StlsLogin());
  Pop c(server.Port(), TmsSecurity::StartTLS);
  c.pop.Tls.TrustCert = Certs().localhost->sha256;
  EXPECT_THROW(c.pop.Login(), EmsTlsError);
}

TEST(TlsPop3, RefusedStlsAndPlainServerOnTheTlsPort) {
  TlsScriptServer refusing(*Certs().localhost,
                           {Send("+OK ready\r\n"), Expect("STLS"), Send("-ERR no TLS here\r\n")});
  Pop c(refusing.Port(), TmsSecurity::StartTLS);
  try {
    c.pop.Login();
    FAIL();
  } catch (const ms::EmsServerError& e) {
    EXPECT_STREQ("-ERR no TLS here", e.what());
  }
  c.pop.Disconnect();
  refusing.Outcome();
  EXPECT_EQ(std::vector<std::string>{"STLS"}, refusing.Received());

  TlsScriptServer plain(*Certs().localhost, {Send("+OK ready\r\n"), Sleep(300)});
  Pop d(plain.Port(), TmsSecurity::TLS);
  try {
    d.pop.Login();
    FAIL();
  } catch (const EmsTlsError& e) {
    EXPECT_NE(std::string(e.what()).find("did not answer in TLS"), std::string::npos) << e.what();
  }
}

TEST(TlsPop3, SilentHandshakeTimesOut) {
  TlsScriptServer server(*Certs().localhost,
                         {Send("+OK ready\r\n"), Expect("STLS"), Send("+OK\r\n"), Sleep(1500)});
  Pop c(server.Port(), TmsSecurity::StartTLS);
  c.pop.TimeOut = 1;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(c.pop.Login(), ms::EmsTimedOutError);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::milliseconds(2000));
  EXPECT_FALSE(c.pop.IsOpen());
}

// ---------------------------------------------------------------- SMTP

struct Smtp {
  ms::TmsSMTPClient smtp;
  explicit Smtp(int port) {
    smtp.SetHost("127.0.0.1:" + std::to_string(port));
    smtp.HeloName = "client.test";
    smtp.TimeOut = 3;
    smtp.Tls.CAFile = Certs().caFile;
    smtp.AuthUser = "tim";
    smtp.AuthPassword = "tanstaaftanstaaf";
  }
};

TEST(TlsSmtp, StartTlsForgetsTheFirstEhloAndAuthenticates) {
  // Only what the server says over TLS counts: the plain EHLO's mechanisms
  // are ignored in favour of the second EHLO's.
  TlsScriptServer server(
      *Certs().localhost,
      {Send("220 mx\r\n"), Expect("EHLO client.test"),
       Send("250-mx\r\n250-AUTH PLAIN CRAM-MD5\r\n250 STARTTLS\r\n"), Expect("STARTTLS"),
       Send("220 go\r\n"), StartTls(), Expect("EHLO client.test"),
       Send("250-mx\r\n250 AUTH LOGIN\r\n"), Expect("AUTH LOGIN"), Send("334 VXNlcm5hbWU6\r\n"),
       Expect("dGlt"), Send("334 UGFzc3dvcmQ6\r\n"), Expect("dGFuc3RhYWZ0YW5zdGFhZg=="),
       Send("235 ok\r\n"), Expect("QUIT"), Send("221 bye\r\n")});
  Smtp c(server.Port());
  c.smtp.Security = TmsSecurity::StartTLS;
  c.smtp.Login();
  EXPECT_TRUE(ms::IsEncrypted(c.smtp));
  c.smtp.Quit();
  EXPECT_EQ("", server.Outcome());
}

TEST(TlsSmtp, ImplicitTlsAuthPlainAndTheServersRefusal) {
  TlsScriptServer server(
      *Certs().localhost,
      {Send("220 mx\r\n"), Expect("EHLO client.test"), Send("250-mx\r\n250 AUTH LOGIN PLAIN\r\n"),
       Expect("AUTH PLAIN AHRpbQB0YW5zdGFhZnRhbnN0YWFm"),
       Send("535 5.7.8 Incorrect authentication data\r\n")},
      true);
  Smtp c(server.Port());
  c.smtp.Security = TmsSecurity::TLS;
  try {
    c.smtp.Login();
    FAIL();
  } catch (const ms::EmsServerError& e) {
    EXPECT_STREQ("535 5.7.8 Incorrect authentication data", e.what());
  }
  c.smtp.Disconnect();
  EXPECT_EQ("", server.Outcome());
}

TEST(TlsSmtp, StartTlsNotOfferedSendsNothingMore) {
  vigilo::test::ScriptedServer server({vigilo::test::Send("220 mx\r\n"),
                                       vigilo::test::Expect("EHLO client.test"),
                                       vigilo::test::Send("250-mx\r\n250 AUTH PLAIN\r\n")});
  Smtp c(server.Port());
  c.smtp.Security = TmsSecurity::StartTLS;
  EXPECT_THROW(c.smtp.Login(), ms::EmsError);
  c.smtp.Disconnect();
  server.Finished();
  EXPECT_EQ(std::vector<std::string>{"EHLO client.test"}, server.Received());
}

TEST(TlsSmtp, PlainTextAuthOnlyWhenAllowed) {
  // Refused before any connection is made.
  vigilo::test::ScriptedServer idle({vigilo::test::Send("220 mx\r\n")});
  Smtp c(idle.Port());
  EXPECT_THROW(c.smtp.Login(), ms::EmsError);
  EXPECT_EQ(0, idle.Connections());

  // Allowed: CRAM-MD5 is preferred in plain text (RFC 2195's example).
  namespace vt = vigilo::test;
  vt::ScriptedServer server(
      {vt::Send("220 mx\r\n"), vt::Expect("EHLO client.test"),
       vt::Send("250-mx\r\n250 AUTH PLAIN CRAM-MD5\r\n"), vt::Expect("AUTH CRAM-MD5"),
       vt::Send("334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n"),
       vt::Expect("dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw"), vt::Send("235 ok\r\n")});
  Smtp d(server.Port());
  d.smtp.AllowPlainAuth = true;
  d.smtp.Login();
  EXPECT_TRUE(server.Finished());
  EXPECT_EQ("", server.Failure());
}

TEST(TlsSmtp, RefusedEhloIsReadToItsLastLine) {
  namespace vt = vigilo::test;
  vt::ScriptedServer server({vt::Send("220 mx\r\n"), vt::Expect("EHLO client.test"),
                             vt::Send("554-no ESMTP\r\n554 for you\r\n")});
  Smtp c(server.Port());
  c.smtp.AllowPlainAuth = true;
  try {
    c.smtp.Login();
    FAIL();
  } catch (const ms::EmsServerError& e) {
    EXPECT_STREQ("554 for you", e.what());
  }
}

TEST(TlsSmtp, AuthMechanismsOfEhloLines) {
  EXPECT_EQ((std::vector<std::string>{"PLAIN", "LOGIN"}), ms::AuthMechanismsOf("AUTH plain LOGIN"));
  EXPECT_EQ((std::vector<std::string>{"LOGIN", "PLAIN"}), ms::AuthMechanismsOf("AUTH=LOGIN PLAIN"));
  EXPECT_TRUE(ms::AuthMechanismsOf("AUTHX PLAIN").empty());
  EXPECT_TRUE(ms::AuthMechanismsOf("SIZE 100").empty());
}

}  // namespace
