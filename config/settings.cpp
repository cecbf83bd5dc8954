#include "config/settings.h"

#include <algorithm>
#include <set>
#include <stdexcept>
#include <vector>

#include "base/digest.h"
#include "base/text.h"

namespace vigilo {
namespace {

using K = SettingKind;
using R = SettingRule;

constexpr int kSmtpGroup = 1;  // a server without its port is no server

// An unknown security level still protects the password: TLS from the start on
// the port reserved for it, STARTTLS anywhere else. On a server that offers
// neither the login fails with a logged reason instead of going out in plain text.
SettingFallback PopSecurity(const tuser& u) {
  if (u.Port == 995) return {2, "TLS is used"};
  return {1, "STARTTLS is used (no plain text)"};
}
SettingFallback SmtpSecurity(const tuser& u) {
  if (u.SMTPPort == 465) return {2, "TLS is used"};
  return {1, "STARTTLS is used (no plain text)"};
}
// Unknown authentication: no credentials are handed to the SMTP server.
SettingFallback NoAuth(const tuser&) {
  return {0, "no SMTP authentication is used"};
}
SettingFallback NoPlainAuth(const tuser&) {
  return {0, "plain-text AUTH stays refused"};
}

SettingFallback KeepKeyring(const tusers&) {
  return {1, "the keyring is used"};
}

const Setting<tusers> kGlobal[] = {
    {.name = "Delay", .kind = K::Integer, .member = &tusers::Delay, .rule = R::Required},
    {.name = "Sound", .kind = K::Text, .member = &tusers::Sound},
    {.name = "Post", .kind = K::Text, .member = &tusers::Post},
    {.name = "Avir", .kind = K::Text, .member = &tusers::Avir},
    {.name = "Lan", .kind = K::Integer, .member = &tusers::Lan, .rule = R::Required},
    {.name = "Ras", .kind = K::Text, .member = &tusers::Ras},
    {.name = "Visual",
     .kind = K::Integer,
     .member = &tusers::Visual,
     .rule = R::Required,
     .saved_as = "visual"},
    {.name = "Ponty", .kind = K::Flag, .member = &tusers::Ponty, .rule = R::WriteBack, .number = 1},
    {.name = "delType", .kind = K::Flag, .member = &tusers::delType, .rule = R::WriteBack},
    // A missing "ChIfCon" has always gone back after "delBlack".
    {.name = "ChIfCon",
     .kind = K::Flag,
     .member = &tusers::ChIfCon,
     .rule = R::WriteBack,
     .write_back_rank = 1},
    {.name = "delBlack", .kind = K::Flag, .member = &tusers::delBlack, .rule = R::WriteBack},
    // The publisher's server for the version check: none unless the user names one.
    {.name = "UpdateURL", .kind = K::Text, .member = &tusers::UpdateURL, .rule = R::Optional},
    // Passwords go to the desktop keyring where there is one; stored only when turned off.
    {.name = "Keyring",
     .kind = K::Flag,
     .member = &tusers::UseKeyring,
     .rule = R::Optional,
     .number = 1,
     .bound = 1,
     .fallback = KeepKeyring},
};

// Secure-mail values are Optional: a store without them keeps the classic
// plain-text sessions and stays byte for byte as it was. A malformed one never
// keeps the configuration from loading, and the choice made instead never sends a
// password in plain text nor trusts more than the user asked for.
const Setting<tuser> kConfiguration[] = {
    {.name = "ConfigNM", .kind = K::Text, .member = &tuser::ConfigNM},
    {.name = "Host", .kind = K::Text, .member = &tuser::Host},
    {.name = "Port",
     .kind = K::Integer,
     .member = &tuser::Port,
     .rule = R::Required,
     .number = 110},
    {.name = "SMTPHost",
     .kind = K::Text,
     .member = &tuser::SMTPHost,
     .rule = R::WriteBack,
     .group = kSmtpGroup},
    {.name = "SMTPPort",
     .kind = K::Integer,
     .member = &tuser::SMTPPort,
     .rule = R::WriteBack,
     .number = 25,
     .group = kSmtpGroup},
    {.name = "Adress", .kind = K::Text, .member = &tuser::Adress, .rule = R::WriteBack},
    {.name = "UserName", .kind = K::Text, .member = &tuser::UserName},
    {.name = "UserPwd",
     .kind = K::Password,
     .member = &tuser::UserPwd,
     .rule = R::Required,
     .key = &tuser::UserName,
     .keyring = &tuser::UserPwdKeyring},
    {.name = "ViewMail", .kind = K::Flag, .member = &tuser::ViewMail, .rule = R::Required},
    {.name = "NonActive", .kind = K::Flag, .member = &tuser::NonActive, .rule = R::WriteBack},
    {.name = "POP3Security",
     .kind = K::Integer,
     .member = &tuser::POP3Security,
     .rule = R::Optional,
     .bound = 2,
     .fallback = PopSecurity},
    {.name = "SMTPSecurity",
     .kind = K::Integer,
     .member = &tuser::SMTPSecurity,
     .rule = R::Optional,
     .bound = 2,
     .fallback = SmtpSecurity},
    {.name = "SMTPAuth",
     .kind = K::Integer,
     .member = &tuser::SMTPAuth,
     .rule = R::Optional,
     .bound = 2,
     .fallback = NoAuth},
    {.name = "SMTPUser", .kind = K::Text, .member = &tuser::SMTPUser, .rule = R::Optional},
    {.name = "SMTPPwd",
     .kind = K::Password,
     .member = &tuser::SMTPPwd,
     .rule = R::Optional,
     .key = &tuser::SMTPUser,
     .keyring = &tuser::SMTPPwdKeyring},
    {.name = "SMTPPlainAuth",
     .kind = K::Flag,
     .member = &tuser::SMTPPlainAuth,
     .rule = R::Optional,
     .bound = 1,
     .fallback = NoPlainAuth},
    {.name = "TrustCert", .kind = K::Fingerprint, .member = &tuser::TrustCert, .rule = R::Optional},
};

template <class Record>
void SetNumber(const Setting<Record>& s, Record& r, int32_t v) {
  if (const auto m = std::get_if<int32_t Record::*>(&s.member)) r.** m = v;
  if (const auto m = std::get_if<bool Record::*>(&s.member)) r.** m = v != 0;
}

template <class Record>
int32_t GetNumber(const Setting<Record>& s, const Record& r) {
  if (const auto m = std::get_if<int32_t Record::*>(&s.member)) return r.**m;
  if (const auto m = std::get_if<bool Record::*>(&s.member)) return r.**m ? 1 : 0;
  return 0;
}

template <class Record>
std::string& Text(const Setting<Record>& s, Record& r) {
  return r.*std::get<std::string Record::*>(s.member);
}
template <class Record>
const std::string& Text(const Setting<Record>& s, const Record& r) {
  return r.*std::get<std::string Record::*>(s.member);
}

bool IsText(SettingKind k) {
  return k == K::Text || k == K::Password || k == K::Fingerprint;
}

template <class Record>
void SetDefault(const Setting<Record>& s, Record& r) {
  if (IsText(s.kind)) {
    Text(s, r) = s.text;
  } else {
    SetNumber(s, r, s.number);
  }
}

template <class Record>
RegValue DefaultValue(const Setting<Record>& s) {
  return IsText(s.kind) ? RegValue::Str(s.text) : RegValue::Dword(static_cast<uint32_t>(s.number));
}

enum class Read { Ok, Unreadable, Malformed };

// The item id of a keyring marker: letters and digits after the prefix; "" for any
// other text.
std::string KeyringId(std::string_view stored) {
  if (!stored.starts_with(kKeyringMarker)) return {};
  const std::string_view id = stored.substr(kKeyringMarker.size());
  if (id.empty() || id.size() > 64) return {};
  for (const char c : id) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alnum) return {};
  }
  return std::string(id);
}

