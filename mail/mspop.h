#pragma once
// The POP3 client: log-in with USER/PASS, STAT, LIST, TOP n 1, RETR, DELE and
// QUIT, addressing one message at a time through CurrentMessage.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mail/mssocket.h"
#include "mail/mstls.h"

namespace ms {

class TmsMessage;

// One per-message command of a run (TmsPOPClient::RunSteps): TOP n 1, LIST n or DELE n
// for the 0-based message Index (clamped like SetCurrentMessage).
struct TmsPOPStep {
  enum Kinds { Headers, Size, Delete } Kind;
  int Index;
};
// Hears each step's reply in order: its position in the run and, for Size, the octets
// (-1 when the reply gives no number); for Headers the block is in MailMessage.
using TmsPOPStepDone = std::function<void(std::size_t step, int64_t size)>;

class TmsPOPClient : public TmsClientSocket {
 public:
  TmsPOPClient();

  std::string UserName;  // at most 255 characters are sent
  std::string Password;  // sent in plain text unless Security protects it

  // None: the classic plain session. StartTLS: "STLS" after the greeting
  // (RFC 2595), then USER/PASS over TLS. TLS: TLS from the first byte.
  TmsSecurity Security = TmsSecurity::None;
  TmsTlsOptions Tls;

  // From the last STAT (0 until one succeeds).
  int MessageCount() const { return messageCount_; }
  int64_t MailboxSize() const { return mailboxSize_; }

  // The message object that RetrieveHeaders and Retrieve fill; owned elsewhere.
  TmsMessage* MailMessage = nullptr;

  // 0-based index of the message the next command addresses; -1 for none.
  int CurrentMessage() const { return currentMessage_; }
  // Clamped into 0..MessageCount-1; -1 when the mailbox is empty.
  void SetCurrentMessage(int value);

  TmsNotifyEvent OnRetrievingMessage;
  TmsNotifyEvent OnMessageRetrieved;

  // 1 for a line starting "+", -1 for "-", 0 otherwise.
  int ReplyCode(const std::string& line) const override;

  // Every command has a deadline of kCommandTimeOuts times TimeOut in all (a
  // server that trickles a byte now and then cannot hold it longer); RETR gets
  // one second more for every kMinTransferRate octets the message has.
  static constexpr int kCommandTimeOuts = 2;
  static constexpr int64_t kMinTransferRate = 4096;
  // Header blocks beyond this many octets (each line counted with the bytes
  // that hold it) are cut at a line boundary.
  static constexpr int64_t kMaxHeaderBlock = int64_t{1} << 20;

  void Login();
  // STAT; a reply without a message count, or with a negative one, raises.
  void RefreshStatus();
  // The header block (TOP n 1) of the current message into MailMessage: its
  // header lines go to Headers (at most kMaxHeaderBlock; lines end at
  // LF, a lone CR is part of its line) and the first body line, if any, to Body.
  void RetrieveHeaders();
  // The whole current message (RETR) into MailMessage. listedSize is the size
  // LIST gave, if the caller knows it; it only lengthens the deadline.
  void Retrieve(int64_t listedSize = -1);
  // Octets of the current message (LIST n); -1 when the reply gives no number.
  int64_t GetMessageSize();
  // The unique id of every message (UIDL): ids[n - 1] for message n, for n up
  // to maxCount (messages the server does not list get ""). False, with ids
  // empty, when the server refuses the command.
  bool GetUniqueIds(std::vector<std::string>& ids, int maxCount);
  // Marks the current message deleted; the server deletes it at QUIT.
  void DeleteMessage();
  void Quit();

  // Pipelining (RFC 2449): when allowed here and announced by the server, the
  // commands of a run go out ahead of their replies. CAPA is asked at most once a
  // session, and only before a run of at least kPipelineMinimum commands, where
  // sending ahead saves more round trips than the question costs; a server that
  // refuses CAPA or does not announce PIPELINING gets one command at a time.
  bool AllowPipelining = true;
  static constexpr std::size_t kPipelineMinimum = 4;
  // Commands sent ahead of the reply being read, at most (about 14 KiB of them).
  static constexpr std::size_t kMaxAhead = 1024;
  // Whether the server announced PIPELINING (false until CAPA was asked).
  bool ServerPipelines() const { return serverPipelines_; }
  // Whether a run is sending ahead now: a TmsPOPStepDone may send a command of its
  // own (GetMessageSize, ...) only when it is not.
  bool SendingAhead() const { return sendingAhead_; }

  // Runs the steps in order with the effect of the one-at-a-time commands; each
  // reply is read with that command's deadline and heard by done. A failed reply
  // raises as those commands do; commands sent ahead of it stay unanswered, so the
  // caller must end the session without QUIT (the server then deletes nothing).
  void RunSteps(const std::vector<TmsPOPStep>& steps, const TmsPOPStepDone& done);

 private:
  int ClampedMessage(int value) const;
  std::string Command(const std::string& verb) const;
  std::string StepCommand(const TmsPOPStep& step) const;
  // Reads the reply to one step's command, its command sent already.
  int64_t ReadStepReply(const TmsPOPStep& step);
  void ReadHeadersReply();
  // Whether a run of `commands` commands may be sent ahead (asks CAPA if need be).
  bool WillPipeline(std::size_t commands);
  void AskCapabilities();
  void Expect(int code) const;
  TmsMessage& Message() const;
  // The deadline of one command moving about `octets` octets.
  std::chrono::seconds CommandLimit(int64_t octets = 0) const;

  int messageCount_ = 0;
  int64_t mailboxSize_ = 0;
  int currentMessage_ = -1;
  bool capabilitiesAsked_ = false;
  bool serverPipelines_ = false;
  bool sendingAhead_ = false;
};

// A decimal integer that fits in 32 bits (optional sign), else fallback.
int ReplyNumber(const std::string& word, int fallback);
// A decimal integer without sign that fits in 63 bits, else -1.
int64_t ReplyCount(const std::string& word);

}  // namespace ms
