#include <alsa/asoundlib.h>
#include <canberra.h>
#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <set>

#include "platform/errorlog.h"
#include "platform/sound.h"

namespace vigilo {
namespace {

// ALSA writes every failure to open a device to stderr by default: a dozen lines
// ("ALSA lib confmisc.c:855:(parse_card) cannot find card '0'" ...) at each play on a
// machine without sound. Its messages are caught here instead; the last one becomes
// the reason of a failed play in error.log. Plain storage: a backend thread may still
// report while the program ends.
std::mutex alsa_mutex;
char alsa_last[256];

void KeepAlsaMessage(const char*, int, const char*, int, const char* fmt, ...) {
  char text[sizeof alsa_last];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  std::lock_guard lock(alsa_mutex);
  std::snprintf(alsa_last, sizeof alsa_last, "%s", text);
}

void QuietAlsa() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(KeepAlsaMessage); });
}

std::string TakeAlsaMessage() {
  std::lock_guard lock(alsa_mutex);
  std::string text = alsa_last;
  alsa_last[0] = '\0';
  return text;
}

class CanberraPlayer : public SoundPlayer {
 public:
  explicit CanberraPlayer(std::filesystem::path error_log) : error_log_(std::move(error_log)) {
    QuietAlsa();
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
    TakeAlsaMessage();
    const int result = Start(sound);
    const std::string reason = TakeAlsaMessage();
    if (result != CA_SUCCESS) Report(sound, result, reason);
    return result;
  }

 private:
  int Start(const std::string& sound) {
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

  // A sound that cannot be played is written to error.log once, not at every check;
  // sounds the desktop's settings switched off are no problem.
  void Report(const std::string& sound, int result, const std::string& reason) {
    if (result == CA_ERROR_DISABLED || error_log_.empty()) return;
    std::string message = "\"" + sound + "\" cannot be played: " + ca_strerror(result);
    if (!reason.empty()) message += " (" + reason + ")";
    constexpr std::size_t kRemembered = 64;
    if (reported_.size() >= kRemembered || !reported_.insert(message).second) return;
    AppendErrorLogOnce(error_log_, "sound", message);
  }

  ca_context* ctx_ = nullptr;
  const std::filesystem::path error_log_;
  std::set<std::string> reported_;
};

}  // namespace

std::unique_ptr<SoundPlayer> CreateSystemSoundPlayer(const std::filesystem::path& error_log) {
  return std::make_unique<CanberraPlayer>(error_log);
}

}  // namespace vigilo
