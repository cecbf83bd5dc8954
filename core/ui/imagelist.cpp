#include "core/ui/imagelist.h"

namespace vigilo {

QIcon ImageList::Icon(int i) const {
  if (i < 0 || i >= Count()) return QIcon();
  return icons[static_cast<std::size_t>(i)];
}

void ImageList::Replace(int i, QIcon icon) {
  if (i >= 0 && i < Count()) icons[static_cast<std::size_t>(i)] = std::move(icon);
}

void ImageList::Delete(int i) {
  if (i >= 0 && i < Count()) icons.erase(icons.begin() + i);
}

}  // namespace vigilo
