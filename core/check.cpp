#include "core/check.h"

#include <strings.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <utility>

#include "base/text.h"
#include "base/utf8.h"
#include "core/mailhint.h"
#include "mail/msmsgcls.h"
#include "platform/errorlog.h"
#include "platform/sound.h"
#include "viewer/CyrCoder.h"
#include "viewer/blacklist.h"
#include "viewer/msgstore.h"
#include "viewer/servermatch.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;

// Deletes every "m_" file of in_dir whose name is not in `keep` (lower case).
void PruneCache(const std::string& in_dir, const std::set<std::string>& keep) {
  std::error_code ec;
  fs::directory_iterator it(in_dir, ec);
  if (ec) return;  // no folder: nothing to prune
  std::vector<fs::path> gone;
  for (const fs::directory_entry& e : it) {
    if (!e.is_regular_file(ec) || e.is_symlink(ec)) continue;  // normal files only
    const std::string name = e.path().filename().string();
    if (!IsMessageFileName(name)) continue;
    if (!keep.count(AsciiLower(name))) gone.push_back(e.path());
  }
  for (const fs::path& p : gone)
    fs::remove(p, ec);
}

}  // namespace

bool SwitchedOff(const tuser& u) {
  return u.NonActive || Trim(u.Host).empty();
}

ms::TmsSecurity SecurityOf(int32_t level) {
  switch (level) {
    case 0:
      return ms::TmsSecurity::None;
    case 2:
      return ms::TmsSecurity::TLS;
    default:
      return ms::TmsSecurity::StartTLS;  // never plain text for an unknown level
  }
}

void SetUpMailComponents(ms::TmsPOPClient& pop, ms::TmsMessage& popMess, ms::TmsSMTPClient& smtp,
                         ms::TmsMessage& smtpMess, uint8_t& busy) {
  pop.TimeOut = 120;
  pop.Port = 110;
  pop.MailMessage = &popMess;
  pop.OnConnected = [&busy](ms::TmsSocketBase&) { busy = 1; };
  pop.OnDisconnected = [&busy](ms::TmsSocketBase&) { busy = 0; };
  popMess.SetContentType("text/plain");
  popMess.ReturnReceipt = false;
  smtp.MailMessage = &smtpMess;
  smtpMess.SetContentType("text/plain");
  smtpMess.CharSet = ms::csISO8859;
  smtpMess.ReturnReceipt = false;
}

std::string TransferProgressText(int64_t received, int64_t max) {
  return std::to_string(received / 1024) + "k/" + std::to_string(max / 1024) + "k";
}

TCheckCycle::TCheckCycle(tusers& settings, ms::TmsPOPClient& pop, ms::TmsMessage& popMess,
                         ms::TmsSMTPClient& smtp, ms::TmsMessage& smtpMess, TmsRas& ras,
                         CheckView& view, SoundPlayer* sound, uint8_t& busy)
    : s_(settings),
      pop_(pop),
      popMess_(popMess),
      smtp_(smtp),
      smtpMess_(smtpMess),
      ras_(ras),
      view_(view),
      sound_(sound),
      busy_(busy) {}

void TCheckCycle::WriteErrorLog(const std::string& error, int32_t conf) {
  std::string who;
  if (conf >= 0 && static_cast<std::size_t>(conf) < s_.Conf.size())
    who = Trim(s_.Conf[static_cast<std::size_t>(conf)].UserName);
  // A server's text never brings an escape sequence or a line break into the log.
  AppendErrorLog(s_.ErrorLogPath(), who, ms::ReplaceControls(error));
}

bool TCheckCycle::PopLogin(int32_t conf) {
  tuser& u = s_.Conf.at(static_cast<std::size_t>(conf));
  try {
    pop_.SetHost(u.Host);
    pop_.Port = static_cast<uint16_t>(u.Port);
    pop_.UserName = u.UserName;
    pop_.Password = u.UserPwd;
    pop_.Security = SecurityOf(u.POP3Security);
    pop_.Tls = ms::TmsTlsOptions{};
    pop_.Tls.TrustCert = u.TrustCert;
    pop_.Login();
    u.Connected = true;
    busy_ = 1;
    return true;
  } catch (const std::exception& e) {
    if (!canceled_) WriteErrorLog(WithMailErrorHint(e), conf);
    // A refused password leaves the connection open: close it, no session stays.
    pop_.Disconnect();
    u.Connected = false;
    busy_ = 0;
    return false;
  }
}

