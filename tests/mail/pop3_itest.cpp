// The POP3 client against a real Dovecot server on loopback.

#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <random>
#include <string>

#include "mail/msexcept.h"
#include "mail/mshttp.h"
#include "mail/msmsg.h"
#include "mail/mspop.h"
#include "tests/support/dovecot.h"
#include "tests/support/free_port.h"

namespace {

using namespace vigilo::test;

class CapturingMessage : public ms::TmsMessage {
 public:
  void LoadFromStream(std::istream& in) override {
    Loaded.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::string Loaded;
};

std::string Wrapped64(const std::string& bytes) {
  const std::string b = ms::Base64(bytes);
  std::string out;
  for (size_t i = 0; i < b.size(); i += 76)
    out += b.substr(i, 76) + "\r\n";
  return out;
}

std::string Simple(const std::string& subject, const std::string& body) {
  return "From: Ann <ann@example.test>\r\nTo: bob@example.test\r\nSubject: " + subject +
         "\r\nMessage-ID: <" + subject + "@example.test>\r\n\r\n" + body;
}

class Pop3Real : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = std::make_unique<DovecotServer>(std::vector<MailUser>{
        {"alice", "alicepw"}, {"bob", "bobpw"}, {"carol", "carolpw"}, {"dave", "davepw"}});
  }
  static void TearDownTestSuite() { server_.reset(); }

  ms::TmsPOPClient& Client(const std::string& user, const std::string& password) {
    pop_.SetHost("127.0.0.1:" + std::to_string(server_->Pop3Port()));
    pop_.UserName = user;
    pop_.Password = password;
    pop_.TimeOut = 5;
    return pop_;
  }

  static std::unique_ptr<DovecotServer> server_;
  ms::TmsPOPClient pop_;
};
std::unique_ptr<DovecotServer> Pop3Real::server_;

TEST_F(Pop3Real, LoginEmptyMailboxAndWrongPassword) {
  server_->Clear("alice");
  ms::TmsPOPClient& pop = Client("alice", "alicepw");
  std::vector<std::string> events;
  pop.OnConnecting = [&](ms::TmsSocketBase&) { events.push_back("connecting"); };
  pop.OnConnected = [&](ms::TmsSocketBase&) { events.push_back("connected"); };
  pop.OnDisconnected = [&](ms::TmsSocketBase&) { events.push_back("disconnected"); };
  pop.Login();
  EXPECT_EQ(0, pop.MessageCount());
  EXPECT_EQ(0, pop.MailboxSize());
  EXPECT_EQ(-1, pop.CurrentMessage());
  pop.Quit();
  EXPECT_EQ((std::vector<std::string>{"connecting", "connected", "disconnected"}), events);

  pop.Password = "wrong";
  try {
    pop.Login();
    FAIL();
  } catch (const ms::EmsServerError& e) {
    EXPECT_EQ(pop.LastReply, e.what());
    EXPECT_EQ(0u, std::string(e.what()).rfind("-ERR", 0)) << e.what();
  }
  pop.Disconnect();
}

TEST_F(Pop3Real, StatListTopAndRawRetrieve) {
  server_->Clear("bob");
  const std::string first = Simple("one", "..starts with a dot\r\n.\r\nline two\r\n");
  const std::string second = Simple("two", std::string(5000, 'x') + "\r\n");
  // Dovecot stores the message as given; the dots arrive doubled on the wire.
  server_->AddMessage("bob", Simple("one", ".starts with a dot\r\n.\r\nline two\r\n"));
  server_->AddMessage("bob", second);
  ms::TmsPOPClient& pop = Client("bob", "bobpw");
  CapturingMessage message;
  pop.MailMessage = &message;
  pop.Login();
  EXPECT_EQ(2, pop.MessageCount());
  EXPECT_EQ(static_cast<int>(first.size() - 1 + second.size()), pop.MailboxSize());
  EXPECT_EQ(0, pop.CurrentMessage());

  pop.SetCurrentMessage(1);
  EXPECT_EQ(static_cast<int>(second.size()), pop.GetMessageSize());

  pop.SetCurrentMessage(0);
  pop.RetrieveHeaders();
  const std::vector<std::string> lines(message.Headers.begin(), message.Headers.end());
  EXPECT_EQ((std::vector<std::string>{"From: Ann <ann@example.test>", "To: bob@example.test",
                                      "Subject: one", "Message-ID: <one@example.test>", "",
                                      ".starts with a dot"}),
            lines);

  std::vector<int> percents;
  pop.OnTransferProgress = [&](ms::TmsSocketBase&, int perc, int, int) {
    percents.push_back(perc);
  };
  pop.Retrieve();
  EXPECT_EQ(Simple("one", ".starts with a dot\r\n.\r\nline two\r\n"), message.Loaded);
  ASSERT_FALSE(percents.empty());
  for (int p : percents)
    EXPECT_TRUE(p >= 0 && p <= 100) << p;  // scaled by the RETR size
  pop.Quit();
}

