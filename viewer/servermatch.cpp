#include "viewer/servermatch.h"

#include <algorithm>
#include <utility>

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

namespace {
void ReadHeadsAndKeys(ms::TmsPOPClient& pop, int count, std::vector<ServerMessage>& server,
                      std::vector<ServerHead>& heads, const std::function<void(int)>& progress);
}  // namespace

ServerMatch LocateMessage(ms::TmsPOPClient& pop, const tmailhead& record,
                          const std::vector<tmailhead>& records) {
  const int count = std::min(pop.MessageCount(), kMaxCheckedMessages);
  std::vector<ServerMessage> server;
  const bool ids = ReadUniqueIds(pop, count, server);
  if (!(ids && !record.UniqueID.empty())) {
    std::vector<ServerHead> heads;
    ReadHeadsAndKeys(pop, count, server, heads, nullptr);
  }
  return FindServerIndex(record, server, records);
}

}  // namespace vigilo

namespace vigilo {

namespace {

PendingMessageKey PendingKeyOf(const ms::TmsMessage& message) {
  const std::string body = message.Body.empty() ? std::string() : message.Body.front();
  return PendingMessageKey(message.Headers.GetFieldValue("Message-ID"), message.Headers, body);
}

std::string FinishedKey(const PendingMessageKey& key, int64_t size) {
  // Trimmed again after the cut, so that the key compares exactly as it is stored.
  return Trim(RecordText(key.Finish(size)));
}

void FillHead(ServerHead& f, const ms::TmsMessage& message) {
  const ms::TmsHeaders& headers = message.Headers;
  f.From = RecordText(headers.GetFieldValue("From"));
  ms::TmsHeaderCharSets declared;
  f.Subject = RecordText(headers.GetFieldValue("Subject", declared));
  // The page the subject's encoded words declare, else a guess from its bytes.
  f.Page = DeclaredCodePage(f.Subject, declared.Words, declared.RawEightBit);
  f.Date = RecordText(headers.GetFieldValue("Date"));
  f.To = RecordText(headers.GetFieldValue("To"));
}

// TOP n 1 (and LIST n when the key needs the size) of the first `count` messages:
// their records' fields into heads, their keys into server (sized to count).
void ReadHeadsAndKeys(ms::TmsPOPClient& pop, int count, std::vector<ServerMessage>& server,
                      std::vector<ServerHead>& heads, const std::function<void(int)>& progress) {
  heads.assign(static_cast<std::size_t>(std::max(0, count)), ServerHead{});
  std::vector<ms::TmsPOPStep> steps;
  for (int j = 0; j < count; ++j)
    steps.push_back({ms::TmsPOPStep::Headers, j});
  // A key that needs its message's size: one at a time, LIST follows the TOP at
  // once; with commands sent ahead, the LISTs follow the run.
  std::vector<std::pair<std::size_t, PendingMessageKey>> waiting;
  pop.RunSteps(steps, [&](std::size_t k, int64_t) {
    const ms::TmsMessage& message = *pop.MailMessage;
    ServerHead& f = heads[k];
    PendingMessageKey key = PendingKeyOf(message);
    if (key.NeedsSize() && pop.SendingAhead()) {
      waiting.emplace_back(k, std::move(key));
    } else {
      if (key.NeedsSize()) {
        f.Size = pop.GetMessageSize();
        f.Sized = true;
      }
      server[k].Key = FinishedKey(key, f.Size);
    }
    FillHead(f, message);
    if (progress) progress(static_cast<int>(k) + 1);
  });
  if (waiting.empty()) return;
  steps.clear();
  for (const auto& w : waiting)
    steps.push_back({ms::TmsPOPStep::Size, static_cast<int>(w.first)});
  pop.RunSteps(steps, [&](std::size_t k, int64_t size) {
    const std::size_t j = waiting[k].first;
    heads[j].Size = size;
    heads[j].Sized = true;
    server[j].Key = FinishedKey(waiting[k].second, size);
  });
}

}  // namespace

void ReadServerHeads(ms::TmsPOPClient& pop, int count, std::vector<ServerMessage>& server,
                     std::vector<ServerHead>& heads, const std::function<void(int)>& progress) {
  ReadUniqueIds(pop, count, server);
  ReadHeadsAndKeys(pop, count, server, heads, progress);
}

std::set<std::string> StoreServerHeads(tusers& s, int32_t conf, ms::TmsPOPClient& pop,
                                       const std::vector<ServerMessage>& server,
                                       std::vector<ServerHead>& heads,
                                       const std::vector<bool>& doomed) {
  const int count = static_cast<int>(heads.size());
  const auto isDoomed = [&](std::size_t k) { return k < doomed.size() && doomed[k]; };
  // DELE for each doomed message and LIST for each other one not sized yet, in
  // message order; the records are written once every reply has come.
  std::vector<ms::TmsPOPStep> steps;
  for (int j = 0; j < count; ++j) {
    const std::size_t k = static_cast<std::size_t>(j);
    if (isDoomed(k))
      steps.push_back({ms::TmsPOPStep::Delete, j});
    else if (!heads[k].Sized)
      steps.push_back({ms::TmsPOPStep::Size, j});
  }
  pop.RunSteps(steps, [&](std::size_t k, int64_t size) {
    if (steps[k].Kind == ms::TmsPOPStep::Size)
      heads[static_cast<std::size_t>(steps[k].Index)].Size = size;
  });

  s.ClearHeads(conf, count);
  tuser& u = s.Conf[static_cast<std::size_t>(conf)];
  int32_t kept = 0;
  std::set<std::string> files;
  for (int j = 1; j <= count; ++j) {
    const std::size_t k = static_cast<std::size_t>(j - 1);
    if (isDoomed(k)) continue;
    ServerHead& f = heads[k];
    f.Sized = true;
    const std::string& id = server[k].Key;
    // Built by appending: GCC 12 warns falsely (-Wrestrict) on " " + std::string at -O3.
    std::string size(" ");
    size += std::to_string(f.Size);
    size += " байт";
    s.AddHead(conf, kept, f.From, f.Subject, size, f.Date, f.To, id, static_cast<uint8_t>(f.Page));
    u.Heads[static_cast<std::size_t>(kept)].UniqueID = server[k].UniqueID;
    ++kept;
    files.insert(AsciiLower(MessageFileName(id)));
  }
  return files;
}

std::vector<bool> ChosenOnServer(const std::vector<tmailhead>& chosen,
                                 const std::vector<ServerMessage>& server,
                                 const std::vector<tmailhead>& records,
                                 std::vector<std::string>& ambiguous) {
  std::vector<bool> doomed(server.size(), false);
  for (const tmailhead& record : chosen) {
    const ServerMatch m = FindServerIndex(record, server, records);
    if (m.Kind == MatchKind::Found) {
      doomed[static_cast<std::size_t>(m.Index)] = true;
    } else if (m.Kind == MatchKind::Ambiguous) {
      ambiguous.push_back(Trim(record.MessageID));
    }
  }
  return doomed;
}

}  // namespace vigilo
