#pragma once
// TmsRas: the dial-up connection component. It lists the system's phonebook entries
// and active connections, dials an entry and hangs up what it dialled, through the
// system's dial-up service (a RasBackend; on Linux NetworkManager). Without the
// service it lists nothing, and Dial, with no Service, finds nothing to dial.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/rasbackend.h"

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

  // Dial states reported to OnStatusChange.
  static constexpr uint32_t kOpenPort = 0;
  static constexpr uint32_t kConnectDevice = 2;
  static constexpr uint32_t kAuthenticate = 5;
  static constexpr uint32_t kConnected = 0x2000;

  // The system's dial-up service.
  TmsRas();
  explicit TmsRas(std::unique_ptr<RasBackend> backend);
  ~TmsRas();
  TmsRas(const TmsRas&) = delete;
  TmsRas& operator=(const TmsRas&) = delete;

  const std::string& Service() const { return service_; }
  // Empty clears it. Otherwise the name must be a phonebook entry (letter case aside)
  // and no connection may be up; each refusal shows its error box.
  void SetService(const std::string& S);
  // The connection test accepts only a connection of Service; off: any with an address.
  bool ForceService = true;
  // Nothing to do: no dialling dialog exists to minimise.
  bool MinimizeAtConnect = false;
  // Handed to the service for a dial; it is never stored in the phonebook, so the
  // stored password is never replaced whatever RemovePassword says.
  std::string Password;
  bool RemovePassword = true;
  int32_t TimeOut = 120;  // seconds a dial may take
  StatusEvent OnStatusChange;
  std::function<void(TmsRas& Sender)> OnDisconnected;

  // Shows the component's error boxes ("\r" is a line break). The program sets it
  // once before any component exists; without it the boxes are not shown.
  static std::function<void(const std::string& text)> ErrorBox;

  // Phonebook entry names, read afresh from the service (the settings window's list).
  std::vector<std::string> Entries();
  void RefreshEntries();
  // Entry names of the active connections that have an IP address; raises EmsRASError.
  std::vector<std::string> ActiveConnections();
  // The connection test; raises EmsRASError.
  bool IsConnected();
  // Dials Service and returns once the connection is up, keeping the message loop
  // running meanwhile; raises EmsRASError ("Operation timed out" after TimeOut s).
  void Dial();
  // Hangs up the connection this component dialled.
  void HangUp();
  // The text of a dial state; empty for states without one.
  static std::string StatusText(uint32_t state);

  bool DialedHere() const { return dialedHere_; }
  bool Connected() const { return connected_; }
  bool Dialling() const { return dialling_; }
  int32_t LastError() const { return lastError_; }

 private:
  EmsRASError ErrorOf(int code);
  [[noreturn]] void Raise(int code);
  void Status(uint32_t state);
  void WaitForDial();
  // The entries as last read; read on first use, so nothing is asked of the service
  // before it is needed.
  const std::vector<std::string>& KnownEntries();

  std::unique_ptr<RasBackend> backend_;
  std::string service_;
  std::vector<std::string> entries_;
  bool entriesRead_ = false;
  std::string handle_;  // of the connection held; empty for none
  bool connected_ = false;
  bool dialedHere_ = false;
  bool dialling_ = false;
  int32_t lastError_ = 0;
};

// "RAS error no " + code: the text of a code the service does not explain.
std::string RasErrorText(int32_t code);

}  // namespace vigilo
