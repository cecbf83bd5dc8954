#pragma once
// The dial-up component's error boxes in the tray program.

namespace vigilo {

// Shows TmsRas's error boxes as the program's error message boxes. Call before the
// tray data module is created: its first check may already assign a Service.
void InstallDialupBoxes();

}  // namespace vigilo
