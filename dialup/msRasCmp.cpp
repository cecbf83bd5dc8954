#include "dialup/msRasCmp.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "mail/mspump.h"

namespace vigilo {
namespace {

// Already dialling: the service's code for an entry that is being dialled.
constexpr int32_t kAlreadyDialling = 756;

bool SameName(const std::string& a, const std::string& b) {
  return strcasecmp(a.c_str(), b.c_str()) == 0;
}

}  // namespace

std::function<void(const std::string& text)> TmsRas::ErrorBox;

std::string RasErrorText(int32_t code) {
  return "RAS error no " + std::to_string(code);
}

TmsRas::TmsRas() : TmsRas(CreateNmcliRasBackend()) {}

TmsRas::TmsRas(std::unique_ptr<RasBackend> backend) : backend_(std::move(backend)) {}

TmsRas::~TmsRas() = default;

EmsRASError TmsRas::ErrorOf(int code) {
  const std::string text = backend_->ErrorText(code);
  return EmsRASError(code, text.empty() ? RasErrorText(code) : text);
}

[[noreturn]] void TmsRas::Raise(int code) {
  throw ErrorOf(code);
}

std::vector<std::string> TmsRas::Entries() {
  RefreshEntries();
  return entries_;
}

const std::vector<std::string>& TmsRas::KnownEntries() {
  if (!entriesRead_) RefreshEntries();
  return entries_;
}

void TmsRas::RefreshEntries() {
  entriesRead_ = true;
  if (const int rc = backend_->Entries(entries_); rc != 0) {
    entries_.clear();
    lastError_ = rc;
  }
}

void TmsRas::SetService(const std::string& S) {
  const auto box = [](const char* text) {
    if (ErrorBox) ErrorBox(text);
  };
  if (S.empty()) {
    service_.clear();
    return;
  }
  // An empty list is read again: profiles may have been added since.
  if (!entriesRead_ || entries_.empty()) RefreshEntries();
  if (entries_.empty()) {
    // Without the service there is nothing to say: no entries, nothing to dial.
    if (backend_->ServicePresent())
      box("TmsRas component was unable to detect\rRAS on your system.");
    return;
  }
  // Naming the entry already chosen changes nothing, connected or not.
  if (SameName(S, service_)) return;
  if (connected_) {
    box("This property can be set only before\restablishing the connection");
    return;
  }
  RefreshEntries();
  const bool known = std::any_of(entries_.begin(), entries_.end(),
                                 [&](const std::string& e) { return SameName(e, S); });
  if (!known) {
    box("Invalid service name");
    service_.clear();
    return;
  }
  service_ = S;
}

std::vector<std::string> TmsRas::ActiveConnections() {
  std::vector<RasActive> active;
  if (const int rc = backend_->Active(active); rc != 0) Raise(rc);
  std::vector<std::string> names;
  for (const RasActive& c : active) {
    std::string address;
    if (const int rc = backend_->Address(c.Handle, address); rc != 0) Raise(rc);
    if (!address.empty()) names.push_back(c.Entry);
  }
  return names;
}

bool TmsRas::IsConnected() {
  std::vector<RasActive> active;
  if (const int rc = backend_->Active(active); rc != 0) Raise(rc);
  for (const RasActive& c : active) {
    // Only an established connection counts: one still being set up is not up yet.
    if (c.Up && c.Entry == service_) {
      handle_ = c.Handle;
      return true;
    }
  }
  if (ForceService) return false;
  for (const RasActive& c : active) {
    std::string address;
    if (const int rc = backend_->Address(c.Handle, address); rc != 0) Raise(rc);
    if (!address.empty()) {
      handle_ = c.Handle;
      return true;
    }
  }
  return false;
}

std::string TmsRas::StatusText(uint32_t state) {
  // The service has no texts of its own for these states: the English ones.
  switch (state) {
    case 0:
      return "Initializing...";
    case 2:
    case 3:
    case 4:
      return "Dialing...";
    case 5:
    case 19:
      return "Verifying user name and password";
    case 14:
      return "User name and password verified";
    case 21:
      return "Logging on to Network";
    case kConnected:
      return "Successfully connected";
    default:
      return {};
  }
}

void TmsRas::Status(uint32_t state) {
  if (OnStatusChange) OnStatusChange(*this, StatusText(state));
  if (!connected_) connected_ = state == kConnected;
}

void TmsRas::Dial() {
  // A dial is already waiting further down this thread's stack (a command that came
  // through the message loop): a second one would fight over the same connection.
  if (dialling_) Raise(kAlreadyDialling);
  if (service_.empty() || IsConnected()) {
    connected_ = true;
    dialedHere_ = false;
    return;
  }
  dialedHere_ = true;
  handle_.clear();
  connected_ = false;
  dialling_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{dialling_};
  Status(kOpenPort);
  if (const int rc = backend_->StartDial(service_, Password, TimeOut); rc != 0) {
    lastError_ = rc;
    const EmsRASError error = ErrorOf(rc);
    HangUp();
    throw error;
  }
  Status(kConnectDevice);
  WaitForDial();
}

void TmsRas::WaitForDial() {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(std::max(TimeOut, 0));
  Clock::time_point nextLook = Clock::now() + std::chrono::milliseconds(500);
  bool authenticating = false;
  for (;;) {
    int error = 0;
    switch (backend_->PollDial(&error)) {
      case RasBackend::DialState::Connected: {
        std::vector<RasActive> active;
        if (backend_->Active(active) == 0) {
          for (const RasActive& c : active) {
            if (c.Entry == service_) handle_ = c.Handle;
          }
        }
        Status(kConnected);
        return;
      }
      case RasBackend::DialState::Failed: {
        lastError_ = error;
        const EmsRASError failure = ErrorOf(error);
        HangUp();
        throw failure;
      }
      case RasBackend::DialState::Running:
        break;
    }
    if (Clock::now() >= deadline) {
      // The dial is not hung up here: DialedHere stays set for FinishConnection.
      backend_->AbandonDial();
      throw EmsRASError(0, "Operation timed out");
    }
    if (!authenticating && Clock::now() >= nextLook) {
      // The connection shows among the active ones while it is being set up.
      nextLook = Clock::now() + std::chrono::milliseconds(500);
      std::vector<RasActive> active;
      if (backend_->Active(active) == 0) {
        for (const RasActive& c : active) {
          if (c.Entry == service_ && !c.Up) {
            handle_ = c.Handle;
            authenticating = true;
          }
        }
        if (authenticating) Status(kAuthenticate);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ms::PumpMessages();
  }
}

void TmsRas::HangUp() {
  if (!KnownEntries().empty() && dialedHere_) {
    if (const int rc = backend_->HangUp(service_, handle_); rc != 0) lastError_ = rc;
    // Hung up once: a later hang-up must not end a connection someone else made.
    dialedHere_ = false;
    if (OnDisconnected) OnDisconnected(*this);
  }
  connected_ = false;
  handle_.clear();
}

}  // namespace vigilo
