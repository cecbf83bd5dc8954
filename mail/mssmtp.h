#pragma once
// The SMTP client: HELO, then one mail transaction per SendMessage (MAIL FROM,
// RCPT TO for every recipient, DATA with the encoded message), then QUIT.

#include <ctime>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "mail/mssocket.h"
#include "mail/mstls.h"

namespace ms {

class TmsMessage;

// Raised for every recipient the server refuses; set Proceed to go on with
// the other recipients instead of failing the transaction.
using TmsAddressRejectEvent =
    std::function<void(TmsSocketBase& Sender, const std::string& TheAddress,
                       const std::string& ServerReply, bool& Proceed)>;

class TmsSMTPClient : public TmsClientSocket {
 public:
  TmsSMTPClient();

  TmsMessage* MailMessage = nullptr;  // owned elsewhere

  TmsNotifyEvent OnPreparing;
  TmsNotifyEvent OnSending;
  TmsNotifyEvent OnSent;
  TmsAddressRejectEvent OnAddressRejected;

  // When not empty, replaces the message's sender address in MAIL FROM.
  std::string SenderOverride;
  // When not empty, replaces the message's Recipients, CC and BCC.
  std::vector<std::string> RecipientOverride;
  // When set, sent as the message data instead of the encoded message.
  std::istream* DataStreamOverride = nullptr;
  // When not empty, replaces the local host name in HELO.
  std::string HeloName;

  // Secure sending. With Security None and no AuthUser the session is the
  // classic one (HELO, plain text). Otherwise Login says EHLO; StartTLS sends
  // STARTTLS (RFC 3207) and EHLO again over TLS; TLS encrypts from the first
  // byte. With AuthUser set, AUTH follows when the server offers it: PLAIN,
  // LOGIN or CRAM-MD5 (AuthMechanism names one, "" picks), and only over TLS
  // unless AllowPlainAuth is set.
  TmsSecurity Security = TmsSecurity::None;
  TmsTlsOptions Tls;
  std::string AuthUser;      // at most 255 characters are sent
  std::string AuthPassword;  // at most 255 characters are sent
  std::string AuthMechanism;
  bool AllowPlainAuth = false;
  // The extension lines of the last EHLO reply (without "250-" and the
  // greeting line).
  const std::vector<std::string>& Extensions() const { return extensions_; }

  // Recipients refused in the current transaction.
  int RejectedCount() const { return rejected_; }
  // True when the last SendMessage delivered its data (the server accepted it);
  // false when every recipient was refused and the handler let it go on.
  bool Sent() const { return sent_; }

  // The first three characters as a decimal number; -1 when they are not one.
  int ReplyCode(const std::string& line) const override;

  // Raises EmsError "Host property must be assigned" when Host is empty.
  void Connect() override;
  void Login();
  // One transaction for MailMessage. The message is encoded into a temporary
  // file first, with a Date and a Message-ID added to its header lines when it
  // has none; a failure to write or read that file, or a message without
  // recipients, raises EmsError before MAIL FROM.
  void SendMessage();
  void Quit();

 private:
  void SendData(std::istream& data);
  void ResetTransaction();
  // Login with EHLO, STARTTLS and AUTH (mssmtpauth.cpp).
  void LoginExtended();
  bool Ehlo();
  void Authenticate();
  bool Offers(const std::string& keyword) const;

  std::vector<std::string> extensions_;

  int rejected_ = 0;
  bool sent_ = false;
};

class TmsMessage;
// Adds "Date:" (now, RFC 5322) and "Message-ID:" header lines to a message that
// lacks them.
void AddMissingDateAndId(TmsMessage& message, std::time_t now);

// Throws EmsError for an envelope address that could break out of
// "MAIL FROM:<...>" / "RCPT TO:<...>" (CR, LF, NUL, "<", ">", blanks).
void CheckEnvelopeAddress(const std::string& address);

// Dot-stuffs data for DATA (RFC 5321 4.5.2): a line that begins with "." gets
// another one, and a bare CR or LF becomes CR LF. lineStart and pendingCR carry
// the state between successive pieces; the first piece starts a line.
void StuffData(const char* data, size_t length, std::string& out, bool& lineStart, bool& pendingCR);

}  // namespace ms
