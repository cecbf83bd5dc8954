#include "config/inifile.h"

#include <charconv>

#include "base/text.h"
#include "platform/atomicfile.h"
#include "platform/regsyntax.h"

namespace vigilo {

IniFile::IniFile(std::string path) : path_(std::move(path)) {
  std::string text;
  if (!ReadWholeFile(path_, text, 4 * 1024 * 1024).empty()) return;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.erase(0, 3);
  Section* current = nullptr;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    const std::string line = Trim(std::string_view(text).substr(start, nl - start));
    start = nl + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const auto close = line.find(']');
      if (close == std::string::npos) continue;
      const std::string name = Trim(line.substr(1, close - 1));
      current = nullptr;
      for (auto& s : sections_) {
        if (EqualsNoCase(s.Name, name)) current = &s;
      }
      if (!current) {
        sections_.push_back({name, {}});
        current = &sections_.back();
      }
      continue;
    }
    const auto eq = line.find('=');
    if (!current || eq == std::string::npos) continue;
    const std::string key = Trim(line.substr(0, eq));
    const std::string value = Trim(line.substr(eq + 1));
    bool found = false;
    for (auto& [k, v] : current->Entries) {
      if (EqualsNoCase(k, key)) {
        found = true;  // the first occurrence wins, as the system's reader does
        break;
      }
    }
    if (!found) current->Entries.emplace_back(key, value);
  }
}

const IniFile::Section* IniFile::Find(const std::string& section) const {
  for (const auto& s : sections_) {
    if (EqualsNoCase(s.Name, section)) return &s;
  }
  return nullptr;
}

bool IniFile::HasSection(const std::string& section) const {
  return Find(section) != nullptr;
}

std::vector<std::string> IniFile::Keys(const std::string& section) const {
  std::vector<std::string> keys;
  if (const Section* s = Find(section)) {
    for (const auto& kv : s->Entries)
      keys.push_back(kv.first);
  }
  return keys;
}

std::optional<std::string> IniFile::Read(const std::string& section, const std::string& key) const {
  if (const Section* s = Find(section)) {
    for (const auto& [k, v] : s->Entries) {
      if (EqualsNoCase(k, Trim(key))) return v;
    }
  }
  return std::nullopt;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& def) const {
  return Read(section, key).value_or(def);
}

int IniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
  const auto v = Read(section, key);
  if (!v) return def;
  int n = 0;
  const auto [p, ec] = std::from_chars(v->data(), v->data() + v->size(), n);
  if (ec != std::errc() || p != v->data() + v->size()) return def;
  return n;
}

void IniFile::Write(const std::string& section, const std::string& key, const std::string& value) {
  Section* s = const_cast<Section*>(Find(section));
  if (!s) {
    sections_.push_back({section, {}});
    s = &sections_.back();
  }
  std::string clean = value;
  for (char& c : clean) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  for (auto& [k, v] : s->Entries) {
    if (EqualsNoCase(k, key)) {
      v = clean;
      return;
    }
  }
  s->Entries.emplace_back(key, clean);
}

void IniFile::EraseSection(const std::string& section) {
  std::erase_if(sections_, [&](const Section& s) { return EqualsNoCase(s.Name, section); });
}

std::string IniFile::Save() const {
  std::string text;
  for (const auto& s : sections_) {
    if (!text.empty()) text += '\n';
    text += "[" + s.Name + "]\n";
    for (const auto& [k, v] : s.Entries)
      text += k + "=" + v + "\n";
  }
  return WriteFileAtomic(path_, text, 0600);
}

}  // namespace vigilo
