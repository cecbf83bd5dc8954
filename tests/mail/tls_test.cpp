// TLS, STLS/STARTTLS and SMTP authentication against scripted servers that speak TLS: what
// real servers do not show (forged lines, expired and self-signed certificates, downgrades).

#include <gtest/gtest.h>

#include <chrono>

#include "mail/msexcept.h"
#include "mail/mspop.h"
#include "mail/mspump.h"
#include "mail/mssmtp.h"
#include "mail/mstls.h"
#include "tests/mail/mail_test_util.h"
#include "tests/mail/tls_script_server.h"
#include "tests/support/scripted_server.h"

namespace {

using namespace tlstest;
using mailtest::ErrorText;
using ms::EmsTlsError;
using ms::TmsSecurity;
namespace vt = vigilo::test;

std::vector<Step> StlsLogin(const std::string& goAhead = "+OK Begin TLS\r\n") {
  return {Send("+OK ready\r\n"), Expect("STLS"),       Send(goAhead),         StartTls(),
          Expect("USER ann"),    Send("+OK\r\n"),      Expect("PASS secret"), Send("+OK in\r\n"),
          Expect("STAT"),        Send("+OK 1 10\r\n"), Expect("QUIT"),        Send("+OK bye\r\n")};
}

struct Pop {
  ms::TmsPOPClient pop;
  Pop(int port, TmsSecurity security) {
    pop.SetHost("127.0.0.1:" + std::to_string(port));
    pop.UserName = "ann";
    pop.Password = "secret";
    pop.TimeOut = 3;
    pop.Security = security;
    pop.Tls.CAFile = Certs().caFile;
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
  TlsScriptServer server(*Certs().localhost, StlsLogin("+OK Begin TLS\r\n-ERR forged\r\n"));
  int pumped = 0;
  ms::SetMessagePump([&] { ++pumped; });
  Pop c(server.Port(), TmsSecurity::StartTLS);
  c.pop.Login();
  ms::SetMessagePump(nullptr);
  EXPECT_TRUE(ms::IsEncrypted(c.pop));
  EXPECT_EQ(1, c.pop.MessageCount());
  c.pop.Quit();
  EXPECT_EQ("", server.Outcome());
  EXPECT_GT(pumped, 0);

  TlsScriptServer late(*Certs().localhost,
                       {Send("+OK ready\r\n"), Expect("STLS"), Send("+OK go\r\n"), Sleep(200),
                        Send("-ERR forged\r\n+OK forged too\r\n"), StartTls(), Expect("USER ann")});
  Pop d(late.Port(), TmsSecurity::StartTLS);
  EXPECT_THROW(d.pop.Login(), EmsTlsError);
  late.Outcome();
  EXPECT_EQ(std::vector<std::string>{"STLS"}, late.Received());
}

// Each refusal names its reason, and the server sees nothing after "STLS".
TEST(TlsPop3, CertificatesThatMustBeRefused) {
  struct Case {
    const Cert* cert;
    EmsTlsError::Reason reason;
    const char* words;
    std::string caFile;
  };
  for (const Case& c :
       {Case{Certs().other.get(), EmsTlsError::WrongHost, "another host (other.example.test)",
             Certs().caFile},
        Case{Certs().expired.get(), EmsTlsError::Expired, "expired", Certs().caFile},
        Case{Certs().selfSigned.get(), EmsTlsError::Untrusted, "self-signed", Certs().caFile},
        Case{Certs().localhost.get(), EmsTlsError::Untrusted, "unknown authority", ""}}) {
    TlsScriptServer server(*c.cert, StlsLogin());
    Pop p(server.Port(), TmsSecurity::StartTLS);
    p.pop.Tls.CAFile = c.caFile;
    try {
      p.pop.Login();
      ADD_FAILURE() << "login succeeded: " << c.words;
    } catch (const EmsTlsError& e) {
      EXPECT_EQ(c.reason, e.Why()) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.words), std::string::npos) << e.what();
    }
    EXPECT_FALSE(p.pop.IsOpen());
    server.Outcome();
    EXPECT_EQ(std::vector<std::string>{"STLS"}, server.Received());
  }
}

