#pragma once
// Certificates made in-process for the TLS tests of the mail library: a CA and
// leaf certificates signed by it (for localhost and 127.0.0.1, for another
// host, one that has expired) plus a self-signed one. EC P-256 keys keep this
// to a few milliseconds. The CA is written to a PEM file for the CAFile option.

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "tests/support/tempdir.h"

namespace tlstest {

struct Cert {
  X509* x = nullptr;
  EVP_PKEY* key = nullptr;
  std::string sha256;  // lower-case hexadecimal
  ~Cert() {
    X509_free(x);
    EVP_PKEY_free(key);
  }
};

inline void AddExtension(X509* x, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, issuer, x, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (!ext) throw std::runtime_error("bad certificate extension");
  X509_add_ext(x, ext, -1);
  X509_EXTENSION_free(ext);
}

// A certificate for cn with the subject alternative names san ("" for none),
// signed by issuer (self-signed when null), valid from fromDays to toDays
// relative to now.
inline std::unique_ptr<Cert> MakeCert(const std::string& cn, const std::string& san,
                                      const Cert* issuer, bool ca, long fromDays = -1,
                                      long toDays = 30) {
  static long serial = 1;
  auto c = std::make_unique<Cert>();
  c->key = EVP_EC_gen("P-256");
  c->x = X509_new();
  X509_set_version(c->x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c->x), serial++);
  X509_gmtime_adj(X509_getm_notBefore(c->x), fromDays * 86400);
  X509_gmtime_adj(X509_getm_notAfter(c->x), toDays * 86400);
  X509_set_pubkey(c->x, c->key);
  X509_NAME* name = X509_get_subject_name(c->x);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
  X509* signer = issuer ? issuer->x : c->x;
  X509_set_issuer_name(c->x, X509_get_subject_name(signer));
  AddExtension(c->x, signer, NID_subject_key_identifier, "hash");
  if (ca) {
    AddExtension(c->x, signer, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(c->x, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    AddExtension(c->x, signer, NID_basic_constraints, "CA:FALSE");
    AddExtension(c->x, signer, NID_ext_key_usage, "serverAuth");
    if (!san.empty()) AddExtension(c->x, signer, NID_subject_alt_name, san.c_str());
  }
  if (issuer) AddExtension(c->x, signer, NID_authority_key_identifier, "keyid");
  X509_sign(c->x, issuer ? issuer->key : c->key, EVP_sha256());
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  X509_digest(c->x, EVP_sha256(), md, &n);
  static const char* hex = "0123456789abcdef";
  for (unsigned int i = 0; i < n; ++i) {
    c->sha256 += hex[md[i] >> 4];
    c->sha256 += hex[md[i] & 15];
  }
  return c;
}

struct CertSet {
  vigilo::test::TempDir dir;
  std::unique_ptr<Cert> ca, localhost, other, expired, selfSigned;
  std::string caFile;

  CertSet() {
    ca = MakeCert("Mail Test CA", "", nullptr, true, -1, 60);
    localhost = MakeCert("localhost", "DNS:localhost,IP:127.0.0.1", ca.get(), false);
    other = MakeCert("other.example.test", "DNS:other.example.test", ca.get(), false);
    expired = MakeCert("localhost", "DNS:localhost,IP:127.0.0.1", ca.get(), false, -10, -1);
    selfSigned = MakeCert("localhost", "DNS:localhost,IP:127.0.0.1", nullptr, false);
    caFile = dir.str() + "ca.pem";
    FILE* f = fopen(caFile.c_str(), "w");
    if (!f) throw std::runtime_error("cannot write " + caFile);
    PEM_write_X509(f, ca->x);
    fclose(f);
  }
};

// Made once per test program.
inline const CertSet& Certs() {
  static CertSet set;
  return set;
}

}  // namespace tlstest
