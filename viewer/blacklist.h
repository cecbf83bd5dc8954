#pragma once
// The blacklist's matching rule: a sender text is blacklisted when some entry equals
// it as a whole, letters compared without regard to case. No substring, pattern or
// address extraction takes place.

#include <string>
#include <string_view>
#include <vector>

namespace vigilo {

// The text with its letters in lower case: ASCII, Latin-1 and Cyrillic letters of
// valid UTF-8; other bytes stay as they are.
std::string FoldCase(std::string_view text);

// a equals b, letters compared without regard to case.
bool SameSenderText(std::string_view a, std::string_view b);

// Some entry of `black` equals `sender` (see SameSenderText); an entry of blanks
// only matches nothing.
bool IsBlacklisted(const std::vector<std::string>& black, std::string_view sender);

}  // namespace vigilo
