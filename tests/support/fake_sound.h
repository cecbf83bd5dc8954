#pragma once
// A sound player for tests: records what would have been played.

#include <mutex>
#include <string>
#include <vector>

#include "platform/sound.h"

namespace vigilo::test {

class FakeSoundPlayer : public vigilo::SoundPlayer {
 public:
  int Play(const std::string& sound) override;
  std::vector<std::string> Plays() const;
  void Clear();
  // What Play returns (0: the play started).
  void SetResult(int result);

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> plays_;
  int result_ = 0;
};

}  // namespace vigilo::test
