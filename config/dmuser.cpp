#include "config/dmuser.h"

namespace vigilo {

TDMU* DMU = nullptr;

TDMU::TDMU(RegistryStore& reg, Autostart& autorun, std::string program_folder,
           std::string program_file, Keyring* keyring, RegistryStore* backup)
    : Settings(std::make_unique<tusers>(reg, autorun, std::move(program_folder),
                                        std::move(program_file), keyring, backup)) {
  if (!DMU) DMU = this;
}

TDMU::~TDMU() {
  for (int32_t i = 0; i < static_cast<int32_t>(Settings->Conf.size()); ++i)
    Settings->FreeHeads(i);
  if (DMU == this) DMU = nullptr;
}

}  // namespace vigilo
