#pragma once
// The compose window and the address book, and their connections to the tray data module.

#include <memory>

namespace vigilo {

class TForm8;
class TForm9;
class Tdm;

struct ComposeWindows {
  std::unique_ptr<TForm9> form9;
  std::unique_ptr<TForm8> form8;
  ComposeWindows();
  ComposeWindows(ComposeWindows&&) noexcept;
  ~ComposeWindows();
};

// Creates TForm9 and TForm8 and connects "Отправить сообщение по почте" and
// "Адресная книга". A send waits until no check runs and checks after it.
ComposeWindows WireCompose(Tdm& tdm);

}  // namespace vigilo
