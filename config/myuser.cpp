#include "config/myuser.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <utility>

#include "base/text.h"
#include "base/utf8.h"
#include "config/settings.h"
#include "platform/errorlog.h"

namespace vigilo {
namespace {

// Parses a configuration key name: decimal without leading zeros, from 1.
int32_t KeyNumber(const std::string& name) {
  if (name.empty() || name.size() > 9 || name[0] == '0') return 0;
  int32_t n = 0;
  const auto [p, ec] = std::from_chars(name.data(), name.data() + name.size(), n);
  return (ec == std::errc() && p == name.data() + name.size()) ? n : 0;
}

// A path segment made of user name and host: no '/' may lead out of the folder.
std::string SafeSegment(std::string s) {
  for (char& c : s) {
    if (c == '/' || c == '\0') c = '_';
  }
  return s;
}

}  // namespace

std::string ShortStr(std::string_view s) {
  return CutChars(s, kShortStringChars);
}

tusers::tusers(RegistryStore& reg, Autostart& autorun, std::string program_folder,
               std::string program_file, Keyring* keyring, RegistryStore* backup)
    : reg_(reg),
      autorun_(autorun),
      program_folder_(std::move(program_folder)),
      program_file_(std::move(program_file)),
      keyring_(keyring),
      backup_(backup) {
  Load();
}

std::string tusers::ConfKey(int32_t n) const {
  return std::string(kRoot) + "\\" + std::to_string(n);
}

void tusers::Log(const std::string& message) const {
  AppendErrorLog(ErrorLogPath(), "registry", message);
}

void tusers::ComputeDirs(tuser& u) const {
  const std::string tail = SafeSegment(Trim(u.UserName) + Trim(u.Host));
  u.InDir = program_folder_ + "in/u" + tail;
  u.OutDir = program_folder_ + "out/u" + tail;
}

std::string tusers::ReadUpdateURL(const RegistryStore& reg) {
  return ShortStr(Trim(reg.ReadString(kRoot, "UpdateURL").value_or("")));
}

void tusers::Load() {
  RegistryBatch batch(reg_);  // the values written back reach the store together
  Conf.clear();
  Users = 0;
  for (const auto& s : GlobalSettings()) {  // nothing read yet: zero, not the defaults
    std::visit([this](auto member) { this->*member = {}; }, s.Member);
  }
  UseKeyring = true;  // stored only once the user turns it off
  AutoRun = false;
  Black.clear();
  stored_keys_.clear();
  placed_.clear();
  unresolved_.clear();
  referenced_.clear();

  const std::string root = kRoot;
  if (!reg_.KeyExists(root)) return FirstStart(false, "");
  int32_t users = 0;
  const std::string damaged = LoadSettings(
      GlobalSettings(), reg_, root, *this, "", [this](const std::string& m) { Log(m); },
      [&]() -> std::string {
        const auto v = reg_.ReadInteger(root, "Users");
        if (!v || *v < 0) return "\"Users\" is missing or not a count";
        users = *v;
        return {};
      });
  if (!damaged.empty()) return FirstStart(true, damaged);

  AutoRun = autorun_.Exists();

  const std::string black = root + "\\Black";
  if (!reg_.KeyExists(black)) reg_.CreateKey(black);
  for (const auto& name : reg_.ValueNames(black)) {
    if (const auto v = reg_.ReadString(black, name)) Black.push_back(*v);
  }

  // Only the keys that exist are visited: a wild count sizes nothing, and the
  // missing ones are logged in one line.
  std::set<int32_t> numbers;
  for (const auto& name : reg_.SubKeyNames(root)) {
    const int32_t n = KeyNumber(name);
    if (n >= 1 && n <= users) numbers.insert(n);
  }
  bool kept_copy = false;
  for (const int32_t n : numbers) {
    stored_keys_.insert(n);
    tuser u;
    std::string why;
    if (LoadConf(n, u, why)) {
      u.Index = static_cast<int32_t>(Conf.size());
      Conf.push_back(std::move(u));
      continue;
    }
    // Left out; the configurations after it load on their own keys.
    const std::string what = "configuration " + std::to_string(n) + " not loaded: " + why;
    if (!kept_copy) {
      reg_.KeepCopy(what);  // a later save renumbers the keys
      kept_copy = true;
    } else {
      Log(what);
    }
  }
  if (const auto missing = static_cast<int64_t>(users) - static_cast<int64_t>(numbers.size());
      missing > 0) {
    int32_t first = 1;
    while (numbers.count(first))
      ++first;
    Log(std::to_string(missing) + " of " + std::to_string(users) +
        " configuration keys are missing, the first is " + std::to_string(first));
  }
  Users = static_cast<int32_t>(Conf.size());
  if (Users == 0 && users > 0) AddConf();  // nothing usable: offer one to fill in
}

bool tusers::LoadConf(int32_t number, tuser& u, std::string& why) {
  const std::string key = ConfKey(number);
  why = LoadSettings(ConfigurationSettings(), reg_, key, u,
                     "configuration " + std::to_string(number) + ": ",
                     [this](const std::string& m) { Log(m); });
  if (!why.empty()) return false;
  ResolvePasswords(u, "configuration " + std::to_string(number) + ": ");
  u.Connected = u.Deleted = false;
  u.StoredKey = number;
  ComputeDirs(u);
  return true;
}

void tusers::FirstStart(bool damaged, const std::string& why) {
  if (damaged) reg_.KeepCopy("global settings damaged (" + why + "), starting with defaults");
  stored_keys_.clear();  // keys beyond the new list are left as they are
  Users = 0;
  Conf.clear();
  AddConf();
  Save();
}

int32_t tusers::AddConf() {
  tuser u;
  ApplyDefaults(ConfigurationSettings(), u);
  u.Index = static_cast<int32_t>(Conf.size());
  u.ConfigNM = "Конфигурация " + std::to_string(Users + 1);
  ComputeDirs(u);
  Conf.push_back(std::move(u));
  Users = static_cast<int32_t>(Conf.size());
  return Users - 1;
}

void tusers::Save() {
  PlacePasswords();
  SaveStore();
  ForgetUnused();
}

void tusers::SaveStore() {
  RegistryBatch batch(reg_);
  const std::string root = kRoot;
  SaveSettings(GlobalSettings(), reg_, root, *this);

  if (AutoRun) {
    if (const std::string error = autorun_.Set(program_file_); !error.empty())
      AppendErrorLog(ErrorLogPath(), "autostart", "the entry cannot be written: " + error);
  } else {
    autorun_.Remove();
  }

  const std::string black = root + "\\Black";
  // The list replaces the key's values as a whole.
  for (const auto& name : reg_.SubKeyNames(black))
    reg_.DeleteKey(black + "\\" + name);
  for (const auto& name : reg_.ValueNames(black))
    reg_.DeleteValue(black, name);
  reg_.CreateKey(black);
  for (std::size_t i = 0; i < Black.size(); ++i) {
    reg_.WriteString(black, std::to_string(i), Black[i]);
  }

  // Values of the configuration keys as they are now, so that a record moving to
  // another number takes its key's other values along and leaves none behind.
  std::map<int32_t, std::vector<std::pair<std::string, RegValue>>> old_keys;
  for (const tuser& u : Conf) {
    if (u.Deleted || !stored_keys_.count(u.StoredKey)) continue;
    auto& values = old_keys[u.StoredKey];
    const std::string key = ConfKey(u.StoredKey);
    for (const auto& name : reg_.ValueNames(key)) {
      if (auto v = reg_.GetValue(key, name)) values.emplace_back(name, std::move(*v));
    }
  }

  int32_t n = 0;
  for (tuser& u : Conf) {
    if (u.Deleted) continue;
    ++n;
    const std::string key = ConfKey(n);
    if (u.StoredKey != n) {
      for (const auto& name : reg_.ValueNames(key))
        reg_.DeleteValue(key, name);
      if (const auto old = old_keys.find(u.StoredKey); old != old_keys.end()) {
        for (const auto& [name, v] : old->second)
          reg_.SetValue(key, name, v);
      }
    }
    SaveSettings(ConfigurationSettings(), reg_, key, u);
    u.StoredKey = n;
  }
  // The keys of the old list beyond the new one go; keys the list never held stay.
  const int32_t old_last = std::max(stored_keys_.empty() ? 0 : *stored_keys_.rbegin(), Users);
  for (const auto& name : reg_.SubKeyNames(root)) {
    const int32_t k = KeyNumber(name);
    if (k > n && k <= old_last) reg_.DeleteKey(ConfKey(k));
  }

  std::erase_if(Conf, [](const tuser& u) { return u.Deleted; });
  stored_keys_.clear();
  for (std::size_t i = 0; i < Conf.size(); ++i) {
    Conf[i].Index = static_cast<int32_t>(i);
    stored_keys_.insert(Conf[i].StoredKey);
  }
  Users = n;
  reg_.WriteInteger(root, "Users", Users);
}

void tusers::ClearHeads(int32_t conf, int64_t n) {
  tuser& u = Conf.at(static_cast<std::size_t>(conf));
  u.Heads.clear();
  u.HeadCount = 0;
  u.Heads.reserve(static_cast<std::size_t>(std::clamp<int64_t>(n, 0, kHeadsReserveLimit)));
}

void tusers::AddHead(int32_t conf, int32_t idx, std::string_view From, std::string_view Subject,
                     std::string_view Size, std::string_view Date, std::string_view To,
                     std::string_view MessageID, uint8_t CodePage) {
  tuser& u = Conf.at(static_cast<std::size_t>(conf));
  if (idx < 0) throw std::out_of_range("AddHead: negative index");
  if (static_cast<std::size_t>(idx) >= u.Heads.size()) {
    u.Heads.resize(static_cast<std::size_t>(idx) + 1);
  }
  tmailhead& h = u.Heads[static_cast<std::size_t>(idx)];
  h.CodePage = CodePage;
  h.Index = idx;
  h.From = ShortStr(From);
  h.Subject = ShortStr(Subject);
  h.Size = ShortStr(Size);
  h.To = ShortStr(To);
  h.Date = ShortStr(Date);
  h.MessageID = ShortStr(MessageID);
  h.Marked = false;
  h.DeleteNext = false;
  h.UniqueID.clear();
  ++u.HeadCount;
}

void tusers::FreeHeads(int32_t conf) {
  tuser& u = Conf.at(static_cast<std::size_t>(conf));
  u.Heads.clear();
  u.Heads.shrink_to_fit();
  u.HeadCount = 0;
}

std::string tusers::EncodePwd(std::string_view plain, std::string_view key) {
  std::string out;
  out.reserve(plain.size() * 4);
  for (std::size_t i = 0; i < plain.size(); ++i) {
    const unsigned k = key.empty() ? 0u : static_cast<unsigned char>(key[i % key.size()]);
    const unsigned v = static_cast<unsigned char>(plain[i]) ^ k;
    const std::string d = std::to_string(v);
    out += static_cast<char>('0' + d.size());
    out += d;
  }
  return out;
}

std::string tusers::DecodePwd(std::string_view stored, std::string_view key) {
  std::string out;
  std::size_t i = 0;
  for (std::size_t pos = 0; pos < stored.size(); ++i) {
    const char c = stored[pos++];
    if (c < '1' || c > '3') throw std::invalid_argument("malformed password: bad digit count");
    const std::size_t count = static_cast<std::size_t>(c - '0');
    if (pos + count > stored.size()) throw std::invalid_argument("malformed password: cut short");
    unsigned v = 0;
    for (std::size_t j = 0; j < count; ++j) {
      const char d = stored[pos + j];
      if (d < '0' || d > '9') throw std::invalid_argument("malformed password: not a digit");
      v = v * 10 + static_cast<unsigned>(d - '0');
    }
    pos += count;
    if (v > 255) throw std::invalid_argument("malformed password: value above 255");
    const unsigned k = key.empty() ? 0u : static_cast<unsigned char>(key[i % key.size()]);
    out += static_cast<char>(v ^ k);
  }
  return out;
}

// Keyring items are looked up by their id; when the keyring cannot give the password
// the backup's scrambled copy does, so a locked or missing keyring never keeps a check
// from logging in.
void tusers::ResolvePasswords(tuser& u, const std::string& where) {
  for (const auto& s : ConfigurationSettings()) {
    if (s.Kind != SettingKind::Password || !s.Keyring) continue;
    const std::string id = u.*s.Keyring;
    if (id.empty()) continue;
    referenced_.insert(id);
    std::string& pwd = u.*std::get<std::string tuser::*>(s.Member);
    std::optional<std::string> copy;
    if (backup_ && backup_->GetValue(kBackupKey, id)) {
      try {
        copy = ShortStr(DecodePwd(backup_->ReadString(kBackupKey, id).value_or("x"), id));
      } catch (const std::invalid_argument&) {  // a damaged copy is no copy
      }
    }
    const Keyring::Lookup found = keyring_ ? keyring_->Find(id) : Keyring::Lookup{};
    if (found.status == Keyring::Status::Found) {
      pwd = ShortStr(found.secret);
      if (copy == pwd) placed_[id] = pwd;
      continue;
    }
    if (copy) {
      pwd = *copy;
      continue;
    }
    unresolved_.insert(id);
    Log(where + "the password \"" + s.Name + "\" is kept in the keyring, which cannot give it (" +
        (found.error.empty() ? "no such item" : found.error) +
        "), and no copy of it is kept; it must be entered again");
  }
}

// Decides for every password whether it is kept in the keyring (its id set) or
// scrambled in the registry (its id cleared). A password goes to the keyring only when
// the keyring has it back as stored and the backup holds it durably: only then does the
// registry get the marker.
void tusers::PlacePasswords() {
  const bool use = UseKeyring && keyring_ && backup_;
  for (tuser& u : Conf) {
    if (u.Deleted) continue;
    for (const auto& s : ConfigurationSettings()) {
      if (s.Kind != SettingKind::Password || !s.Keyring) continue;
      std::string& id = u.*s.Keyring;
      const std::string pwd = ShortStr(Trim(u.*std::get<std::string tuser::*>(s.Member)));
      if (!id.empty() && unresolved_.count(id) && pwd.empty()) continue;  // keep the marker
      if (!use || pwd.empty()) {
        id.clear();
        continue;
      }
      if (const auto p = placed_.find(id); p != placed_.end() && p->second == pwd) continue;
      if (id.empty()) id = NewKeyringId();
      const std::string user = Trim(u.*s.Key);
      const std::string host = Trim(s.Key == &tuser::SMTPUser ? u.SMTPHost : u.Host);
      if (Place(id, "Vigilo: " + user + "@" + host, pwd)) {
        placed_[id] = pwd;
        unresolved_.erase(id);
      } else {
        id.clear();
      }
    }
  }
}

bool tusers::Place(const std::string& id, const std::string& label, const std::string& pwd) {
  std::string error = keyring_->Store(id, label, pwd);
  const bool stored = error.empty();
  if (stored) {
    const Keyring::Lookup back = keyring_->Find(id);
    if (back.status != Keyring::Status::Found || back.secret != pwd)
      error = back.error.empty() ? "it did not give the password back as stored" : back.error;
  }
  if (error.empty()) {
    backup_->SetValue(kBackupKey, id, RegValue::Str(EncodePwd(pwd, id)));
    if (!backup_->Flush()) error = "its backup copy cannot be written";
  }
  if (error.empty()) return true;
  // The registry keeps the password. A new item goes again at once; one the registry
  // refers to now goes only once the registry no longer does (ForgetUnused).
  if (stored && !referenced_.count(id)) static_cast<void>(keyring_->Remove(id));
  Log("a password stays in the registry instead of the keyring: " + error);
  return false;
}

// Keyring items and backup copies the registry no longer refers to go, but only once
// the registry holds what replaced them durably.
void tusers::ForgetUnused() {
  std::set<std::string> now;
  for (const tuser& u : Conf) {
    for (const auto& s : ConfigurationSettings()) {
      if (s.Kind == SettingKind::Password && s.Keyring && !(u.*s.Keyring).empty())
        now.insert(u.*s.Keyring);
    }
  }
  std::vector<std::string> gone;
  for (const auto& id : referenced_) {
    if (!now.count(id)) gone.push_back(id);
  }
  if (!gone.empty() && !reg_.Flush()) {
    referenced_.insert(now.begin(), now.end());  // tried again at the next save
    return;
  }
  for (const auto& id : gone) {
    if (keyring_) {
      if (const std::string e = keyring_->Remove(id); !e.empty())
        Log("a password no longer used stays in the keyring: " + e);
    }
    if (backup_) backup_->DeleteValue(kBackupKey, id);
    placed_.erase(id);
    unresolved_.erase(id);
  }
  referenced_ = std::move(now);
}

}  // namespace vigilo
