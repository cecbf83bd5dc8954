#include "viewer/servermatch.h"

#include <algorithm>

#include "base/text.h"
#include "mail/msmsgcls.h"
#include "viewer/msgstore.h"

namespace vigilo {

std::string RecordText(std::string_view value) {
  return ShortStr(ms::ReplaceControls(value, ' '));
}

bool KeyNeedsSize(const ms::TmsMessage& message) {
  return Trim(ExtractBracketed(message.Headers.GetFieldValue("Message-ID"))).empty();
}

std::string RecordKey(const ms::TmsMessage& message, int64_t size) {
  const std::string body = message.Body.empty() ? std::string() : message.Body.front();
  // Trimmed again after the cut, so that the key compares exactly as it is stored.
  return Trim(RecordText(
      MessageKey(message.Headers.GetFieldValue("Message-ID"), message.Headers, body, size)));
}

ServerMatch FindServerIndex(const tmailhead& record, const std::vector<ServerMessage>& server,
                            const std::vector<tmailhead>& records) {
  const bool serverIds = std::any_of(server.begin(), server.end(),
                                     [](const ServerMessage& m) { return !m.UniqueID.empty(); });
  const bool byId = serverIds && !record.UniqueID.empty();
  const std::string key = Trim(record.MessageID);
  if (!byId && key.empty()) return {};
  if (!byId && std::count_if(records.begin(), records.end(),
                             [&](const tmailhead& r) { return Trim(r.MessageID) == key; }) > 1)
    return {MatchKind::Ambiguous, -1};
  ServerMatch match;
  for (std::size_t i = 0; i < server.size(); ++i) {
    const bool same = byId ? server[i].UniqueID == record.UniqueID : server[i].Key == key;
    if (!same) continue;
    if (match.Kind == MatchKind::Found) return {MatchKind::Ambiguous, -1};
    match = {MatchKind::Found, static_cast<int>(i)};
  }
  return match;
}

bool ReadUniqueIds(ms::TmsPOPClient& pop, int count, std::vector<ServerMessage>& server) {
  server.resize(static_cast<std::size_t>(std::max(count, 0)));
  std::vector<std::string> ids;
  if (!pop.GetUniqueIds(ids, count)) return false;
  for (std::size_t i = 0; i < server.size() && i < ids.size(); ++i)
    server[i].UniqueID = std::move(ids[i]);
  return true;
}

std::string ReadRecordKey(ms::TmsPOPClient& pop, int index) {
  pop.SetCurrentMessage(index);
  pop.RetrieveHeaders();
  const ms::TmsMessage& message = *pop.MailMessage;
  return RecordKey(message, KeyNeedsSize(message) ? pop.GetMessageSize() : -1);
}

ServerMatch LocateMessage(ms::TmsPOPClient& pop, const tmailhead& record,
                          const std::vector<tmailhead>& records) {
  const int count = std::min(pop.MessageCount(), kMaxCheckedMessages);
  std::vector<ServerMessage> server;
  const bool ids = ReadUniqueIds(pop, count, server);
  if (!(ids && !record.UniqueID.empty())) {
    for (int i = 0; i < count; ++i)
      server[static_cast<std::size_t>(i)].Key = ReadRecordKey(pop, i);
  }
  return FindServerIndex(record, server, records);
}

}  // namespace vigilo
