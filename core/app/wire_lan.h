#pragma once
// The LAN messenger in the program: the window, its listener, the tray commands.

#include <memory>

namespace vigilo {

class Tdm;
class TForm7;
class SoundPlayer;
struct Folders;

// Creates the hidden messenger window (its listener starts at once) and connects the
// tray command "Отправить сообщение по сети" to it. A port taken by another program is
// written once to "error.log" and shown in the window; the rest of the program runs on.
// $VIGILO_LAN_PORT chooses another port than 6711 (for tests and demonstrations).
std::unique_ptr<TForm7> WireLan(Tdm& dm, const Folders& folders, SoundPlayer* sound);

}  // namespace vigilo
