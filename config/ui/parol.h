#pragma once
// TForm5: the password prompt. It only collects the text; each caller compares it
// with the configuration's password and gives its own message.

#include <QDialog>
#include <optional>
#include <string>

class QGroupBox;
class QLineEdit;
class QPushButton;

namespace vigilo {

class TForm5 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm5(QWidget* parent = nullptr);

  QGroupBox* GroupBox1 = nullptr;  // "Введите пароль:"
  QLineEdit* pwd = nullptr;
  QPushButton* BitBtn1 = nullptr;  // "Ок": Enter and Escape both press it
  // The text typed, taken when "Ок" is pressed.
  std::string Entered;

  // Sets the caption, shows the prompt modally and gives Entered when it closed with
  // "Ок"; std::nullopt when the close box was used.
  std::optional<std::string> Ask(const std::string& caption);

  void BitBtn1Click();

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace vigilo
