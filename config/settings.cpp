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
    {.Name = "Delay", .Kind = K::Integer, .Member = &tusers::Delay, .Rule = R::Required},
    {.Name = "Sound", .Kind = K::Text, .Member = &tusers::Sound},
    {.Name = "Post", .Kind = K::Text, .Member = &tusers::Post},
    {.Name = "Avir", .Kind = K::Text, .Member = &tusers::Avir},
    {.Name = "Lan", .Kind = K::Integer, .Member = &tusers::Lan, .Rule = R::Required},
    {.Name = "Ras", .Kind = K::Text, .Member = &tusers::Ras},
    {.Name = "Visual",
     .Kind = K::Integer,
     .Member = &tusers::Visual,
     .Rule = R::Required,
     .SavedAs = "visual"},
    {.Name = "Ponty", .Kind = K::Flag, .Member = &tusers::Ponty, .Rule = R::WriteBack, .Number = 1},
    {.Name = "delType", .Kind = K::Flag, .Member = &tusers::delType, .Rule = R::WriteBack},
    // A missing "ChIfCon" has always gone back after "delBlack".
    {.Name = "ChIfCon",
     .Kind = K::Flag,
     .Member = &tusers::ChIfCon,
     .Rule = R::WriteBack,
     .WriteBackRank = 1},
    {.Name = "delBlack", .Kind = K::Flag, .Member = &tusers::delBlack, .Rule = R::WriteBack},
    // The publisher's server for the version check: none unless the user names one.
    {.Name = "UpdateURL", .Kind = K::Text, .Member = &tusers::UpdateURL, .Rule = R::Optional},
    // Passwords go to the desktop keyring where there is one; stored only when turned off.
    {.Name = "Keyring",
     .Kind = K::Flag,
     .Member = &tusers::UseKeyring,
     .Rule = R::Optional,
     .Number = 1,
     .Bound = 1,
     .Fallback = KeepKeyring},
};

// Secure-mail values are Optional: a store without them keeps the classic
// plain-text sessions and stays byte for byte as it was. A malformed one never
// keeps the configuration from loading, and the choice made instead never sends a
// password in plain text nor trusts more than the user asked for.
const Setting<tuser> kConfiguration[] = {
    {.Name = "ConfigNM", .Kind = K::Text, .Member = &tuser::ConfigNM},
    {.Name = "Host", .Kind = K::Text, .Member = &tuser::Host},
    {.Name = "Port",
     .Kind = K::Integer,
     .Member = &tuser::Port,
     .Rule = R::Required,
     .Number = 110},
    {.Name = "SMTPHost",
     .Kind = K::Text,
     .Member = &tuser::SMTPHost,
     .Rule = R::WriteBack,
     .Group = kSmtpGroup},
    {.Name = "SMTPPort",
     .Kind = K::Integer,
     .Member = &tuser::SMTPPort,
     .Rule = R::WriteBack,
     .Number = 25,
     .Group = kSmtpGroup},
    {.Name = "Adress", .Kind = K::Text, .Member = &tuser::Adress, .Rule = R::WriteBack},
    {.Name = "UserName", .Kind = K::Text, .Member = &tuser::UserName},
    {.Name = "UserPwd",
     .Kind = K::Password,
     .Member = &tuser::UserPwd,
     .Rule = R::Required,
     .Key = &tuser::UserName,
     .Keyring = &tuser::UserPwdKeyring},
    {.Name = "ViewMail", .Kind = K::Flag, .Member = &tuser::ViewMail, .Rule = R::Required},
    {.Name = "NonActive", .Kind = K::Flag, .Member = &tuser::NonActive, .Rule = R::WriteBack},
    {.Name = "POP3Security",
     .Kind = K::Integer,
     .Member = &tuser::POP3Security,
     .Rule = R::Optional,
     .Bound = 2,
     .Fallback = PopSecurity},
    {.Name = "SMTPSecurity",
     .Kind = K::Integer,
     .Member = &tuser::SMTPSecurity,
     .Rule = R::Optional,
     .Bound = 2,
     .Fallback = SmtpSecurity},
    {.Name = "SMTPAuth",
     .Kind = K::Integer,
     .Member = &tuser::SMTPAuth,
     .Rule = R::Optional,
     .Bound = 2,
     .Fallback = NoAuth},
    {.Name = "SMTPUser", .Kind = K::Text, .Member = &tuser::SMTPUser, .Rule = R::Optional},
    {.Name = "SMTPPwd",
     .Kind = K::Password,
     .Member = &tuser::SMTPPwd,
     .Rule = R::Optional,
     .Key = &tuser::SMTPUser,
     .Keyring = &tuser::SMTPPwdKeyring},
    {.Name = "SMTPPlainAuth",
     .Kind = K::Flag,
     .Member = &tuser::SMTPPlainAuth,
     .Rule = R::Optional,
     .Bound = 1,
     .Fallback = NoPlainAuth},
    {.Name = "TrustCert", .Kind = K::Fingerprint, .Member = &tuser::TrustCert, .Rule = R::Optional},
};

