#include "config/myuser.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <utility>

#include "platform/errorlog.h"
#include "platform/utf8.h"

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

void tusers::Load() {
  RegistryBatch batch(reg_);  // the values written back reach the store together
  Conf.clear();
  Users = Delay = Lan = Visual = 0;
  Ponty = delType = delBlack = ChIfCon = AutoRun = false;
  Sound.clear();
  Post.clear();
  Avir.clear();
  Ras.clear();
  Black.clear();
  stored_users_ = 0;

  const std::string root = kRoot;
  if (!reg_.KeyExists(root)) return FirstStart(false, "");
  const auto str = [&](const char* name) {
    return ShortStr(reg_.ReadString(root, name).value_or(""));
  };

  const auto delay = reg_.ReadInteger(root, "Delay");
  if (!delay) return FirstStart(true, "\"Delay\" is missing or not a number");
  Delay = *delay;
  Sound = str("Sound");
  Post = str("Post");
  Avir = str("Avir");
  const auto lan = reg_.ReadInteger(root, "Lan");
  if (!lan) return FirstStart(true, "\"Lan\" is missing or not a number");
  Lan = *lan;
  Ras = str("Ras");
  const auto visual = reg_.ReadInteger(root, "Visual");
  if (!visual) return FirstStart(true, "\"Visual\" is missing or not a number");
  Visual = *visual;
  const auto users = reg_.ReadInteger(root, "Users");
  if (!users || *users < 0) return FirstStart(true, "\"Users\" is missing or not a count");
  const auto flag = [&](const char* name, bool def) {
    if (const auto v = reg_.ReadBool(root, name)) return *v;
    reg_.WriteBool(root, name, def);
    return def;
  };
  Ponty = flag("Ponty", true);
  delType = flag("delType", false);
  delBlack = flag("delBlack", false);
  ChIfCon = flag("ChIfCon", false);

  AutoRun = autorun_.Exists();

  const std::string black = root + "\\Black";
  if (!reg_.KeyExists(black)) reg_.CreateKey(black);
  for (const auto& name : reg_.ValueNames(black)) {
    if (const auto v = reg_.ReadString(black, name)) Black.push_back(*v);
  }

  // Only keys that exist can be loaded: a wild count sizes nothing.
  int32_t highest = 0;
  for (const auto& name : reg_.SubKeyNames(root))
    highest = std::max(highest, KeyNumber(name));
  const int32_t count = std::min(*users, highest);
  stored_users_ = count;
  bool kept_copy = false;
  for (int32_t n = 1; n <= *users; ++n) {
    if (n > count) {
      Log("configuration keys " + std::to_string(n) + " to " + std::to_string(*users) +
          " are missing");
      break;
    }
    tuser u;
    std::string why;
    if (LoadConf(n, u, why)) {
      u.Index = static_cast<int32_t>(Conf.size());
      Conf.push_back(std::move(u));
      continue;
    }
    // Left out; the configurations after it load on their own keys.
    const std::string what = "configuration " + std::to_string(n) + " not loaded: " + why;
    if (reg_.KeyExists(ConfKey(n)) && !kept_copy) {
      reg_.KeepCopy(what);  // a later save renumbers the keys
      kept_copy = true;
    } else {
      Log(what);
    }
  }
  Users = static_cast<int32_t>(Conf.size());
  if (Users == 0 && *users > 0) AddConf();  // nothing usable: offer one to fill in
}

bool tusers::LoadConf(int32_t number, tuser& u, std::string& why) {
  const std::string key = ConfKey(number);
  if (!reg_.KeyExists(key)) {
    why = "its key is missing";
    return false;
  }
  std::vector<std::pair<std::string, RegValue>> write_back;
  const auto str = [&](const char* name, bool* bad = nullptr) {
    const auto v = reg_.ReadString(key, name);
    if (!v && bad) *bad = true;
    return ShortStr(v.value_or(""));
  };
  u.ConfigNM = str("ConfigNM");
  u.Host = str("Host");
  const auto port = reg_.ReadInteger(key, "Port");
  if (!port) {
    why = "\"Port\" is missing or not a number";
    return false;
  }
  u.Port = *port;
  bool smtp_bad = false;
  u.SMTPHost = str("SMTPHost", &smtp_bad);
  const auto smtp_port = reg_.ReadInteger(key, "SMTPPort");
  if (!smtp_port || smtp_bad) {
    u.SMTPHost.clear();
    u.SMTPPort = 25;
    write_back.emplace_back("SMTPHost", RegValue::Str(""));
    write_back.emplace_back("SMTPPort", RegValue::Dword(25));
  } else {
    u.SMTPPort = *smtp_port;
  }
  bool adress_bad = false;
  u.Adress = str("Adress", &adress_bad);
  if (adress_bad) write_back.emplace_back("Adress", RegValue::Str(""));
  u.UserName = str("UserName");
  const auto stored_pwd = reg_.ReadString(key, "UserPwd");
  if (!stored_pwd) {
    why = "\"UserPwd\" is not a string";
    return false;
  }
  try {
    u.UserPwd = ShortStr(DecodePwd(*stored_pwd, Trim(u.UserName)));
  } catch (const std::invalid_argument&) {
    why = "\"UserPwd\" is not a well-formed digit string";
    return false;
  }
  u.Connected = u.Deleted = false;
  const auto view = reg_.ReadBool(key, "ViewMail");
  if (!view) {
    why = "\"ViewMail\" is missing or not a number";
    return false;
  }
  u.ViewMail = *view;
  if (const auto na = reg_.ReadBool(key, "NonActive")) {
    u.NonActive = *na;
  } else {
    u.NonActive = false;
    write_back.emplace_back("NonActive", RegValue::Dword(0));
  }
  // Defaults go back only into a key that loaded: a broken key is left as it is.
  for (const auto& [name, value] : write_back)
    reg_.SetValue(key, name, value);
  LoadSecurity(number, u);
  u.StoredKey = number;
  ComputeDirs(u);
  return true;
}

