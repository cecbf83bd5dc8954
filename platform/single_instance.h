#pragma once
// One running copy per user: an exclusive lock on "CopyOfVigilo.lock" in the runtime
// folder, held until the process ends.

#include <memory>
#include <string>

namespace vigilo {

class SingleInstance {
 public:
  enum class Result { Acquired, HeldByAnother, Failed };

  // Tries to take the lock in `runtime_dir` (with trailing '/'), without waiting.
  static Result Acquire(const std::string& runtime_dir, std::unique_ptr<SingleInstance>* out,
                        std::string* error = nullptr);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

 private:
  explicit SingleInstance(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace vigilo