template <class Record>
void SetNumber(const Setting<Record>& s, Record& r, int32_t v) {
  if (const auto m = std::get_if<int32_t Record::*>(&s.Member)) r.** m = v;
  if (const auto m = std::get_if<bool Record::*>(&s.Member)) r.** m = v != 0;
}

template <class Record>
int32_t GetNumber(const Setting<Record>& s, const Record& r) {
  if (const auto m = std::get_if<int32_t Record::*>(&s.Member)) return r.**m;
  if (const auto m = std::get_if<bool Record::*>(&s.Member)) return r.**m ? 1 : 0;
  return 0;
}

template <class Record>
std::string& Text(const Setting<Record>& s, Record& r) {
  return r.*std::get<std::string Record::*>(s.Member);
}
template <class Record>
const std::string& Text(const Setting<Record>& s, const Record& r) {
  return r.*std::get<std::string Record::*>(s.Member);
}

bool IsText(SettingKind k) {
  return k == K::Text || k == K::Password || k == K::Fingerprint;
}

template <class Record>
void SetDefault(const Setting<Record>& s, Record& r) {
  if (IsText(s.Kind)) {
    Text(s, r) = s.Text;
  } else {
    SetNumber(s, r, s.Number);
  }
}

template <class Record>
RegValue DefaultValue(const Setting<Record>& s) {
  return IsText(s.Kind) ? RegValue::Str(s.Text) : RegValue::Dword(static_cast<uint32_t>(s.Number));
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
  if (!IsText(s.Kind)) {
    const auto v = reg.ReadInteger(key, s.Name);
    if (!v) return Read::Unreadable;
    SetNumber(s, r, s.Kind == K::Flag ? (*v != 0) : *v);
    return Read::Ok;
  }
  const auto v = reg.ReadString(key, s.Name);
  if (!v) return Read::Unreadable;
  if (s.Kind != K::Password) {
    Text(s, r) = ShortStr(*v);
    return Read::Ok;
  }
  if (s.Keyring) {
    r.*s.Keyring = KeyringId(*v);
    if (!(r.*s.Keyring).empty()) {  // the owner of the record looks the password up
      Text(s, r).clear();
      return Read::Ok;
    }
  }
  // The whole stored text is decoded: a long password takes up to four digits a byte.
  try {
    Text(s, r) = ShortStr(tusers::DecodePwd(*v, Trim(r.*s.Key)));
  } catch (const std::invalid_argument&) {
    return Read::Malformed;
  }
  return Read::Ok;
}

template <class Record>
std::string Why(const Setting<Record>& s, Read result) {
  const std::string name = "\"" + std::string(s.Name) + "\"";
  if (result == Read::Malformed) return name + " is not a well-formed digit string";
  return name + (IsText(s.Kind) ? " is not a string" : " is missing or not a number");
}

