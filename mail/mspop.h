#pragma once
// The POP3 client: log-in with USER/PASS, STAT, LIST, TOP n 1, RETR, DELE and
// QUIT, addressing one message at a time through CurrentMessage.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "mail/mssocket.h"
#include "mail/mstls.h"

namespace ms {

class TmsMessage;

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

 private:
  std::string Command(const std::string& verb) const;
  void Expect(int code) const;
  TmsMessage& Message() const;
  // The deadline of one command moving about `octets` octets.
  std::chrono::seconds CommandLimit(int64_t octets = 0) const;

  int messageCount_ = 0;
  int64_t mailboxSize_ = 0;
  int currentMessage_ = -1;
};

// A decimal integer that fits in 32 bits (optional sign), else fallback.
int ReplyNumber(const std::string& word, int fallback);
// A decimal integer without sign that fits in 63 bits, else -1.
int64_t ReplyCount(const std::string& word);

}  // namespace ms
