// The outgoing queue of one configuration: every message file in its OutDir is sent
// through the SMTP client and deleted only after the server accepted it. The
// configuration chooses TLS or STARTTLS, SMTP AUTH and a trusted certificate.

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "base/text.h"
#include "core/check.h"
#include "core/mailhint.h"

namespace vigilo {

void TCheckCycle::SendQueue(int32_t conf) {
  namespace fs = std::filesystem;
  const tuser& u = s_.Conf[static_cast<std::size_t>(conf)];
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(u.OutDir, ec), end; !ec && it != end; it.increment(ec)) {
    // Normal files only: no folders, no links that could point anywhere.
    if (it->is_symlink(ec) || !it->is_regular_file(ec)) continue;
    names.push_back(it->path().filename().string());
  }
  if (names.empty()) return;
  // Name order: the same on every file system, so a queue is sent in a known order.
  std::sort(names.begin(), names.end());

  const std::string host = Trim(u.SMTPHost);
  const int32_t port = u.SMTPPort;
  // Without the secure-mail settings the session is the classic one (HELO, plain).
  const bool secure = u.SMTPSecurity != 0 || u.SMTPAuth != 0;
  smtp_.Security = SecurityOf(u.SMTPSecurity);
  smtp_.Tls = ms::TmsTlsOptions{};
  smtp_.Tls.TrustCert = u.TrustCert;
  smtp_.AuthUser.clear();
  smtp_.AuthPassword.clear();
  smtp_.AuthMechanism.clear();
  if (u.SMTPAuth == 1) {
    smtp_.AuthUser = u.UserName;
    smtp_.AuthPassword = u.UserPwd;
  } else if (u.SMTPAuth == 2) {
    smtp_.AuthUser = Trim(u.SMTPUser);
    smtp_.AuthPassword = u.SMTPPwd;
  }
  smtp_.AllowPlainAuth = u.SMTPPlainAuth;
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
    if (canceled_) break;  // stopped by the user: the rest stay queued
    const std::string path = u.OutDir + "/" + name;
    try {
      smtpMess_.Clear();
      smtpMess_.LoadFromFile(path);
      smtp_.SendMessage();
      if (!fs::remove(path, ec) && ec)
        throw std::runtime_error("Cannot delete " + path + ": " + ec.message());
    } catch (const std::exception& e) {
      WriteErrorLog(WithMailErrorHint(e), conf);
    }
  }
  try {
    smtp_.Quit();
  } catch (const std::exception&) {
    // Every accepted message is already deleted; a lost QUIT reply changes nothing.
  }
  smtp_.Disconnect();
}

}  // namespace vigilo