// Reads one value: Unreadable when it is missing (a number) or of another type,
// Malformed when a password cannot be decoded.
template <class Record>
Read ReadOne(const Setting<Record>& s, const RegistryStore& reg, const std::string& key,
             Record& r) {
  if (!IsText(s.kind)) {
    const auto v = reg.ReadInteger(key, s.name);
    if (!v) return Read::Unreadable;
    SetNumber(s, r, s.kind == K::Flag ? (*v != 0) : *v);
    return Read::Ok;
  }
  const auto v = reg.ReadString(key, s.name);
  if (!v) return Read::Unreadable;
  if (s.kind != K::Password) {
    Text(s, r) = ShortStr(*v);
    return Read::Ok;
  }
  if (s.keyring) {
    r.*s.keyring = KeyringId(*v);
    if (!(r.*s.keyring).empty()) {  // the owner of the record looks the password up
      Text(s, r).clear();
      return Read::Ok;
    }
  }
  // The whole stored text is decoded: a long password takes up to four digits a byte.
  try {
    Text(s, r) = ShortStr(tusers::DecodePwd(*v, Trim(r.*s.key)));
  } catch (const std::invalid_argument&) {
    return Read::Malformed;
  }
  return Read::Ok;
}

template <class Record>
std::string Why(const Setting<Record>& s, Read result) {
  const std::string name = "\"" + std::string(s.name) + "\"";
  if (result == Read::Malformed) return name + " is not a well-formed digit string";
  return name + (IsText(s.kind) ? " is not a string" : " is missing or not a number");
}

