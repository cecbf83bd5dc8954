#pragma once
// TLS for the mail clients (OpenSSL 3): a byte transport that encrypts what
// the client socket reads and writes, wrapping the plain TCP transport.
//
// Everything stays non-blocking: the handshake and every record report
// WouldBlock with the poll events they need, so the socket's inactivity
// time-out, message pump, progress and cancellation apply unchanged.
//
// The server's certificate is checked against the system's CA store (plus an
// optional extra CA file) and must name the host that was dialled; a
// certificate whose SHA-256 fingerprint the user chose to trust is accepted
// even when no CA vouches for it. TLS 1.2 is the lowest version offered.

#include <memory>
#include <string>

#include "base/digest.h"
#include "mail/msexcept.h"
#include "mail/mssocket.h"
#include "mail/mstransport.h"

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace ms {

// How a client protects its connection.
enum class TmsSecurity {
  None = 0,      // plain text, as always
  StartTLS = 1,  // plain connection, then STLS / STARTTLS and a handshake
  TLS = 2,       // TLS from the first byte (POP3 port 995, SMTP port 465)
};

struct TmsTlsOptions {
  // SHA-256 fingerprint of a certificate trusted without a CA: 64 hexadecimal
  // digits, letter case, colons and blanks ignored. Empty for none.
  std::string TrustCert;
  // A PEM file of further CA certificates (besides the system's store).
  std::string CAFile;
  // Whether the system's CA store is used at all.
  bool SystemCAs = true;
};

// A TLS failure: the text names the reason.
class EmsTlsError : public EmsError {
 public:
  enum Reason { Handshake, Expired, WrongHost, Untrusted, Rejected };
  EmsTlsError(Reason reason, const std::string& text) : EmsError(text), reason_(reason) {}
  Reason Why() const { return reason_; }

 private:
  Reason reason_;
};

using vigilo::ColonFingerprint;
using vigilo::NormalizeFingerprint;
// Raises EmsError when options carry a TrustCert that is not a fingerprint.
void CheckTlsOptions(const TmsTlsOptions& options);

class TmsTlsTransport : public TmsTransport {
 public:
  // host is the name the certificate must carry (a DNS name, sent as SNI, or
  // an IPv4/IPv6 address). Raises EmsTlsError when OpenSSL cannot be set up.
  TmsTlsTransport(std::unique_ptr<TmsTransport> inner, const std::string& host,
                  const TmsTlsOptions& options);
  ~TmsTlsTransport() override;
  TmsTlsTransport(const TmsTlsTransport&) = delete;
  TmsTlsTransport& operator=(const TmsTlsTransport&) = delete;

  // One step of the handshake: Data when it is complete, WouldBlock with the
  // events to wait for, Failed/Closed are raised as EmsTlsError / EWinsockError.
  TmsIoResult Handshake();
  bool Established() const { return established_; }

  TmsIoResult Read(char* buffer, size_t length) override;
  TmsIoResult Write(const char* buffer, size_t length) override;
  int Handle() const override { return inner_ ? inner_->Handle() : -1; }
  // Sends close_notify when it can without waiting, then closes the TCP
  // connection.
  void Close() override;

  // Of the certificate the server showed (empty before the handshake).
  const std::string& PeerFingerprint() const { return peerFingerprint_; }
  std::string Protocol() const;  // "TLSv1.3" ...
  bool TrustedByFingerprint() const { return trustedByFingerprint_; }

  // Used by the OpenSSL glue.
  TmsTransport* Inner() const { return inner_.get(); }
  TmsIoResult lastInner;
  int VerifyCallback(int preverifyOk, void* storeCtx);

 private:
  [[noreturn]] void RaiseHandshakeFailure(unsigned long sslError);
  TmsIoResult Failure(int sslResult, const char* what);

  std::unique_ptr<TmsTransport> inner_;
  std::string host_;
  std::string trust_;
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
  bool established_ = false;
  bool fatal_ = false;  // after a fatal error nothing more is sent
  bool closed_ = false;
  bool trustedByFingerprint_ = false;
  int verifyError_ = 0;  // first X509 verification error, 0 for none
  int verifyDepth_ = 0;
  std::string peerFingerprint_;
  std::string peerNames_;
};

// Puts TLS under socket's open connection after a STARTTLS-like command was
// accepted: bytes the server sent before the handshake (already waiting on the
// connection) are discarded unread, the handshake runs under the socket's wait
// rules, and the socket then talks through the TLS transport. Any failure
// closes the connection. host is the name checked in the certificate.
void StartTLS(TmsClientSocket& socket, const std::string& host, const TmsTlsOptions& options);

// Connect with TLS from the first byte: socket.Connect() with a transport
// layer that makes the handshake before OnConnected.
void ConnectTLS(TmsClientSocket& socket, const std::string& host, const TmsTlsOptions& options);

// Whether socket talks through an established TLS session.
bool IsEncrypted(const TmsSocketBase& socket);

// The host a client's certificate must name: its Host without brackets.
std::string TlsHostOf(const TmsClientSocket& socket);

}  // namespace ms
