#include "config/myuser.h"

#include <algorithm>
#include <charconv>
#include <map>
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
               std::string program_file)
    : reg_(reg),
      autorun_(autorun),
      program_folder_(std::move(program_folder)),
      program_file_(std::move(program_file)) {
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
  AutoRun = false;
  Black.clear();
  stored_keys_.clear();

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

}  // namespace vigilo