// An Optional value: absent is the default; anything unusable is logged.
template <class Record>
void ReadOptional(const Setting<Record>& s, const RegistryStore& reg, const std::string& key,
                  Record& r, const std::string& where,
                  const std::function<void(const std::string&)>& log) {
  SetDefault(s, r);
  if (!reg.GetValue(key, s.name)) return;
  if (!IsText(s.kind)) {
    const auto v = reg.ReadInteger(key, s.name);
    if (v && *v >= 0 && *v <= s.bound) return SetNumber(s, r, *v);
    const SettingFallback f = s.fallback(r);
    log(where + "\"" + s.name + "\" is not a number from 0 to " + std::to_string(s.bound) + ", " +
        f.choice);
    return SetNumber(s, r, f.value);
  }
  const Read result = ReadOne(s, reg, key, r);
  if (result != Read::Ok) {
    SetDefault(s, r);
    log(where + Why(s, result) +
        (result == Read::Malformed ? ", an empty password is used" : ", ignored"));
    return;
  }
  if (s.kind == K::Fingerprint) {
    // A fingerprint that cannot be read trusts nothing extra: the CAs alone decide.
    const std::string typed = Text(s, r);
    Text(s, r) = NormalizeFingerprint(typed);
    if (!typed.empty() && Text(s, r).empty())
      log(where + "\"" + s.name +
          "\" is not a SHA-256 fingerprint (64 hexadecimal digits), ignored");
  }
}

}  // namespace

std::span<const Setting<tusers>> GlobalSettings() {
  return kGlobal;
}

std::span<const Setting<tuser>> ConfigurationSettings() {
  return kConfiguration;
}

template <class Record>
void ApplyDefaults(std::span<const Setting<Record>> table, Record& r) {
  for (const auto& s : table)
    SetDefault(s, r);
}

template <class Record>
std::string LoadSettings(std::span<const Setting<Record>> table, RegistryStore& reg,
                         const std::string& key, Record& r, const std::string& where,
                         const std::function<void(const std::string&)>& log,
                         const std::function<std::string()>& ready) {
  for (const auto& s : table) {
    if (s.rule != R::Required && s.rule != R::Default) continue;
    const Read result = ReadOne(s, reg, key, r);
    if (result == Read::Ok) continue;
    if (s.rule == R::Required) return Why(s, result);
    SetDefault(s, r);
  }
  if (ready) {
    if (std::string refused = ready(); !refused.empty()) return refused;
  }
  // Defaults go back only into a record that loaded: a broken key is left as it is.
  std::set<int> reset_groups;
  std::set<const Setting<Record>*> reset;
  for (const auto& s : table) {
    if (s.rule != R::WriteBack || ReadOne(s, reg, key, r) == Read::Ok) continue;
    if (s.group != 0) reset_groups.insert(s.group);
    reset.insert(&s);
  }
  std::vector<const Setting<Record>*> back;
  for (const auto& s : table) {
    if (s.rule == R::WriteBack && (reset.count(&s) || reset_groups.count(s.group)))
      back.push_back(&s);
  }
  std::stable_sort(back.begin(), back.end(), [](const auto* a, const auto* b) {
    return a->write_back_rank < b->write_back_rank;
  });
  for (const auto* s : back) {
    SetDefault(*s, r);
    reg.SetValue(key, s->name, DefaultValue(*s));
  }
  for (const auto& s : table) {
    if (s.rule == R::Optional) ReadOptional(s, reg, key, r, where, log);
  }
  return {};
}

template <class Record>
void SaveSettings(std::span<const Setting<Record>> table, RegistryStore& reg,
                  const std::string& key, const Record& r) {
  for (const auto& s : table) {
    const std::string name = s.saved_as ? s.saved_as : s.name;
    RegValue v;
    if (!IsText(s.kind)) {
      v = RegValue::Dword(static_cast<uint32_t>(GetNumber(s, r)));
    } else {
      const std::string typed = ShortStr(Trim(Text(s, r)));
      std::string stored = typed;
      if (s.kind == K::Password) stored = tusers::EncodePwd(typed, Trim(r.*s.key));
      if (s.kind == K::Password && s.keyring && !(r.*s.keyring).empty())
        stored = std::string(kKeyringMarker) + r.*s.keyring;
      // Canonical when it is a fingerprint; otherwise kept as typed (loading logs it).
      if (s.kind == K::Fingerprint && !NormalizeFingerprint(Text(s, r)).empty())
        stored = NormalizeFingerprint(Text(s, r));
      v = RegValue::Str(stored);
    }
    if (s.rule == R::Optional && v == DefaultValue(s)) {
      if (reg.GetValue(key, s.name)) reg.DeleteValue(key, s.name);
      continue;
    }
    reg.SetValue(key, name, v);
  }
}

template void ApplyDefaults(std::span<const Setting<tuser>>, tuser&);
template void ApplyDefaults(std::span<const Setting<tusers>>, tusers&);
template std::string LoadSettings(std::span<const Setting<tuser>>, RegistryStore&,
                                  const std::string&, tuser&, const std::string&,
                                  const std::function<void(const std::string&)>&,
                                  const std::function<std::string()>&);
template std::string LoadSettings(std::span<const Setting<tusers>>, RegistryStore&,
                                  const std::string&, tusers&, const std::string&,
                                  const std::function<void(const std::string&)>&,
                                  const std::function<std::string()>&);
template void SaveSettings(std::span<const Setting<tuser>>, RegistryStore&, const std::string&,
                           const tuser&);
template void SaveSettings(std::span<const Setting<tusers>>, RegistryStore&, const std::string&,
                           const tusers&);

}  // namespace vigilo
