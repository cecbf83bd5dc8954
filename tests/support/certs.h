#pragma once
// A test CA, server certificates it signed (for "localhost"/127.0.0.1 and for another
// host name, one expired) and a self-signed one, made by openssl once per process in a folder
// removed at exit. ECDSA P-256 keys, group-readable by Debian-exim.

#include <string>

namespace vigilo::test {

struct CertPair {
  std::string cert;         // PEM file
  std::string key;          // PEM file, unencrypted
  std::string sha256;       // fingerprint of the DER certificate, lowercase hex without separators
  std::string sha256Colon;  // the same as openssl prints it: "AB:CD:..."
};

struct TestCertificates {
  std::string dir;      // folder holding every file
  CertPair ca;          // "Vigilo Test CA"
  CertPair server;      // CN=localhost, subjectAltName DNS:localhost, IP:127.0.0.1
  CertPair other;       // CN=other.example.test, subjectAltName DNS:other.example.test
  CertPair expired;     // like `server`, but valid only in January 2020
  CertPair selfSigned;  // like `server`, but signed by itself
};

// Made on first use; throws std::runtime_error when openssl fails.
const TestCertificates& Certificates();

}  // namespace vigilo::test
