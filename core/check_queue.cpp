// The outgoing queue of one configuration: every message file in its OutDir is sent
// through the SMTP client and deleted only after the server accepted it. The
// configuration chooses TLS or STARTTLS, SMTP AUTH and a trusted certificate.
//
// A queue run holds an exclusive lock on OutDir (flock on the folder itself), so two
// processes (the tray program and a `vigilo --check`) never send the same queue. Each
// file is claimed by renaming it to NAME.sending before it is sent: a file is either
// waiting (its own name), being sent, sent (deleted, or NAME.sent when it cannot be
// deleted) or left by a run that ended in the middle (NAME.interrupted). Only waiting
// files are ever sent; the others are reported once, when they get their name.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/text.h"
#include "core/check.h"
#include "core/mailhint.h"
#include "mail/msexcept.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The exclusive lock of a queue folder, released when the object goes away.
class QueueLock {
 public:
  explicit QueueLock(const std::string& dir)
      : fd_(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~QueueLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  QueueLock(const QueueLock&) = delete;
  QueueLock& operator=(const QueueLock&) = delete;
  // False when the folder is missing or another process is sending its queue.
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_;
};

}  // namespace

void ConfigureSmtp(ms::TmsSMTPClient& smtp, const tuser& u) {
  smtp.Security = SecurityOf(u.SMTPSecurity);
  smtp.Tls = ms::TmsTlsOptions{};
  smtp.Tls.TrustCert = u.TrustCert;
  smtp.AuthUser.clear();
  smtp.AuthPassword.clear();
  smtp.AuthMechanism.clear();
  if (u.SMTPAuth == 1) {
    smtp.AuthUser = u.UserName;
    smtp.AuthPassword = u.UserPwd;
  } else if (u.SMTPAuth == 2) {
    smtp.AuthUser = Trim(u.SMTPUser);
    smtp.AuthPassword = u.SMTPPwd;
  }
  smtp.AllowPlainAuth = u.SMTPPlainAuth;
}

bool IsQueuedMessageName(const std::string& name) {
  // Names starting with a dot are files being written; the suffixes are the states
  // a file takes once the queue has claimed it.
  return !name.empty() && name[0] != '.' && !EndsWith(name, kQueueSending) &&
         !EndsWith(name, kQueueSent) && !EndsWith(name, kQueueInterrupted);
}

void TCheckCycle::SendQueue(int32_t conf) {
  const tuser& u = s_.Conf[static_cast<std::size_t>(conf)];
  QueueLock lock(u.OutDir);
  if (!lock.Held()) return;

  std::vector<std::string> names, leftovers;
  std::error_code ec;
  for (fs::directory_iterator it(u.OutDir, ec), end; !ec && it != end; it.increment(ec)) {
    // Normal files only: no folders, no links that could point anywhere.
    if (it->is_symlink(ec) || !it->is_regular_file(ec)) continue;
    const std::string name = it->path().filename().string();
    if (IsQueuedMessageName(name)) names.push_back(name);
    if (EndsWith(name, kQueueSending)) leftovers.push_back(name);
  }
  // A claimed file while we hold the lock: a run ended between claiming and deleting
  // it (killed, crashed, or the file could not be deleted). It may have been sent:
  // never send it again on our own; the user decides.
  for (const std::string& name : leftovers) {
    const std::string from = u.OutDir + "/" + name;
    const std::string to =
        from.substr(0, from.size() - std::strlen(kQueueSending)) + kQueueInterrupted;
    if (::rename(from.c_str(), to.c_str()) == 0)
      WriteErrorLog("The queued message " + to +
                        " was being sent when a check ended; it may have been sent and is "
                        "not sent again (rename it to send it)",
                    conf);
  }
  if (names.empty()) return;
  // Name order: the same on every file system, so a queue is sent in a known order.
  std::sort(names.begin(), names.end());

  const std::string host = Trim(u.SMTPHost);
  const int32_t port = u.SMTPPort;
  // Without the secure-mail settings the session is the classic one (HELO, plain).
  const bool secure = u.SMTPSecurity != 0 || u.SMTPAuth != 0;
  ConfigureSmtp(smtp_, u);
  try {
    smtp_.SetHost(host);
    smtp_.Port = static_cast<uint16_t>(port);
    smtp_.Login();
  } catch (const std::exception& e) {
    // The queue stays for the next check. A classic session logs nothing (an absent
    // server is normal); a secure one logs why, since a TLS, certificate or password
    // problem will not go away by itself.
    if (secure) WriteErrorLog(WithMailErrorHint(e), conf);
    smtp_.Disconnect();
    return;
  }
  for (const std::string& name : names) {
    if (canceled_) break;        // stopped by the user: the rest stay queued
    if (!smtp_.IsOpen()) break;  // the session broke off: the rest waits for the next check
    const std::string path = u.OutDir + "/" + name;
    const std::string claimed = path + kQueueSending;
    if (::rename(path.c_str(), claimed.c_str()) != 0) {
      // Gone meanwhile (deleted by hand): nothing to send.
      if (errno != ENOENT)
        WriteErrorLog("Cannot claim " + path + " for sending: " + std::strerror(errno), conf);
      continue;
    }
    bool sent = false;
    try {
      smtpMess_.Clear();
      smtpMess_.LoadFromFile(claimed);
      smtp_.SendMessage();
      sent = smtp_.Sent();
      if (!sent) throw ms::EmsError("No recipient of " + path + " was accepted");
    } catch (const std::exception& e) {
      WriteErrorLog(WithMailErrorHint(e), conf);
    }
    if (!sent) {
      // Waiting again for the next check. Should even that fail, the next run finds
      // it claimed and reports it.
      ::rename(claimed.c_str(), path.c_str());
      continue;
    }
    if (!fs::remove(claimed, ec) && ec) {
      // Sent: it must never go out again. Should the rename fail as well, the next run
      // finds it claimed and reports it once more as interrupted.
      const std::string kept = path + kQueueSent;
      const bool renamed = ::rename(claimed.c_str(), kept.c_str()) == 0;
      WriteErrorLog("The queued message " + path + " was sent but cannot be deleted (" +
                        ec.message() + "); it is kept as " + (renamed ? kept : claimed) +
                        " and not sent again",
                    conf);
    }
  }
  try {
    if (smtp_.IsOpen()) smtp_.Quit();
  } catch (const std::exception&) {
    // Every accepted message is already deleted; a lost QUIT reply changes nothing.
  }
  smtp_.Disconnect();
}

}  // namespace vigilo
