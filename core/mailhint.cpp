#include "core/mailhint.h"

#include <cctype>

#include "base/text.h"
#include "mail/mstls.h"

namespace vigilo {
namespace {

const char kWantsTls[] = " (сервер требует шифрование: включите STARTTLS или TLS в настройках)";
const char kWantsAuth[] = " (сервер требует вход: включите авторизацию SMTP в настройках)";
const char kBadLogin[] = " (сервер не принял имя или пароль SMTP: проверьте их в настройках)";
const char kLocalRefusal[] =
    " (пароль не отправлен без шифрования: включите STARTTLS или TLS в настройках)";

bool Has(const std::string& lower, const char* word) {
  return lower.find(word) != std::string::npos;
}

bool MentionsTls(const std::string& l) {
  return Has(l, "tls") || Has(l, "ssl") || Has(l, "stls") || Has(l, "encrypt") || Has(l, "secure");
}

}  // namespace

std::string MailErrorHint(const std::string& text) {
  const std::string l = AsciiLower(std::string_view(text).substr(0, 512));
  // Our own refusal to send a password over a plain connection.
  if (Has(l, "needs an encrypted connection")) return kLocalRefusal;
  if (l.rfind("-err", 0) == 0) {
    // POP3: "-ERR [AUTH] Plaintext authentication disallowed on non-secure (SSL/TLS)
    // connections.", "-ERR [PRIVACY] ...", "-ERR Command not permitted without TLS".
    if (Has(l, "plaintext") || Has(l, "plain-text") || Has(l, "plain text") ||
        ((Has(l, "[privacy]") || Has(l, "[auth]")) && MentionsTls(l)) || Has(l, "without tls") ||
        Has(l, "without ssl"))
      return kWantsTls;
    return {};
  }
  // SMTP: "530 5.7.0 Must issue a STARTTLS command first", "530 5.7.11 Encryption
  // required", "538 5.7.11 Encryption required for requested authentication mechanism".
  const bool code530 = l.rfind("530", 0) == 0;
  if ((code530 || l.rfind("538", 0) == 0 || Has(l, "5.7.11") || Has(l, "5.7.0")) &&
      (Has(l, "starttls") || Has(l, "encryption") || Has(l, "tls first")))
    return kWantsTls;
  // "535 5.7.8 Authentication credentials invalid", "535 Incorrect authentication data".
  if (l.rfind("535", 0) == 0) return kBadLogin;
  // "530 5.7.0 Authentication required", "550 5.7.1 Relaying denied. Proper
  // authentication required.", "550 5.7.0 Authentication required".
  if ((code530 || l.rfind("550", 0) == 0 || l.rfind("554", 0) == 0) && Has(l, "authenticat"))
    return kWantsAuth;
  return {};
}

std::string WithMailErrorHint(const std::exception& e) {
  const std::string text = e.what();
  if (const auto* tls = dynamic_cast<const ms::EmsTlsError*>(&e)) {
    switch (tls->Why()) {
      case ms::EmsTlsError::Expired:
        return text +
               " (срок сертификата сервера истёк или ещё не наступил: проверьте часы "
               "компьютера)";
      case ms::EmsTlsError::WrongHost:
        return text +
               " (сертификат выдан другому серверу: проверьте имя сервера или укажите "
               "отпечаток сертификата в настройках)";
      case ms::EmsTlsError::Untrusted:
      case ms::EmsTlsError::Rejected:
        return text +
               " (сертификат сервера не подтверждён: если вы доверяете серверу, укажите "
               "отпечаток сертификата в настройках)";
      case ms::EmsTlsError::Handshake:
        return text +
               " (защищённое соединение не установлено: проверьте порт и вид "
               "шифрования в настройках)";
    }
  }
  return text + MailErrorHint(text);
}

}  // namespace vigilo
