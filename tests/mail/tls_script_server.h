#pragma once
// A one-connection scripted server on 127.0.0.1 that can turn to TLS in the middle of its
// script (or speak TLS from the start), with certificates made in-process for the purpose: a
// CA, leaf certificates it signed (for localhost and 127.0.0.1, for another host, an expired
// one) and a self-signed one. For what real servers do not show.

#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/tempdir.h"

namespace tlstest {

struct Cert {
  X509* x = X509_new();
  EVP_PKEY* key = EVP_EC_gen("P-256");
  std::string sha256;  // lower-case hexadecimal
  ~Cert() {
    X509_free(x);
    EVP_PKEY_free(key);
  }
};

// A certificate for cn and the alternative names san, signed by issuer (self-signed when
// null), valid from fromDays to toDays relative to now.
inline std::unique_ptr<Cert> MakeCert(const std::string& cn, const Cert* issuer, bool ca = false,
                                      long fromDays = -1, long toDays = 30) {
  static long serial = 1;
  auto c = std::make_unique<Cert>();
  X509_set_version(c->x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c->x), serial++);
  X509_gmtime_adj(X509_getm_notBefore(c->x), fromDays * 86400);
  X509_gmtime_adj(X509_getm_notAfter(c->x), toDays * 86400);
  X509_set_pubkey(c->x, c->key);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(c->x), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
  X509* signer = issuer ? issuer->x : c->x;
  X509_set_issuer_name(c->x, X509_get_subject_name(signer));
  const std::string san = cn == "localhost" ? "DNS:localhost,IP:127.0.0.1" : "DNS:" + cn;
  std::vector<std::pair<int, std::string>> ext = {{NID_subject_key_identifier, "hash"}};
  if (ca)
    ext.insert(ext.end(), {{NID_basic_constraints, "critical,CA:TRUE"},
                           {NID_key_usage, "critical,keyCertSign,cRLSign"}});
  else
    ext.insert(ext.end(), {{NID_basic_constraints, "CA:FALSE"},
                           {NID_ext_key_usage, "serverAuth"},
                           {NID_subject_alt_name, san}});
  if (issuer) ext.push_back({NID_authority_key_identifier, "keyid"});
  for (const auto& [nid, value] : ext) {
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, signer, c->x, nullptr, nullptr, 0);
    X509_EXTENSION* e = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    X509_add_ext(c->x, e, -1);
    X509_EXTENSION_free(e);
  }
  X509_sign(c->x, issuer ? issuer->key : c->key, EVP_sha256());
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  X509_digest(c->x, EVP_sha256(), md, &n);
  for (unsigned int i = 0; i < n; ++i)
    c->sha256 += {"0123456789abcdef"[md[i] >> 4], "0123456789abcdef"[md[i] & 15]};
  return c;
}

struct CertSet {
  vigilo::test::TempDir dir;
  std::unique_ptr<Cert> ca = MakeCert("Mail Test CA", nullptr, true, -1, 60);
  std::unique_ptr<Cert> localhost = MakeCert("localhost", ca.get());
  std::unique_ptr<Cert> other = MakeCert("other.example.test", ca.get());
  std::unique_ptr<Cert> expired = MakeCert("localhost", ca.get(), false, -10, -1);
  std::unique_ptr<Cert> selfSigned = MakeCert("localhost", nullptr);
  std::string caFile = dir.str() + "ca.pem";
  CertSet() {
    FILE* f = fopen(caFile.c_str(), "w");
    PEM_write_X509(f, ca->x);
    fclose(f);
  }
};

// Made once per test program.
inline const CertSet& Certs() {
  static CertSet set;
  return set;
}

struct Step {
  enum Kind { Send, Expect, StartTls, Sleep } kind;
  std::string text;
  int ms = 0;
};
inline Step Send(std::string s) {
  return {Step::Send, std::move(s), 0};
}
inline Step Expect(std::string s) {
  return {Step::Expect, std::move(s), 0};
}
inline Step StartTls() {
  return {Step::StartTls, "", 0};
}
inline Step Sleep(int ms) {
  return {Step::Sleep, "", ms};
}