bool TCheckCycle::EnsureConnection() {
  if (s_.Lan != 2) return true;
  if (ras_.Dialling()) return false;  // a dial further down this stack owns the line
  try {
    ras_.OnStatusChange = [this](TmsRas&, const std::string& text) {
      if (view_.ProgressVisible()) view_.SetProgressLabels(text, "");
    };
    ras_.SetService(Trim(s_.Ras));
    for (const std::string& active : ras_.ActiveConnections()) {
      if (strcasecmp(active.c_str(), ras_.Service().c_str()) == 0) return true;
    }
    if (s_.ChIfCon) {
      view_.ShowSteadyIcon();
      view_.SetHint("Нет активного соединения");
      view_.SetTrayMenu(TrayMenu::Main);
      return false;
    }
    view_.SetHint("Идет подключение");
    view_.SetTrayMenu(TrayMenu::Short);
    view_.ShowProgress("", "", 100);
    try {
      ras_.Dial();
    } catch (const std::exception&) {
      // A dial that failed or timed out is ended now, not left to come up later.
      if (!ras_.Dialling()) HangUpOwnDial();
      view_.ReleaseProgress();
      view_.ShowSteadyIcon();
      view_.SetHint("Ошибка подключения");
      view_.SetTrayMenu(TrayMenu::Main);
      return false;
    }
    view_.ReleaseProgress();
    view_.SetTrayMenu(TrayMenu::Main);
    return true;
  } catch (const std::exception&) {
    view_.ReleaseProgress();
    return false;
  }
}

void TCheckCycle::FinishConnection() {
  if (running_) return;
  HangUpOwnDial();
}

void TCheckCycle::HangUpOwnDial() {
  if (s_.Lan != 2 || !ras_.DialedHere()) return;
  try {
    ras_.HangUp();
  } catch (const std::exception&) {
    // Nothing more can be done about a connection that will not hang up.
  }
}

void TCheckCycle::UpdateStatus() {
  std::vector<std::string> lines;
  int64_t waiting = 0;
  const std::size_t users =
      std::min(s_.Conf.size(), static_cast<std::size_t>(std::max(0, s_.Users)));
  for (std::size_t c = 0; c < users; ++c) {
    const tuser& u = s_.Conf[c];
    if (u.Connected) {
      waiting += u.HeadCount;
      // A mailbox with more messages than a check reads shows "+" after its count.
      const bool more = c < capped_.size() && capped_[c];
      if (u.HeadCount > 0)
        lines.push_back(Trim(u.ConfigNM) + "-" + std::to_string(u.HeadCount) + (more ? "+;" : ";"));
    } else if (!SwitchedOff(u)) {
      lines.push_back(Trim(u.ConfigNM) + "-нет связи");
    }
  }
  for (std::size_t pos = 0; pos < items_.size(); ++pos) {
    const int32_t c = items_[pos];
    if (c < 0 || static_cast<std::size_t>(c) >= users) continue;  // gone since the check
    const tuser& u = s_.Conf[static_cast<std::size_t>(c)];
    const std::string name = Trim(u.ConfigNM);
    ConfItemLook look;
    if (u.HeadCount > 0) {
      look = {true, name + " (" + std::to_string(u.HeadCount) + ")", 1};
    } else {
      look = {false, name + " (0)", 2};
    }
    if (!u.Connected) look = {false, name + " (Нет связи)", 0};
    view_.SetConfItem(pos, look);
  }
  if (waiting > 0) {
    view_.ShowMailWaiting();
  } else {
    view_.ShowSteadyIcon();
    lines.push_back("Новой почты нет");
  }
  std::string hint;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    if (k) hint += "\r\n";
    hint += lines[k];
  }
  status_ = Trim(hint);
  result_.Waiting = waiting;
  view_.SetHint(status_);
}

void TCheckCycle::ReadHeaders(int32_t i, int count, const std::vector<tmailhead>& marks) {
  tuser& u = s_.Conf[static_cast<std::size_t>(i)];
  const std::string name = Trim(u.ConfigNM);
  const std::string total = std::to_string(count);
  view_.ShowProgress(name, "0/0", count);

  // First every message's unique id, key and header, so that a deletion mark is
  // matched against the whole mailbox before anything is deleted.
  std::vector<ServerMessage> server;
  std::vector<ServerHead> found;
  ReadServerHeads(pop_, count, server, found, [&](int j) {
    view_.SetHint("Получение почты " + name + " " + std::to_string(j) + "/" + total);
    view_.SetProgress(j, std::to_string(j) + "/" + total);
  });

  std::vector<std::string> ambiguous;
  std::vector<bool> doomed =
      ChosenOnServer(marks, server, u.Heads, ambiguous);  // the last check's records
  for (const std::string& key : ambiguous) {
    WriteErrorLog("Сообщение " + key +
                      " не удалено: несколько сообщений с таким ключом, не ясно, какое удалить",
                  i);
  }
  if (s_.delBlack) {
    for (int j = 0; j < count; ++j) {
      if (IsBlacklisted(s_.Black, found[static_cast<std::size_t>(j)].From))
        doomed[static_cast<std::size_t>(j)] = true;
    }
  }

  const std::set<std::string> cache = StoreServerHeads(s_, i, pop_, server, found, doomed);
  PruneCache(u.InDir, cache);
  view_.ReleaseProgress();
}

