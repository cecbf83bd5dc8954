#include "mail/mspop.h"

#include <cstdint>
#include <sstream>

#include "mail/msexcept.h"
#include "mail/msmsg.h"
#include "mail/msmsgcls.h"

namespace ms {
namespace {

// A STAT field: a number or the conversion error.
int StatNumber(const std::string& word) {
  const int v = ReplyNumber(word, INT32_MIN);
  if (v == INT32_MIN) throw EmsError("'" + word.substr(0, 64) + "' is not a valid integer value");
  return v;
}

// A command argument must not carry a line break into the protocol stream.
void CheckArgument(const std::string& value, const char* what) {
  if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    throw EmsError(std::string("The ") + what + " must not contain line breaks");
}

}  // namespace

int ReplyNumber(const std::string& word, int fallback) {
  const std::string w = Trim(word);
  size_t i = 0;
  bool negative = false;
  if (i < w.size() && (w[i] == '+' || w[i] == '-')) negative = w[i++] == '-';
  if (i == w.size() || w.size() - i > 10) return fallback;
  int64_t v = 0;
  for (; i < w.size(); ++i) {
    if (w[i] < '0' || w[i] > '9') return fallback;
    v = v * 10 + (w[i] - '0');
  }
  if (negative) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return fallback;
  return static_cast<int>(v);
}

TmsPOPClient::TmsPOPClient() {
  SetDefaultPort(110);
}

void TmsPOPClient::SetCurrentMessage(int value) {
  if (messageCount_ <= 0)
    currentMessage_ = -1;
  else if (value < messageCount_)
    currentMessage_ = value < 0 ? 0 : value;
  else
    currentMessage_ = messageCount_ - 1;
}

int TmsPOPClient::ReplyCode(const std::string& line) const {
  if (line.empty()) return 0;
  if (line[0] == '+') return 1;
  if (line[0] == '-') return -1;
  return 0;
}

std::string TmsPOPClient::Command(const std::string& verb) const {
  return verb + " " + std::to_string(static_cast<int64_t>(currentMessage_) + 1);
}

void TmsPOPClient::Expect(int code) const {
  if (code != 1) throw EmsServerError(LastReply);
}

TmsMessage& TmsPOPClient::Message() const {
  if (!MailMessage) throw EmsError("MailMessage is not assigned");
  return *MailMessage;
}

void TmsPOPClient::Login() {
  const std::string user = UserName.substr(0, 255);
  const std::string pass = Password.substr(0, 255);
  CheckArgument(user, "user name");
  CheckArgument(pass, "password");
  if (Security != TmsSecurity::None) CheckTlsOptions(Tls);
  if (Security == TmsSecurity::TLS)
    ConnectTLS(*this, TlsHostOf(*this), Tls);
  else
    Connect();
  Expect(ReadMultiLineReply());
  if (Security == TmsSecurity::StartTLS) {
    WriteLine("STLS");
    Expect(ReadReply());
    StartTLS(*this, TlsHostOf(*this), Tls);
  }
  WriteLine("USER " + user);
  Expect(ReadReply());
  WriteLine("PASS " + pass);
  Expect(ReadReply());
  RefreshStatus();
  if (messageCount_ > 0) currentMessage_ = 0;
}

void TmsPOPClient::RefreshStatus() {
  currentMessage_ = -1;
  WriteLine("STAT");
  Expect(ReadReply());
  std::string rest = LastReply.size() > 4 ? LastReply.substr(4) : std::string();
  const size_t p = rest.find(' ');
  if (p == std::string::npos) return;  // no counts: both keep their values
  const int count = StatNumber(rest.substr(0, p));
  rest = rest.substr(p + 1);
  const size_t q = rest.find(' ');
  const int size = StatNumber(q == std::string::npos ? rest : rest.substr(0, q));
  messageCount_ = count;
  mailboxSize_ = size;
}

int TmsPOPClient::GetMessageSize() {
  WriteLine(Command("LIST"));
  Expect(ReadReply());
  return ReplyNumber(ExtractWord(LastReply, 2), -1);
}

void TmsPOPClient::RetrieveHeaders() {
  TmsMessage& message = Message();
  message.Clear();
  WriteLine(Command("TOP") + " 1");
  Expect(ReadReply());
  std::stringstream raw;
  ReceiveMultiLine(raw, -1);
  const TmsStrings split = SplitLines(UnstuffBlock(raw.str()));
  const TmsHeaders lines(split.begin(), split.end());
  message.ParseHeaders(lines);
}

void TmsPOPClient::Retrieve() {
  TmsMessage& message = Message();
  message.Clear();
  Raise(OnRetrievingMessage);
  WriteLine(Command("RETR"));
  Expect(ReadReply());
  const int expected = ReplyNumber(ExtractWord(LastReply, 1), -1);
  std::string data;
  {
    std::stringstream raw;
    ReceiveMultiLine(raw, expected);
    data = UnstuffBlock(raw.str());
  }
  std::istringstream in(std::move(data), std::ios::in | std::ios::binary);
  message.LoadFromStream(in);
  Raise(OnMessageRetrieved);
}

void TmsPOPClient::DeleteMessage() {
  WriteLine(Command("DELE"));
  Expect(ReadReply());
}

void TmsPOPClient::Quit() {
  WriteLine("QUIT");
  Expect(ReadReply());
  Disconnect();
}

}  // namespace ms
