#include "mail/mssasl.h"
#include "base/text.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cctype>

#include "mail/mscodec.h"
#include "mail/msexcept.h"

namespace ms {

std::string SaslPlainResponse(const std::string& user, const std::string& password) {
  return EncodeBase64Text(std::string(1, '\0') + user + std::string(1, '\0') + password);
}

std::string CramMd5Response(const std::string& user, const std::string& password,
                            const std::string& challengeBase64) {
  std::string challenge;
  try {
    challenge = DecodeBase64Text(challengeBase64);
  } catch (const EmsError&) {
    throw EmsError("The server's CRAM-MD5 challenge is not base64");
  }
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!HMAC(EVP_md5(), password.data(), static_cast<int>(password.size()),
            reinterpret_cast<const unsigned char*>(challenge.data()), challenge.size(), mac,
            &length))
    throw EmsError("CRAM-MD5 is not available");
  static const char* hex = "0123456789abcdef";
  std::string digest;
  for (unsigned int i = 0; i < length; ++i) {
    digest += hex[mac[i] >> 4];
    digest += hex[mac[i] & 15];
  }
  return EncodeBase64Text(user + " " + digest);
}

std::vector<std::string> AuthMechanismsOf(const std::string& ehloLine) {
  std::vector<std::string> words;
  std::string word;
  for (char c : ehloLine + " ") {
    if (c == ' ' || c == '\t' || (c == '=' && words.empty())) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += vigilo::AsciiUpper(c);
    }
  }
  if (words.empty() || words[0] != "AUTH") return {};
  words.erase(words.begin());
  return words;
}

}  // namespace ms
