#include "platform/registry.h"

namespace vigilo {

std::optional<std::string> RegistryStore::ReadString(const std::string& key,
                                                     const std::string& name) const {
  const auto v = GetValue(key, name);
  if (!v) return std::string();
  if (v->Type != RegType::String && v->Type != RegType::ExpandString) return std::nullopt;
  return v->Text;
}

std::optional<int32_t> RegistryStore::ReadInteger(const std::string& key,
                                                  const std::string& name) const {
  const auto v = GetValue(key, name);
  if (!v || v->Type != RegType::Dword) return std::nullopt;
  return static_cast<int32_t>(v->Number);
}

std::optional<bool> RegistryStore::ReadBool(const std::string& key, const std::string& name) const {
  const auto v = ReadInteger(key, name);
  if (!v) return std::nullopt;
  return *v != 0;
}

void RegistryStore::WriteString(const std::string& key, const std::string& name,
                                const std::string& s) {
  SetValue(key, name, RegValue::Str(s));
}

void RegistryStore::WriteInteger(const std::string& key, const std::string& name, int32_t v) {
  SetValue(key, name, RegValue::Dword(static_cast<uint32_t>(v)));
}

void RegistryStore::WriteBool(const std::string& key, const std::string& name, bool v) {
  WriteInteger(key, name, v ? 1 : 0);
}

}  // namespace vigilo
