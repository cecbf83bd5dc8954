#pragma once
// Where the program keeps its files. Every path ends with '/'.
//
//   Home     the program folder: message store in/, queue out/, adrBook.txt, error.log,
//            icon.ini, icon/. --home DIR or $VIGILO_HOME, else $XDG_DATA_HOME/vigilo/
//            (default ~/.local/share/vigilo/).
//   Config   registry.reg and vg.ini: the home when one was given, else
//            $XDG_CONFIG_HOME/vigilo/ (default ~/.config/vigilo/).
//   Temp     the private temporary and runtime folder (mode 0700), also holding the
//            single-instance lock: $XDG_RUNTIME_DIR/vigilo/, else <temp>/vigilo-<uid>/.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vigilo {

// Looks up an environment variable; nullopt when unset.
using EnvLookup = std::function<std::optional<std::string>(const std::string&)>;
EnvLookup ProcessEnvironment();

struct Folders {
  std::string Home;
  std::string Config;
  std::string Temp;
  bool HomeGiven = false;  // from --home or $VIGILO_HOME
};

// Computes the folders; home_arg is the --home value ("" when not given).
Folders ResolveFolders(const std::string& home_arg, const EnvLookup& env);

// Creates the folders that are missing, each new one with mode 0700, and makes sure
// Temp is a real folder owned by this user and private. Returns "" or the failure.
[[nodiscard]] std::string CreateFolders(const Folders& f);

// Checks the folders of the user's data (Home and Config): each must belong to this
// user, else the failure is returned. Folders that other users may enter, read or
// write (by their mode) are added to *open as "folder (mode 0755)".
std::string CheckPrivateFolders(const Folders& f, std::vector<std::string>* open);

// Creates `dir` and its missing parents with mode 0700. Returns "" or the failure.
[[nodiscard]] std::string MakePrivateDirs(const std::string& dir);

// The full path of the running program's file (also after the file was replaced).
std::string ProgramFile();

}  // namespace vigilo
