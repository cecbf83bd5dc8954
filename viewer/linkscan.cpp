#include "viewer/linkscan.h"

#include <string_view>

namespace vigilo {
namespace {

constexpr std::u16string_view kS1 = u"\", !)([]|+^`;\x1B";
constexpr std::u16string_view kS2 = u"\", !)([]|+^`;\x1B~:?";

bool In(std::u16string_view set, char16_t c) {
  return set.find(c) != std::u16string_view::npos;
}

// Positions count from 1; position 0 reads as position 1.
class Line {
 public:
  explicit Line(const std::u16string& s) : s_(s) {}
  std::size_t Length() const { return s_.size(); }
  char16_t At(std::size_t p) const {
    if (p == 0) p = 1;
    return p <= s_.size() ? s_[p - 1] : u'\0';
  }
  bool StartsAt(std::size_t p, std::u16string_view word) const {
    if (p == 0) p = 1;
    return p <= s_.size() && std::u16string_view(s_).substr(p - 1, word.size()) == word;
  }

 private:
  const std::u16string& s_;
};

// Web: from the caret back to a separator, the last "http" (or "www") met.
std::size_t FindWeb(const Line& l, std::size_t x, std::u16string_view word) {
  for (std::size_t p = x + 1; p-- > 0;) {
    if (In(kS1, l.At(p))) return 0;
    if (l.StartsAt(p, word)) return p;
  }
  return 0;
}

// The start of a mail address whose "@" is at p.
std::size_t MailStart(const Line& l, std::size_t p) {
  for (std::size_t q = p + 1; q-- > 0;) {
    if (In(kS2, l.At(q))) return q + 1;
  }
  return 1;
}

}  // namespace

LinkAtCaret FindLinkAtCaret(const std::u16string& text, std::size_t x) {
  const Line l(text);
  if (x > l.Length()) x = l.Length();
  LinkAtCaret link;
  std::size_t start = FindWeb(l, x, u"http");
  if (start == 0) start = FindWeb(l, x, u"www");
  if (start != 0) {
    link.Kind = LinkKind::Web;
  } else {
    for (std::size_t p = x; p <= l.Length(); ++p) {  // forwards to an "@"
      if (In(kS2, l.At(p))) break;
      if (l.At(p) == u'@') {
        link.Kind = LinkKind::Mail;
        start = MailStart(l, p);
        break;
      }
    }
    if (start == 0) {
      for (std::size_t p = x + 1; p-- > 0;) {  // backwards to an "@"
        if (In(kS2, l.At(p))) break;
        if (l.At(p) == u'@') {
          link.Kind = LinkKind::Mail;
          start = MailStart(l, p);
          break;
        }
      }
    }
  }
  if (start == 0 || start > l.Length()) return {};
  std::u16string t = text.substr(start - 1);
  const std::u16string_view stops = link.Kind == LinkKind::Web ? kS1 : kS2;
  for (std::size_t e = 0; e < t.size(); ++e) {
    if (In(stops, t[e])) {
      t.resize(e);
      break;
    }
  }
  if (!t.empty() && (In(kS2, t.back()) || t.back() == u'.')) t.pop_back();
  if (t.empty()) return {};
  link.Start = start - 1;
  link.Text = std::move(t);
  return link;
}

}  // namespace vigilo
