#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/sound.h"
#include "tests/support/tempdir.h"

namespace vigilo {
namespace {

using test::ReadFile;
using test::TempDir;

int CountOf(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1))
    ++n;
  return n;
}

// Everything the process writes to stderr from construction to Text() goes into a file.
class CapturedStderr {
 public:
  explicit CapturedStderr(const std::filesystem::path& file) : file_(file), saved_(dup(2)) {
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    dup2(fd, 2);
    close(fd);
  }
  std::string Text() {
    fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    return ReadFile(file_);
  }

 private:
  std::filesystem::path file_;
  int saved_;
};

// Played through ALSA, the backend that talks the most when there is no sound device
// (on a machine with sound the plays may simply succeed).
TEST(Sound, NoSoundDeviceKeepsTheTerminalQuietAndLogsEachFailureOnce) {
  TempDir dir;
  const auto log = dir.path() / "error.log";
  setenv("CANBERRA_DRIVER", "alsa", 1);
  CapturedStderr captured(dir.path() / "stderr");
  {
    auto player = CreateSystemSoundPlayer(log);
    for (int i = 0; i < 3; ++i) {
      player->Play("message-new-email");
      EXPECT_NE(player->Play("/nonexistent/sound.wav"), 0);
    }
  }
  // A new run does not repeat a line the log already holds.
  CreateSystemSoundPlayer(log)->Play("/nonexistent/sound.wav");
  const std::string terminal = captured.Text();
  unsetenv("CANBERRA_DRIVER");

  EXPECT_EQ(terminal, "");
  const std::string text = ReadFile(log);
  EXPECT_EQ(CountOf(text, "sound \"/nonexistent/sound.wav\" cannot be played"), 1) << text;
  EXPECT_LE(CountOf(text, "\"message-new-email\""), 1) << text;
}

}  // namespace
}  // namespace vigilo
