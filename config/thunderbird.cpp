#include "config/thunderbird.h"

#include <charconv>
#include <fstream>
#include <map>
#include <sstream>

#include "base/text.h"
#include "config/inifile.h"

namespace vigilo {
namespace {

constexpr std::size_t kMaxPrefsBytes = 16 << 20;  // a profile's prefs.js is far smaller

using Prefs = std::map<std::string, std::string>;

// Skips blanks; true when text remains.
bool SkipBlanks(const std::string& s, std::size_t& i) {
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
    ++i;
  return i < s.size();
}

// A JavaScript string literal starting at s[i] (a quote): its value; i moves past it.
std::optional<std::string> QuotedValue(const std::string& s, std::size_t& i) {
  const char quote = s[i++];
  std::string out;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c == quote) {
      ++i;
      return out;
    }
    if (c == '\\' && i + 1 < s.size()) {
      c = s[++i];
      if (c == 'n') c = '\n';
      if (c == 't') c = '\t';
    }
    out += c;
  }
  return std::nullopt;
}

// user_pref("name", value); -> name and value (strings unquoted, numbers and
// booleans as written).
Prefs ReadPrefs(const std::string& path) {
  Prefs prefs;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  std::size_t total = 0;
  while (std::getline(in, line) && (total += line.size()) < kMaxPrefsBytes) {
    std::size_t i = 0;
    if (!SkipBlanks(line, i) || line.compare(i, 10, "user_pref(") != 0) continue;
    i += 10;
    if (!SkipBlanks(line, i) || line[i] != '"') continue;
    const auto name = QuotedValue(line, i);
    if (!name || !SkipBlanks(line, i) || line[i] != ',') continue;
    ++i;
    if (!SkipBlanks(line, i)) continue;
    std::optional<std::string> value;
    if (line[i] == '"' || line[i] == '\'') {
      value = QuotedValue(line, i);
    } else {
      const std::size_t end = line.find(')', i);
      if (end != std::string::npos) value = Trim(line.substr(i, end - i));
    }
    if (value) prefs[*name] = *value;
  }
  return prefs;
}

std::string Pref(const Prefs& prefs, const std::string& name) {
  const auto it = prefs.find(name);
  return it == prefs.end() ? std::string() : it->second;
}

std::optional<int> Number(const std::string& text) {
  int n = 0;
  const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || p != text.data() + text.size()) return std::nullopt;
  return n;
}

// Thunderbird's socketType / try_ssl: 2 STARTTLS, 3 TLS from the start.
int SecurityOfSocketType(const std::string& text) {
  const auto n = Number(text);
  if (n == 2) return 1;
  if (n == 3) return 2;
  return 0;
}

// A port the profile names (0 means "the default" there).
std::optional<int> PortPref(const Prefs& prefs, const std::string& name) {
  const auto n = Number(Pref(prefs, name));
  if (!n || *n < 1 || *n > 65535) return std::nullopt;
  return n;
}

// The folder of the default profile listed in folder/profiles.ini.
std::string DefaultProfile(const std::string& folder) {
  const IniFile ini(folder + "/profiles.ini");
  const auto path_of = [&](const std::string& path, bool relative) {
    return relative ? folder + "/" + path : path;
  };
  // Newer profile lists name the default of each installation.
  for (int i = 0; i < 1000; ++i) {
    const std::string section = "Profile" + std::to_string(i);
    if (!ini.HasSection(section)) break;
    if (ini.ReadString(section, "Default", "") == "1") {
      return path_of(ini.ReadString(section, "Path", ""),
                     ini.ReadString(section, "IsRelative", "1") == "1");
    }
  }
  if (ini.HasSection("Profile0")) {
    return path_of(ini.ReadString("Profile0", "Path", ""),
                   ini.ReadString("Profile0", "IsRelative", "1") == "1");
  }
  return {};
}

// The default path named by an [Install...] section, which wins over the flags of
// the [ProfileN] sections.
std::string InstallDefault(const std::string& folder) {
  std::ifstream in(folder + "/profiles.ini", std::ios::binary);
  std::string line;
  bool install = false;
  while (std::getline(in, line)) {
    const std::string t = Trim(line);
    if (!t.empty() && t[0] == '[') {
      install = t.rfind("[Install", 0) == 0;
    } else if (install && t.rfind("Default=", 0) == 0) {
      return folder + "/" + Trim(t.substr(8));
    }
  }
  return {};
}

}  // namespace

std::vector<std::string> ThunderbirdFolders(const std::string& home) {
  return {home + "/.thunderbird", home + "/snap/thunderbird/common/.thunderbird",
          home + "/.var/app/org.mozilla.Thunderbird/.thunderbird"};
}

std::optional<MailAccount> ReadThunderbirdAccount(const std::string& folder) {
  std::string profile = InstallDefault(folder);
  if (profile.empty() || Trim(profile) == folder + "/") profile = DefaultProfile(folder);
  if (profile.empty()) return std::nullopt;
  const Prefs prefs = ReadPrefs(profile + "/prefs.js");
  const std::string account = Pref(prefs, "mail.accountmanager.defaultaccount");
  if (account.empty()) return std::nullopt;
  const std::string server = Pref(prefs, "mail.account." + account + ".server");
  const std::string s = "mail.server." + server + ".";
  if (server.empty() || Pref(prefs, s + "type") != "pop3") return std::nullopt;

  MailAccount a;
  a.AccountName = Pref(prefs, s + "name");
  a.PopServer = Pref(prefs, s + "hostname");
  a.PopUser = Pref(prefs, s + "userName");
  a.PopSecurity = SecurityOfSocketType(Pref(prefs, s + "socketType"));
  a.PopPort = PortPref(prefs, s + "port");

  std::string identity = Pref(prefs, "mail.account." + account + ".identities");
  identity = Trim(identity.substr(0, identity.find(',')));
  std::string smtp;
  if (!identity.empty()) {
    a.Email = Pref(prefs, "mail.identity." + identity + ".useremail");
    smtp = Pref(prefs, "mail.identity." + identity + ".smtpServer");
  }
  if (smtp.empty()) smtp = Pref(prefs, "mail.smtp.defaultserver");
  if (!smtp.empty()) {
    const std::string m = "mail.smtpserver." + smtp + ".";
    a.SmtpServer = Pref(prefs, m + "hostname");
    a.SmtpSecurity = SecurityOfSocketType(Pref(prefs, m + "try_ssl"));
    a.SmtpPort = PortPref(prefs, m + "port");
  }
  return a;
}

std::optional<MailAccount> FindThunderbirdAccount(const std::vector<std::string>& folders) {
  for (const auto& folder : folders) {
    if (auto account = ReadThunderbirdAccount(folder)) return account;
  }
  return std::nullopt;
}

}  // namespace vigilo
