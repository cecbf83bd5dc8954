#pragma once
// An image list: the 16 x 16 pictures of the tray icon and the menus.

#include <QIcon>
#include <QImage>
#include <string>
#include <vector>

namespace vigilo {

class ImageList {
 public:
  explicit ImageList(std::string name) : name_(std::move(name)) {}

  const std::string& Name() const { return name_; }
  int Count() const { return static_cast<int>(icons.size()); }
  // Icon i; a null icon when i is outside the list.
  QIcon Icon(int i) const;
  void Add(QIcon icon) { icons.push_back(std::move(icon)); }
  void Replace(int i, QIcon icon);
  void Delete(int i);

  std::vector<QIcon> icons;

 private:
  std::string name_;
};

// The built-in pictures of each list, drawn in code.
std::vector<QIcon> DrawImageList1();  // 2: mail waiting, no mail / no connection
std::vector<QIcon> DrawImageList2();  // 11: pictures of the main menu
std::vector<QIcon> DrawImageList3();  // 10: animation after the settings window
std::vector<QIcon> DrawImageList4();  // 8: animation while checking
std::vector<QIcon> DrawImageList5();  // 3: no connection, mail waiting, empty
std::vector<QIcon> DrawImageList6();  // 5: pictures of the menu while stopped
std::vector<QIcon> DrawImageList8();  // 1: checking stopped

// The program's icon (the envelope with mail waiting) at size x size pixels.
QImage DrawProgramIcon(int size);

}  // namespace vigilo
