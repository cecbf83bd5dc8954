#pragma once
// The POP3 client: log-in with USER/PASS, STAT, LIST, TOP n 1, RETR, DELE and
// QUIT, addressing one message at a time through CurrentMessage.

#include <string>

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

  // From the last STAT.
  int MessageCount() const { return messageCount_; }
  int MailboxSize() const { return mailboxSize_; }

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

  void Login();
  void RefreshStatus();
  // The header block (TOP n 1) of the current message into MailMessage.
  void RetrieveHeaders();
  // The whole current message (RETR) into MailMessage.
  void Retrieve();
  // Octets of the current message (LIST n); -1 when the reply gives no number.
  int GetMessageSize();
  // Marks the current message deleted; the server deletes it at QUIT.
  void DeleteMessage();
  void Quit();

 private:
  std::string Command(const std::string& verb) const;
  void Expect(int code) const;
  TmsMessage& Message() const;

  int messageCount_ = 0;
  int mailboxSize_ = 0;
  int currentMessage_ = -1;
};

// A decimal integer that fits in 32 bits (optional sign), else fallback.
int ReplyNumber(const std::string& word, int fallback);

}  // namespace ms
