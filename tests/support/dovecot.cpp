#include "tests/support/dovecot.h"

#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <stdexcept>

#include "tests/support/free_port.h"
#include "tests/support/tempdir.h"

namespace fs = std::filesystem;

namespace vigilo::test {

DovecotServer::DovecotServer(std::vector<MailUser> users, Cert cert)
    : users_(std::move(users)),
      cert_(cert == Cert::Localhost ? Certificates().server : Certificates().other) {
  dir_ = MakeServerDir("vigilo-dovecot-");
  try {
    std::string passwd;
    for (const auto& u : users_)
      passwd += u.name + ":{PLAIN}" + u.password + "::::::\n";
    WriteFile(dir_ + "/users", passwd);
    SetAccess(dir_ + "/users", 0644);
    MakeDir(dir_ + "/mail", 0755);
    for (const auto& u : users_)
      for (const char* sub : {"", "/tmp", "/new", "/cur"})
        MakeDir(MaildirOf(u.name) + sub, 0700, "nobody", "nogroup");
    // After SIGTERM these only wait out timers; the mail itself is safe by then.
    process_.SetLingering({"log", "stats", "config", "pop3", "pop3-login"});
    StartServer(process_, "Dovecot", [this] { return Prepare(); });
  } catch (...) {
    process_.Stop();
    std::error_code ec;
    fs::remove_all(dir_, ec);
    throw;
  }
}

ServerLaunch DovecotServer::Prepare() {
  // Every run starts from empty run/ and state/ folders: stale sockets slow the first login.
  std::error_code ec;
  fs::remove_all(dir_ + "/run", ec);
  fs::remove_all(dir_ + "/state", ec);
  const std::vector<int> ports = FreePorts(2);
  pop3Port_ = ports[0];
  pop3sPort_ = ports[1];
  WriteFile(dir_ + "/dovecot.conf",
            ServerConfig("dovecot.conf.in", {{"DIR", dir_},
                                             {"CERT", cert_.cert},
                                             {"KEY", cert_.key},
                                             {"POP3_PORT", std::to_string(pop3Port_)},
                                             {"POP3S_PORT", std::to_string(pop3sPort_)}}));
  return {{"/usr/sbin/dovecot", "-F", "-c", dir_ + "/dovecot.conf"},
          dir_ + "/dovecot.out",
          pop3Port_,
          "+OK",
          {LogFile()}};
}

DovecotServer::~DovecotServer() {
  process_.StopInBackground([dir = dir_] {
    std::error_code ec;
    fs::remove_all(dir, ec);
  });
}

void DovecotServer::AddMessage(const std::string& user, const std::string& bytes) {
  static std::atomic<unsigned> counter{0};
  const std::string box = MaildirOf(user);
  if (!fs::is_directory(box + "/new"))
    throw std::invalid_argument("DovecotServer: no mailbox for " + user);
  char name[96];
  snprintf(name, sizeof name, "%lld.%06u.P%d.vigilo-test", static_cast<long long>(time(nullptr)),
           counter++, static_cast<int>(getpid()));
  const std::string tmp = box + "/tmp/" + name;
  WriteFile(tmp, bytes);
  SetAccess(tmp, 0600, "nobody", "nogroup");
  fs::rename(tmp, box + "/new/" + name);
}

std::vector<std::string> DovecotServer::Messages(const std::string& user) const {
  std::vector<fs::path> files;
  for (const char* sub : {"/new", "/cur"}) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(MaildirOf(user) + sub, ec))
      if (e.is_regular_file()) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
  std::vector<std::string> out;
  for (const auto& f : files)
    out.push_back(ReadFile(f));
  return out;
}

void DovecotServer::Clear(const std::string& user) {
  for (const char* sub : {"/new", "/cur", "/tmp"}) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(MaildirOf(user) + sub, ec))
      if (e.is_regular_file()) fs::remove(e.path(), ec);
  }
}

}  // namespace vigilo::test
