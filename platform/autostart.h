#pragma once
// Starting the program with the user's session.

#include <memory>
#include <string>
#include <vector>

#include "platform/folders.h"

namespace vigilo {

class Autostart {
 public:
  virtual ~Autostart() = default;
  virtual bool Exists() const = 0;
  // Registers the program file to be started with the session. Returns "" or the failure.
  [[nodiscard]] virtual std::string Set(const std::string& program_file) = 0;
  virtual void Remove() = 0;
};

// The XDG autostart entry $XDG_CONFIG_HOME/autostart/vigilo.desktop. `extra_args` are
// appended to the command (for example "--home DIR" when the home was given).
class XdgAutostart : public Autostart {
 public:
  XdgAutostart(std::string desktop_file, std::vector<std::string> extra_args);
  static std::string DefaultPath(const EnvLookup& env);

  bool Exists() const override;
  [[nodiscard]] std::string Set(const std::string& program_file) override;
  void Remove() override;
  const std::string& path() const { return path_; }

  // One argument quoted for the Exec key of a desktop entry.
  static std::string QuoteExecArg(const std::string& arg);

 private:
  // True when the entry at path_ starts this program with this home: another copy's
  // entry (another --home) is neither reported nor removed.
  bool IsOurs() const;
  std::string ArgsText() const;

  std::string path_;
  std::vector<std::string> extra_args_;
};

}  // namespace vigilo
