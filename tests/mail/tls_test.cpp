// TLS, STLS/STARTTLS and SMTP authentication against scripted servers: what real servers do not
// show (forged lines, expired and self-signed certificates, downgrades).

#include <gtest/gtest.h>

#include "mail/msexcept.h"
#include "mail/mspop.h"
#include "mail/mspump.h"
#include "mail/mssmtp.h"
#include "mail/mstls.h"
#include "tests/mail/mail_test_util.h"
#include "tests/support/certs.h"
#include "tests/support/scripted_server.h"

namespace {

using namespace vigilo::test;
using mailtest::ErrorText;
using ms::EmsTlsError;
using ms::TmsSecurity;
using Steps = std::vector<ScriptedServer::Step>;
using Lines = std::vector<std::string>;

ScriptedServer::Step Tls(const CertPair& cert) {
  return StartTls(cert.cert, cert.key);
}

Steps StlsLogin(const CertPair& cert, const std::string& goAhead = "+OK Begin TLS\r\n") {
  return {Send("+OK ready\r\n"), Expect("STLS"),       Send(goAhead),         Tls(cert),
          Expect("USER ann"),    Send("+OK\r\n"),      Expect("PASS secret"), Send("+OK in\r\n"),
          Expect("STAT"),        Send("+OK 1 10\r\n"), Expect("QUIT"),        Send("+OK bye\r\n")};
}

struct Pop {
  ms::TmsPOPClient pop;
  Pop(const ScriptedServer& server, TmsSecurity security = TmsSecurity::StartTLS) {
    pop.SetHost("127.0.0.1:" + std::to_string(server.Port()));
    pop.UserName = "ann";
    pop.Password = "secret";
    pop.TimeOut = 3;
    pop.Security = security;
    pop.Tls.CAFile = Certificates().ca.cert;
  }
};

// The colon form openssl prints is shown against Dovecot (tls_itest.cpp).
TEST(TlsFingerprint, AcceptsTheLabelledFormAndRefusesAWrongLength) {
  const std::string hex(64, 'a');
  EXPECT_EQ(hex, ms::NormalizeFingerprint("sha256 Fingerprint=" + ms::ColonFingerprint(hex)));
  ms::TmsTlsOptions options;
  for (const std::string& bad :
       {hex.substr(1), hex + "a", hex.substr(1) + "g", std::string("12:34")}) {
    options.TrustCert = bad;
    EXPECT_THROW(ms::CheckTlsOptions(options), ms::EmsError) << bad;
  }
}

// Arriving with the go-ahead, a forged line is thrown away unread and the session goes on over
// TLS (the message pump runs during the handshake); arriving later, it breaks the handshake
// and nothing is sent after STLS.
TEST(TlsPop3, ForgedLineAfterTheGoAheadIsNeverAReply) {
  ScriptedServer server(StlsLogin(Certificates().server, "+OK Begin TLS\r\n-ERR forged\r\n"));
  int pumped = 0;
  ms::SetMessagePump([&] { ++pumped; });
  Pop c(server);
  c.pop.Login();
  ms::SetMessagePump(nullptr);
  EXPECT_TRUE(ms::IsEncrypted(c.pop));
  EXPECT_EQ(1, c.pop.MessageCount());
  c.pop.Quit();
  EXPECT_TRUE(server.Finished()) << server.Failure();
  EXPECT_GT(pumped, 0);

  ScriptedServer late({Send("+OK ready\r\n"), Expect("STLS"), Send("+OK go\r\n"), Sleep(200),
                       Send("-ERR forged\r\n+OK forged too\r\n"), Tls(Certificates().server),
                       Expect("USER ann")});
  Pop d(late);
  EXPECT_THROW(d.pop.Login(), EmsTlsError);
  EXPECT_FALSE(late.Finished());
  EXPECT_EQ(Lines{"STLS"}, late.Received());
}

// Each refusal names its reason, and the server sees nothing after "STLS". A certificate
// refused by the CA is accepted through its own fingerprint only.
TEST(TlsPop3, CertificatesThatMustBeRefused) {
  const TestCertificates& certs = Certificates();
  struct Case {
    const CertPair& cert;
    EmsTlsError::Reason reason;
    const char* words;
    bool withCa;
    std::string trust;
  };
  for (const Case& c : {
           Case{certs.other, EmsTlsError::WrongHost, "another host (other.example.test)", true, ""},
           Case{certs.expired, EmsTlsError::Expired, "expired", true, ""},
           Case{certs.selfSigned, EmsTlsError::Untrusted, "self-signed", true, ""},
           Case{certs.server, EmsTlsError::Untrusted, "unknown authority", false, ""},
           Case{certs.selfSigned, EmsTlsError::Untrusted, "", false, certs.server.sha256Colon},
       }) {
    SCOPED_TRACE(c.cert.cert + " " + c.words);
    ScriptedServer server(StlsLogin(c.cert));
    Pop p(server);
    if (!c.withCa) p.pop.Tls.CAFile.clear();
    p.pop.Tls.TrustCert = c.trust;
    try {
      p.pop.Login();
      ADD_FAILURE() << "login succeeded";
    } catch (const EmsTlsError& e) {
      EXPECT_EQ(c.reason, e.Why()) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.words), std::string::npos) << e.what();
    }
    EXPECT_FALSE(p.pop.IsOpen());
    server.Finished();
    EXPECT_EQ(Lines{"STLS"}, server.Received());
  }
  ScriptedServer trusted(StlsLogin(certs.selfSigned));
  Pop p(trusted);
  p.pop.Tls.CAFile.clear();
  p.pop.Tls.TrustCert = certs.selfSigned.sha256Colon;
  p.pop.Login();
  p.pop.Quit();
  EXPECT_TRUE(trusted.Finished()) << trusted.Failure();
}

