#include "compose/addrbook.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "base/text.h"

namespace vigilo {

std::string FoldCase(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (i + 1 < text.size() && (c == 0xD0 || c == 0xD1)) {
      // Two-byte Cyrillic: U+0400..U+047F.
      unsigned cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
      if (cp >= 0x410 && cp <= 0x42F)
        cp += 0x20;
      else if (cp >= 0x400 && cp <= 0x40F)
        cp += 0x50;
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
      ++i;
      continue;
    }
    out += AsciiLower(static_cast<char>(c));
  }
  return out;
}

namespace {

bool LessNoCase(const std::string& a, const std::string& b) {
  return FoldCase(a) < FoldCase(b);
}

}  // namespace

std::vector<std::string> TAddressBook::ReadLines(const std::string& fileName, bool& exists) {
  std::vector<std::string> lines;
  std::ifstream in(fileName, std::ios::binary);
  exists = static_cast<bool>(in);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

std::string TAddressBook::WriteLines(const std::string& fileName,
                                     const std::vector<std::string>& lines) {
  const std::string temp = fileName + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines)
      out << line << "\r\n";
    out.flush();
    if (!out) return "Cannot write " + temp + ": " + std::strerror(errno);
  }
  if (std::rename(temp.c_str(), fileName.c_str()) != 0)
    return "Cannot write " + fileName + ": " + std::strerror(errno);
  return {};
}

void TAddressBook::Load() {
  bool exists = false;
  std::vector<std::string> lines = ReadLines(fileName_, exists);
  if (!exists) return;
  std::stable_sort(lines.begin(), lines.end(), LessNoCase);
  entries_ = std::move(lines);
  selected_ = -1;
}

std::string TAddressBook::Save() const {
  return WriteLines(fileName_, entries_);
}

std::string TAddressBook::AddAddress(const std::string& fileName, const std::string& text) {
  if (Trim(text).empty()) return {};
  bool exists = false;
  std::vector<std::string> lines = ReadLines(fileName, exists);
  const std::string key = FoldCase(text);
  for (const std::string& line : lines)
    if (FoldCase(line) == key) return {};
  lines.push_back(text);
  return WriteLines(fileName, lines);
}

bool TAddressBook::Add(const std::string& text) {
  if (Trim(text).empty()) return false;
  const std::string key = FoldCase(text);
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (FoldCase(entries_[i]) == key) {
      selected_ = static_cast<int>(i);
      return false;
    }
  const std::string entry = Trim(text);
  const auto at = std::upper_bound(entries_.begin(), entries_.end(), entry, LessNoCase);
  selected_ = static_cast<int>(at - entries_.begin());
  entries_.insert(at, entry);
  return true;
}

void TAddressBook::RemoveSelected() {
  const int i = selected_;
  entries_.erase(entries_.begin() + i);
  selected_ = entries_.empty() ? -1 : std::max(i - 1, 0);
}

std::string TAddressBook::TakeForEdit() {
  if (selected_ < 0) return {};
  std::string entry = entries_[static_cast<std::size_t>(selected_)];
  RemoveSelected();
  return entry;
}

void TAddressBook::Delete() {
  if (selected_ >= 0) RemoveSelected();
}

bool TAddressBook::Pick(std::string& error) {
  error.clear();
  if (selected_ < 0) return false;
  selectedAddress_ = entries_[static_cast<std::size_t>(selected_)];
  error = Save();
  return true;
}

}  // namespace vigilo
