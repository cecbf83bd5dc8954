#include "mail/mssmtp.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <istream>
#include <random>

#include "mail/msexcept.h"
#include "mail/msmsg.h"
#include "mail/mstempfile.h"
#include "mail/mswsock.h"

namespace ms {

void CheckEnvelopeAddress(const std::string& address) {
  if (address.find_first_of(std::string("\r\n\0<> \t", 7)) != std::string::npos)
    throw EmsError("Invalid e-mail address: " + address.substr(0, 255));
}

void StuffData(const char* data, size_t length, std::string& out, bool& lineStart,
               bool& pendingCR) {
  for (size_t i = 0; i < length; ++i) {
    const char c = data[i];
    if (pendingCR) {
      pendingCR = false;
      out += '\n';
      lineStart = true;
      if (c == '\n') continue;
    }
    if (c == '\r') {
      out += '\r';
      pendingCR = true;
      lineStart = false;
      continue;
    }
    if (c == '\n') {
      out += "\r\n";
      lineStart = true;
      continue;
    }
    if (lineStart && c == '.') out += '.';
    out += c;
    lineStart = false;
  }
}

TmsSMTPClient::TmsSMTPClient() {
  SetDefaultPort(25);
}

int TmsSMTPClient::ReplyCode(const std::string& line) const {
  if (line.size() < 3) return -1;
  int v = 0;
  for (int i = 0; i < 3; ++i) {
    if (line[i] < '0' || line[i] > '9') return -1;
    v = v * 10 + (line[i] - '0');
  }
  return v;
}

void TmsSMTPClient::Connect() {
  if (Host().empty() && ProxyHost().empty()) throw EmsError("Host property must be assigned");
  TmsClientSocket::Connect();
}

void TmsSMTPClient::Login() {
  if (Security != TmsSecurity::None || !AuthUser.empty()) {
    LoginExtended();
    return;
  }
  Connect();
  if (ReadMultiLineReply() != 220) throw EmsServerError(LastReply);
  const std::string name = HeloName.empty() ? LocalHostName() : HeloName;
  WriteLine("HELO " + name);
  if (ReadMultiLineReply() != 250) {
    // Some servers refuse the name but still accept the transaction; the
    // reply to MAIL FROM decides.
    WriteLine("HELO");
    ReadMultiLineReply();
  }
}

void TmsSMTPClient::ResetTransaction() {
  const std::string reply = LastReply;
  try {
    WriteLine("RSET");
    ReadMultiLineReply();
  } catch (const EmsError&) {
  }
  LastReply = reply;
}

void TmsSMTPClient::SendData(std::istream& data) {
  data.clear();
  data.seekg(0, std::ios::end);
  const int64_t size = std::max<int64_t>(0, static_cast<int64_t>(data.tellg()));
  data.seekg(0);
  if (!data) {
    Disconnect();
    throw EmsError("Cannot read the message data");
  }
  std::vector<char> block(kBlockSize);
  std::string out;
  bool lineStart = true, pendingCR = false;
  int64_t position = 0;
  for (;;) {
    data.read(block.data(), static_cast<std::streamsize>(block.size()));
    const size_t n = static_cast<size_t>(data.gcount());
    if (n == 0) break;
    out.clear();
    StuffData(block.data(), n, out, lineStart, pendingCR);
    SendBuffer(out);
    position += static_cast<int64_t>(n);
    if (OnTransferProgress)
      OnTransferProgress(*this,
                         size > 0 ? static_cast<int>(std::llround(position * 100.0 / size)) : 100,
                         static_cast<int>(std::min<int64_t>(position, INT32_MAX)), -1);
  }
  if (data.bad() || position < size) {
    // Without the final "." the server drops what it got; the session cannot go on.
    Disconnect();
    throw EmsError("Cannot read the message data");
  }
  data.clear();
  // The CR LF before the final "." belongs to the terminator: data that ends
  // with a line end needs only ".", other data gets its line ended first.
  std::string end;
  if (pendingCR) {
    end = "\n";
  } else if (!lineStart) {
    end = "\r\n";
  }
  SendBuffer(end + ".\r\n");
}

void AddMissingDateAndId(TmsMessage& message, std::time_t now) {
  if (Trim(message.Headers.GetRawFieldValue("Date")).empty()) {
    message.Headers.RemoveField("Date");
    message.Headers.push_back("Date: " + FormatMailDate(now));
  }
  if (Trim(message.Headers.GetRawFieldValue("Message-ID")).empty()) {
    message.Headers.RemoveField("Message-ID");
    // Unique enough: the time, random bits and the sender's domain.
    const std::string& from = message.Sender.Address;
    const std::size_t at = from.rfind('@');
    std::string domain = at == std::string::npos ? "" : from.substr(at + 1);
    if (domain.empty() || domain.find_first_of("<>\"() \t\r\n") != std::string::npos)
      domain = "localhost";
    thread_local std::mt19937_64 gen{std::random_device{}()};
    char id[64];
    std::snprintf(id, sizeof id, "%lld.%016llx", static_cast<long long>(now),
                  static_cast<unsigned long long>(gen()));
    message.Headers.push_back("Message-ID: <" + std::string(id) + "@" + domain + ">");
  }
}

void TmsSMTPClient::SendMessage() {
  sent_ = false;
  TmsTempFile temp("ms");
  if (MailMessage) {
    Raise(OnPreparing);
    AddMissingDateAndId(*MailMessage, std::time(nullptr));
    MailMessage->SaveToStream(temp.Stream());
    temp.Stream().flush();
    // A full or size-limited temporary folder must not turn into an empty or a
    // truncated mail: nothing reaches the server unless the whole message was written.
    if (!temp.Stream()) {
      const int error = errno;
      throw EmsError("Cannot write the temporary file " + temp.Path() + ": " +
                     std::strerror(error));
    }
  }
  Raise(OnSending);
  rejected_ = 0;

  const std::string from = !SenderOverride.empty() ? SenderOverride
                           : MailMessage           ? MailMessage->Sender.Address
                                                   : std::string();
  std::vector<std::string> recipients;
  if (!RecipientOverride.empty()) {
    recipients = RecipientOverride;
  } else if (MailMessage) {
    for (const TmsAddressList* list :
         {&MailMessage->Recipients, &MailMessage->CC, &MailMessage->BCC})
      for (int i = 0; i < list->Count(); ++i)
        recipients.push_back(list->Items(i).Address);
  }
  // A message to nobody is an error, not a success with nothing delivered.
  if (recipients.empty()) throw EmsError("The message has no recipients");
  // Nothing reaches the wire before every address is known to be clean.
  CheckEnvelopeAddress(from);
  for (const std::string& r : recipients)
    CheckEnvelopeAddress(r);

  WriteLine("MAIL FROM:<" + from + ">");
  if (ReadMultiLineReply() != 250) throw EmsServerError(LastReply);
  try {
    for (const std::string& r : recipients) {
      WriteLine("RCPT TO:<" + r + ">");
      const int code = ReadMultiLineReply();
      if (code == 250 || code == 251) continue;
      ++rejected_;
      bool proceed = false;
      if (OnAddressRejected) OnAddressRejected(*this, r, LastReply, proceed);
      if (!proceed) throw EmsServerError(LastReply);
    }
    if (static_cast<int>(recipients.size()) <= rejected_) {
      // Nobody to deliver to: end the open transaction so that the next
      // message of this session starts cleanly.
      ResetTransaction();
      return;
    }
    WriteLine("DATA");
    if (ReadMultiLineReply() != 354) throw EmsServerError(LastReply);
  } catch (const EmsServerError&) {
    ResetTransaction();
    throw;
  }
  SendData(DataStreamOverride ? *DataStreamOverride : temp.Stream());
  if (ReadMultiLineReply() != 250) throw EmsServerError(LastReply);
  sent_ = true;
  Raise(OnSent);
}

void TmsSMTPClient::Quit() {
  WriteLine("QUIT");
  if (ReadMultiLineReply() != 221) throw EmsServerError(LastReply);
  Disconnect();
}

}  // namespace ms
