#pragma once
// Which message on a POP3 server a header record names. Message numbers change
// whenever a message is deleted, so a record names its message by the server's
// unique id (UIDL) when both sides have one, else by its message key compared
// exactly; a key (or id) that several messages on the server share names none of
// them. The check uses these rules for deletion marks; the viewer uses them to
// find the message it downloads or deletes at once.

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "config/myuser.h"
#include "mail/msmsg.h"
#include "mail/mspop.h"
#include "viewer/CyrCoder.h"

namespace vigilo {

// At most this many messages of one mailbox are read by a check; a server that
// claims more cannot make a check grow without bound.
inline constexpr int kMaxCheckedMessages = 100000;

// What is known of one message on the server.
struct ServerMessage {
  std::string UniqueID;  // from UIDL; "" when the server gives none
  std::string Key;       // RecordKey of the message
};

// A header value as a record keeps it: control bytes (CR, LF, NUL, ESC ...) become
// blanks, and the text is cut to 255 characters.
std::string RecordText(std::string_view value);

// Whether the key of the message whose TOP reply is in `message` depends on its
// size: it has no usable Message-ID.
bool KeyNeedsSize(const ms::TmsMessage& message);
// The key a record keeps for the message whose TOP reply (RetrieveHeaders) is in
// `message`; `size` is its LIST size, needed only when KeyNeedsSize.
std::string RecordKey(const ms::TmsMessage& message, int64_t size);

enum class MatchKind {
  Found,     // exactly one message on the server
  Missing,   // none: gone, or the record names nothing
  Ambiguous  // several messages share the record's key (no unique ids to tell them apart)
};
struct ServerMatch {
  MatchKind Kind = MatchKind::Missing;
  int Index = -1;  // 0-based position on the server when Found
};

// The message on the server that `record` names. When the record has a unique id
// and the server gave unique ids, only the id decides; otherwise the record's
// trimmed key must equal exactly one message's key, and no other record of
// `records` (the list the record belongs to) may have that key: a mark on one of
// two records with one key cannot say which message it meant.
ServerMatch FindServerIndex(const tmailhead& record, const std::vector<ServerMessage>& server,
                            const std::vector<tmailhead>& records = {});

// The unique ids of the first `count` messages into `server` (sized to count);
// false when the server does not offer UIDL (the ids stay "").
bool ReadUniqueIds(ms::TmsPOPClient& pop, int count, std::vector<ServerMessage>& server);
// The key of message `index` (0-based): TOP n 1, and LIST n when KeyNeedsSize.
// The TOP reply stays in pop.MailMessage.
std::string ReadRecordKey(ms::TmsPOPClient& pop, int index);

// For an operation on one recorded message in a session of its own (logged in):
// finds its position on the server by UIDL, or by reading every message's key
// when the record or the server has no unique id.
ServerMatch LocateMessage(ms::TmsPOPClient& pop, const tmailhead& record,
                          const std::vector<tmailhead>& records = {});

// The header of one message as a record keeps it.
struct ServerHead {
  std::string From, Subject, Date, To;
  TCodePage Page = TCodePage::CP1251;  // of the subject: declared, else guessed
  int64_t Size = -1;                   // LIST size; -1 also when LIST gave no number
  bool Sized = false;                  // LIST was asked already
};

// Reads the first `count` messages of the open session: their unique ids (UIDL when
// offered), then for each one TOP n 1, and LIST n when its key needs the size (right
// after its TOP; when the server pipelines, after all the TOPs).
// `progress` (may be empty) hears each message number, 1-based, once it is read.
void ReadServerHeads(ms::TmsPOPClient& pop, int count, std::vector<ServerMessage>& server,
                     std::vector<ServerHead>& heads,
                     const std::function<void(int)>& progress = nullptr);

// Replaces configuration conf's records by the messages read with ReadServerHeads:
// a doomed message gets DELE and no record, every other one its record (LIST n for
// its size when not read yet). Returns the message file names (lower case) of the
// records kept.
std::set<std::string> StoreServerHeads(tusers& s, int32_t conf, ms::TmsPOPClient& pop,
                                       const std::vector<ServerMessage>& server,
                                       std::vector<ServerHead>& heads,
                                       const std::vector<bool>& doomed);

// Which messages of `server` the records `chosen` name (FindServerIndex against the
// configuration's records `records`); the keys of chosen records that name several
// messages go to `ambiguous`, and records that name none are skipped.
std::vector<bool> ChosenOnServer(const std::vector<tmailhead>& chosen,
                                 const std::vector<ServerMessage>& server,
                                 const std::vector<tmailhead>& records,
                                 std::vector<std::string>& ambiguous);

}  // namespace vigilo
