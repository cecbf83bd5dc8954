#pragma once
// The compose window and the address book, and their connections to the tray data module
// and the mailbox viewer.

#include <memory>

namespace vigilo {

class TForm8;
class TForm9;
class TMailViewer;
class Tdm;

struct ComposeWindows {
  ComposeWindows();
  ComposeWindows(ComposeWindows&&) noexcept;
  ~ComposeWindows();

  std::unique_ptr<TForm9> Form9;
  std::unique_ptr<TForm8> Form8;
  // What the viewer calls for "Отправить ответ", a mail link and its address-book items.
  struct ViewerServices;
  std::unique_ptr<ViewerServices> Services;
};

// Creates TForm9 and TForm8 and connects "Отправить сообщение по почте" and
// "Адресная книга", and the viewer's reply and address-book commands when a viewer is
// given (it must outlive the windows' use). A send waits until no check runs.
ComposeWindows WireCompose(Tdm& tdm, TMailViewer* viewer);

}  // namespace vigilo