void tusers::FirstStart(bool damaged, const std::string& why) {
  if (damaged) reg_.KeepCopy("global settings damaged (" + why + "), starting with defaults");
  stored_users_ = 0;  // keys beyond the new list are left as they are
  Users = 0;
  Conf.clear();
  AddConf();
  Save();
}

int32_t tusers::AddConf() {
  tuser u;
  u.Index = static_cast<int32_t>(Conf.size());
  u.ConfigNM = "Конфигурация " + std::to_string(Users + 1);
  u.Port = 110;
  u.SMTPPort = 25;
  ComputeDirs(u);
  Conf.push_back(std::move(u));
  Users = static_cast<int32_t>(Conf.size());
  return Users - 1;
}

void tusers::Save() {
  RegistryBatch batch(reg_);
  const std::string root = kRoot;
  const auto trimmed = [](const std::string& s) { return ShortStr(Trim(s)); };
  reg_.WriteInteger(root, "Delay", Delay);
  reg_.WriteString(root, "Sound", trimmed(Sound));
  reg_.WriteString(root, "Post", trimmed(Post));
  reg_.WriteString(root, "Avir", trimmed(Avir));
  reg_.WriteInteger(root, "Lan", Lan);
  reg_.WriteString(root, "Ras", trimmed(Ras));
  reg_.WriteInteger(root, "visual", Visual);
  reg_.WriteBool(root, "Ponty", Ponty);
  reg_.WriteBool(root, "delType", delType);
  reg_.WriteBool(root, "ChIfCon", ChIfCon);
  reg_.WriteBool(root, "delBlack", delBlack);

  if (AutoRun) {
    autorun_.Set(program_file_);
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
  const int32_t old_users = std::max(stored_users_, Users);
  std::vector<std::vector<std::pair<std::string, RegValue>>> old_keys(
      static_cast<std::size_t>(old_users) + 1);
  for (const tuser& u : Conf) {
    if (u.Deleted || u.StoredKey < 1 || u.StoredKey > old_users) continue;
    auto& values = old_keys[static_cast<std::size_t>(u.StoredKey)];
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
      if (u.StoredKey >= 1 && u.StoredKey <= old_users) {
        for (const auto& [name, v] : old_keys[static_cast<std::size_t>(u.StoredKey)]) {
          reg_.SetValue(key, name, v);
        }
      }
    }
    reg_.WriteString(key, "ConfigNM", trimmed(u.ConfigNM));
    reg_.WriteString(key, "Host", trimmed(u.Host));
    reg_.WriteInteger(key, "Port", u.Port);
    reg_.WriteString(key, "SMTPHost", trimmed(u.SMTPHost));
    reg_.WriteInteger(key, "SMTPPort", u.SMTPPort);
    reg_.WriteString(key, "Adress", trimmed(u.Adress));
    reg_.WriteString(key, "UserName", trimmed(u.UserName));
    reg_.WriteString(key, "UserPwd", EncodePwd(trimmed(u.UserPwd), Trim(u.UserName)));
    reg_.WriteBool(key, "ViewMail", u.ViewMail);
    reg_.WriteBool(key, "NonActive", u.NonActive);
    SaveSecurity(key, u);
    u.StoredKey = n;
  }
  for (int32_t k = n + 1; k <= old_users; ++k)
    reg_.DeleteKey(ConfKey(k));

  std::erase_if(Conf, [](const tuser& u) { return u.Deleted; });
  for (std::size_t i = 0; i < Conf.size(); ++i)
    Conf[i].Index = static_cast<int32_t>(i);
  Users = n;
  stored_users_ = n;
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
