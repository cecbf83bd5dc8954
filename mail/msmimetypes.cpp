// Content types of file extensions from the system's and the user's
// mime.types files ("type ext ext ..." per line, "#" starts a comment).

#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "mail/msmsgcls.h"

namespace ms {

namespace {

using TypeMap = std::map<std::string, std::string>;

void ReadMimeTypes(const std::string& path, TypeMap& map) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::string type, ext;
    if (!(words >> type)) continue;
    while (words >> ext)
      map[AsciiLower(ext)] = type;  // later files win
  }
}

std::mutex map_mutex;
bool map_loaded = false;
TypeMap type_map;
std::vector<std::string> type_files;
bool files_overridden = false;

const TypeMap& Map() {
  if (!map_loaded) {
    type_map.clear();
    std::vector<std::string> files = type_files;
    if (!files_overridden) {
      files = {"/etc/mime.types"};
      if (const char* home = std::getenv("HOME"); home && *home)
        files.push_back(std::string(home) + "/.mime.types");
    }
    for (const auto& f : files)
      ReadMimeTypes(f, type_map);
    map_loaded = true;
  }
  return type_map;
}

}  // namespace

void SetMimeTypesFiles(const std::vector<std::string>& files) {
  std::lock_guard<std::mutex> lock(map_mutex);
  type_files = files;
  files_overridden = !files.empty();
  map_loaded = false;
}

std::string ContentTypeOfFile(const std::string& path) {
  std::string name = ExtractFileName(path);
  std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot + 1 == name.size()) return "application/octet-stream";
  std::lock_guard<std::mutex> lock(map_mutex);
  const TypeMap& m = Map();
  auto it = m.find(AsciiLower(name.substr(dot + 1)));
  return it == m.end() || it->second.empty() ? "application/octet-stream" : it->second;
}

}  // namespace ms
