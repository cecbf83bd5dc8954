#pragma once
// Composing one plain-text message with attachments: checking what the user filled in,
// building the message, sending it at once or putting it into the configuration's
// outgoing queue (which the next check sends). No widgets: the window shows the texts.

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "config/myuser.h"
#include "mail/msmsg.h"
#include "mail/mssmtp.h"

namespace vigilo {

// "Name <addr>" gives "Name"; a text without "<" gives "".
std::string ExtractDisplayName(const std::string& text);
// "Name <addr>" gives "addr" ("" when no ">" follows); a text without "<" gives the
// trimmed text.
std::string ExtractBracketed(const std::string& text);

// The body lines of an edit's text (LF or CR LF): leading indentation and inner blank
// lines are kept, trailing blank lines and trailing blanks of the last line dropped.
std::vector<std::string> BodyLines(const std::string& text);

// What the user filled in.
struct ComposeInput {
  std::string From;    // sender address (the chosen configuration's Adress)
  std::string ToName;  // recipient's display name
  std::string To;      // recipient address
  std::string Subject;
  std::string Text;                      // message text
  std::vector<std::string> Attachments;  // full paths, in list order
};

extern const char* const kNoSender;
extern const char* const kNoRecipient;
extern const char* const kEmptyMessage;
extern const char* const kEmptySubjectQuestion;
extern const char* const kSentText;
extern const char* const kQueuedText;
extern const char* const kNoNetwork;

// The box that stops a send ("" when none does); `askSubject` is set when the subject
// is empty and the user must confirm first.
std::string CheckComposeInput(const ComposeInput& in, bool& askSubject);

// Message identifier: random number, "$", local time "yyyymmddhhnnss", "@", trimmed host.
std::string MakeMessageId(const std::string& smtpHost, std::time_t now, uint32_t random);

// Fills m (cleared first) from the input for configuration u, with the Date and
// Message-ID header lines. Returns "" or why it could not (an attachment that is gone
// or cannot be read); m is then incomplete and must not be sent.
std::string BuildComposedMessage(ms::TmsMessage& m, const ComposeInput& in, const tuser& u,
                                 const std::string& id, std::time_t now);

// Writes m as queue file dir/id: first under a name starting with ".", which no queue
// run picks up, flushed to disk, then renamed. Creates dir (and its parent) as needed.
// Returns "" or the failure.
std::string WriteQueueFile(ms::TmsMessage& m, const std::string& dir, const std::string& id);

// What the window's environment does around an immediate send.
struct ComposeHost {
  std::function<bool()> EnsureConnection;  // network reachable (dialling first)
  std::function<void()> AfterSend;         // check, status, hang up
};

// The result of one press of "Отправить" after the checks passed.
struct SendOutcome {
  bool Sent = false;                  // the server took it
  bool Queued = false;                // a queue file holds it
  std::string QueueName;              // its name in OutDir
  std::vector<std::string> Messages;  // the boxes to show, in order
  bool KeepOpen = false;              // nothing was sent or queued: the window stays open
};

// Builds and sends (when delType is on) or queues the message. smtp and m are used for
// this send only.
SendOutcome SendComposed(const ComposeInput& in, const tuser& u, bool delType,
                         ms::TmsSMTPClient& smtp, ms::TmsMessage& m, const ComposeHost& host);

}  // namespace vigilo
