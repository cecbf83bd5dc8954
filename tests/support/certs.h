#pragma once
// Certificates for TLS tests, made with the openssl command once per process into a private
// folder (removed at exit): a test CA, a server certificate for "localhost" and 127.0.0.1
// signed by it, and one for another host name signed by the same CA. Keys are group-readable
// by Debian-exim so that Exim can use them. Keys are ECDSA P-256 (made in milliseconds).

#include <string>

namespace vigilo::test {

struct CertPair {
  std::string cert;         // PEM file
  std::string key;          // PEM file, unencrypted
  std::string sha256;       // fingerprint of the DER certificate, lowercase hex without separators
  std::string sha256Colon;  // the same as openssl prints it: "AB:CD:..."
};

struct TestCertificates {
  std::string dir;  // folder holding every file
  CertPair ca;      // "Vigilo Test CA"
  CertPair server;  // CN=localhost, subjectAltName DNS:localhost, IP:127.0.0.1
  CertPair other;   // CN=other.example.test, subjectAltName DNS:other.example.test
};

// Made on first use; throws std::runtime_error when openssl fails.
const TestCertificates& Certificates();

}  // namespace vigilo::test
