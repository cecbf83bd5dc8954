#include "mail/mspop.h"

#include <algorithm>
#include <cstdint>

#include "mail/msexcept.h"
#include "mail/msmsg.h"
#include "mail/msmsgcls.h"

namespace ms {
namespace {

// A command argument must not carry a line break into the protocol stream.
void CheckArgument(const std::string& value, const char* what) {
  if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    throw EmsError(std::string("The ") + what + " must not contain line breaks");
}

// A STAT field: a count, or the conversion error.
int64_t StatCount(const std::string& word, int64_t max) {
  const int64_t v = ReplyCount(word);
  if (v < 0 || v > max)
    throw EmsError("'" + ReplaceControls(word.substr(0, 64)) + "' is not a valid count");
  return v;
}

// Collects the lines of a TOP reply: header lines up to the empty line, then the
// first body line; kMaxHeaderBlock octets in all, cut at a line boundary. Each
// line counts with what holding it costs, so a block of tiny lines is bounded too.
class HeaderBlockSink {
 public:
  HeaderBlockSink(TmsHeaders& headers, std::string& firstBodyLine)
      : headers_(headers), body_(firstBodyLine) {}

  void operator()(const char* data, size_t length) {
    if (full_) return;
    if (static_cast<int64_t>(used_ + kLineCost + line_.size() + length) >
        TmsPOPClient::kMaxHeaderBlock) {
      full_ = true;  // this line and all after it are dropped
      line_.clear();
      line_.shrink_to_fit();
      return;
    }
    line_.append(data, length);
    if (line_.back() != '\n') return;
    used_ += kLineCost + line_.size();
    line_.pop_back();
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    if (!inBody_) {
      if (line_.empty())
        inBody_ = true;
      else
        headers_.push_back(line_);
    } else if (!haveBody_) {
      body_ = line_;
      haveBody_ = true;
    }
    line_.clear();
  }
  bool HasBodyLine() const { return haveBody_; }

 private:
  static constexpr size_t kLineCost = sizeof(std::string);