void TCheckCycle::Cancel() {
  if (!running_) return;
  canceled_ = true;
  pop_.Cancel();
  smtp_.Cancel();
}

void TCheckCycle::StartCheck() {
  if (running_) return;  // a tick during a check starts nothing
  running_ = true;
  canceled_ = false;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{running_};

  const int32_t users = static_cast<int32_t>(
      std::min(s_.Conf.size(), static_cast<std::size_t>(std::max(0, s_.Users))));
  CheckResult result;
  for (int32_t i = 0; i < users; ++i) {
    if (!SwitchedOff(s_.Conf[static_cast<std::size_t>(i)])) ++result.Active;
  }
  result_ = result;
  view_.PlayCheckFrames();
  if (!EnsureConnection()) {
    UpdateStatus();
    result_.Ran = true;
    return;
  }
  view_.ShowCheckAnimation();
  view_.ClearConfItems();
  items_.clear();
  capped_.assign(static_cast<std::size_t>(users), false);

  for (int32_t i = 0; i < users; ++i) {
    tuser& u = s_.Conf[static_cast<std::size_t>(i)];
    if (SwitchedOff(u)) {
      s_.ClearHeads(i, 0);
      continue;
    }
    if (canceled_) {  // stopped by the user: the rest keep what they showed
      items_.push_back(i);
      view_.AddConfItems(i);
      continue;
    }
    s_.ComputeDirs(u);
    SendQueue(i);

    std::vector<tmailhead> marks;
    for (int32_t h = 0; h < u.HeadCount && static_cast<std::size_t>(h) < u.Heads.size(); ++h) {
      if (u.Heads[static_cast<std::size_t>(h)].DeleteNext)
        marks.push_back(u.Heads[static_cast<std::size_t>(h)]);
    }
    const int32_t oldCount = u.HeadCount;

    view_.SetHint("Проверка почты " + Trim(u.ConfigNM));
    // The records and marks stay until the server's list replaces them: a failed
    // login or an error after it deletes nothing, so they still hold.
    if (PopLogin(i)) {
      ++result.LoggedIn;
      std::vector<tmailhead> previous = u.Heads;  // put back if an error ends the session
      try {
        const int onServer = pop_.MessageCount();
        const int count = std::min(onServer, std::max(MaxMessages, 1));
        if (onServer > count) {
          capped_[static_cast<std::size_t>(i)] = true;
          WriteErrorLog("На сервере " + std::to_string(onServer) + " сообщений; проверены первые " +
                            std::to_string(count),
                        i);
        }
        if (!result.Changed) result.Changed = count != oldCount;
        if (count > 0) {
          ReadHeaders(i, count, marks);
        } else {
          // The server said "+OK 0": an empty mailbox keeps no message, so no cached
          // message file stays either.
          s_.ClearHeads(i, 0);
          PruneCache(u.InDir, {});
        }
        result.Total += onServer;
        pop_.Quit();
      } catch (...) {
        // The session is abandoned without QUIT: nothing marked or blacklisted was
        // deleted, so the headers and marks of the previous check still hold.
        view_.ReleaseProgress();
        pop_.Disconnect();
        busy_ = 0;
        u.Heads = std::move(previous);
        u.HeadCount = oldCount;
        items_.push_back(i);
        view_.AddConfItems(i);
        if (canceled_) continue;  // the user stopped the check: no error to show
        result_ = result;
        UpdateStatus();
        HangUpOwnDial();
        throw;
      }
    }
    items_.push_back(i);
    view_.AddConfItems(i);
  }

  if (result.Total > 0 && result.Changed && sound_ && !canceled_) {
    try {
      sound_->Play(Trim(s_.Sound));
    } catch (const std::exception&) {
      // Sound errors are ignored.
    }
  }
  result_ = result;
  UpdateStatus();
  HangUpOwnDial();
  result_.Ran = !canceled_;
  if (result.Total > 0 && s_.Visual == 1 && result.Changed && !canceled_ && OnNewMailNotice)
    OnNewMailNotice();
}

}  // namespace vigilo
