#pragma once
// The tray menus' two looks: the standard one, and the owner-drawn one with a
// picture banner down the left side and gradient items (while Ponty is on).

#include <QMenu>
#include <QString>

namespace vigilo {

class TVgMenu : public QMenu {
 public:
  // banner: the caption down the side ("" for a menu without a banner).
  explicit TVgMenu(QString banner = {}, QWidget* parent = nullptr);
  ~TVgMenu() override;

  void SetOwnerDrawn(bool on);
  bool OwnerDrawn() const { return ownerDrawn_; }
  const QString& Banner() const { return banner_; }
  // Width of the banner strip while it shows.
  static constexpr int kBannerWidth = 26;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString banner_;
  bool ownerDrawn_ = false;
};

}  // namespace vigilo