  TmsHeaders& headers_;
  std::string& body_;
  std::string line_;
  size_t used_ = 0;
  bool full_ = false;
  bool inBody_ = false;
  bool haveBody_ = false;
};

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

int64_t ReplyCount(const std::string& word) {
  const std::string w = Trim(word);
  if (w.empty() || w.size() > 18) return -1;
  int64_t v = 0;
  for (char c : w) {
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  return v;
}

TmsPOPClient::TmsPOPClient() {
  SetDefaultPort(110);
}

int TmsPOPClient::ClampedMessage(int value) const {
  if (messageCount_ <= 0) return -1;
  if (value < messageCount_) return value < 0 ? 0 : value;
  return messageCount_ - 1;
}

void TmsPOPClient::SetCurrentMessage(int value) {
  currentMessage_ = ClampedMessage(value);
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
  if (code == 1) return;
  if (LastReply.empty())
    throw EmsServerError(ClosedByPeer() ? "Connection closed by server"
                                        : "The server sent an empty reply");
  throw EmsServerError(ReplaceControls(LastReply));
}

TmsMessage& TmsPOPClient::Message() const {
  if (!MailMessage) throw EmsError("MailMessage is not assigned");
  return *MailMessage;
}

std::chrono::seconds TmsPOPClient::CommandLimit(int64_t octets) const {
  const int64_t base = int64_t{kCommandTimeOuts} * std::max(TimeOut, 1);
  return std::chrono::seconds(base + std::max<int64_t>(octets, 0) / kMinTransferRate);
}

void TmsPOPClient::Login() {
  const std::string user = UserName.substr(0, 255);
  const std::string pass = Password.substr(0, 255);
  CheckArgument(user, "user name");
  CheckArgument(pass, "password");
  if (Security != TmsSecurity::None) CheckTlsOptions(Tls);
  messageCount_ = 0;
  mailboxSize_ = 0;
  currentMessage_ = -1;
  capabilitiesAsked_ = false;
  serverPipelines_ = false;
  {
    TmsTimeLimit limit(*this, CommandLimit());
    if (Security == TmsSecurity::TLS)
      ConnectTLS(*this, TlsHostOf(*this), Tls);
    else
      Connect();
    Expect(ReadReply());  // the greeting is one line, whatever follows "+OK"
  }
  if (Security == TmsSecurity::StartTLS) {
    TmsTimeLimit limit(*this, CommandLimit());
    WriteLine("STLS");
    Expect(ReadReply());
    StartTLS(*this, TlsHostOf(*this), Tls);
  }
  {
    TmsTimeLimit limit(*this, CommandLimit());
    WriteLine("USER " + user);
    Expect(ReadReply());
  }
  {
    TmsTimeLimit limit(*this, CommandLimit());
    WriteLine("PASS " + pass);
    Expect(ReadReply());
  }
  RefreshStatus();
  if (messageCount_ > 0) currentMessage_ = 0;
}

void TmsPOPClient::RefreshStatus() {
  TmsTimeLimit limit(*this, CommandLimit());
  currentMessage_ = -1;
  WriteLine("STAT");
  Expect(ReadReply());
  const std::string count = ExtractWord(LastReply, 1);
  if (count.empty())
    throw EmsError("The server's STAT reply gives no message count: " +
                   ReplaceControls(LastReply.substr(0, 128)));
  const int64_t n = StatCount(count, INT32_MAX);
  const std::string size = ExtractWord(LastReply, 2);
  const int64_t octets = size.empty() ? 0 : StatCount(size, INT64_MAX);
  messageCount_ = static_cast<int>(n);
  mailboxSize_ = octets;
}

int64_t TmsPOPClient::GetMessageSize() {
  TmsTimeLimit limit(*this, CommandLimit());
  WriteLine(Command("LIST"));
  Expect(ReadReply());
  return ReplyCount(ExtractWord(LastReply, 2));
}

void TmsPOPClient::RetrieveHeaders() {
  TmsTimeLimit limit(*this, CommandLimit());
  Message();  // raises before anything is sent when there is none
  WriteLine(Command("TOP") + " 1");
  ReadHeadersReply();
}

void TmsPOPClient::ReadHeadersReply() {
  TmsMessage& message = Message();
  message.Clear();
  Expect(ReadReply());
  TmsHeaders lines;
  std::string first;
  HeaderBlockSink sink(lines, first);
  ReceiveDotBlock([&sink](const char* data, size_t length) { sink(data, length); }, -1);
  message.ParseHeaders(lines);
  if (sink.HasBodyLine()) message.Body.push_back(std::move(first));
}

void TmsPOPClient::Retrieve(int64_t listedSize) {
  TmsMessage& message = Message();
  message.Clear();
  Raise(OnRetrievingMessage);
  std::string data;
  {
    TmsTimeLimit limit(*this, CommandLimit(std::min(listedSize, MaxDataSize)));
    WriteLine(Command("RETR"));
    Expect(ReadReply());
    const int64_t announced = ReplyCount(ExtractWord(LastReply, 1));
    // The size the reply announces lengthens the deadline as far as the limit allows.
    TmsTimeLimit more(*this, CommandLimit(std::min(announced, MaxDataSize)));
    ReceiveDotBlock(data, announced);
  }
  message.LoadFromString(std::move(data));  // the one copy of the message is handed over
  Raise(OnMessageRetrieved);
}

bool TmsPOPClient::GetUniqueIds(std::vector<std::string>& ids, int maxCount) {
  ids.clear();
  const int count = std::max(maxCount, 0);
  TmsTimeLimit limit(*this, CommandLimit(int64_t{count} * 80));
  WriteLine("UIDL");
  if (ReadReply() != 1) {
    if (LastReply.empty()) Expect(0);  // the connection is gone: an error, not a refusal
    return false;
  }
  ids.assign(static_cast<size_t>(count), std::string());
  std::string line;
  bool tooLong = false;
  ReceiveDotBlock(
      [&](const char* data, size_t length) {
        if (!tooLong) line.append(data, length);
        if (line.size() > 512) {
          tooLong = true;  // no unique id is that long: the line is ignored
          line.clear();
        }
        if (data[length - 1] != '\n') return;
        const int64_t n = ReplyCount(ExtractWord(line, 0));
        const std::string uid = ExtractWord(line, 1);
        // A unique id is 1 to 70 printable characters; anything else counts as none.
        const bool printable =
            std::all_of(uid.begin(), uid.end(), [](char c) { return c > 0x20 && c < 0x7F; });
        if (!tooLong && printable && n >= 1 && n <= count) ids[static_cast<size_t>(n - 1)] = uid;
        line.clear();
        tooLong = false;
      },
      -1);
  return true;
}

void TmsPOPClient::DeleteMessage() {
  TmsTimeLimit limit(*this, CommandLimit());
  WriteLine(Command("DELE"));
  Expect(ReadReply());
}

std::string TmsPOPClient::StepCommand(const TmsPOPStep& step) const {
  const std::string n = std::to_string(static_cast<int64_t>(ClampedMessage(step.Index)) + 1);
  switch (step.Kind) {
    case TmsPOPStep::Headers:
      return "TOP " + n + " 1\r\n";
    case TmsPOPStep::Size:
      return "LIST " + n + "\r\n";
    case TmsPOPStep::Delete:
      break;
  }
  return "DELE " + n + "\r\n";
}

int64_t TmsPOPClient::ReadStepReply(const TmsPOPStep& step) {
  TmsTimeLimit limit(*this, CommandLimit());
  switch (step.Kind) {
    case TmsPOPStep::Headers:
      ReadHeadersReply();
      return -1;
    case TmsPOPStep::Size:
      Expect(ReadReply());
      return ReplyCount(ExtractWord(LastReply, 2));
    case TmsPOPStep::Delete:
      break;
  }
  Expect(ReadReply());
  return -1;
}

void TmsPOPClient::RunSteps(const std::vector<TmsPOPStep>& steps, const TmsPOPStepDone& done) {
  if (!WillPipeline(steps.size())) {
    for (std::size_t k = 0; k < steps.size(); ++k) {
      SetCurrentMessage(steps[k].Index);
      int64_t size = -1;
      switch (steps[k].Kind) {
        case TmsPOPStep::Headers:
          RetrieveHeaders();
          break;
        case TmsPOPStep::Size:
          size = GetMessageSize();
          break;
        case TmsPOPStep::Delete:
          DeleteMessage();
          break;
      }
      done(k, size);
    }
    return;
  }
  for (const TmsPOPStep& step : steps) {
    if (step.Kind == TmsPOPStep::Headers) Message();  // raises before anything is sent
  }
  sendingAhead_ = true;
  struct Ahead {
    bool& flag;
    ~Ahead() { flag = false; }
  } ahead{sendingAhead_};
  // The commands are queued and written while replies are read, never more than
  // kMaxAhead ahead; so a server that stops reading until its replies are taken
  // cannot stall us on a full send buffer.
  std::size_t sent = 0;
  for (std::size_t k = 0; k < steps.size(); ++k) {
    if (sent < steps.size() && sent - k < kMaxAhead / 2) {
      std::string batch;
      for (; sent < steps.size() && sent - k < kMaxAhead; ++sent)
        batch += StepCommand(steps[sent]);
      QueueBuffer(batch);
    }
    SetCurrentMessage(steps[k].Index);
    done(k, ReadStepReply(steps[k]));
  }
}

bool TmsPOPClient::WillPipeline(std::size_t commands) {
  if (!AllowPipelining || commands < 2) return false;
  if (!capabilitiesAsked_ && commands >= kPipelineMinimum) AskCapabilities();
  return serverPipelines_;
}

void TmsPOPClient::AskCapabilities() {
  capabilitiesAsked_ = true;
  TmsTimeLimit limit(*this, CommandLimit());
  WriteLine("CAPA");
  if (ReadReply() != 1) {
    if (LastReply.empty()) Expect(0);  // the connection is gone: an error, not a refusal
    return;                            // no capabilities to tell: one command at a time
  }
  std::string line;
  bool pipelining = false;
  ReceiveDotBlock(
      [&](const char* data, size_t length) {
        if (line.size() < 512) line.append(data, std::min<size_t>(length, 512));
        if (data[length - 1] != '\n') return;
        if (AsciiLower(ExtractWord(line, 0)) == "pipelining") pipelining = true;
        line.clear();
      },
      -1);
  serverPipelines_ = pipelining;
}

void TmsPOPClient::Quit() {
  TmsTimeLimit limit(*this, CommandLimit());
  WriteLine("QUIT");
  Expect(ReadReply());
  Disconnect();
}

}  // namespace ms
