#include "tests/support/certs.h"

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

std::string Run(const std::string& command) {
  std::string out;
  if (RunShell(command, &out) != 0)
    throw std::runtime_error("openssl failed: " + command + "\n" + out);
  return out;
}

// Names the pair's files in `dir` and fills in its fingerprints.
void Describe(const std::string& dir, const std::string& name, CertPair& pair) {
  pair.cert = dir + "/" + name + ".pem";
  pair.key = dir + "/" + name + ".key";
  const std::string out = Run("openssl x509 -noout -fingerprint -sha256 -in " + pair.cert);
  const size_t eq = out.find('=');
  if (eq == std::string::npos) throw std::runtime_error("openssl fingerprint: " + out);
  pair.sha256Colon = out.substr(eq + 1);
  while (!pair.sha256Colon.empty() &&
         std::isspace(static_cast<unsigned char>(pair.sha256Colon.back())))
    pair.sha256Colon.pop_back();
  for (char c : pair.sha256Colon)
    if (c != ':') pair.sha256 += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

void IssueSigned(const std::string& dir, const std::string& name, const std::string& cn,
                 const std::string& san, CertPair& pair) {
  WriteFile(dir + "/" + name + ".ext",
            "basicConstraints = CA:FALSE\nkeyUsage = digitalSignature\n"
            "extendedKeyUsage = serverAuth\nsubjectAltName = " +
                san + "\n");
  Run("cd " + dir +
      " && openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj '/CN=" +
      cn + "' -keyout " + name + ".key -out " + name + ".csr && openssl x509 -req -in " + name +
      ".csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 3 -sha256 -extfile " + name +
      ".ext -out " + name + ".pem");
  Describe(dir, name, pair);
  SetAccess(pair.key, 0640, nullptr, "Debian-exim");  // for Exim's unprivileged processes
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
  Describe(c.dir, "expired", c.expired);
  Describe(c.dir, "self", c.selfSigned);
}

std::unique_ptr<Store> Make() {
  auto store = std::make_unique<Store>();
  TestCertificates& c = store->certs;
  c.dir = MakeServerDir("vigilo-certs-");
  Run("cd " + c.dir +
      " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 3 "
      "-sha256 -subj '/CN=Vigilo Test CA' "
      "-addext 'basicConstraints=critical,CA:TRUE' -addext 'keyUsage=critical,keyCertSign,cRLSign' "
      "-keyout ca.key -out ca.pem");
  Describe(c.dir, "ca", c.ca);
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
