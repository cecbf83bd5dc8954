#include "mail/mstls.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cctype>

#include "mail/mswsock.h"

namespace ms {
namespace {

// Bytes a server may have sent between its go-ahead and the handshake before
// the connection is given up as hostile.
constexpr size_t kMaxDiscard = 65536;

TmsTlsTransport* Owner(BIO* bio) {
  return static_cast<TmsTlsTransport*>(BIO_get_data(bio));
}

int BioWrite(BIO* bio, const char* data, size_t length, size_t* written) {
  BIO_clear_retry_flags(bio);
  TmsTlsTransport* t = Owner(bio);
  const TmsIoResult r = t->Inner()->Write(data, length);
  t->lastInner = r;
  if (r.Kind == TmsIoResult::Data) {
    *written = r.Count;
    return 1;
  }
  if (r.Kind == TmsIoResult::WouldBlock) BIO_set_retry_write(bio);
  return 0;
}

int BioRead(BIO* bio, char* data, size_t length, size_t* read) {
  BIO_clear_retry_flags(bio);
  TmsTlsTransport* t = Owner(bio);
  const TmsIoResult r = t->Inner()->Read(data, length);
  t->lastInner = r;
  if (r.Kind == TmsIoResult::Data) {
    *read = r.Count;
    return 1;
  }
  if (r.Kind == TmsIoResult::WouldBlock) BIO_set_retry_read(bio);
  return 0;
}

long BioCtrl(BIO* bio, int cmd, long, void*) {
  switch (cmd) {
    case BIO_CTRL_FLUSH:
      return 1;
    case BIO_CTRL_EOF:
      return Owner(bio)->lastInner.Kind == TmsIoResult::Closed ? 1 : 0;
    default:
      return 0;
  }
}

BIO_METHOD* TransportBioMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "vigilo transport");
    BIO_meth_set_write_ex(m, BioWrite);
    BIO_meth_set_read_ex(m, BioRead);
    BIO_meth_set_ctrl(m, BioCtrl);
    return m;
  }();
  return method;
}

int VerifyThunk(int ok, X509_STORE_CTX* store) {
  SSL* ssl =
      static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* t = ssl ? static_cast<TmsTlsTransport*>(SSL_get_app_data(ssl)) : nullptr;
  return t ? t->VerifyCallback(ok, store) : ok;
}

std::string Sha256Of(X509* cert) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (!X509_digest(cert, EVP_sha256(), md, &n)) return {};
  return vigilo::HexLower(md, n);
}

// A name from a certificate, safe to show: printable ASCII only, bounded.
std::string Printable(const unsigned char* data, int length) {
  std::string out;
  for (int i = 0; i < length && out.size() < 100; ++i)
    out += (data[i] >= 0x20 && data[i] < 0x7f) ? static_cast<char>(data[i]) : '?';
  return out;
}

// The host names a certificate is for: its DNS and IP subject alternative
// names, else its common name; at most three.
std::string NamesOf(X509* cert) {
  std::string out;
  int count = 0;
  auto add = [&](const std::string& name) {
    if (count == 3) {
      out += ", ...";
      ++count;
    }
    if (count > 3) return;
    if (!out.empty()) out += ", ";
    out += name;
    ++count;
  };
  auto* names =
      static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
  if (names) {
    for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i) {
      const GENERAL_NAME* g = sk_GENERAL_NAME_value(names, i);
      if (g->type == GEN_DNS) {
        add(Printable(ASN1_STRING_get0_data(g->d.dNSName), ASN1_STRING_length(g->d.dNSName)));
      } else if (g->type == GEN_IPADD) {
        const int len = ASN1_STRING_length(g->d.iPAddress);
        char text[INET6_ADDRSTRLEN] = "";
        if (len == 4 || len == 16)
          inet_ntop(len == 4 ? AF_INET : AF_INET6, ASN1_STRING_get0_data(g->d.iPAddress), text,
                    sizeof text);
        if (text[0]) add(text);
      }
    }
    GENERAL_NAMES_free(names);
  }
  if (out.empty()) {
    X509_NAME* subject = X509_get_subject_name(cert);
    const int at = subject ? X509_NAME_get_index_by_NID(subject, NID_commonName, -1) : -1;
    if (at >= 0) {
      ASN1_STRING* cn = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, at));
      add(Printable(ASN1_STRING_get0_data(cn), ASN1_STRING_length(cn)));
    }
  }
  return out;
}

