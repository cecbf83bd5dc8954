#pragma once
// The stored values as tables: for each value its name in the registry, the member
// that holds it, its kind, default and bound. Loading, saving, the defaults of a new
// configuration and the writing back of missing values all follow these tables, and
// a settings window can bind its controls to them.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "config/myuser.h"

namespace vigilo {

enum class SettingKind {
  Text,         // a string, stored trimmed and cut to kShortStringChars
  Integer,      // a dword
  Flag,         // a dword, 0 or 1
  Password,     // a string scrambled with the trimmed `Key` member (tusers::EncodePwd), or
                // the keyring marker when the `Keyring` member names an item
  Fingerprint,  // a SHA-256 fingerprint, stored canonical (kept as typed when it is none)
};

// What loading does with a value that is missing or cannot be read. A text that is
// missing reads as "", so for texts only a value of another type cannot be read.
enum class SettingRule {
  Required,   // the record cannot be loaded without it
  Default,    // the default is used
  WriteBack,  // the default is used and written back with the rest of its group
  Optional,   // the default is used; stored only when it differs from the default,
              // values outside 0..Bound are logged and replaced by the fallback
};

// The value used instead of one outside 0..Bound, and the words that explain it.
struct SettingFallback {
  int32_t Value;
  const char* Choice;
};

template <class Record>
struct Setting {
  const char* Name;
  SettingKind Kind;
  std::variant<std::string Record::*, int32_t Record::*, bool Record::*> Member;
  SettingRule Rule = SettingRule::Default;
  int32_t Number = 0;              // default of an Integer or Flag
  const char* Text = "";           // default of a Text
  int32_t Bound = 0;               // Optional numbers: the highest valid value
  int Group = 0;                   // WriteBack values of one group (not 0) are reset together
  std::string Record::*Key{};      // Password: the member holding the scrambling key
  std::string Record::*Keyring{};  // Password: the member holding its keyring item id, if any
  SettingFallback (*Fallback)(const Record&) = nullptr;  // Optional numbers out of bound
  const char* SavedAs = nullptr;                         // name written by Save, when it differs
  int WriteBackRank = 0;  // missing values go back in ascending rank, then table order
};

// What a password value holds instead of the scrambled text when the password is kept
// in the desktop keyring: the prefix and the item's id. No scrambled text has a letter.
inline constexpr std::string_view kKeyringMarker = "keyring:";

// The values of the key "Software\Brenna\Vigilo", in the order Save writes them.
// "Users" and the blacklist are not among them: Save derives them from the list.
std::span<const Setting<tusers>> GlobalSettings();
// The values of each configuration key "Software\Brenna\Vigilo\<n>", in save order.
std::span<const Setting<tuser>> ConfigurationSettings();

// Sets every member of the table to its default.
template <class Record>
void ApplyDefaults(std::span<const Setting<Record>> table, Record& r);

// Reads a record from `key`. Returns "" on success, else why it could not be loaded
// (a Required value is missing; nothing is written then). `ready` runs after the
// Required and Default values were read and may refuse the record the same way.
// Problems with Optional values are given to `log`, prefixed by `where`.
template <class Record>
std::string LoadSettings(std::span<const Setting<Record>> table, RegistryStore& reg,
                         const std::string& key, Record& r, const std::string& where,
                         const std::function<void(const std::string&)>& log,
                         const std::function<std::string()>& ready = {});

template <class Record>
void SaveSettings(std::span<const Setting<Record>> table, RegistryStore& reg,
                  const std::string& key, const Record& r);

}  // namespace vigilo
