#pragma once
// The mailbox viewer in the tray program: TForm2 created once, shown for the
// configuration the tray menu names.

#include <memory>

namespace vigilo {

class Tdm;
class TForm2;
struct Folders;

class ViewerWiring {
 public:
  virtual ~ViewerWiring() = default;
  virtual TForm2& Form() = 0;
};

// Creates the viewer window and connects Tdm::HeadersRequested to it.
std::unique_ptr<ViewerWiring> WireViewer(Tdm& dm, const Folders& folders);

}  // namespace vigilo
