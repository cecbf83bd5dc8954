// The secure-mail values of a configuration key: "POP3Security", "SMTPSecurity",
// "SMTPAuth", "SMTPUser", "SMTPPwd", "SMTPPlainAuth" and "TrustCert". A missing value
// is the classic plain-text behaviour, and only values that differ from it are
// stored, so stores written before these settings existed stay byte for byte as
// they are.
//
// A malformed value never keeps the configuration from loading: it is logged, and
// the choice made instead never sends a password in plain text nor trusts more
// than the user asked for (see LoadSecurity).

#include <cctype>
#include <stdexcept>

#include "base/digest.h"
#include "base/text.h"
#include "base/utf8.h"
#include "config/myuser.h"

namespace vigilo {

void tusers::LoadSecurity(int32_t number, tuser& u) {
  const std::string key = ConfKey(number);
  const std::string where = "configuration " + std::to_string(number) + ": ";
  const auto present = [&](const char* name) { return reg_.GetValue(key, name).has_value(); };
  // A number from 0 to hi; `fallback` (explained by `choice`) for anything else.
  const auto number_of = [&](const char* name, int32_t hi, int32_t fallback,
                             const std::string& choice) {
    if (!present(name)) return 0;
    const auto v = reg_.ReadInteger(key, name);
    if (v && *v >= 0 && *v <= hi) return *v;
    Log(where + "\"" + name + "\" is not a number from 0 to " + std::to_string(hi) + ", " + choice);
    return fallback;
  };
  const auto text_of = [&](const char* name) {
    if (!present(name)) return std::string();
    const auto v = reg_.ReadString(key, name);
    if (!v) Log(where + "\"" + name + "\" is not a string, ignored");
    return ShortStr(v.value_or(""));
  };

  // An unknown security level still protects the password: TLS from the start on
  // the port reserved for it, STARTTLS anywhere else. On a server that offers
  // neither the login fails with a logged reason instead of going out in plain text.
  u.POP3Security = number_of("POP3Security", 2, u.Port == 995 ? 2 : 1,
                             u.Port == 995 ? "TLS is used" : "STARTTLS is used (no plain text)");
  u.SMTPSecurity =
      number_of("SMTPSecurity", 2, u.SMTPPort == 465 ? 2 : 1,
                u.SMTPPort == 465 ? "TLS is used" : "STARTTLS is used (no plain text)");
  // Unknown authentication: no credentials are handed to the SMTP server.
  u.SMTPAuth = number_of("SMTPAuth", 2, 0, "no SMTP authentication is used");
  u.SMTPPlainAuth = number_of("SMTPPlainAuth", 1, 0, "plain-text AUTH stays refused") == 1;
  u.SMTPUser = text_of("SMTPUser");
  const std::string pwd = text_of("SMTPPwd");
  try {
    u.SMTPPwd = ShortStr(DecodePwd(pwd, Trim(u.SMTPUser)));
  } catch (const std::invalid_argument&) {
    Log(where + "\"SMTPPwd\" is not a well-formed digit string, an empty password is used");
    u.SMTPPwd.clear();
  }
  // A fingerprint that cannot be read trusts nothing extra: the CAs alone decide.
  const std::string trust = text_of("TrustCert");
  u.TrustCert = NormalizeFingerprint(trust);
  if (!trust.empty() && u.TrustCert.empty())
    Log(where + "\"TrustCert\" is not a SHA-256 fingerprint (64 hexadecimal digits), ignored");
}

void tusers::SaveSecurity(const std::string& key, const tuser& u) {
  const auto drop = [&](const char* name) {
    if (reg_.GetValue(key, name)) reg_.DeleteValue(key, name);
  };
  const auto number = [&](const char* name, int32_t v) {
    if (v != 0) {
      reg_.WriteInteger(key, name, v);
    } else {
      drop(name);
    }
  };
  const auto text = [&](const char* name, const std::string& s) {
    if (!s.empty()) {
      reg_.WriteString(key, name, s);
    } else {
      drop(name);
    }
  };
  number("POP3Security", u.POP3Security);
  number("SMTPSecurity", u.SMTPSecurity);
  number("SMTPAuth", u.SMTPAuth);
  text("SMTPUser", ShortStr(Trim(u.SMTPUser)));
  text("SMTPPwd", EncodePwd(ShortStr(Trim(u.SMTPPwd)), Trim(u.SMTPUser)));
  number("SMTPPlainAuth", u.SMTPPlainAuth ? 1 : 0);
  // Canonical when it is a fingerprint; otherwise kept as typed (loading logs it).
  const std::string trust = NormalizeFingerprint(u.TrustCert);
  text("TrustCert", trust.empty() ? ShortStr(Trim(u.TrustCert)) : trust);
}

}  // namespace vigilo
