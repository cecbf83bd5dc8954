#pragma once
// Playing a sound asynchronously, errors ignored by the callers.

#include <filesystem>
#include <memory>
#include <string>

namespace vigilo {

class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;
  // Starts playing and returns at once. `sound` names a sound file, or is the id of
  // a sound-theme event ("message-new-email"). Returns 0 when the play started,
  // else a negative backend error code; callers may ignore it.
  virtual int Play(const std::string& sound) = 0;
};

// The desktop's sound service (libcanberra). One context lives as long as the player.
// The sound libraries write nothing to the terminal; a sound that cannot be played is
// written to `error_log` (when given) once.
std::unique_ptr<SoundPlayer> CreateSystemSoundPlayer(const std::filesystem::path& error_log = {});

}  // namespace vigilo
