// The check cycle of Tdm. Until it is built, a check does nothing.

#include "core/ui/datm.h"

namespace vigilo {

void Tdm::StartCheck() {}

void Tdm::UpdateStatus() {}

}  // namespace vigilo
