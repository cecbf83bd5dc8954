#pragma once
// A sound player for tests: records what would have been played.

#include <mutex>
#include <string>
#include <vector>

#include "platform/sound.h"

namespace vigilo::test {

class FakeSoundPlayer : public vigilo::SoundPlayer {
 public:
  int Play(const std::string& sound) override {
    std::lock_guard<std::mutex> lock(mutex_);
    plays_.push_back(sound);
    return 0;
  }
  std::vector<std::string> Plays() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return plays_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> plays_;
};

}  // namespace vigilo::test
