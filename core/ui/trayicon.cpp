#include "core/ui/trayicon.h"

#include <QAction>
#include <QMenu>

namespace vigilo {

TTrayIcon::TTrayIcon(QObject* parent) : QObject(parent) {
  connect(&cycle_, &QTimer::timeout, this, &TTrayIcon::CycleTick);
  connect(&tray_, &QSystemTrayIcon::activated, this, &TTrayIcon::Activate);
  cycle_.setInterval(model_.CycleInterval());
}

void TTrayIcon::SetIconList(ImageList* list) {
  list_ = list;
  model_.SetListSize(list ? list->Count() : 0);
  Refresh();
}

void TTrayIcon::SetIconIndex(int index) {
  model_.SetIconIndex(index);
  Refresh();
}

void TTrayIcon::SetCycleIcons(bool on) {
  if (list_) model_.SetListSize(list_->Count());
  model_.SetCycling(on);
  if (on) {
    cycle_.start(model_.CycleInterval());
  } else {
    cycle_.stop();
  }
  Refresh();
}

void TTrayIcon::SetCycleInterval(int ms) {
  model_.SetCycleInterval(ms);
  cycle_.setInterval(model_.CycleInterval());
}

void TTrayIcon::SetHint(const std::string& hint) {
  model_.SetHint(hint);
  tray_.setToolTip(QString::fromStdString(model_.Hint()));
}

void TTrayIcon::SetPopupMenu(QMenu* menu) {
  menu_ = menu;
  tray_.setContextMenu(menu);
}

QIcon TTrayIcon::CurrentIcon() const {
  const int i = model_.DisplayedIcon();
  return (list_ && i >= 0) ? list_->Icon(i) : QIcon();
}

void TTrayIcon::Refresh() {
  if (list_) {
    // The list may have grown or shrunk since it was chosen; keep the index.
    const int index = model_.IconIndex();
    if (model_.ListSize() != list_->Count()) {
      model_.SetListSize(list_->Count());
      model_.SetIconIndex(index);
    }
  }
  tray_.setIcon(CurrentIcon());
}

void TTrayIcon::CycleTick() {
  model_.Tick();
  tray_.setIcon(CurrentIcon());
}

void TTrayIcon::Activate(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      if (OnClick) OnClick();
      break;
    case QSystemTrayIcon::DoubleClick:
      if (menu_ && menu_->defaultAction() && menu_->defaultAction()->isEnabled()) {
        menu_->defaultAction()->trigger();
      }
      break;
    default:
      break;  // the context menu opens through the tray itself
  }
}

}  // namespace vigilo
