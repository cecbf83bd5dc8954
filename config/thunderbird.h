#pragma once
// The default POP3 account of the user's Thunderbird profile, read from the profile
// list "profiles.ini" and the profile's "prefs.js". Read only; nothing is changed.

#include <optional>
#include <string>
#include <vector>

namespace vigilo {

// What a new configuration takes from the mail client's default account. A port that
// the profile does not give is empty.
struct MailAccount {
  std::string AccountName;
  std::string Email;
  std::string PopServer;
  std::optional<int> PopPort;
  std::string PopUser;
  std::string SmtpServer;
  std::optional<int> SmtpPort;
  int PopSecurity = 0;  // 0 none, 1 STARTTLS, 2 TLS from the start
  int SmtpSecurity = 0;
};

// Folders that may hold "profiles.ini" for the home folder `home`: the classic one,
// the snap and the flatpak one.
std::vector<std::string> ThunderbirdFolders(const std::string& home);

// The default account of the default profile under `folder` (which holds
// "profiles.ini"), when it is a POP3 account; std::nullopt otherwise.
std::optional<MailAccount> ReadThunderbirdAccount(const std::string& folder);

// The first account found in `folders`, in order.
std::optional<MailAccount> FindThunderbirdAccount(const std::vector<std::string>& folders);

}  // namespace vigilo
