#pragma once
// How a row of the header list looks: colours by its state, bold while its message is
// not downloaded, and the prefix of a row marked for deletion at the next check.

#include <cstdint>
#include <string>

namespace vigilo {

inline constexpr const char* kDeletePrefix = "ДЛЯ УДАЛЕНИЯ:";

struct RowLook {
  uint32_t Brush = 0xFFFFFF;  // RGB
  uint32_t Font = 0x000000;   // RGB
  bool Bold = false;
};

struct RowState {
  bool Blacklisted = false;
  bool Current = false;
  bool Marked = false;
  bool DeleteNext = false;
  bool Downloaded = false;
};

RowLook LookOfRow(const RowState& s);

// The text of a cell as drawn: column 0 of a row marked for deletion starts with the prefix.
std::string DrawnCellText(int column, bool deleteNext, const std::string& text);

}  // namespace vigilo
