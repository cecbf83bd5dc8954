#include "tests/support/dovecot.h"

#include <grp.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <stdexcept>

#include "tests/support/free_port.h"
#include "tests/support/tempdir.h"

namespace fs = std::filesystem;

namespace vigilo::test {
namespace {

constexpr int kStartTimeoutMs = 15000;
constexpr int kStartAttempts = 3;  // a port taken between FreePort() and the bind is retried

void OwnByNobody(const std::string& path) {
  const passwd* p = getpwnam("nobody");
  const group* g = getgrnam("nogroup");
  (void)!chown(path.c_str(), p ? p->pw_uid : 65534, g ? g->gr_gid : 65534);
}

}  // namespace

DovecotServer::DovecotServer(std::vector<MailUser> users, Cert cert)
    : users_(std::move(users)),
      cert_(cert == Cert::Localhost ? Certificates().server : Certificates().other) {
  dir_ = MakeServerDir("vigilo-dovecot-");
  try {
    std::string passwd;
    for (const auto& u : users_)
      passwd += u.name + ":{PLAIN}" + u.password + "::::::\n";
    WriteFile(dir_ + "/users", passwd);
    chmod((dir_ + "/users").c_str(), 0644);
    fs::create_directories(dir_ + "/mail");
    chmod((dir_ + "/mail").c_str(), 0755);
    for (const auto& u : users_) {
      std::string box = MaildirOf(u.name);
      for (const char* sub : {"", "/tmp", "/new", "/cur"}) {
        fs::create_directories(box + sub);
        chmod((box + sub).c_str(), 0700);
        OwnByNobody(box + sub);
      }
    }
    Start();
  } catch (...) {
    process_.Stop();
    std::error_code ec;
    fs::remove_all(dir_, ec);
    throw;
  }
}

void DovecotServer::Start() {
  std::string failure;
  for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
    // Every run starts from empty run/ and state/ folders: stale sockets slow the first login.
    std::error_code ec;
    fs::remove_all(dir_ + "/run", ec);
    fs::remove_all(dir_ + "/state", ec);
    pop3Port_ = FreePort();
    do
      pop3sPort_ = FreePort();
    while (pop3sPort_ == pop3Port_);
    std::string conf = FillTemplate(ServerTemplate("dovecot.conf.in"),
                                    {{"DIR", dir_},
                                     {"CERT", cert_.cert},
                                     {"KEY", cert_.key},
                                     {"POP3_PORT", std::to_string(pop3Port_)},
                                     {"POP3S_PORT", std::to_string(pop3sPort_)}});
    WriteFile(dir_ + "/dovecot.conf", conf);
    // After SIGTERM these only wait out timers; the mail itself is safe by then.
    process_.SetLingering({"log", "stats", "config", "pop3", "pop3-login"});
    process_.Start({"/usr/sbin/dovecot", "-F", "-c", dir_ + "/dovecot.conf"},
                   dir_ + "/dovecot.out");
    if (WaitForGreeting(process_, pop3Port_, "+OK", kStartTimeoutMs, &failure)) return;
    process_.Stop();
    std::string log = LogTail(LogFile()) + LogTail(dir_ + "/dovecot.out");
    if (log.find("Address already in use") == std::string::npos)
      throw std::runtime_error("Dovecot did not start (" + failure + "):\n" + log);
    failure += "; " + log;
  }
  throw std::runtime_error("Dovecot did not start: " + failure);
}

DovecotServer::~DovecotServer() {
  process_.StopInBackground([dir = dir_] {
    std::error_code ec;
    fs::remove_all(dir, ec);
  });
}

void DovecotServer::AddMessage(const std::string& user, const std::string& bytes) {
  static std::atomic<unsigned> counter{0};
  std::string box = MaildirOf(user);
  if (!fs::is_directory(box + "/new"))
    throw std::invalid_argument("DovecotServer: no mailbox for " + user);
  char name[96];
  snprintf(name, sizeof name, "%lld.%06u.P%d.vigilo-test", static_cast<long long>(time(nullptr)),
           counter++, static_cast<int>(getpid()));
  std::string tmp = box + "/tmp/" + name;
  WriteFile(tmp, bytes);
  chmod(tmp.c_str(), 0600);
  OwnByNobody(tmp);
  fs::rename(tmp, box + "/new/" + name);
}

std::vector<std::string> DovecotServer::Messages(const std::string& user) const {
  std::vector<std::pair<std::string, fs::path>> files;
  std::string box = MaildirOf(user);
  for (const char* sub : {"/new", "/cur"}) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(box + sub, ec))
      if (e.is_regular_file()) files.emplace_back(e.path().filename().string(), e.path());
  }
  std::sort(files.begin(), files.end());
  std::vector<std::string> out;
  for (const auto& f : files)
    out.push_back(ReadFile(f.second));
  return out;
}

void DovecotServer::Clear(const std::string& user) {
  std::string box = MaildirOf(user);
  for (const char* sub : {"/new", "/cur", "/tmp"}) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(box + sub, ec))
      if (e.is_regular_file()) fs::remove(e.path(), ec);
  }
}

}  // namespace vigilo::test
