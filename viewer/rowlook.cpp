#include "viewer/rowlook.h"

namespace vigilo {

RowLook LookOfRow(const RowState& s) {
  constexpr uint32_t kWhite = 0xFFFFFF, kBlack = 0x000000, kTeal = 0x008080, kNavy = 0x000080,
                     kGray = 0x808080, kSilver = 0xC0C0C0, kAqua = 0x00FFFF, kRed = 0xFF0000;
  RowLook look;
  if (s.Current) {
    look.Brush = kNavy;
    look.Font = s.Marked ? kTeal : (s.Blacklisted ? kAqua : kWhite);
  } else if (s.Marked) {
    look.Brush = kTeal;
    look.Font = s.Blacklisted ? kSilver : kWhite;
  } else {
    look.Brush = s.Blacklisted ? kGray : kWhite;
    look.Font = s.Blacklisted ? kWhite : kBlack;
  }
  if (s.DeleteNext) look.Font = kRed;
  look.Bold = !s.Downloaded;
  return look;
}

std::string DrawnCellText(int column, bool deleteNext, const std::string& text) {
  if (column == 0 && deleteNext) return kDeletePrefix + text;
  return text;
}

}  // namespace vigilo
