#include "tests/support/exim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "tests/support/certs.h"
#include "tests/support/free_port.h"
#include "tests/support/tempdir.h"

namespace fs = std::filesystem;

namespace vigilo::test {
namespace {

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
  SetAccess(tmp, 0644, "root", "root");
  std::error_code ec;
  fs::rename(tmp, kTrusted, ec);
  flock(lock, LOCK_UN);
  close(lock);
  if (ec) throw std::runtime_error(std::string("cannot write ") + kTrusted + ": " + ec.message());
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
    : mailboxes_(mailboxes) {
  dir_ = MakeServerDir(kDirPrefix);
  conf_ = dir_ + "/exim.conf";
  try {
    for (const char* sub : {"/spool", "/log"})
      MakeDir(dir_ + sub, 0750, "Debian-exim", "Debian-exim");
    std::string passwd, localParts;
    for (const auto& u : smtpUsers)
      passwd += u.name + ": " + u.password + "\n";
    WriteFile(dir_ + "/smtp-passwd", passwd);
    SetAccess(dir_ + "/smtp-passwd", 0644);
    for (const auto& u : mailboxes_.Users())
      localParts += (localParts.empty() ? "" : " : ") + u.name;
    if (localParts.empty()) localParts = "!*";  // no mailboxes: no local user at all
    StartServer(process_, "Exim", [&] { return Prepare(localParts); });
  } catch (...) {
    process_.Stop();
    Cleanup(dir_, conf_, true);
    throw;
  }
}

ServerLaunch EximServer::Prepare(const std::string& localParts) {
  const std::vector<int> ports = FreePorts(4);
  plainPort_ = ports[0];
  submissionPort_ = ports[1];
  tlsPort_ = ports[2];
  authPort_ = ports[3];
  const CertPair& cert = Certificates().server;
  WriteFile(conf_,
            ServerConfig("exim.conf.in", {{"DIR", dir_},
                                          {"MAIL_DIR", mailboxes_.Dir() + "/mail"},
                                          {"LOCAL_PARTS", localParts},
                                          {"CERT", cert.cert},
                                          {"KEY", cert.key},
                                          {"PLAIN_PORT", std::to_string(plainPort_)},
                                          {"SUBMISSION_PORT", std::to_string(submissionPort_)},
                                          {"TLS_PORT", std::to_string(tlsPort_)},
                                          {"AUTH_PORT", std::to_string(authPort_)}}));
  SetAccess(conf_, 0644);
  EditTrusted(conf_, true);
  return {{"/usr/sbin/exim4", "-C", conf_, "-bdf", "-q1m"},
          dir_ + "/exim.out",
          plainPort_,
          "220",
          {dir_ + "/log/paniclog", dir_ + "/log/mainlog"}};
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
  std::vector<std::string> messages;
  const bool all =
      WaitUntil([&] { return (messages = mailboxes_.Messages(user)).size() >= count; }, timeoutMs);
  // A delivery that did not happen is explained by Exim's own log.
  if (!all)
    std::cerr << "Exim delivered " << messages.size() << " of " << count << " to " << user << ":\n"
              << LogTail(dir_ + "/log/paniclog") << LogTail(dir_ + "/log/mainlog");
  return messages;
}

}  // namespace vigilo::test
