#include <libsecret/secret.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

#include "platform/keyring.h"

namespace vigilo {
namespace {

// Items carry the program's schema and their id, nothing about the account: the
// label alone tells the user what an item is for.
const SecretSchema kSchema = {
    "org.brenna.Vigilo.Password",
    SECRET_SCHEMA_NONE,
    {{"id", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr};

// One call to the service on a thread of its own, so that the caller can stop
// waiting. The thread owns what it uses: one that never ends is left behind.
struct Call {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  GCancellable* cancel = g_cancellable_new();
  Keyring::Lookup result;
  ~Call() { g_object_unref(cancel); }
};

std::string TakeError(GError* error, const char* fallback) {
  if (!error) return fallback;
  std::string text = error->message ? error->message : fallback;
  g_error_free(error);
  return text;
}

// Opens a service connection of its own for the call: a keyring daemon that was
// restarted since the last call needs a new session.
SecretService* Open(GCancellable* cancel, std::string* error) {
  GError* e = nullptr;
  SecretService* s = secret_service_open_sync(SECRET_TYPE_SERVICE, nullptr,
                                              SECRET_SERVICE_OPEN_SESSION, cancel, &e);
  if (!s) *error = TakeError(e, "no Secret Service");
  return s;
}

GHashTable* Attributes(const std::string& id) {
  GHashTable* a = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free);
  g_hash_table_insert(a, g_strdup("id"), g_strdup(id.c_str()));
  return a;
}

void DoFind(const std::string& id, GCancellable* cancel, Keyring::Lookup& r) {
  SecretService* s = Open(cancel, &r.error);
  if (!s) return;
  GHashTable* a = Attributes(id);
  GError* e = nullptr;
  SecretValue* v = secret_service_lookup_sync(s, &kSchema, a, cancel, &e);
  if (v) {
    gsize n = 0;
    const gchar* data = secret_value_get(v, &n);
    r.secret.assign(data, n);
    r.status = Keyring::Status::Found;
    secret_value_unref(v);
  } else if (e) {
    r.error = TakeError(e, "lookup failed");
  } else {
    r.status = Keyring::Status::Missing;
  }
  g_hash_table_unref(a);
  g_object_unref(s);
}

void DoStore(const std::string& id, const std::string& label, const std::string& secret,
             GCancellable* cancel, Keyring::Lookup& r) {
  SecretService* s = Open(cancel, &r.error);
  if (!s) return;
  GHashTable* a = Attributes(id);
  SecretValue* v =
      secret_value_new(secret.data(), static_cast<gssize>(secret.size()), "text/plain");
  GError* e = nullptr;
  if (secret_service_store_sync(s, &kSchema, a, SECRET_COLLECTION_DEFAULT, label.c_str(), v, cancel,
                                &e)) {
    r.status = Keyring::Status::Found;
  } else {
    r.error = TakeError(e, "the item was not stored");
  }
  secret_value_unref(v);
  g_hash_table_unref(a);
  g_object_unref(s);
}

void DoRemove(const std::string& id, GCancellable* cancel, Keyring::Lookup& r) {
  SecretService* s = Open(cancel, &r.error);
  if (!s) return;
  GHashTable* a = Attributes(id);
  GError* e = nullptr;
  // False without an error: there was nothing to remove.
  if (secret_service_clear_sync(s, &kSchema, a, cancel, &e) || !e) {
    r.status = Keyring::Status::Found;
  } else {
    r.error = TakeError(e, "the item was not removed");
  }
  g_hash_table_unref(a);
  g_object_unref(s);
}

class SecretServiceKeyring : public Keyring {
 public:
  SecretServiceKeyring(std::chrono::milliseconds bound, std::chrono::milliseconds pause)
      : bound_(bound), pause_(pause) {}

  Lookup Find(const std::string& id) override {
    return Run([id](GCancellable* c, Lookup& r) { DoFind(id, c, r); });
  }
  std::string Store(const std::string& id, const std::string& label,
                    const std::string& secret) override {
    const Lookup r =
        Run([id, label, secret](GCancellable* c, Lookup& l) { DoStore(id, label, secret, c, l); });
    return r.status == Status::Found ? "" : r.error;
  }
  std::string Remove(const std::string& id) override {
    const Lookup r = Run([id](GCancellable* c, Lookup& l) { DoRemove(id, c, l); });
    return r.status == Status::Found ? "" : r.error;
  }

 private:
  Lookup Run(std::function<void(GCancellable*, Lookup&)> work) {
    const auto now = std::chrono::steady_clock::now();
    if (now < refused_until_) return {Status::Unreachable, {}, "the Secret Service did not answer"};
    auto call = std::make_shared<Call>();
    std::thread t([call, work = std::move(work)] {
      Lookup r;
      work(call->cancel, r);
      std::lock_guard<std::mutex> lock(call->m);
      call->result = std::move(r);
      call->done = true;
      call->cv.notify_all();
    });
    std::unique_lock<std::mutex> lock(call->m);
    if (!call->cv.wait_for(lock, bound_, [&] { return call->done; })) {
      // A cancelled call ends soon; one that does not is left to end on its own.
      g_cancellable_cancel(call->cancel);
      const bool ended =
          call->cv.wait_for(lock, std::chrono::seconds(1), [&] { return call->done; });
      lock.unlock();
      if (ended) {
        t.join();
      } else {
        t.detach();
      }
      refused_until_ = std::chrono::steady_clock::now() + pause_;
      return {Status::Unreachable, {}, "the Secret Service did not answer in time"};
    }
    lock.unlock();
    t.join();
    return call->result;
  }

  std::chrono::milliseconds bound_;
  std::chrono::milliseconds pause_;
  std::chrono::steady_clock::time_point refused_until_{};
};

}  // namespace

std::unique_ptr<Keyring> CreateSecretServiceKeyring(std::chrono::milliseconds bound,
                                                    std::chrono::milliseconds pause) {
  return std::make_unique<SecretServiceKeyring>(bound, pause);
}

std::string NewKeyringId() {
  static const char kHex[] = "0123456789abcdef";
  std::random_device rd;
  std::string id;
  for (int i = 0; i < 32; ++i)
    id += kHex[rd() % 16];
  return id;
}

}  // namespace vigilo
