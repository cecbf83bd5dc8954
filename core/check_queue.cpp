// The outgoing queue of one configuration: every message file in its OutDir is sent
// through the SMTP client and deleted only after the server accepted it.

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "core/check.h"
#include "platform/utf8.h"

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
  try {
    smtp_.SetHost(host);
    smtp_.Port = static_cast<uint16_t>(port);
    smtp_.Login();
  } catch (const std::exception&) {
    smtp_.Disconnect();  // the queue stays for the next check; nothing is logged
    return;
  }
  for (const std::string& name : names) {
    const std::string path = u.OutDir + "/" + name;
    try {
      smtpMess_.Clear();
      smtpMess_.LoadFromFile(path);
      smtp_.SendMessage();
      if (!fs::remove(path, ec) && ec)
        throw std::runtime_error("Cannot delete " + path + ": " + ec.message());
    } catch (const std::exception& e) {
      WriteErrorLog(e.what(), conf);
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
