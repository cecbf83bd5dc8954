#pragma once
// The text form of the registry file: the syntax of a registry export, UTF-8.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Brenna\Vigilo]
//   "Delay"=dword:0000003c
//   "Sound"="message-new-email"
//
// Strings escape '\' and '"' with a backslash (and a line break as \n, \r);
// "str(2):" marks an expandable string; values of any other type ("hex:...") are
// kept as their raw text. Lines starting with ';' are comments.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/registry.h"

namespace vigilo {

inline constexpr std::string_view kRegHeader = "Windows Registry Editor Version 5.00";

struct RegKeyData {
  std::string Path;  // full path as written, e.g. "HKEY_CURRENT_USER\\Software\\Brenna"
  std::vector<std::pair<std::string, RegValue>> Values;
};

struct RegDocument {
  std::vector<RegKeyData> Keys;
};

struct RegBadLine {
  int Number;  // from 1
  std::string Reason;
};

struct RegParseResult {
  RegDocument Doc;
  bool Corrupt = false;  // not a registry file at all: nothing in doc is usable
  std::string CorruptReason;
  std::vector<RegBadLine> BadLines;  // lines skipped, the rest was read
};

RegParseResult ParseRegText(std::string_view text);
std::string FormatRegText(const RegDocument& doc);

}  // namespace vigilo
