#pragma once
// TmsRas: the dial-up connection component. This stand-in has no dial-up service
// behind it: it lists no phonebook entries and no active connections, so a Service
// can never be chosen and Dial, with no Service, finds nothing to dial and returns
// at once, as the component does on a system without dial-up networking.

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vigilo {

// An error of the dial-up service, with its code.
class EmsRASError : public std::runtime_error {
 public:
  EmsRASError(int32_t code, const std::string& message) : std::runtime_error(message), Code(code) {}
  int32_t Code;
};

class TmsRas {
 public:
  using StatusEvent = std::function<void(TmsRas& Sender, const std::string& StatusText)>;

  const std::string& Service() const { return service_; }
  // An empty name clears it; a name not among Entries leaves it unchanged.
  void SetService(const std::string& name);
  bool ForceService = true;
  int32_t TimeOut = 120;
  StatusEvent OnStatusChange;
  std::function<void(TmsRas& Sender)> OnDisconnected;

  // Phonebook entry names.
  std::vector<std::string> Entries() const { return {}; }
  // Entry names of the active connections that have an IP address.
  std::vector<std::string> ActiveConnections() const { return {}; }
  bool IsConnected() const { return false; }
  // Dials Service and returns once the connection is up; raises EmsRASError.
  void Dial();
  // Hangs up the connection this component dialled.
  void HangUp();
  // This component made the current connection.
  bool DialedHere() const { return dialed_here_; }
  bool Connected() const { return connected_; }

 private:
  std::string service_;
  bool dialed_here_ = false;
  bool connected_ = false;
};

}  // namespace vigilo
