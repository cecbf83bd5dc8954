#pragma once
// The link under the caret of the message pane: a web address ("http..." or
// "www...") reaching back from the caret, or a mail address around an "@" near it.
// Works on one line of the pane as UTF-16 code units, the way the pane counts columns.

#include <string>

namespace vigilo {

enum class LinkKind { None, Web, Mail };

struct LinkAtCaret {
  LinkKind Kind = LinkKind::None;
  std::size_t Start = 0;  // 0-based position of the link in the line
  std::u16string Text;    // empty when no link was found
};

// The link at column `caret` (characters before the caret on `line`). Web addresses
// end at the first of  " , blank ! ) ( [ ] | + ^ ` ; ESC ; mail addresses also at
// ~ : ? . A final "." (or separator) is not part of the link.
LinkAtCaret FindLinkAtCaret(const std::u16string& line, std::size_t caret);

}  // namespace vigilo
