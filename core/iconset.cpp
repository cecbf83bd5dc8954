#include "core/iconset.h"

#include <sys/stat.h>

namespace vigilo {

std::vector<IconSetEntry> IconSetEntries(const IniFile& ini, const std::string& list) {
  std::vector<IconSetEntry> entries;
  const auto keys = ini.Keys(list);
  for (std::size_t p = 0; p < keys.size(); ++p) {
    const std::string file = ini.ReadString(list, keys[p], "");
    struct stat st;
    if (file.empty() || stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    entries.push_back({static_cast<int>(p), file});
  }
  return entries;
}

std::string IconSetFileName(const std::string& program_folder, const std::string& list, int index) {
  return program_folder + "icon/" + list + std::to_string(index) + ".ico";
}

}  // namespace vigilo