// An Optional value: absent is the default; anything unusable is logged.
template <class Record>
void ReadOptional(const Setting<Record>& s, const RegistryStore& reg, const std::string& key,
                  Record& r, const std::string& where,
                  const std::function<void(const std::string&)>& log) {
  SetDefault(s, r);
  if (!reg.GetValue(key, s.Name)) return;
  if (!IsText(s.Kind)) {
    const auto v = reg.ReadInteger(key, s.Name);
    if (v && *v >= 0 && *v <= s.Bound) return SetNumber(s, r, *v);
    const SettingFallback f = s.Fallback(r);
    log(where + "\"" + s.Name + "\" is not a number from 0 to " + std::to_string(s.Bound) + ", " +
        f.Choice);
    return SetNumber(s, r, f.Value);
  }
  const Read result = ReadOne(s, reg, key, r);
  if (result != Read::Ok) {
    SetDefault(s, r);
    log(where + Why(s, result) +
        (result == Read::Malformed ? ", an empty password is used" : ", ignored"));
    return;
  }
  if (s.Kind == K::Fingerprint) {
    // A fingerprint that cannot be read trusts nothing extra: the CAs alone decide.
    const std::string typed = Text(s, r);
    Text(s, r) = NormalizeFingerprint(typed);
    if (!typed.empty() && Text(s, r).empty())
      log(where + "\"" + s.Name +
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
    if (s.Rule != R::Required && s.Rule != R::Default) continue;
    const Read result = ReadOne(s, reg, key, r);
    if (result == Read::Ok) continue;
    if (s.Rule == R::Required) return Why(s, result);
    SetDefault(s, r);
  }
  if (ready) {
    if (std::string refused = ready(); !refused.empty()) return refused;
  }
  // Defaults go back only into a record that loaded: a broken key is left as it is.
  std::set<int> reset_groups;
  std::set<const Setting<Record>*> reset;
  for (const auto& s : table) {
    if (s.Rule != R::WriteBack || ReadOne(s, reg, key, r) == Read::Ok) continue;
    if (s.Group != 0) reset_groups.insert(s.Group);
    reset.insert(&s);
  }
  std::vector<const Setting<Record>*> back;
  for (const auto& s : table) {
    if (s.Rule == R::WriteBack && (reset.count(&s) || reset_groups.count(s.Group)))
      back.push_back(&s);
  }
  std::stable_sort(back.begin(), back.end(), [](const auto* a, const auto* b) {
    return a->WriteBackRank < b->WriteBackRank;
  });
  for (const auto* s : back) {
    SetDefault(*s, r);
    reg.SetValue(key, s->Name, DefaultValue(*s));
  }
  for (const auto& s : table) {
    if (s.Rule == R::Optional) ReadOptional(s, reg, key, r, where, log);
  }
  return {};
}

template <class Record>
void SaveSettings(std::span<const Setting<Record>> table, RegistryStore& reg,
                  const std::string& key, const Record& r) {
  for (const auto& s : table) {
    const std::string name = s.SavedAs ? s.SavedAs : s.Name;
    RegValue v;
    if (!IsText(s.Kind)) {
      v = RegValue::Dword(static_cast<uint32_t>(GetNumber(s, r)));
    } else {
      const std::string typed = ShortStr(Trim(Text(s, r)));
      std::string stored = typed;
      if (s.Kind == K::Password) stored = tusers::EncodePwd(typed, Trim(r.*s.Key));
      if (s.Kind == K::Password && s.Keyring && !(r.*s.Keyring).empty())
        stored = std::string(kKeyringMarker) + r.*s.Keyring;
      // Canonical when it is a fingerprint; otherwise kept as typed (loading logs it).
      if (s.Kind == K::Fingerprint && !NormalizeFingerprint(Text(s, r)).empty())
        stored = NormalizeFingerprint(Text(s, r));
      v = RegValue::Str(stored);
    }
    if (s.Rule == R::Optional && v == DefaultValue(s)) {
      if (reg.GetValue(key, s.Name)) reg.DeleteValue(key, s.Name);
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