bool IsAddress(const std::string& host) {
  unsigned char buf[16];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

std::string OpenSslReason(unsigned long e) {
  if (e == 0) return "unknown error";
  const char* reason = ERR_reason_error_string(e);
  if (reason) return reason;
  char buf[256];
  ERR_error_string_n(e, buf, sizeof buf);
  return buf;
}

// Drives the handshake to its end under socket's wait rules.
void RunHandshake(TmsSocket& socket, TmsTlsTransport& tls) {
  socket.StartCounter();
  for (;;) {
    const TmsIoResult r = tls.Handshake();
    if (r.Kind == TmsIoResult::Data) return;
    socket.WaitReady(r.WaitEvents ? r.WaitEvents : POLLIN, tls.Handle());
  }
}

}  // namespace

void CheckTlsOptions(const TmsTlsOptions& options) {
  if (!options.TrustCert.empty() && NormalizeFingerprint(options.TrustCert).empty())
    throw EmsError(
        "The trusted certificate must be given as a SHA-256 fingerprint of "
        "64 hexadecimal digits");
}

// ---------------------------------------------------------------- transport

TmsTlsTransport::TmsTlsTransport(std::unique_ptr<TmsTransport> inner, const std::string& host,
                                 const TmsTlsOptions& options)
    : inner_(std::move(inner)), host_(host), trust_(NormalizeFingerprint(options.TrustCert)) {
  CheckTlsOptions(options);
  if (!inner_) throw EWinsockError(WSAENOTCONN);
  if (host_.empty()) throw EmsTlsError(EmsTlsError::Handshake, "TLS needs the server's host name");
  auto setupFailed = [this](const std::string& what) {
    const std::string reason = OpenSslReason(ERR_get_error());
    ERR_clear_error();
    SSL_free(ssl_);
    SSL_CTX_free(ctx_);
    ssl_ = nullptr;
    ctx_ = nullptr;
    return EmsTlsError(EmsTlsError::Handshake, what + ": " + reason);
  };
  ERR_clear_error();
  ctx_ = SSL_CTX_new(TLS_client_method());
  if (!ctx_) throw setupFailed("TLS could not be set up");
  SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
  // A server that drops the connection without close_notify ends the data
  // like a plain close; the protocols above frame their own replies.
  SSL_CTX_set_options(ctx_, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_COMPRESSION);
  SSL_CTX_set_mode(ctx_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  if (options.SystemCAs) SSL_CTX_set_default_verify_paths(ctx_);
  if (!options.CAFile.empty() &&
      SSL_CTX_load_verify_locations(ctx_, options.CAFile.c_str(), nullptr) != 1)
    throw setupFailed("The CA file " + options.CAFile + " could not be read");
  SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, VerifyThunk);

  ssl_ = SSL_new(ctx_);
  if (!ssl_) throw setupFailed("TLS could not be set up");
  SSL_set_app_data(ssl_, this);
  X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  if (IsAddress(host_)) {
    if (X509_VERIFY_PARAM_set1_ip_asc(param, host_.c_str()) != 1)
      throw setupFailed("TLS could not be set up");
  } else {
    if (SSL_set1_host(ssl_, host_.c_str()) != 1 ||
        SSL_set_tlsext_host_name(ssl_, host_.c_str()) != 1)
      throw setupFailed("TLS could not be set up for the host name " + host_);
  }
  BIO* bio = BIO_new(TransportBioMethod());
  if (!bio) throw setupFailed("TLS could not be set up");
  BIO_set_data(bio, this);
  BIO_set_init(bio, 1);
  SSL_set_bio(ssl_, bio, bio);
}

TmsTlsTransport::~TmsTlsTransport() {
  Close();
  SSL_free(ssl_);
  SSL_CTX_free(ctx_);
}

std::string TmsTlsTransport::Protocol() const {
  return established_ ? SSL_get_version(ssl_) : "";
}

int TmsTlsTransport::VerifyCallback(int preverifyOk, void* storeCtx) {
  auto* store = static_cast<X509_STORE_CTX*>(storeCtx);
  X509* leaf = X509_STORE_CTX_get0_cert(store);
  if (leaf && peerFingerprint_.empty()) {
    peerFingerprint_ = Sha256Of(leaf);
    peerNames_ = NamesOf(leaf);
  }
  // The user vouched for exactly this certificate: no CA, name or date
  // needs to agree.
  if (!trust_.empty() && peerFingerprint_ == trust_) {
    trustedByFingerprint_ = true;
    return 1;
  }
  if (!preverifyOk && verifyError_ == 0) {
    verifyError_ = X509_STORE_CTX_get_error(store);
    verifyDepth_ = X509_STORE_CTX_get_error_depth(store);
    if (verifyError_ == 0) verifyError_ = X509_V_ERR_UNSPECIFIED;
  }
  return preverifyOk;
}

