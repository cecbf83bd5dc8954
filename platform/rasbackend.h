#pragma once
// The system's dial-up service: phonebook entries, active connections, dialling and
// hanging up. On Linux the connection profiles of NetworkManager are the phonebook
// entries, driven through its command-line client. A system without the service has
// no entries and no connections; that is not an error.

#include <memory>
#include <string>
#include <vector>

namespace vigilo {

struct RasActive {
  std::string Entry;   // the entry (profile) name
  std::string Handle;  // what identifies this connection to the service
  bool Up = false;     // fully established (not still being set up)
};

class RasBackend {
 public:
  virtual ~RasBackend() = default;

  // Every call returns 0 on success or an error code of the service (the code the
  // dial-up component's EmsRASError carries); ErrorText
  // explains a code (empty when it has no text of its own). Only a dial takes long:
  // it runs on its own while the caller polls; the other requests answer at once
  // (bounded by a time limit).

  // Entry names in the service's order; none without the service.
  [[nodiscard]] virtual int Entries(std::vector<std::string>& names) = 0;
  // The active connections; none without the service.
  [[nodiscard]] virtual int Active(std::vector<RasActive>& connections) = 0;
  // The IPv4 address of an active connection; empty while it has none.
  [[nodiscard]] virtual int Address(const std::string& handle, std::string& address) = 0;

  enum class DialState { Running, Connected, Failed };
  // Starts dialling `entry` and returns at once; `password` (when not empty) is handed
  // to the service for this dial only, never stored. PollDial reports how it goes.
  [[nodiscard]] virtual int StartDial(const std::string& entry, const std::string& password,
                                      int timeout_s) = 0;
  // Non-blocking; on Failed, *error holds the code.
  virtual DialState PollDial(int* error) = 0;
  // Stops waiting for a dial that is still running; the service may go on with it.
  virtual void AbandonDial() = 0;
  // Ends the connection of `entry` (by `handle` when known).
  [[nodiscard]] virtual int HangUp(const std::string& entry, const std::string& handle) = 0;
  virtual std::string ErrorText(int code) = 0;
  // False when the last request found no service at all (no client program, or
  // NetworkManager not running).
  virtual bool ServicePresent() const = 0;
};

// NetworkManager through `program` (found on PATH), in terse output mode, started
// directly with its arguments, never through a shell.
std::unique_ptr<RasBackend> CreateNmcliRasBackend(std::string program = "nmcli");

}  // namespace vigilo
