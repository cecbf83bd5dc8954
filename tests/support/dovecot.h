#pragma once
// A private Dovecot POP3 server on 127.0.0.1 (plain POP3 with STLS, and POP3 over TLS with the
// test CA's "localhost" certificate), on free ports, in a fresh folder under /tmp. Runs as
// root, touches mail as nobody:nogroup. Started by the constructor (ready when the POP3 port
// greets with "+OK"). Start failures throw std::runtime_error with the server's log tail.
// Dovecot takes 2-3 s to exit after SIGTERM: the destructor sends it and lets a background
// thread finish the stop (SIGKILL after 5 s, reaping, removing the folder) before the program
// exits; Stop() does all of it at once. Sharing one server among the tests of a suite
// (SetUpTestSuite) keeps suites quick.

#include <initializer_list>
#include <string>
#include <vector>

#include "tests/support/certs.h"
#include "tests/support/server_process.h"

namespace vigilo::test {

struct MailUser {
  std::string name;
  std::string password;
};

class DovecotServer {
 public:
  // Shows the test CA's "localhost" certificate (Certificates().server).
  explicit DovecotServer(std::vector<MailUser> users);
  // Lets DovecotServer server({{"alice", "pw"}}) pick a constructor (the braces alone also fit
  // the copy constructor).
  explicit DovecotServer(std::initializer_list<MailUser> users)
      : DovecotServer(std::vector<MailUser>(users)) {}
  // Shows the certificate for another host name (Certificates().other) instead.
  enum class Cert { Localhost, OtherHost };
  DovecotServer(std::vector<MailUser> users, Cert cert);
  ~DovecotServer();
  DovecotServer(const DovecotServer&) = delete;
  DovecotServer& operator=(const DovecotServer&) = delete;

  int Pop3Port() const { return pop3Port_; }
  int Pop3sPort() const { return pop3sPort_; }
  std::string MaildirOf(const std::string& user) const;  // ".../mail/<user>"
  // Drops a message into new/ (written to tmp/, then renamed).
  void AddMessage(const std::string& user, const std::string& bytes);
  // The bytes of every message in new/ and cur/, ordered by file name.
  std::vector<std::string> Messages(const std::string& user) const;
  // Removes every message of the user.
  void Clear(const std::string& user);

  const std::vector<MailUser>& Users() const { return users_; }
  const std::string& Dir() const { return dir_; }
  std::string LogFile() const { return dir_ + "/dovecot.log"; }
  // Sends SIGTERM without waiting (to stop several servers in parallel); Stop() completes it.
  void BeginStop() { process_.Terminate(); }
  // Stops the server and waits until every process of it has exited and is reaped.
  void Stop() { process_.Stop(); }
  pid_t Pid() const { return process_.Pid(); }

 private:
  void Start();

  std::vector<MailUser> users_;
  CertPair cert_;
  std::string dir_;
  int pop3Port_ = 0;
  int pop3sPort_ = 0;
  ServerProcess process_;
};

}  // namespace vigilo::test
