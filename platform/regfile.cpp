#include "platform/regfile.h"

#include <algorithm>
#include <system_error>

#include "base/text.h"
#include "base/utf8.h"
#include "platform/atomicfile.h"
#include "platform/errorlog.h"

namespace vigilo {
namespace {

constexpr std::string_view kRoot = "HKEY_CURRENT_USER";

std::string Normalize(std::string key) {
  while (!key.empty() && key.front() == '\\')
    key.erase(key.begin());
  while (!key.empty() && key.back() == '\\')
    key.pop_back();
  return key;
}

// True when `key` lies below `parent` (not equal to it).
bool IsBelow(std::string_view key, std::string_view parent) {
  return key.size() > parent.size() + 1 && key[parent.size()] == '\\' &&
         EqualsNoCase(key.substr(0, parent.size()), parent);
}

}  // namespace

RegistryFile::RegistryFile() = default;

RegistryFile::RegistryFile(std::filesystem::path path, std::filesystem::path error_log)
    : path_(std::move(path)), error_log_(std::move(error_log)), writable_(true) {
  Load();
}

std::string RegistryFile::Full(const std::string& key) {
  const std::string k = Normalize(key);
  return k.empty() ? std::string(kRoot) : std::string(kRoot) + "\\" + k;
}

void RegistryFile::Log(const std::string& message) const {
  AppendErrorLog(error_log_, path_.filename().string(), message);
}

void RegistryFile::Load() {
  RemoveStaleTemporaries(path_);
  std::string text;
  bool missing = false;
  std::string error = ReadWholeFile(path_, text, kMaxFileSize, &missing);
  if (missing) return;
  std::string original;  // the bytes as they are in the file, when text differs
  if (error.empty() && text.starts_with("\xFF\xFE")) {
    // A regedit export: UTF-16LE with a byte-order mark. Read as UTF-8; the next save
    // writes it so.
    std::string utf8;
    if (Utf16LeToUtf8(std::string_view(text).substr(2), utf8)) {
      original = std::move(text);
      text = std::move(utf8);
    } else {
      error = "not valid UTF-16 text";
    }
  }
  RegParseResult parsed;
  if (error.empty()) {
    parsed = ParseRegText(text);
    if (parsed.Corrupt) error = parsed.CorruptReason;
  }
  if (!error.empty()) {
    // Unusable: move it out of the way so that the next save starts a fresh file.
    damaged_ = true;
    const auto aside = AsideName(path_, "damaged");
    std::error_code ec;
    std::filesystem::rename(path_, aside, ec);
    if (ec) {
      writable_ = false;
      Log("cannot be used (" + error + ") nor moved aside (" + ec.message() +
          "); settings changes will not be saved");
    } else {
      kept_.push_back(aside);
      Log("cannot be used (" + error + "); kept as " + aside.string() +
          ", starting with default settings");
    }
    return;
  }
  doc_ = std::move(parsed.Doc);
  if (!parsed.BadLines.empty())
    KeepDamagedCopy(original.empty() ? text : original, parsed.BadLines);
}

void RegistryFile::KeepDamagedCopy(const std::string& text, const std::vector<RegBadLine>& bad) {
  // The next rewrite drops the skipped lines: keep the file as it was, once per
  // content. Until a save rewrites it, every start reads the same file, and every
  // copy holds the scrambled passwords, so no copy is made twice and few are kept.
  const std::string tag = "damaged";
  const auto copies = AsideCopies(path_, tag);
  for (const auto& copy : copies) {
    std::string kept;
    if (ReadWholeFile(copy, kept, kMaxFileSize).empty() && kept == text) {
      kept_.push_back(copy);
      Log(std::to_string(bad.size()) + " unreadable line(s) skipped, first line " +
          std::to_string(bad.front().Number) + "; the file as it was is already kept as " +
          copy.string());
      return;
    }
  }
  constexpr std::size_t kLoggedLines = 10;
  for (std::size_t i = 0; i < bad.size() && i < kLoggedLines; ++i)
    Log("line " + std::to_string(bad[i].Number) + ": " + bad[i].Reason + ", skipped");
  if (bad.size() > kLoggedLines)
    Log("and " + std::to_string(bad.size() - kLoggedLines) + " more unreadable lines skipped");
  const auto aside = AsideName(path_, tag);
  // Written from what was read, with mode 0600 from the start.
  if (!WriteFileAtomic(aside, text, 0600).empty()) return;
  kept_.push_back(aside);
  Log("the file as it was is kept as " + aside.string());
  // The oldest copies beyond the newest few go.
  auto all = AsideCopies(path_, tag);
  std::error_code ec;
  for (std::size_t i = 0; i + kMaxDamagedCopies < all.size(); ++i)
    std::filesystem::remove(all[i], ec);
}

const RegKeyData* RegistryFile::Find(const std::string& key) const {
  const std::string full = Full(key);
  for (const auto& k : doc_.Keys) {
    if (EqualsNoCase(k.Path, full)) return &k;
  }
  return nullptr;
}

RegKeyData* RegistryFile::Find(const std::string& key) {
  return const_cast<RegKeyData*>(std::as_const(*this).Find(key));
}

RegKeyData& RegistryFile::Ensure(const std::string& key) {
  if (RegKeyData* k = Find(key)) return *k;
  doc_.Keys.push_back({Full(key), {}});
  Changed();
  return doc_.Keys.back();
}

bool RegistryFile::KeyExists(const std::string& key) const {
  if (Find(key)) return true;
  const std::string full = Full(key);
  return std::any_of(doc_.Keys.begin(), doc_.Keys.end(),
                     [&](const RegKeyData& k) { return IsBelow(k.Path, full); });
}

void RegistryFile::CreateKey(const std::string& key) {
  BeginUpdate();
  Ensure(key);
  EndUpdate();
}

void RegistryFile::DeleteKey(const std::string& key) {
  const std::string full = Full(key);
  const auto before = doc_.Keys.size();
  std::erase_if(doc_.Keys, [&](const RegKeyData& k) {
    return EqualsNoCase(k.Path, full) || IsBelow(k.Path, full);
  });
  if (doc_.Keys.size() != before) {
    BeginUpdate();
    Changed();
    EndUpdate();
  }
}

std::optional<RegValue> RegistryFile::GetValue(const std::string& key,
                                               const std::string& name) const {
  const RegKeyData* k = Find(key);
  if (!k) return std::nullopt;
  for (const auto& [n, v] : k->Values) {
    if (EqualsNoCase(n, name)) return v;
  }
  return std::nullopt;
}

void RegistryFile::SetValue(const std::string& key, const std::string& name, const RegValue& v) {
  BeginUpdate();
  RegKeyData& k = Ensure(key);
  auto it = std::find_if(k.Values.begin(), k.Values.end(),
                         [&](const auto& nv) { return EqualsNoCase(nv.first, name); });
  if (it == k.Values.end()) {
    k.Values.emplace_back(name, v);
    Changed();
  } else if (!(it->second == v)) {
    it->second = v;
    Changed();
  }
  EndUpdate();
}

void RegistryFile::DeleteValue(const std::string& key, const std::string& name) {
  RegKeyData* k = Find(key);
  if (!k) return;
  const auto n =
      std::erase_if(k->Values, [&](const auto& nv) { return EqualsNoCase(nv.first, name); });
  if (n) {
    BeginUpdate();
    Changed();
    EndUpdate();
  }
}

std::vector<std::string> RegistryFile::ValueNames(const std::string& key) const {
  std::vector<std::string> names;
  if (const RegKeyData* k = Find(key)) {
    for (const auto& nv : k->Values)
      names.push_back(nv.first);
  }
  return names;
}

std::vector<std::string> RegistryFile::SubKeyNames(const std::string& key) const {
  const std::string full = Full(key);
  std::vector<std::string> names;
  for (const auto& k : doc_.Keys) {
    if (!IsBelow(k.Path, full)) continue;
    std::string rest = k.Path.substr(full.size() + 1);
    rest = rest.substr(0, rest.find('\\'));
    if (std::none_of(names.begin(), names.end(),
                     [&](const std::string& n) { return EqualsNoCase(n, rest); })) {
      names.push_back(rest);
    }
  }
  return names;
}

void RegistryFile::BeginUpdate() {
  ++depth_;
}

void RegistryFile::EndUpdate() {
  if (depth_ > 0 && --depth_ == 0 && dirty_) static_cast<void>(Flush());  // logs a failure
}

void RegistryFile::Changed() {
  dirty_ = true;
}

bool RegistryFile::Flush() {
  if (!dirty_) return true;
  if (!writable_) return false;
  const std::string error = WriteFileAtomic(path_, FormatRegText(doc_), 0600);
  if (!error.empty()) {
    Log("cannot be written: " + error);
    return false;
  }
  dirty_ = false;
  return true;
}

void RegistryFile::KeepCopy(const std::string& reason) {
  if (path_.empty()) return;
  std::error_code ec;
  if (!std::filesystem::exists(path_, ec)) {
    Log(reason);
    return;
  }
  const auto aside = AsideName(path_, "saved");
  std::filesystem::copy_file(path_, aside, ec);
  if (ec) {
    Log(reason + "; no copy could be kept: " + ec.message());
    return;
  }
  std::filesystem::permissions(
      aside, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
  kept_.push_back(aside);
  Log(reason + "; the file as it was is kept as " + aside.string());
}

}  // namespace vigilo