TEST(TlsPop3, RefusedStlsPlainServerOnTheTlsPortAndSilentHandshake) {
  ScriptedServer refusing({Send("+OK ready\r\n"), Expect("STLS"), Send("-ERR no TLS here\r\n")});
  Pop c(refusing);
  EXPECT_EQ("-ERR no TLS here", ErrorText<ms::EmsServerError>([&] { c.pop.Login(); }));
  c.pop.Disconnect();
  refusing.Finished();
  EXPECT_EQ(Lines{"STLS"}, refusing.Received());

  ScriptedServer plain({Send("+OK ready\r\n"), Sleep(300)});
  Pop d(plain, TmsSecurity::TLS);
  EXPECT_NE(ErrorText<EmsTlsError>([&] { d.pop.Login(); }).find("did not answer in TLS"),
            std::string::npos);

  // The server stays silent far longer than the time-out: the handshake ends at the time-out.
  ScriptedServer silent({Send("+OK ready\r\n"), Expect("STLS"), Send("+OK\r\n"), Sleep(120'000)});
  Pop e(silent);
  e.pop.TimeOut = 1;
  EXPECT_THROW(e.pop.Login(), ms::EmsTimedOutError);
  EXPECT_FALSE(e.pop.IsOpen());
}

struct Smtp {
  ms::TmsSMTPClient smtp;
  explicit Smtp(const ScriptedServer& server) {
    smtp.SetHost("127.0.0.1:" + std::to_string(server.Port()));
    smtp.HeloName = "client.test";
    smtp.TimeOut = 3;
    smtp.Tls.CAFile = Certificates().ca.cert;
    smtp.AuthUser = "tim";
    smtp.AuthPassword = "tanstaaftanstaaf";
  }
};

// Only what the server says over TLS counts: the plain EHLO's mechanisms are forgotten. A
// server that does not offer STARTTLS hears nothing more.
TEST(TlsSmtp, StartTlsForgetsTheFirstEhloOrIsNotOffered) {
  ScriptedServer server({Send("220 mx\r\n"), Expect("EHLO client.test"),
                         Send("250-mx\r\n250-AUTH PLAIN CRAM-MD5\r\n250 STARTTLS\r\n"),
                         Expect("STARTTLS"), Send("220 go\r\n"), Tls(Certificates().server),
                         Expect("EHLO client.test"), Send("250-mx\r\n250 AUTH LOGIN\r\n"),
                         Expect("AUTH LOGIN"), Send("334 VXNlcm5hbWU6\r\n"), Expect("dGlt"),
                         Send("334 UGFzc3dvcmQ6\r\n"), Expect("dGFuc3RhYWZ0YW5zdGFhZg=="),
                         Send("235 ok\r\n"), Expect("QUIT"), Send("221 bye\r\n")});
  Smtp c(server);
  c.smtp.Security = TmsSecurity::StartTLS;
  c.smtp.Login();
  EXPECT_TRUE(ms::IsEncrypted(c.smtp));
  c.smtp.Quit();
  EXPECT_TRUE(server.Finished()) << server.Failure();

  ScriptedServer plain(
      {Send("220 mx\r\n"), Expect("EHLO client.test"), Send("250-mx\r\n250 AUTH PLAIN\r\n")});
  Smtp d(plain);
  d.smtp.Security = TmsSecurity::StartTLS;
  EXPECT_THROW(d.smtp.Login(), ms::EmsError);
  d.smtp.Disconnect();
  plain.Finished();
  EXPECT_EQ(Lines{"EHLO client.test"}, plain.Received());
}

// AUTH in plain text is refused before connecting unless allowed; allowed, CRAM-MD5 is
// preferred (RFC 2195's example), and a refused EHLO is read to its last line.
TEST(TlsSmtp, PlainTextAuthOnlyWhenAllowed) {
  ScriptedServer idle({Send("220 mx\r\n")});
  Smtp c(idle);
  EXPECT_THROW(c.smtp.Login(), ms::EmsError);
  EXPECT_EQ(0, idle.Connections());

  ScriptedServer server({Send("220 mx\r\n"), Expect("EHLO client.test"),
                         Send("250-mx\r\n250 AUTH PLAIN CRAM-MD5\r\n"), Expect("AUTH CRAM-MD5"),
                         Send("334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n"),
                         Expect("dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw"),
                         Send("235 ok\r\n")});
  Smtp d(server);
  d.smtp.AllowPlainAuth = true;
  d.smtp.Login();
  EXPECT_TRUE(server.Finished()) << server.Failure();

  ScriptedServer refusing(
      {Send("220 mx\r\n"), Expect("EHLO client.test"), Send("554-no ESMTP\r\n554 for you\r\n")});
  Smtp e(refusing);
  e.smtp.AllowPlainAuth = true;
  EXPECT_EQ("554 for you", ErrorText<ms::EmsServerError>([&] { e.smtp.Login(); }));
}

}  // namespace
