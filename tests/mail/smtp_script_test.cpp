// The SMTP client against scripted servers: refusals, lost replies and the bytes of DATA.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "mail/msexcept.h"
#include "mail/msmsg.h"
#include "mail/mssmtp.h"
#include "mail/mstempfile.h"
#include "tests/mail/mail_test_util.h"
#include "tests/support/scripted_server.h"
#include "tests/support/tempdir.h"

namespace {

using namespace vigilo::test;
using mailtest::ErrorText;
using Steps = std::vector<ScriptedServer::Step>;

// A message whose encoded form is fixed text, so the test sees DATA exactly.
class FixedMessage : public ms::TmsMessage {
 public:
  explicit FixedMessage(std::string bytes) : bytes_(std::move(bytes)) {
    Sender.Address = "ann@example.test";
    Recipients.Add("bob@example.test");
    Recipients.Add("carl@example.test");
    CC.Add("dora@example.test");
  }
  void SaveToStream(std::ostream& out) override { out << bytes_; }

 private:
  std::string bytes_;
};

// The greeting and a multi-line reply to HELO, then `parts` in turn.
template <class... P>
Steps Script(const P&... parts) {
  Steps s = {Send("220 mx.example.test ESMTP\r\n"), Expect("HELO client.test"),
             Send("250-mx.example.test\r\n250-SIZE 1000\r\n250 HELP\r\n")};
  (s.insert(s.end(), parts.begin(), parts.end()), ...);
  return s;
}

Steps Envelope(const std::string& second, const std::string& first = "250 Accepted\r\n",
               const std::string& third = "251 will forward\r\n") {
  return {Expect("MAIL FROM:<ann@example.test>"), Send("250 OK\r\n"),
          Expect("RCPT TO:<bob@example.test>"),   Send(first),
          Expect("RCPT TO:<carl@example.test>"),  Send(second),
          Expect("RCPT TO:<dora@example.test>"),  Send(third)};
}

const Steps kData = {Expect("DATA"), Send("354 go\r\n"), ExpectUntil("."), Send("250 queued\r\n")};
const Steps kQuit = {Expect("QUIT"), Send("221 bye\r\n")};
const Steps kReset = {Expect("RSET"), Send("250 Reset OK\r\n")};

struct Client {
  ms::TmsSMTPClient smtp;
  FixedMessage message;
  std::vector<std::string> events;
  explicit Client(const ScriptedServer& server, std::string bytes = "Subject: t\r\n\r\nbody\r\n")
      : message(std::move(bytes)) {
    smtp.SetHost("127.0.0.1:" + std::to_string(server.Port()));
    smtp.HeloName = "client.test";
    smtp.TimeOut = 2;
    smtp.MailMessage = &message;
    smtp.OnPreparing = [&](ms::TmsSocketBase&) { events.push_back("preparing"); };
    smtp.OnSending = [&](ms::TmsSocketBase&) { events.push_back("sending"); };
    smtp.OnSent = [&](ms::TmsSocketBase&) { events.push_back("sent"); };
  }
  std::string SendError() {
    return ErrorText<ms::EmsServerError>([&] { smtp.SendMessage(); });
  }
};

TEST(SmtpScript, DataIsDotStuffedAndEndsWithoutAnExtraLine) {
  ScriptedServer server(Script(Envelope("250 Accepted\r\n"), kData, kQuit));
  Client c(server, "Subject: dots\r\n\r\n.\r\n.x\r\n..\r\nbare\nlast");
  c.smtp.Login();
  c.smtp.SendMessage();
  c.smtp.Quit();
  ASSERT_TRUE(server.Finished()) << server.Failure();
  const auto got = server.Received();
  const auto data = std::find(got.begin(), got.end(), "DATA") + 1;
  EXPECT_EQ(
      (std::vector<std::string>{"Subject: dots", "", "..", "..x", "...", "bare", "last", "."}),
      std::vector<std::string>(data, got.end() - 1));  // QUIT follows
  EXPECT_EQ((std::vector<std::string>{"preparing", "sending", "sent"}), c.events);
}

TEST(SmtpScript, HeloRefusedTwiceAndMailFromDecides) {
  const char* refused = "501 Syntactically invalid HELO argument(s)\r\n";
  ScriptedServer server({Send("220 mx\r\n"), Expect("HELO client.test"), Send(refused),
                         Expect("HELO"), Send(refused), Expect("MAIL FROM:<ann@example.test>"),
                         Send("503 HELO or EHLO required\r\n"), Expect("QUIT"),
                         Send("221 bye\r\n")});
  Client c(server);
  c.smtp.Login();
  EXPECT_EQ("503 HELO or EHLO required", c.SendError());
  c.smtp.Quit();
  EXPECT_TRUE(server.Finished()) << server.Failure();
}

// The second of three recipients refused: with a Proceed handler DATA still goes; without one
// the message fails with the server's line and the transaction is reset.
TEST(SmtpScript, RefusedRecipientWithAndWithoutProceed) {
  ScriptedServer server(Script(Envelope("550 No such user\r\n"), kData));
  Client c(server);
  std::vector<std::string> refused;
  c.smtp.OnAddressRejected = [&](ms::TmsSocketBase&, const std::string& address,
                                 const std::string& reply, bool& proceed) {
    refused.push_back(address + " | " + reply);
    proceed = true;
  };
  c.smtp.Login();
  c.smtp.SendMessage();
  EXPECT_EQ((std::vector<std::string>{"carl@example.test | 550 No such user"}), refused);
  EXPECT_EQ(1, c.smtp.RejectedCount());
  EXPECT_TRUE(server.Finished()) << server.Failure();
  EXPECT_EQ(c.events.back(), "sent");

  Steps envelope = Envelope("550 No such user\r\n");
  envelope.resize(6);  // no third recipient
  ScriptedServer strict(Script(envelope, kReset, kQuit));
  Client d(strict);
  d.smtp.Login();
  EXPECT_EQ("550 No such user", d.SendError());
  d.smtp.Quit();
  EXPECT_TRUE(strict.Finished()) << strict.Failure();

  // Every recipient refused: no DATA, the transaction is reset.
  ScriptedServer none(
      Script(Envelope("450 later\r\n", "550 no\r\n", "553 never\r\n"), kReset, kQuit));
  Client e(none);
  e.smtp.OnAddressRejected = c.smtp.OnAddressRejected;
  e.smtp.Login();
  e.smtp.SendMessage();
  EXPECT_EQ(3, e.smtp.RejectedCount());
  EXPECT_EQ((std::vector<std::string>{"preparing", "sending"}), e.events);
  e.smtp.Quit();
  EXPECT_TRUE(none.Finished()) << none.Failure();
}

TEST(SmtpScript, RefusalsAtAndAfterDataAndALostReply) {
  ScriptedServer server(Script(
      Envelope("250 ok\r\n"), Steps{Expect("DATA"), Send("451 Try again later\r\n")}, kReset,
      Envelope("250 ok\r\n"),
      Steps{Expect("DATA"), Send("354 go\r\n"), ExpectUntil("."), Send("554 Message rejected\r\n")},
      Envelope("250 ok\r\n"),
      Steps{Expect("DATA"), Send("354 go\r\n"), ExpectUntil("."), Sleep(120'000)}));
  Client c(server);
  c.smtp.Login();
  EXPECT_EQ("451 Try again later", c.SendError());
  EXPECT_EQ("554 Message rejected", c.SendError());
  c.events.clear();
  c.smtp.TimeOut = 1;
  EXPECT_THROW(c.smtp.SendMessage(), ms::EmsTimedOutError);  // no reply after the final "."
  EXPECT_EQ((std::vector<std::string>{"preparing", "sending"}), c.events);
  EXPECT_EQ("", server.Failure());
}

// An unsafe envelope address, a message to nobody and an empty host are refused before the wire.
TEST(SmtpScript, UnsafeEnvelopeNoRecipientsAndEmptyHostAreRefusedBeforeTheWire) {
  ScriptedServer server(Script(kQuit));
  Client c(server);
  c.message.BCC.Add("eve@example.test>\r\nRCPT TO:<mallory@example.test");
  c.smtp.Login();
  EXPECT_THROW(c.smtp.SendMessage(), ms::EmsError);
  c.message.BCC.Clear();
  c.message.Sender.Address = "ann @example.test";
  EXPECT_THROW(c.smtp.SendMessage(), ms::EmsError);
  c.message.Sender.Address = "ann@example.test";
  c.message.Recipients.Clear();
  c.message.CC.Clear();
  EXPECT_EQ("The message has no recipients",
            ErrorText<ms::EmsError>([&] { c.smtp.SendMessage(); }));
  c.smtp.Quit();
  EXPECT_TRUE(server.Finished()) << server.Failure();
  ms::TmsSMTPClient empty;
  EXPECT_EQ("Host property must be assigned", ErrorText<ms::EmsError>([&] { empty.Login(); }));
}

// The encoded message waits in a private folder and is deleted on every path.
TEST(SmtpScript, TemporaryFileIsPrivateAndAlwaysDeleted) {
  TempDir runtime;
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved = old ? old : "";
  setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  const std::string folder = ms::PrivateTempFolder();
  EXPECT_EQ(runtime.str() + "vigilo/", folder);
  struct stat st {};
  ASSERT_EQ(0, stat(folder.c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);
  {
    ScriptedServer server(
        Script(Steps{Expect("MAIL FROM:<ann@example.test>"), Send("550 go away\r\n")}));
    Client c(server);
    std::vector<std::string> present;
    c.smtp.OnSending = [&](ms::TmsSocketBase&) {
      for (const auto& e : std::filesystem::directory_iterator(folder))
        present.push_back(e.path().filename().string());
    };
    c.smtp.Login();
    EXPECT_THROW(c.smtp.SendMessage(), ms::EmsServerError);
    ASSERT_EQ(1u, present.size());
    EXPECT_EQ(0u, present[0].rfind("ms", 0));
  }
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  if (old)
    setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  else
    unsetenv("XDG_RUNTIME_DIR");
}

// Nothing reaches MAIL FROM for a message whose temporary file could not be written whole
// (here a file-size limit in a child process).
TEST(SmtpScript, UnwritableTemporaryFileFailsBeforeTheEnvelope) {
  ScriptedServer server(Script(kQuit));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64 * 1024, 64 * 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    Client c(server, std::string(300 * 1024, 'x'));
    c.smtp.Login();
    const std::string error = ErrorText<ms::EmsError>([&] { c.smtp.SendMessage(); });
    c.smtp.Quit();
    _exit(error.rfind("Cannot write the temporary file", 0) == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(server.Finished()) << server.Failure();
}

}  // namespace
