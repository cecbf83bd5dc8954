#include "tests/support/exim.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/certs.h"
#include "tests/support/free_port.h"
#include "tests/support/tempdir.h"

namespace fs = std::filesystem;

namespace vigilo::test {
namespace {

constexpr int kStartTimeoutMs = 15000;
constexpr int kStartAttempts = 3;
constexpr const char* kTrusted = "/etc/exim4/trusted_configs";
// Serialises changes of trusted_configs between test programs running in parallel.
constexpr const char* kTrustedLock = "/tmp/vigilo-exim-trusted.lock";
constexpr const char* kDirPrefix = "vigilo-exim-";

// Adds or removes one line of trusted_configs, replacing the file by a rename (an Exim starting
// meanwhile never reads it half-written); lines of earlier runs whose file is gone are dropped.
void EditTrusted(const std::string& line, bool add) {
  int lock = open(kTrustedLock, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (lock < 0) throw std::runtime_error(std::string("cannot open ") + kTrustedLock);
  flock(lock, LOCK_EX);
  std::istringstream in(ReadFile(kTrusted));
  std::string text, l;
  bool present = false;
  while (std::getline(in, l)) {
    if (l.empty()) continue;
    if (l == line) {
      if (!add) continue;
      present = true;
    } else if (l.rfind(std::string("/tmp/") + kDirPrefix, 0) == 0 &&
               !fs::exists(fs::path(l).parent_path())) {
      // A finished run's line, judged by its folder: a running server's file may be being
      // rewritten, and its delivery processes check the list again.
      continue;
    }
    text += l + "\n";
  }
  if (add && !present) text += line + "\n";
  fs::create_directories(fs::path(kTrusted).parent_path());
  std::string tmp = std::string(kTrusted) + ".vigilo-" + std::to_string(getpid());
  WriteFile(tmp, text);
  chmod(tmp.c_str(), 0644);
  (void)!chown(tmp.c_str(), 0, 0);
  std::error_code ec;
  fs::rename(tmp, kTrusted, ec);
  flock(lock, LOCK_UN);
  close(lock);
  if (ec) throw std::runtime_error(std::string("cannot write ") + kTrusted + ": " + ec.message());
}

void OwnByExim(const std::string& path) {
  passwd* p = getpwnam("Debian-exim");
  group* g = getgrnam("Debian-exim");
  if (p && g) (void)!chown(path.c_str(), p->pw_uid, g->gr_gid);
}

void Cleanup(const std::string& dir, const std::string& conf, bool removeDir) {
  try {
    EditTrusted(conf, false);
  } catch (const std::exception&) {
  }
  std::error_code ec;
  if (removeDir) fs::remove_all(dir, ec);
}

}  // namespace

EximServer::EximServer(const DovecotServer& mailboxes, std::vector<MailUser> smtpUsers)
    : mailboxes_(mailboxes), smtpUsers_(std::move(smtpUsers)) {
  const CertPair& cert = Certificates().server;
  dir_ = MakeServerDir(kDirPrefix);
  conf_ = dir_ + "/exim.conf";
  try {
    for (const char* sub : {"/spool", "/log"}) {
      fs::create_directories(dir_ + sub);
      chmod((dir_ + sub).c_str(), 0750);
      OwnByExim(dir_ + sub);
    }
    std::string passwd;
    for (const auto& u : smtpUsers_)
      passwd += u.name + ": " + u.password + "\n";
    WriteFile(dir_ + "/smtp-passwd", passwd);
    chmod((dir_ + "/smtp-passwd").c_str(), 0644);
    std::string localParts;
    for (const auto& u : mailboxes_.Users())
      localParts += (localParts.empty() ? "" : " : ") + u.name;
    if (localParts.empty()) localParts = "!*";  // no mailboxes: no local user at all
    for (int attempt = 0;; ++attempt) {
      plainPort_ = FreePort();
      std::set<int> used{plainPort_};
      for (int* p : {&submissionPort_, &tlsPort_, &authPort_}) {
        do
          *p = FreePort();
        while (!used.insert(*p).second);
      }
      std::string text = FillTemplate(ServerTemplate("exim.conf.in"),
                                      {{"DIR", dir_},
                                       {"MAIL_DIR", mailboxes_.Dir() + "/mail"},
                                       {"LOCAL_PARTS", localParts},
                                       {"CERT", cert.cert},
                                       {"KEY", cert.key},
                                       {"PLAIN_PORT", std::to_string(plainPort_)},
                                       {"SUBMISSION_PORT", std::to_string(submissionPort_)},
                                       {"TLS_PORT", std::to_string(tlsPort_)},
                                       {"AUTH_PORT", std::to_string(authPort_)}});
      WriteFile(conf_, text);
      chmod(conf_.c_str(), 0644);
      EditTrusted(conf_, true);
      process_.Start({"/usr/sbin/exim4", "-C", conf_, "-bdf", "-q1m"}, dir_ + "/exim.out");
      std::string failure;
      if (WaitForGreeting(process_, plainPort_, "220", kStartTimeoutMs, &failure)) break;
      process_.Stop();
      std::string log = LogTail(dir_ + "/log/paniclog") + LogTail(dir_ + "/log/mainlog") +
                        LogTail(dir_ + "/exim.out");
      if (attempt + 1 >= kStartAttempts || log.find("Address already in use") == std::string::npos)
        throw std::runtime_error("Exim did not start (" + failure + "):\n" + log);
    }
  } catch (...) {
    process_.Stop();
    Cleanup(dir_, conf_, true);
    throw;
  }
}

EximServer::~EximServer() {
  process_.StopInBackground([dir = dir_, conf = conf_] { Cleanup(dir, conf, true); });
}

void EximServer::Stop() {
  process_.Stop();
  Cleanup(dir_, conf_, false);
}

std::vector<std::string> EximServer::WaitForMessages(const std::string& user, size_t count,
                                                     int timeoutMs) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto messages = mailboxes_.Messages(user);
  for (; messages.size() < count && std::chrono::steady_clock::now() < until;
       messages = mailboxes_.Messages(user))
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  // A delivery that did not happen is explained by Exim's own log.
  if (messages.size() < count)
    std::cerr << "Exim delivered " << messages.size() << " of " << count << " to " << user << ":\n"
              << LogTail(dir_ + "/log/paniclog") << LogTail(dir_ + "/log/mainlog");
  return messages;
}

}  // namespace vigilo::test
