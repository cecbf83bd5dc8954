#pragma once
// TDMU: the small data module that owns the settings object for the life of the
// program. Creating it loads every setting; destroying it frees the header records.

#include <memory>
#include <string>

#include "config/myuser.h"

namespace vigilo {

class TDMU {
 public:
  TDMU(RegistryStore& reg, Autostart& autorun, std::string program_folder, std::string program_file,
       Keyring* keyring = nullptr, RegistryStore* backup = nullptr);
  ~TDMU();
  TDMU(const TDMU&) = delete;
  TDMU& operator=(const TDMU&) = delete;

  std::unique_ptr<tusers> Settings;
};

// The program's one TDMU, set while it exists (global name DMU).
extern TDMU* DMU;

}  // namespace vigilo
