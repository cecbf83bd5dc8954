#pragma once
// A private Exim on 127.0.0.1 (free ports, a fresh folder under /tmp) delivering mail for
// <user>@example.test into a DovecotServer's maildirs. Its configuration is listed in
// /etc/exim4/trusted_configs while it runs. Started and stopped like DovecotServer.

#include <initializer_list>
#include <string>
#include <vector>

#include "tests/support/dovecot.h"
#include "tests/support/server_process.h"

namespace vigilo::test {

class EximServer {
 public:
  // `smtpUsers` may log in by AUTH PLAIN or LOGIN. The DovecotServer must outlive this server.
  explicit EximServer(const DovecotServer& mailboxes, std::vector<MailUser> smtpUsers = {});
  EximServer(const DovecotServer& mailboxes, std::initializer_list<MailUser> smtpUsers)
      : EximServer(mailboxes, std::vector<MailUser>(smtpUsers)) {}
  ~EximServer();
  EximServer(const EximServer&) = delete;
  EximServer& operator=(const EximServer&) = delete;

  int PlainPort() const { return plainPort_; }            // no AUTH, relays to local users
  int SubmissionPort() const { return submissionPort_; }  // STARTTLS + AUTH
  int TlsPort() const { return tlsPort_; }                // TLS from the start + AUTH
  int AuthPlainPort() const { return authPort_; }         // AUTH without TLS
  // Waits (bounded) until `count` messages are in user's maildir; returns what is there then.
  std::vector<std::string> WaitForMessages(const std::string& user, size_t count,
                                           int timeoutMs = 120000);

  const std::string& Dir() const { return dir_; }
  pid_t Pid() const { return process_.Pid(); }
  void BeginStop() { process_.Terminate(); }
  // Waits until the server is gone and removes its trusted_configs line.
  void Stop();

 private:
  ServerLaunch Prepare(const std::string& localParts);

  const DovecotServer& mailboxes_;
  std::string dir_;
  std::string conf_;
  int plainPort_ = 0;
  int submissionPort_ = 0;
  int tlsPort_ = 0;
  int authPort_ = 0;
  ServerProcess process_;
};

}  // namespace vigilo::test
