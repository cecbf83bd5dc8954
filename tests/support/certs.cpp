#include "tests/support/certs.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "tests/support/server_process.h"
#include "tests/support/tempdir.h"

namespace vigilo::test {
namespace {

struct Store {
  TestCertificates certs;
  ~Store() {
    std::error_code ec;
    if (!certs.dir.empty()) std::filesystem::remove_all(certs.dir, ec);
  }
};

void Run(const std::string& command) {
  std::string out;
  if (RunShell(command, &out) != 0)
    throw std::runtime_error("openssl failed: " + command + "\n" + out);
}

void Fingerprint(CertPair& pair) {
  std::string out;
  if (RunShell("openssl x509 -noout -fingerprint -sha256 -in '" + pair.cert + "'", &out) != 0)
    throw std::runtime_error("openssl fingerprint failed: " + out);
  size_t eq = out.find('=');
  if (eq == std::string::npos) throw std::runtime_error("openssl fingerprint: " + out);
  std::string colon = out.substr(eq + 1);
  while (!colon.empty() && std::isspace(static_cast<unsigned char>(colon.back())))
    colon.pop_back();
  pair.sha256Colon = colon;
  pair.sha256.clear();
  for (char c : colon)
    if (c != ':') pair.sha256 += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// A key Exim's unprivileged processes can read: mode 0640, group Debian-exim.
void ShareKey(const std::string& key) {
  if (group* g = getgrnam("Debian-exim")) (void)!chown(key.c_str(), 0, g->gr_gid);
  chmod(key.c_str(), 0640);
}

void IssueSigned(const std::string& dir, const std::string& name, const std::string& cn,
                 const std::string& san, CertPair& pair) {
  pair.cert = dir + "/" + name + ".pem";
  pair.key = dir + "/" + name + ".key";
  WriteFile(dir + "/" + name + ".ext",
            "basicConstraints = CA:FALSE\n"
            "keyUsage = digitalSignature\n"
            "extendedKeyUsage = serverAuth\n"
            "subjectAltName = " +
                san + "\n");
  Run("cd '" + dir +
      "' && openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj '/CN=" +
      cn + "' -keyout " + name + ".key -out " + name + ".csr 2>&1 && openssl x509 -req -in " +
      name + ".csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 3 -sha256 -extfile " + name +
      ".ext -out " + name + ".pem 2>&1");
  ShareKey(pair.key);
  Fingerprint(pair);
}

// For localhost: one the CA signed for a day in 2020, and one signed by itself.
void IssueExpiredAndSelfSigned(TestCertificates& c) {
  WriteFile(c.dir + "/ca.cnf",
            "[ca]\ndefault_ca = c\n[c]\ndatabase = index.txt\nnew_certs_dir = .\n"
            "serial = ca.srl\ndefault_md = sha256\npolicy = p\n[p]\ncommonName = supplied\n");
  WriteFile(c.dir + "/index.txt", "");
  const std::string key =
      "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj /CN=localhost";
  Run("cd '" + c.dir + "' && openssl req -new " + key +
      " -keyout expired.key -out expired.csr 2>&1 && openssl ca -batch -config ca.cnf -cert ca.pem "
      "-keyfile ca.key -in expired.csr -out expired.pem -notext -extfile server.ext "
      "-startdate 20200101000000Z -enddate 20200102000000Z 2>&1 && openssl req -x509 " +
      key +
      " -days 3 -addext 'subjectAltName=DNS:localhost,IP:127.0.0.1' -keyout self.key "
      "-out self.pem 2>&1");
  c.expired = {c.dir + "/expired.pem", c.dir + "/expired.key", "", ""};
  c.selfSigned = {c.dir + "/self.pem", c.dir + "/self.key", "", ""};
  Fingerprint(c.expired);
  Fingerprint(c.selfSigned);
}

std::unique_ptr<Store> Make() {
  auto store = std::make_unique<Store>();
  TestCertificates& c = store->certs;
  c.dir = MakeServerDir("vigilo-certs-");
  c.ca.cert = c.dir + "/ca.pem";
  c.ca.key = c.dir + "/ca.key";
  Run("cd '" + c.dir +
      "' && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 3 "
      "-sha256 -subj '/CN=Vigilo Test CA' "
      "-addext 'basicConstraints=critical,CA:TRUE' -addext 'keyUsage=critical,keyCertSign,cRLSign' "
      "-keyout ca.key -out ca.pem 2>&1");
  Fingerprint(c.ca);
  IssueSigned(c.dir, "server", "localhost", "DNS:localhost, IP:127.0.0.1", c.server);
  IssueSigned(c.dir, "other", "other.example.test", "DNS:other.example.test", c.other);
  IssueExpiredAndSelfSigned(c);
  return store;
}

}  // namespace

const TestCertificates& Certificates() {
  static std::once_flag once;
  static std::unique_ptr<Store> store;
  std::call_once(once, [] { store = Make(); });
  return store->certs;
}

}  // namespace vigilo::test
