#pragma once
// The exported icon set: "icon.ini" in the program folder names, for each image
// list, the icon files that replace or extend its built-in pictures; the files
// themselves are written to the folder "icon".

#include <array>
#include <string>
#include <vector>

#include "config/inifile.h"

namespace vigilo {

// The image lists in the order they are saved and loaded.
inline constexpr std::array<const char*, 7> kIconSetLists = {
    "ImageList1", "ImageList2", "ImageList3", "ImageList4",
    "ImageList5", "ImageList6", "ImageList8"};

struct IconSetEntry {
  int Position;      // position of the key in its section, from 0
  std::string File;  // the file named by its value; it exists
};

// The entries of the list's section whose files exist, in key order. Key names are
// not interpreted: only their order counts.
std::vector<IconSetEntry> IconSetEntries(const IniFile& ini, const std::string& list);

// program_folder + "icon/" + list + index + ".ico"
std::string IconSetFileName(const std::string& program_folder, const std::string& list, int index);

// Puts `icon` at `position`: replaces it when the list has that index, else appends.
template <typename Icon>
void PlaceIcon(std::vector<Icon>& icons, int position, Icon icon) {
  if (position >= 0 && static_cast<std::size_t>(position) < icons.size()) {
    icons[static_cast<std::size_t>(position)] = std::move(icon);
  } else {
    icons.push_back(std::move(icon));
  }
}

}  // namespace vigilo
