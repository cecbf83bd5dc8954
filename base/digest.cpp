#include "base/digest.h"

#include <openssl/evp.h>

#include <new>
#include <stdexcept>

#include "base/text.h"

namespace vigilo {

std::string HexLower(const unsigned char* data, std::size_t size) {
  static constexpr const char* kHex = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    out += kHex[data[i] >> 4];
    out += kHex[data[i] & 15];
  }
  return out;
}

std::string Sha256Hex(std::string_view data) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (!EVP_Digest(data.data(), data.size(), md, &n, EVP_sha256(), nullptr))
    throw std::runtime_error("SHA-256 is not available");
  return HexLower(md, n);
}

namespace {

EVP_MD_CTX* NewContext() {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  if (!ctx) throw std::bad_alloc();
  return ctx;
}

}  // namespace

Sha256::Sha256() : ctx_(NewContext()) {
  if (!EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr)) {
    EVP_MD_CTX_free(ctx_);
    throw std::runtime_error("SHA-256 is not available");
  }
}

Sha256::~Sha256() {
  EVP_MD_CTX_free(ctx_);
}

Sha256::Sha256(const Sha256& other) : ctx_(NewContext()) {
  if (!EVP_MD_CTX_copy_ex(ctx_, other.ctx_)) {
    EVP_MD_CTX_free(ctx_);
    throw std::runtime_error("SHA-256 state cannot be copied");
  }
}

Sha256& Sha256::operator=(const Sha256& other) {
  if (this != &other && !EVP_MD_CTX_copy_ex(ctx_, other.ctx_))
    throw std::runtime_error("SHA-256 state cannot be copied");
  return *this;
}

void Sha256::Update(std::string_view data) {
  if (!EVP_DigestUpdate(ctx_, data.data(), data.size()))
    throw std::runtime_error("SHA-256 update failed");
}

std::string Sha256::Hex() const {
  Sha256 copy(*this);
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (!EVP_DigestFinal_ex(copy.ctx_, md, &n)) throw std::runtime_error("SHA-256 final failed");
  return HexLower(md, n);
}

std::string NormalizeFingerprint(std::string_view text) {
  const std::size_t eq = text.rfind('=');
  if (eq != std::string_view::npos) text.remove_prefix(eq + 1);
  std::string out;
  for (const char c : text) {
    if (c == ':' || c == ' ' || c == '\t') continue;
    const char l = AsciiLower(c);
    if (!((l >= '0' && l <= '9') || (l >= 'a' && l <= 'f')) || out.size() == 64) return {};
    out += l;
  }
  return out.size() == 64 ? out : std::string();
}

std::string ColonFingerprint(std::string_view hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    if (!out.empty()) out += ':';
    out += AsciiUpper(hex[i]);
    out += AsciiUpper(hex[i + 1]);
  }
  return out;
}

}  // namespace vigilo