void TmsTlsTransport::RaiseHandshakeFailure(unsigned long sslError) {
  fatal_ = true;
  const std::string prefix = "TLS handshake with " + host_ + " failed: ";
  const std::string pin = peerFingerprint_.empty()
                              ? std::string()
                              : " (SHA-256 fingerprint " + ColonFingerprint(peerFingerprint_) + ")";
  ERR_clear_error();
  switch (verifyError_) {
    case 0:
      break;
    case X509_V_ERR_CERT_HAS_EXPIRED:
      throw EmsTlsError(EmsTlsError::Expired,
                        prefix + (verifyDepth_ == 0 ? "the server's certificate has expired"
                                                    : "a certificate of the server's chain has "
                                                      "expired"));
    case X509_V_ERR_CERT_NOT_YET_VALID:
      throw EmsTlsError(EmsTlsError::Expired, prefix + "the server's certificate is not valid yet");
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      throw EmsTlsError(EmsTlsError::WrongHost,
                        prefix + "the server's certificate is for another host (" +
                            (peerNames_.empty() ? std::string("no name") : peerNames_) + ")");
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      throw EmsTlsError(EmsTlsError::Untrusted,
                        prefix + "the server's certificate is self-signed and not trusted" + pin);
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      throw EmsTlsError(
          EmsTlsError::Untrusted,
          prefix + "the server's certificate is issued by an unknown authority" + pin);
    default:
      throw EmsTlsError(EmsTlsError::Rejected,
                        prefix + "the server's certificate was not accepted (" +
                            X509_verify_cert_error_string(verifyError_) + ")" + pin);
  }
  const int reason = ERR_GET_REASON(sslError);
  if (reason == SSL_R_WRONG_VERSION_NUMBER || reason == SSL_R_UNKNOWN_PROTOCOL ||
      reason == SSL_R_PACKET_LENGTH_TOO_LONG)
    throw EmsTlsError(EmsTlsError::Handshake, prefix + "the server did not answer in TLS (" +
                                                  OpenSslReason(sslError) + ")");
  if (reason == SSL_R_UNSUPPORTED_PROTOCOL || reason == SSL_R_TLSV1_ALERT_PROTOCOL_VERSION ||
      reason == SSL_R_NO_PROTOCOLS_AVAILABLE)
    throw EmsTlsError(
        EmsTlsError::Handshake,
        prefix + "the server offers no TLS version from 1.2 on (" + OpenSslReason(sslError) + ")");
  throw EmsTlsError(EmsTlsError::Handshake, prefix + OpenSslReason(sslError));
}

TmsIoResult TmsTlsTransport::Handshake() {
  if (established_) return TmsIoResult::Moved(0);
  if (fatal_ || !ssl_) throw EmsTlsError(EmsTlsError::Handshake, "TLS connection failed");
  ERR_clear_error();
  lastInner = TmsIoResult();
  const int rc = SSL_connect(ssl_);
  if (rc == 1) {
    established_ = true;
    if (X509* peer = SSL_get0_peer_certificate(ssl_)) peerFingerprint_ = Sha256Of(peer);
    return TmsIoResult::Moved(0);
  }
  const unsigned long sslError = ERR_peek_last_error();
  switch (SSL_get_error(ssl_, rc)) {
    case SSL_ERROR_WANT_READ:
      return TmsIoResult::Wait(lastInner.Kind == TmsIoResult::WouldBlock && lastInner.WaitEvents
                                   ? lastInner.WaitEvents
                                   : POLLIN);
    case SSL_ERROR_WANT_WRITE:
      return TmsIoResult::Wait(lastInner.Kind == TmsIoResult::WouldBlock && lastInner.WaitEvents
                                   ? lastInner.WaitEvents
                                   : POLLOUT);
    case SSL_ERROR_SYSCALL:
    case SSL_ERROR_ZERO_RETURN:
      fatal_ = true;
      if (verifyError_) RaiseHandshakeFailure(sslError);
      if (lastInner.Kind == TmsIoResult::Failed) throw EWinsockError(lastInner.ErrorCode);
      throw EmsTlsError(EmsTlsError::Handshake, "TLS handshake with " + host_ +
                                                    " failed: the server closed the connection");
    default:
      RaiseHandshakeFailure(sslError);
  }
}

TmsIoResult TmsTlsTransport::Failure(int sslResult, const char* what) {
  const unsigned long sslError = ERR_peek_last_error();
  switch (SSL_get_error(ssl_, sslResult)) {
    case SSL_ERROR_WANT_READ:
      return TmsIoResult::Wait(lastInner.Kind == TmsIoResult::WouldBlock && lastInner.WaitEvents
                                   ? lastInner.WaitEvents
                                   : POLLIN);
    case SSL_ERROR_WANT_WRITE:
      return TmsIoResult::Wait(lastInner.Kind == TmsIoResult::WouldBlock && lastInner.WaitEvents
                                   ? lastInner.WaitEvents
                                   : POLLOUT);
    case SSL_ERROR_ZERO_RETURN:
      return TmsIoResult::PeerClosed();
    case SSL_ERROR_SYSCALL:
      fatal_ = true;
      if (lastInner.Kind == TmsIoResult::Failed) return TmsIoResult::Error(lastInner.ErrorCode);
      return TmsIoResult::PeerClosed();
    default:
      fatal_ = true;
      ERR_clear_error();
      throw EmsTlsError(EmsTlsError::Handshake,
                        std::string("TLS error while ") + what + ": " + OpenSslReason(sslError));
  }
}