TEST_F(Pop3Real, RetrieveMultipartWithAttachmentsByteExact) {
  server_->Clear("carol");
  std::string binary(40000, '\0');
  std::mt19937 rng(42);
  for (char& c : binary)
    c = static_cast<char>(rng());
  const std::string text = ".leading dot\r\n.\r\nplain line\r\n";
  const std::string raw =
      "From: Ann <ann@example.test>\r\n"
      "To: Carol <carol@example.test>\r\n"
      "Subject: files\r\n"
      "MIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"=_b1\"\r\n"
      "\r\n"
      "This is a multi-part message in MIME format.\r\n"
      "--=_b1\r\n"
      "Content-Type: text/plain; charset=us-ascii\r\n"
      "Content-Transfer-Encoding: 7bit\r\n"
      "\r\n"
      "Hello Carol,\r\n"
      ".this line starts with a dot\r\n"
      "--=_b1\r\n"
      "Content-Type: application/octet-stream; name=\"data.bin\"\r\n"
      "Content-Transfer-Encoding: base64\r\n"
      "Content-Disposition: attachment; filename=\"data.bin\"\r\n"
      "\r\n" +
      Wrapped64(binary) +
      "--=_b1\r\n"
      "Content-Type: text/plain; name=\"dots.txt\"\r\n"
      "Content-Transfer-Encoding: base64\r\n"
      "Content-Disposition: attachment; filename=\"dots.txt\"\r\n"
      "\r\n" +
      Wrapped64(text) + "--=_b1--\r\n";
  server_->AddMessage("carol", raw);
  ms::TmsPOPClient& pop = Client("carol", "carolpw");
  ms::TmsMessage message;
  pop.MailMessage = &message;
  pop.Login();
  pop.Retrieve();
  pop.Quit();
  EXPECT_EQ("files", message.Subject);
  EXPECT_EQ("ann@example.test", message.Sender.Address);
  ASSERT_EQ(1, message.Recipients.Count());
  EXPECT_EQ("carol@example.test", message.Recipients.Items(0).Address);
  ASSERT_EQ(2, message.Attachments.Count());
  EXPECT_EQ("data.bin", message.Attachments.Items(0).FileName());
  EXPECT_EQ(binary, message.Attachments.Items(0).Data);
  EXPECT_EQ("dots.txt", message.Attachments.Items(1).FileName());
  EXPECT_EQ(text, message.Attachments.Items(1).Data);
  bool dotLine = false;
  for (const std::string& l : message.Body)
    dotLine |= l == ".this line starts with a dot";
  EXPECT_TRUE(dotLine);
}

TEST_F(Pop3Real, DeleteTakesEffectOnlyAfterQuit) {
  server_->Clear("dave");
  server_->AddMessage("dave", Simple("a", "1\r\n"));
  server_->AddMessage("dave", Simple("b", "2\r\n"));
  ms::TmsPOPClient& pop = Client("dave", "davepw");
  pop.Login();
  pop.DeleteMessage();
  EXPECT_EQ(2, pop.MessageCount());  // numbers stay until the session ends
  pop.Disconnect();                  // no QUIT: nothing is deleted
  pop.Login();
  EXPECT_EQ(2, pop.MessageCount());
  pop.SetCurrentMessage(1);
  pop.DeleteMessage();
  pop.Quit();
  pop.Login();
  EXPECT_EQ(1, pop.MessageCount());
  CapturingMessage m;
  pop.MailMessage = &m;
  pop.Retrieve();
  EXPECT_EQ(Simple("a", "1\r\n"), m.Loaded);
  pop.Quit();
  EXPECT_EQ(1u, server_->Messages("dave").size());
}

TEST(Pop3Connect, RefusedAndUnknownHost) {
  ms::TmsPOPClient pop;
  pop.SetHost("127.0.0.1:" + std::to_string(FreePort()));
  try {
    pop.Login();
    FAIL();
  } catch (const ms::EWinsockError& e) {
    EXPECT_STREQ("Winsock error no 10061", e.what());
  }
  pop.SetHost("pop.no-such-host.invalid");
  EXPECT_EQ(110, pop.Port);
  try {
    pop.Login();
    FAIL();
  } catch (const ms::EWinsockError& e) {
    EXPECT_STREQ("Winsock error no 11001", e.what());
  }
}

}  // namespace
