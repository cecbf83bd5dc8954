#include <canberra.h>
#include <sys/stat.h>

#include "platform/sound.h"

namespace vigilo {
namespace {

class CanberraPlayer : public SoundPlayer {
 public:
  CanberraPlayer() {
    if (ca_context_create(&ctx_) != CA_SUCCESS) {
      ctx_ = nullptr;
      return;
    }
    ca_context_change_props(ctx_, CA_PROP_APPLICATION_NAME, "Vigilo", CA_PROP_APPLICATION_ID,
                            "vigilo", nullptr);
  }
  ~CanberraPlayer() override {
    if (ctx_) ca_context_destroy(ctx_);
  }

  int Play(const std::string& sound) override {
    if (!ctx_) return CA_ERROR_NOTAVAILABLE;
    if (sound.empty()) return CA_ERROR_INVALID;
    struct stat st;
    const bool is_file = stat(sound.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    // Id 1 for every play: a new play does not cancel the previous one.
    if (is_file) {
      return ca_context_play(ctx_, 1, CA_PROP_MEDIA_FILENAME, sound.c_str(),
                             CA_PROP_EVENT_DESCRIPTION, "Vigilo", nullptr);
    }
    return ca_context_play(ctx_, 1, CA_PROP_EVENT_ID, sound.c_str(), CA_PROP_EVENT_DESCRIPTION,
                           "Vigilo", nullptr);
  }

 private:
  ca_context* ctx_ = nullptr;
};

}  // namespace

std::unique_ptr<SoundPlayer> CreateSystemSoundPlayer() {
  return std::make_unique<CanberraPlayer>();
}

}  // namespace vigilo
