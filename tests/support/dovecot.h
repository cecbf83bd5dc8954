#pragma once
// A private Dovecot on 127.0.0.1 (POP3 with STLS, POP3 over TLS) on free ports, in a fresh folder
// under /tmp; mail owned by nobody:nogroup. The constructor returns once POP3 greets (throws with
// the log tail if not); the destructor stops it in the background (README.md), Stop() waits.

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
  // Shows the test CA's certificate for "localhost" or for another host name.
  enum class Cert { Localhost, OtherHost };
  explicit DovecotServer(std::vector<MailUser> users, Cert cert = Cert::Localhost);
  // Lets DovecotServer server({{"alice", "pw"}}) pick a constructor.
  explicit DovecotServer(std::initializer_list<MailUser> users)
      : DovecotServer(std::vector<MailUser>(users)) {}
  ~DovecotServer();
  DovecotServer(const DovecotServer&) = delete;
  DovecotServer& operator=(const DovecotServer&) = delete;

  int Pop3Port() const { return pop3Port_; }
  int Pop3sPort() const { return pop3sPort_; }
  // Drops a message into the user's new/ (by way of tmp/).
  void AddMessage(const std::string& user, const std::string& bytes);
  // The bytes of every message in new/ and cur/, ordered by file name.
  std::vector<std::string> Messages(const std::string& user) const;
  void Clear(const std::string& user);  // removes every message of the user

  const std::vector<MailUser>& Users() const { return users_; }
  const std::string& Dir() const { return dir_; }
  std::string LogFile() const { return dir_ + "/dovecot.log"; }
  // SIGTERM without waiting (to stop several servers in parallel); Stop() waits and reaps.
  void BeginStop() { process_.Terminate(); }
  void Stop() { process_.Stop(); }
  pid_t Pid() const { return process_.Pid(); }

 private:
  ServerLaunch Prepare();
  std::string MaildirOf(const std::string& user) const { return dir_ + "/mail/" + user; }

  std::vector<MailUser> users_;
  CertPair cert_;
  std::string dir_;
  int pop3Port_ = 0;
  int pop3sPort_ = 0;
  ServerProcess process_;
};

}  // namespace vigilo::test
