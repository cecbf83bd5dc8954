// The secure side of the SMTP client's Login: EHLO, STARTTLS (RFC 3207) and
// AUTH (RFC 4954).

#include <algorithm>
#include <cctype>

#include "base/text.h"
#include "mail/mscodec.h"
#include "mail/msexcept.h"
#include "mail/mssasl.h"
#include "mail/mssmtp.h"
#include "mail/mswsock.h"

namespace ms {
namespace {

constexpr int kMaxEhloLines = 1000;

std::string FirstWord(const std::string& line) {
  const size_t end = line.find_first_of(" =\t");
  return vigilo::AsciiUpper(line.substr(0, end));
}

}  // namespace

bool TmsSMTPClient::Ehlo() {
  extensions_.clear();
  const std::string name = HeloName.empty() ? LocalHostName() : HeloName;
  WriteLine("EHLO " + name);
  const int code = ReadReply();
  std::vector<std::string> lines;
  if (code >= 1 && LastReply.find('-') == 3) {
    for (int n = 0;; ++n) {
      if (ClosedByPeer()) break;
      if (n >= kMaxEhloLines) throw EmsError("The server's reply has too many lines");
      const int next = ReadReply();
      lines.push_back(LastReply.size() > 4 ? LastReply.substr(4) : std::string());
      if (next == code && (LastReply.size() == 3 || LastReply.find(' ') == 3)) break;
    }
  }
  if (code == 250) extensions_ = std::move(lines);
  return code == 250;
}

bool TmsSMTPClient::Offers(const std::string& keyword) const {
  return std::any_of(extensions_.begin(), extensions_.end(),
                     [&](const std::string& line) { return FirstWord(line) == keyword; });
}

void TmsSMTPClient::LoginExtended() {
  const bool auth = !AuthUser.empty();
  if (Security != TmsSecurity::None) CheckTlsOptions(Tls);
  // Decided before any connection: the password never crosses the network
  // in plain text unless the configuration says so.
  if (auth && Security == TmsSecurity::None && !AllowPlainAuth)
    throw EmsError(
        "SMTP authentication needs an encrypted connection (STARTTLS or TLS); the password "
        "was not sent");
  if (Security == TmsSecurity::TLS)
    ConnectTLS(*this, TlsHostOf(*this), Tls);  // Connect checks Host first
  else
    Connect();
  if (ReadMultiLineReply() != 220) throw EmsServerError(LastReply);
  if (!Ehlo()) {
    // A server without ESMTP can still take mail when nothing more than the
    // greeting is needed.
    if (Security == TmsSecurity::StartTLS || auth) throw EmsServerError(LastReply);
    WriteLine("HELO " + (HeloName.empty() ? LocalHostName() : HeloName));
    ReadMultiLineReply();
    return;
  }
  if (Security == TmsSecurity::StartTLS) {
    if (!Offers("STARTTLS")) throw EmsError("The server " + Host() + " does not offer STARTTLS");
    WriteLine("STARTTLS");
    if (ReadMultiLineReply() != 220) throw EmsServerError(LastReply);
    StartTLS(*this, TlsHostOf(*this), Tls);
    // What the server said before TLS counts no more (RFC 3207 4.2).
    if (!Ehlo()) throw EmsServerError(LastReply);
  }
  if (auth) Authenticate();
}

void TmsSMTPClient::Authenticate() {
  std::vector<std::string> offered;
  for (const std::string& line : extensions_)
    for (const std::string& m : AuthMechanismsOf(line))
      offered.push_back(m);
  // A server that asks for no authentication gets none; one that needs it
  // refuses MAIL FROM with its own words.
  if (offered.empty()) return;
  const bool encrypted = IsEncrypted(*this);
  if (!encrypted && !AllowPlainAuth)
    throw EmsError("SMTP authentication needs an encrypted connection; the password was not sent");
  auto has = [&](const std::string& m) {
    return std::find(offered.begin(), offered.end(), m) != offered.end();
  };
  std::string mechanism = vigilo::AsciiUpper(AuthMechanism);
  if (!mechanism.empty()) {
    if (!has(mechanism))
      throw EmsError("The server does not offer the authentication method " + mechanism);
  } else {
    // Over TLS the simplest method is as safe as any; in plain text CRAM-MD5
    // at least keeps the password itself off the wire.
    const std::vector<std::string> order =
        encrypted ? std::vector<std::string>{"PLAIN", "LOGIN", "CRAM-MD5"}
                  : std::vector<std::string>{"CRAM-MD5", "PLAIN", "LOGIN"};
    for (const std::string& m : order)
      if (has(m)) {
        mechanism = m;
        break;
      }
    if (mechanism.empty())
      throw EmsError("The server offers no authentication method this program knows");
  }
  const std::string user = AuthUser.substr(0, 255);
  const std::string password = AuthPassword.substr(0, 255);
  int code;
  if (mechanism == "PLAIN") {
    WriteLine("AUTH PLAIN " + SaslPlainResponse(user, password));
    code = ReadMultiLineReply();
  } else if (mechanism == "LOGIN") {
    WriteLine("AUTH LOGIN");
    code = ReadMultiLineReply();
    if (code == 334) {
      WriteLine(EncodeBase64Text(user));
      code = ReadMultiLineReply();
    }
    if (code == 334) {
      WriteLine(EncodeBase64Text(password));
      code = ReadMultiLineReply();
    }
  } else if (mechanism == "CRAM-MD5") {
    WriteLine("AUTH CRAM-MD5");
    code = ReadMultiLineReply();
    if (code == 334) {
      std::string response;
      try {
        response = CramMd5Response(user, password, LastReply.size() > 4 ? LastReply.substr(4) : "");
      } catch (const EmsError&) {
        WriteLine("*");  // cancels the exchange
        ReadMultiLineReply();
        throw;
      }
      WriteLine(response);
      code = ReadMultiLineReply();
    }
  } else {
    throw EmsError("The authentication method " + mechanism + " is not supported");
  }
  if (code != 235) throw EmsServerError(LastReply);
}

}  // namespace ms
