// The hints added to "error.log" lines when a refusal says what the server wants.

#include <gtest/gtest.h>

#include "core/check.h"
#include "core/mailhint.h"
#include "mail/msexcept.h"
#include "mail/mstls.h"

namespace vigilo {
namespace {

bool HintSays(const std::string& line, const std::string& words) {
  return MailErrorHint(line).find(words) != std::string::npos;
}

TEST(MailErrorHint, RefusalsThatAskForEncryptionOrLogin) {
  for (const char* line : {
           "-ERR [AUTH] Plaintext authentication disallowed on non-secure (SSL/TLS) connections.",
           "-ERR [PRIVACY] Use STLS first",
           "-ERR Command not permitted without TLS",
           "530 5.7.0 Must issue a STARTTLS command first",
           "530 5.7.11 Encryption required",
       })
    EXPECT_TRUE(HintSays(line, "требует шифрование: включите STARTTLS или TLS")) << line;
  EXPECT_TRUE(HintSays("535 Incorrect authentication data", "имя или пароль SMTP"));
  EXPECT_TRUE(HintSays("535 5.7.8 Error: authentication failed", "имя или пароль SMTP"));
  EXPECT_TRUE(HintSays("550 5.7.0 Authentication required", "авторизацию SMTP"));
  EXPECT_TRUE(HintSays("530 5.7.0 Authentication required", "авторизацию SMTP"));
  EXPECT_TRUE(
      HintSays("SMTP authentication needs an encrypted connection; the password was "
               "not sent",
               "пароль не отправлен"));
}

TEST(MailErrorHint, OtherRefusalsGetNone) {
  for (const char* line : {"-ERR [AUTH] Authentication failed.", "-ERR [IN-USE] Mailbox locked",
                           "550 Unrouteable address", "554 5.7.1 Relay access denied by policy",
                           "Operation timed out", ""})
    EXPECT_EQ(MailErrorHint(line), "") << line;
}

TEST(MailErrorHint, LoggedLineKeepsTheServerTextAndTlsReasonsGetTheirHint) {
  const ms::EmsServerError refused("530 5.7.0 Must issue a STARTTLS command first");
  EXPECT_EQ(WithMailErrorHint(refused),
            "530 5.7.0 Must issue a STARTTLS command first (сервер требует шифрование: "
            "включите STARTTLS или TLS в настройках)");
  const ms::EmsTlsError untrusted(ms::EmsTlsError::Untrusted, "TLS handshake failed: unknown");
  EXPECT_EQ(WithMailErrorHint(untrusted).rfind("TLS handshake failed: unknown (", 0), 0u);
  EXPECT_NE(WithMailErrorHint(untrusted).find("отпечаток сертификата"), std::string::npos);
  for (auto why : {ms::EmsTlsError::Expired, ms::EmsTlsError::WrongHost, ms::EmsTlsError::Rejected,
                   ms::EmsTlsError::Handshake})
    EXPECT_NE(WithMailErrorHint(ms::EmsTlsError(why, "x")), "x");
  // An unknown stored level never means plain text.
  EXPECT_EQ(SecurityOf(0), ms::TmsSecurity::None);
  EXPECT_EQ(SecurityOf(2), ms::TmsSecurity::TLS);
  EXPECT_EQ(SecurityOf(7), ms::TmsSecurity::StartTLS);
}

}  // namespace
}  // namespace vigilo
