// The hints added to "error.log" lines when a refusal says what the server wants.

#include <gtest/gtest.h>

#include "core/check.h"
#include "core/mailhint.h"
#include "mail/msexcept.h"

namespace vigilo {
namespace {

TEST(MailErrorHint, RefusalsGetTheHintTheyAskForOthersNone) {
  const std::pair<const char*, const char*> cases[] = {
      {"-ERR [PRIVACY] Use STLS first", "требует шифрование"},
      {"530 5.7.0 Must issue a STARTTLS command first", "требует шифрование"},
      {"535 Incorrect authentication data", "имя или пароль SMTP"},
      {"550 5.7.0 Authentication required", "авторизацию SMTP"},
      {"SMTP authentication needs an encrypted connection; the password was not sent",
       "пароль не отправлен"},
      {"-ERR [AUTH] Authentication failed.", ""},
      {"550 Unrouteable address", ""},
      {"Operation timed out", ""},
  };
  for (const auto& [line, words] : cases) {
    const std::string hint = MailErrorHint(line);
    EXPECT_EQ(hint.empty(), !*words) << line;
    EXPECT_NE(hint.find(words), std::string::npos) << line;
  }
  // The logged line keeps the server's text; an untrusted certificate asks for its fingerprint.
  EXPECT_EQ(WithMailErrorHint(ms::EmsServerError("530 5.7.0 Must issue a STARTTLS command first")),
            "530 5.7.0 Must issue a STARTTLS command first (сервер требует шифрование: "
            "включите STARTTLS или TLS в настройках)");
  const std::string untrusted =
      WithMailErrorHint(ms::EmsTlsError(ms::EmsTlsError::Untrusted, "TLS failed"));
  EXPECT_EQ(untrusted.rfind("TLS failed (", 0), 0u);
  EXPECT_NE(untrusted.find("отпечаток сертификата"), std::string::npos);
  // An unknown stored level never means plain text.
  EXPECT_EQ(SecurityOf(0), ms::TmsSecurity::None);
  EXPECT_EQ(SecurityOf(2), ms::TmsSecurity::TLS);
  EXPECT_EQ(SecurityOf(7), ms::TmsSecurity::StartTLS);
}

}  // namespace
}  // namespace vigilo
