#pragma once
// The SASL mechanisms the SMTP client authenticates with (RFC 4954): PLAIN
// (RFC 4616), LOGIN and CRAM-MD5 (RFC 2195). Only the encodings live here;
// the dialogue is in the SMTP client.

#include <string>
#include <vector>

namespace ms {

// base64 of "\0user\0password".
std::string SaslPlainResponse(const std::string& user, const std::string& password);
// base64 of user + " " + the hexadecimal HMAC-MD5 of the challenge keyed with
// the password; challengeBase64 is the server's 334 text. Raises EmsError when
// the challenge is not base64.
std::string CramMd5Response(const std::string& user, const std::string& password,
                            const std::string& challengeBase64);
// The mechanisms of an EHLO "AUTH" (or old "AUTH=") line's text, upper case;
// empty when the line is no AUTH line.
std::vector<std::string> AuthMechanismsOf(const std::string& ehloLine);

}  // namespace ms
