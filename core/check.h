#pragma once
// The mailbox check cycle: one check visits every active configuration, sends its
// outgoing queue, logs in to its POP3 server, reads the header of every waiting
// message (TOP n 1), deletes what the viewer marked and what blacklisted senders
// sent, keeps the headers of the rest, prunes the cached "m_" files of messages that
// are gone, says QUIT, and finally shows the state through a CheckView, the sound and
// the new-mail notice. Used by the tray program's Tdm and by the headless check;
// it needs no display.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "config/myuser.h"
#include "core/checkview.h"
#include "dialup/msRasCmp.h"
#include "mail/msmsg.h"
#include "mail/mspop.h"
#include "mail/mssmtp.h"
#include "viewer/servermatch.h"

namespace vigilo {

class SoundPlayer;

// The properties the data module gives its mail components: POP3 time-out 120 s and
// port 110, the message objects (text/plain, no receipt; the SMTP one ISO-8859), and
// Busy set to 1 when the POP3 connection opens and to 0 when it closes.
void SetUpMailComponents(ms::TmsPOPClient& pop, ms::TmsMessage& popMess, ms::TmsSMTPClient& smtp,
                         ms::TmsMessage& smtpMess, uint8_t& busy);

// A configuration the check skips: switched off, or with no server to ask yet (the
// first start's configuration before the user fills it in).
bool SwitchedOff(const tuser& u);

// The client setting for a stored security level (0, 1, 2); an unknown level is
// STARTTLS, so a password never goes out in plain text by mistake.
ms::TmsSecurity SecurityOf(int32_t level);

// The secure-mail values of configuration u on an SMTP client: TLS or STARTTLS, the
// trusted certificate and SMTP AUTH. Without them the session is the classic one.
void ConfigureSmtp(ms::TmsSMTPClient& smtp, const tuser& u);

// "12k/40k": received and max octets in whole KiB (the download progress label).
std::string TransferProgressText(int64_t received, int64_t max);

// How the last check went.
struct CheckResult {
  bool Ran = false;      // a check ran to its end (not refused, stopped or ended by an error)
  int32_t Active = 0;    // active configurations visited
  int32_t LoggedIn = 0;  // of them, those whose POP3 login succeeded
  int64_t Total = 0;     // messages found on the servers, before deletions
  bool Changed = false;  // some message count differed from the previous check
  int64_t Waiting = 0;   // headers kept in connected configurations (UpdateStatus)
};

// The states of a queue file after its queue run claimed it: NAME.sending while it is
// sent, NAME.sent when it was sent but could not be deleted, NAME.interrupted when a run
// ended while it was claimed. Files in these states are never sent again.
inline constexpr const char* kQueueSending = ".sending";
inline constexpr const char* kQueueSent = ".sent";
inline constexpr const char* kQueueInterrupted = ".interrupted";
// True for a file name in a queue folder that waits to be sent: not in one of the
// states above and not starting with "." (a file still being written).
bool IsQueuedMessageName(const std::string& name);

class TCheckCycle {
 public:
  TCheckCycle(tusers& settings, ms::TmsPOPClient& pop, ms::TmsMessage& popMess,
              ms::TmsSMTPClient& smtp, ms::TmsMessage& smtpMess, TmsRas& ras, CheckView& view,
              SoundPlayer* sound, uint8_t& busy);
  TCheckCycle(const TCheckCycle&) = delete;
  TCheckCycle& operator=(const TCheckCycle&) = delete;

  // One full check. Does nothing while a check is running (a timer tick that arrives
  // through the message pump of a network wait). An error after a successful login
  // ends the check and is raised to the caller, after the progress window is released,
  // the session closed without QUIT (so no deletion takes effect), the configuration's
  // previous headers put back and the state shown.
  void StartCheck();
  bool Running() const { return running_; }
  // Stops a running check (the progress window's "Остановить"): the network wait in
  // progress ends, the session in progress is abandoned without QUIT (nothing is
  // deleted), every configuration keeps what it showed before, and no error is
  // raised. The next check runs as usual. Does nothing when no check runs.
  void Cancel();
  bool Canceled() const { return canceled_; }

  // Tooltip, tray picture and per-configuration menu items from the stored state.
  void UpdateStatus();
  // The connection step: true when the network can be used (dialing in dial-up mode).
  bool EnsureConnection();
  // Logs in to configuration conf's POP3 server; a failure is logged, the connection
  // closed, Connected and Busy cleared.
  bool PopLogin(int32_t conf);
  // Appends "date time user message" to "error.log".
  void WriteErrorLog(const std::string& error, int32_t conf);
  // Hangs up a dial-up connection this program dialled; while a check runs, the
  // connection it dialled is that check's to hang up, at its end.
  void FinishConnection();

  // The tooltip UpdateStatus built last.
  const std::string& StatusText() const { return status_; }
  const CheckResult& LastResult() const { return result_; }
  // Configuration index (tag) of each per-configuration menu item, in menu order.
  const std::vector<int32_t>& ConfItems() const { return items_; }
  // Drops the per-configuration items (their numbers no longer hold after a delete);
  // the next check makes them again.
  void ForgetConfItems() { items_.clear(); }

  // Starts the animated new-mail notice; called at the end of a check that found a
  // changed count with mail waiting, when Visual is 1.
  std::function<void()> OnNewMailNotice;
  // Messages read from one mailbox at most (kMaxCheckedMessages); the rest are
  // reported in "error.log" and by a "+" after the count in the tooltip.
  int MaxMessages = kMaxCheckedMessages;

 private:
  void HangUpOwnDial();
  // Sends the queue of configuration conf under the exclusive lock of its OutDir;
  // does nothing while another process holds that lock.
  void SendQueue(int32_t conf);
  // Reads the first `count` messages and deletes the marked and blacklisted ones.
  void ReadHeaders(int32_t conf, int count, const std::vector<tmailhead>& marks);

  tusers& s_;
  ms::TmsPOPClient& pop_;
  ms::TmsMessage& popMess_;
  ms::TmsSMTPClient& smtp_;
  ms::TmsMessage& smtpMess_;
  TmsRas& ras_;
  CheckView& view_;
  SoundPlayer* sound_;
  uint8_t& busy_;

  bool running_ = false;
  bool canceled_ = false;
  std::vector<bool> capped_;  // per configuration: more messages than a check reads
  std::string status_;
  CheckResult result_;
  std::vector<int32_t> items_;
};

// The mail components of a check without the tray program (the headless check,
// benchmarks, tests), set up as the data module sets up its own.
struct TCheckComponents {
  TCheckComponents() { SetUpMailComponents(POPClient, POPMess, SMTPClient, SMTPmess, Busy); }
  TCheckComponents(const TCheckComponents&) = delete;
  TCheckComponents& operator=(const TCheckComponents&) = delete;

  ms::TmsPOPClient POPClient;
  ms::TmsMessage POPMess;
  ms::TmsSMTPClient SMTPClient;
  ms::TmsMessage SMTPmess;
  TmsRas msRas1;
  uint8_t Busy = 0;
};

}  // namespace vigilo