// A self-signed certificate is accepted through its fingerprint; another's fingerprint does
// not help. (The wrong-host case is shown against Dovecot in tls_itest.cpp.)
TEST(TlsPop3, TrustedFingerprintOverridesTheCa) {
  for (const Cert* trusted : {Certs().selfSigned.get(), Certs().localhost.get()}) {
    TlsScriptServer server(*Certs().selfSigned, StlsLogin());
    Pop c(server.Port(), TmsSecurity::StartTLS);
    c.pop.Tls.CAFile.clear();
    c.pop.Tls.TrustCert = ms::ColonFingerprint(trusted->sha256);
    if (trusted == Certs().localhost.get()) {
      EXPECT_THROW(c.pop.Login(), EmsTlsError);
      continue;
    }
    c.pop.Login();
    c.pop.Quit();
    EXPECT_EQ("", server.Outcome());
  }
}

TEST(TlsPop3, RefusedStlsPlainServerOnTheTlsPortAndSilentHandshake) {
  TlsScriptServer refusing(*Certs().localhost,
                           {Send("+OK ready\r\n"), Expect("STLS"), Send("-ERR no TLS here\r\n")});
  Pop c(refusing.Port(), TmsSecurity::StartTLS);
  EXPECT_EQ("-ERR no TLS here", ErrorText<ms::EmsServerError>([&] { c.pop.Login(); }));
  c.pop.Disconnect();
  refusing.Outcome();
  EXPECT_EQ(std::vector<std::string>{"STLS"}, refusing.Received());

  TlsScriptServer plain(*Certs().localhost, {Send("+OK ready\r\n"), Sleep(300)});
  Pop d(plain.Port(), TmsSecurity::TLS);
  EXPECT_NE(ErrorText<EmsTlsError>([&] { d.pop.Login(); }).find("did not answer in TLS"),
            std::string::npos);

  TlsScriptServer silent(*Certs().localhost,
                         {Send("+OK ready\r\n"), Expect("STLS"), Send("+OK\r\n"), Sleep(120'000)});
  Pop e(silent.Port(), TmsSecurity::StartTLS);
  e.pop.TimeOut = 1;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(e.pop.Login(), ms::EmsTimedOutError);
  EXPECT_LT(std::chrono::steady_clock::now() - start,
            std::chrono::seconds(60));  // long before the server speaks
  EXPECT_FALSE(e.pop.IsOpen());
}

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

// Only what the server says over TLS counts: the plain EHLO's mechanisms are forgotten.
TEST(TlsSmtp, StartTlsForgetsTheFirstEhloAndAuthenticates) {
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

TEST(TlsSmtp, StartTlsNotOfferedSendsNothingMore) {
  vt::ScriptedServer server({vt::Send("220 mx\r\n"), vt::Expect("EHLO client.test"),
                             vt::Send("250-mx\r\n250 AUTH PLAIN\r\n")});
  Smtp c(server.Port());
  c.smtp.Security = TmsSecurity::StartTLS;
  EXPECT_THROW(c.smtp.Login(), ms::EmsError);
  c.smtp.Disconnect();
  server.Finished();
  EXPECT_EQ(std::vector<std::string>{"EHLO client.test"}, server.Received());
}

// AUTH in plain text is refused before connecting unless allowed; allowed, CRAM-MD5 is
// preferred (RFC 2195's example), and a refused EHLO is read to its last line.
TEST(TlsSmtp, PlainTextAuthOnlyWhenAllowed) {
  vt::ScriptedServer idle({vt::Send("220 mx\r\n")});
  Smtp c(idle.Port());
  EXPECT_THROW(c.smtp.Login(), ms::EmsError);
  EXPECT_EQ(0, idle.Connections());

  vt::ScriptedServer server(
      {vt::Send("220 mx\r\n"), vt::Expect("EHLO client.test"),
       vt::Send("250-mx\r\n250 AUTH PLAIN CRAM-MD5\r\n"), vt::Expect("AUTH CRAM-MD5"),
       vt::Send("334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n"),
       vt::Expect("dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw"), vt::Send("235 ok\r\n")});
  Smtp d(server.Port());
  d.smtp.AllowPlainAuth = true;
  d.smtp.Login();
  EXPECT_TRUE(server.Finished()) << server.Failure();

  vt::ScriptedServer refusing({vt::Send("220 mx\r\n"), vt::Expect("EHLO client.test"),
                               vt::Send("554-no ESMTP\r\n554 for you\r\n")});
  Smtp e(refusing.Port());
  e.smtp.AllowPlainAuth = true;
  EXPECT_EQ("554 for you", ErrorText<ms::EmsServerError>([&] { e.smtp.Login(); }));
}

}  // namespace
