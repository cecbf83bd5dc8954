#pragma once
// Digests (through OpenSSL) and the fingerprints written with them.

#include <cstddef>
#include <string>
#include <string_view>

struct evp_md_ctx_st;  // OpenSSL's EVP_MD_CTX

namespace vigilo {

// Lower-case hex of `size` bytes.
std::string HexLower(const unsigned char* data, std::size_t size);

// Lower-case hex of the SHA-256 digest of data.
std::string Sha256Hex(std::string_view data);

// A SHA-256 digest fed in pieces; copies go on independently.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256& other);
  Sha256& operator=(const Sha256& other);
  void Update(std::string_view data);
  // Lower-case hex of the digest of everything fed so far; the digest can go on.
  std::string Hex() const;

 private:
  ::evp_md_ctx_st* ctx_;
};

// A SHA-256 fingerprint as 64 lower-case hex digits, or "" when the text is not
// one. Colons and blanks between the digits are allowed, and so is a label before
// "=", so the "sha256 Fingerprint=AB:CD:..." line of `openssl x509 -fingerprint`
// can be pasted as it is.
std::string NormalizeFingerprint(std::string_view text);

// "AB:CD:..." (upper case, colon-separated) from lower-case hex digits.
std::string ColonFingerprint(std::string_view hex);

}  // namespace vigilo
