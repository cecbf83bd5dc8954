#include "tests/support/fake_sound.h"

namespace vigilo::test {

int FakeSoundPlayer::Play(const std::string& sound) {
  std::lock_guard<std::mutex> lock(mutex_);
  plays_.push_back(sound);
  return result_;
}

std::vector<std::string> FakeSoundPlayer::Plays() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return plays_;
}

void FakeSoundPlayer::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  plays_.clear();
}

void FakeSoundPlayer::SetResult(int result) {
  std::lock_guard<std::mutex> lock(mutex_);
  result_ = result;
}

}  // namespace vigilo::test
