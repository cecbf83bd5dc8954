#pragma once
// A settings store in a fresh folder, with an autostart entry that only records.

#include <filesystem>
#include <memory>

#include "config/myuser.h"
#include "platform/regfile.h"
#include "tests/support/tempdir.h"

namespace vigilo::test {

class RecordingAutostart : public Autostart {
 public:
  bool Exists() const override { return !program.empty(); }
  std::string Set(const std::string& p) override {
    program = p;
    return {};
  }
  void Remove() override { program.clear(); }
  std::string program;
};

struct StoreFixture {
  TempDir dir;
  std::filesystem::path file = dir.path() / "registry.reg";
  RecordingAutostart autostart;
  std::unique_ptr<RegistryFile> reg;

  RegistryFile& Reg() {
    if (!reg) reg = std::make_unique<RegistryFile>(file, dir.path() / "error.log");
    return *reg;
  }
  // Reads the file afresh, as a new start of the program does.
  std::unique_ptr<tusers> Start() {
    reg.reset();
    return std::make_unique<tusers>(Reg(), autostart, dir.str(), "/usr/bin/vigilo");
  }
  // What a new start would read, beside the store in use.
  std::unique_ptr<tusers> Reload() {
    other = std::make_unique<RegistryFile>(file, dir.path() / "error.log");
    return std::make_unique<tusers>(*other, autostart, dir.str(), "/usr/bin/vigilo");
  }
  std::string ErrorLog() const { return ReadFile(dir.path() / "error.log"); }
  std::unique_ptr<RegistryFile> other;
};

}  // namespace vigilo::test