class TlsScriptServer {
 public:
  // cert: what the server shows once it turns to TLS; implicitTls: before the first step.
  TlsScriptServer(const Cert& cert, std::vector<Step> script, bool implicitTls = false)
      : script_(std::move(script)) {
    if (implicitTls) script_.insert(script_.begin(), StartTls());
    ctx_ = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(ctx_, cert.x);
    SSL_CTX_use_PrivateKey(ctx_, cert.key);
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_, 1);
    socklen_t len = sizeof a;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~TlsScriptServer() {
    stop_ = true;
    thread_.join();
    SSL_CTX_free(ctx_);
    ::close(listen_);
  }

  int Port() const { return port_; }
  std::vector<std::string> Received() {
    std::lock_guard<std::mutex> l(mutex_);
    return received_;
  }
  // Waits for the end of the script; the first failure, or "" when it ran through.
  std::string Outcome(int timeoutMs = 10000) {
    for (int waited = 0; !done_ && waited < timeoutMs; waited += 10)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::lock_guard<std::mutex> l(mutex_);
    return done_ ? failure_ : "script did not finish";
  }

 private:
  bool Fail(const std::string& why) {
    std::lock_guard<std::mutex> l(mutex_);
    if (failure_.empty()) failure_ = why;
    return false;
  }
  bool Accept() {
    for (int i = 0; i < 1000 && !stop_; ++i) {
      pollfd p{listen_, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      fd_ = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      timeval tv{5, 0};
      setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
      setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
      return fd_ >= 0;
    }
    return false;
  }
  bool Handshake() {
    ssl_ = SSL_new(ctx_);
    SSL_set_fd(ssl_, fd_);
    if (SSL_accept(ssl_) == 1) return true;
    char buf[256];
    ERR_error_string_n(ERR_get_error(), buf, sizeof buf);
    ERR_clear_error();
    return Fail(std::string("handshake failed: ") + buf);
  }
  // One line, recorded; false at the end of the connection.
  bool ReadLine(std::string& line) {
    line.clear();
    for (char c; ssl_ ? SSL_read(ssl_, &c, 1) == 1 : ::recv(fd_, &c, 1, 0) == 1;) {
      if (c != '\n') {
        line += c;
        continue;
      }
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::lock_guard<std::mutex> l(mutex_);
      received_.push_back(line);
      return true;
    }
    return false;
  }
  bool Play(const Step& s) {
    std::string line;
    switch (s.kind) {
      case Step::Send:
        if (ssl_ ? SSL_write(ssl_, s.text.data(), static_cast<int>(s.text.size())) > 0
                 : ::send(fd_, s.text.data(), s.text.size(), MSG_NOSIGNAL) > 0)
          return true;
        return Fail("send failed");
      case Step::Expect:
        if (!ReadLine(line)) return Fail("connection ended while expecting " + s.text);
        return line == s.text || Fail("expected '" + s.text + "', got '" + line + "'");
      case Step::StartTls:
        return Handshake();
      case Step::Sleep:
        for (const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(s.ms);
             !stop_ && std::chrono::steady_clock::now() < until;)
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }
  void Run() {
    if (!Accept()) {
      Fail("no connection");
    } else {
      bool ok = true;
      for (size_t i = 0; ok && i < script_.size(); ++i)
        ok = Play(script_[i]);
      // Whatever else the client sends is recorded until it closes.
      for (std::string line; ok && ReadLine(line);) {
      }
    }
    if (ssl_) {
      SSL_shutdown(ssl_);
      SSL_free(ssl_);
    }
    if (fd_ >= 0) ::close(fd_);
    done_ = true;
  }

  std::vector<Step> script_;
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
  int listen_ = -1, fd_ = -1, port_ = 0;
  std::atomic<bool> stop_{false}, done_{false};
  std::mutex mutex_;
  std::vector<std::string> received_;
  std::string failure_;
  std::thread thread_;
};

}  // namespace tlstest
