#pragma once
// The per-user registry: a tree of keys holding typed, named values. Key paths are
// relative to HKEY_CURRENT_USER and written with '\' ("Software\\Brenna\\Vigilo\\1").
// Key paths and value names compare without regard to ASCII letter case.
//
// Writes are collected in batches: every change made between BeginUpdate and the
// matching EndUpdate reaches the backing store at once when the outermost batch
// ends (use RegistryBatch). A change outside any batch is stored at once.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vigilo {

enum class RegType {
  String,        // REG_SZ
  ExpandString,  // REG_EXPAND_SZ
  Dword,         // REG_DWORD
  Other,         // any other type, kept verbatim but not interpreted
};

struct RegValue {
  RegType Type = RegType::String;
  std::string Text;     // String, ExpandString: UTF-8 text; Other: the raw data as stored
  uint32_t Number = 0;  // Dword

  static RegValue Str(std::string s) { return {RegType::String, std::move(s), 0}; }
  static RegValue Expand(std::string s) { return {RegType::ExpandString, std::move(s), 0}; }
  static RegValue Dword(uint32_t v) { return {RegType::Dword, {}, v}; }
  bool operator==(const RegValue&) const = default;
};

class RegistryStore {
 public:
  virtual ~RegistryStore() = default;

  // True when the key exists (also when only keys below it were ever written).
  virtual bool KeyExists(const std::string& key) const = 0;
  virtual void CreateKey(const std::string& key) = 0;
  // Deletes the key with all its values and all keys below it.
  virtual void DeleteKey(const std::string& key) = 0;
  virtual std::optional<RegValue> GetValue(const std::string& key,
                                           const std::string& name) const = 0;
  // Creates the key if needed. An existing value keeps the spelling of its name.
  virtual void SetValue(const std::string& key, const std::string& name, const RegValue& v) = 0;
  virtual void DeleteValue(const std::string& key, const std::string& name) = 0;
  // Value names of the key, in the store's order.
  virtual std::vector<std::string> ValueNames(const std::string& key) const = 0;
  // Names of the keys directly below the key.
  virtual std::vector<std::string> SubKeyNames(const std::string& key) const = 0;

  virtual void BeginUpdate() = 0;
  virtual void EndUpdate() = 0;
  // Writes pending changes to the backing store now. False when they could not be.
  [[nodiscard]] virtual bool Flush() = 0;

  // Keeps a copy of what the store holds now under a new name before the program
  // replaces damaged settings, and records the reason in the error log.
  virtual void KeepCopy(const std::string& reason) = 0;

  // Typed reads. A string from a missing value is ""; an expandable string is accepted.
  // nullopt: missing value or wrong type.
  std::optional<std::string> ReadString(const std::string& key, const std::string& name) const;
  std::optional<int32_t> ReadInteger(const std::string& key, const std::string& name) const;
  std::optional<bool> ReadBool(const std::string& key, const std::string& name) const;
  void WriteString(const std::string& key, const std::string& name, const std::string& s);
  void WriteInteger(const std::string& key, const std::string& name, int32_t v);
  void WriteBool(const std::string& key, const std::string& name, bool v);
};

// Holds a batch open for its lifetime.
class RegistryBatch {
 public:
  explicit RegistryBatch(RegistryStore& r) : r_(r) { r_.BeginUpdate(); }
  ~RegistryBatch() { r_.EndUpdate(); }
  RegistryBatch(const RegistryBatch&) = delete;
  RegistryBatch& operator=(const RegistryBatch&) = delete;

 private:
  RegistryStore& r_;
};

}  // namespace vigilo
