#pragma once
// The desktop keyring: secrets kept by the session's Secret Service (GNOME Keyring,
// KWallet) under an id of the program's choosing. Every call is bounded in time: a
// service that hangs costs at most the bound, after which it counts as unreachable
// for a while, so a window that saves does not freeze once per password.

#include <chrono>
#include <memory>
#include <string>

namespace vigilo {

class Keyring {
 public:
  enum class Status {
    Found,        // the secret is in `secret`
    Missing,      // the service answered: no such item
    Unreachable,  // no service, a locked keyring, a refusal or no answer in time
  };
  struct Lookup {
    Status status = Status::Unreachable;
    std::string secret;
    std::string error;  // why, when Unreachable
  };

  virtual ~Keyring() = default;
  virtual Lookup Find(const std::string& id) = 0;
  // Stores or replaces the secret of `id`. Returns "" or why it failed.
  [[nodiscard]] virtual std::string Store(const std::string& id, const std::string& label,
                                          const std::string& secret) = 0;
  // Removes the item of `id` (an absent item is no failure). Returns "" or why it failed.
  [[nodiscard]] virtual std::string Remove(const std::string& id) = 0;
};

// The Secret Service on the session bus (libsecret). A call that takes longer than
// `bound` is cancelled and reported Unreachable; for `pause` after that every call is
// refused at once.
std::unique_ptr<Keyring> CreateSecretServiceKeyring(
    std::chrono::milliseconds bound = std::chrono::seconds(5),
    std::chrono::milliseconds pause = std::chrono::minutes(2));

// A new item id: 32 random hexadecimal digits.
std::string NewKeyringId();

}  // namespace vigilo
