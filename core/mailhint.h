#pragma once
// Hints for "error.log": when a server's refusal or a TLS failure says what the
// server wants, the logged line keeps the server's text and gets one short
// plain-language hint in the user's language.

#include <exception>
#include <string>

namespace vigilo {

// The hint for a server's reply line (POP3 or SMTP) or an error text, with its
// leading blank and parentheses; "" when the text asks for nothing in particular.
std::string MailErrorHint(const std::string& text);

// e.what() followed by its hint; TLS failures get theirs from their reason.
std::string WithMailErrorHint(const std::exception& e);

}  // namespace vigilo