TmsIoResult TmsTlsTransport::Read(char* buffer, size_t length) {
  if (closed_ || !ssl_) return TmsIoResult::Error(WSAENOTSOCK);
  if (!established_) {
    const TmsIoResult h = Handshake();
    if (h.Kind != TmsIoResult::Data) return h;
  }
  if (fatal_) return TmsIoResult::Error(WSAECONNABORTED);
  ERR_clear_error();
  lastInner = TmsIoResult();
  size_t n = 0;
  if (SSL_read_ex(ssl_, buffer, length, &n) == 1) return TmsIoResult::Moved(n);
  return Failure(0, "reading");
}

TmsIoResult TmsTlsTransport::Write(const char* buffer, size_t length) {
  if (closed_ || !ssl_) return TmsIoResult::Error(WSAENOTSOCK);
  if (!established_) {
    const TmsIoResult h = Handshake();
    if (h.Kind != TmsIoResult::Data) return h;
  }
  if (fatal_) return TmsIoResult::Error(WSAECONNABORTED);
  if (length == 0) return TmsIoResult::Moved(0);
  ERR_clear_error();
  lastInner = TmsIoResult();
  size_t n = 0;
  if (SSL_write_ex(ssl_, buffer, length, &n) == 1) return TmsIoResult::Moved(n);
  return Failure(0, "sending");
}

void TmsTlsTransport::Close() {
  if (closed_) return;
  closed_ = true;
  if (ssl_ && established_ && !fatal_) {
    // Best effort: one non-blocking attempt at close_notify.
    SSL_shutdown(ssl_);
    ERR_clear_error();
  }
  if (inner_) inner_->Close();
}

// ---------------------------------------------------------------- socket glue

bool IsEncrypted(const TmsSocketBase& socket) {
  const auto* tls = dynamic_cast<const TmsTlsTransport*>(socket.Transport());
  return tls && tls->Established();
}

std::string TlsHostOf(const TmsClientSocket& socket) {
  return socket.Host();
}

void StartTLS(TmsClientSocket& socket, const std::string& host, const TmsTlsOptions& options) {
  CheckTlsOptions(options);
  try {
    TmsTransport* plain = socket.Transport();
    if (!plain) throw EWinsockError(WSAENOTCONN);
    // Whatever the server sent after its go-ahead and before the handshake
    // did not come through TLS: it is thrown away unread, never taken for a
    // reply. Bytes arriving later break the handshake instead.
    char junk[4096];
    size_t discarded = 0;
    for (bool more = true; more;) {
      const TmsIoResult r = plain->Read(junk, sizeof junk);
      switch (r.Kind) {
        case TmsIoResult::Data:
          discarded += r.Count;
          if (discarded > kMaxDiscard)
            throw EmsTlsError(EmsTlsError::Handshake,
                              "TLS handshake with " + host +
                                  " failed: the server sent unexpected data before it");
          break;
        case TmsIoResult::WouldBlock:
          more = false;
          break;
        case TmsIoResult::Closed:
          throw EmsTlsError(
              EmsTlsError::Handshake,
              "TLS handshake with " + host + " failed: the server closed the connection");
        case TmsIoResult::Failed:
          throw EWinsockError(r.ErrorCode);
      }
    }
    auto tls = std::make_unique<TmsTlsTransport>(socket.TakeTransport(), host, options);
    TmsTlsTransport& t = *tls;
    socket.SetTransport(std::move(tls));
    RunHandshake(socket, t);
  } catch (...) {
    // Neither plain text nor an unverified TLS session may go on.
    socket.Disconnect();
    throw;
  }
}

void ConnectTLS(TmsClientSocket& socket, const std::string& host, const TmsTlsOptions& options) {
  CheckTlsOptions(options);
  auto saved = std::move(socket.TransportLayer);
  struct Restore {
    TmsClientSocket& s;
    decltype(saved)& layer;
    ~Restore() { s.TransportLayer = std::move(layer); }
  } restore{socket, saved};
  socket.TransportLayer = [host, options](TmsClientSocket& s, std::unique_ptr<TmsTransport> plain) {
    auto tls = std::make_unique<TmsTlsTransport>(std::move(plain), host, options);
    RunHandshake(s, *tls);  // on failure the TLS transport closes the connection
    return std::unique_ptr<TmsTransport>(std::move(tls));
  };
  socket.Connect();
}

}  // namespace ms
