#pragma once
// The tray-icon component: the icon comes from the current image list by index,
// cycles through the list on a timer, carries a tooltip of several lines and
// opens the current popup menu on a right click. Rules in core/trayicon_model.h.

#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <string>

#include "core/trayicon_model.h"
#include "core/ui/imagelist.h"

class QMenu;

namespace vigilo {

class TTrayIcon : public QObject {
  Q_OBJECT

 public:
  explicit TTrayIcon(QObject* parent = nullptr);

  // Choosing a list shows its icon 0.
  void SetIconList(ImageList* list);
  ImageList* IconList() const { return list_; }
  void SetIconIndex(int index);
  int IconIndex() const { return model_.IconIndex(); }
  void SetCycleIcons(bool on);
  bool CycleIcons() const { return model_.Cycling(); }
  void SetCycleInterval(int ms);
  int CycleInterval() const { return model_.CycleInterval(); }
  void SetHint(const std::string& hint);
  const std::string& Hint() const { return model_.Hint(); }
  void SetPopupMenu(QMenu* menu);
  QMenu* PopupMenu() const { return menu_; }
  // Shows the current picture again (after the list's pictures changed).
  void Refresh();

  void Show() { tray_.show(); }
  void Hide() { tray_.hide(); }
  // The picture shown now (null when the list is empty).
  QIcon CurrentIcon() const;
  QSystemTrayIcon& Tray() { return tray_; }

  // Left click.
  std::function<void()> OnClick;
  // Runs the handler of an activation as the tray delivers it.
  void Activate(QSystemTrayIcon::ActivationReason reason);

 private:
  void CycleTick();

  TrayIconModel model_;
  ImageList* list_ = nullptr;
  QMenu* menu_ = nullptr;
  QSystemTrayIcon tray_;
  QTimer cycle_;
};

}  // namespace vigilo
