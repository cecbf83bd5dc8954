#pragma once
// TForm1: the about window, also the program's main window (hidden but for the splash
// at start and the menu command "О программе"). It shows the version, links to the
// maker's pages, the publisher's version text (Memo1) and an information text (Memo2)
// that scrolls slowly upward while the window is shown.

#include <QPoint>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "core/about.h"

class QFrame;
class QLabel;
class QTextEdit;

namespace vigilo {

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  // version: the program's version; program_file: the program's file, whose date the
  // label shows; update_url: the publisher's address (empty: no version check, and
  // the home-page link is disabled); fetch_timeout_s: the longest a fetch may take.
  // Creation starts the version check.
  TForm1(const std::string& version, const std::string& program_file, const std::string& update_url,
         int fetch_timeout_s = 30, QWidget* parent = nullptr);
  ~TForm1() override;

  // Shows the window for `ms` milliseconds while the event loop runs, then hides it.
  void Splash(int ms = 1200);
  // Puts fetched lines into Memo1 or Memo2 (on the GUI thread).
  void ApplyText(TVersion::Which which, const std::vector<std::string>& lines);

  QLabel* v1 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label5 = nullptr;
  QTextEdit* Memo1 = nullptr;
  QFrame* Panel1 = nullptr;
  QLabel* Memo2 = nullptr;
  QLabel* Image1 = nullptr;  // the close picture
  QLabel* Image3 = nullptr;
  QTimer* ScrollTimer = nullptr;
  TAboutScroll Scroll;
  std::unique_ptr<TVersion> Version;

  // Lines of Memo2 as the scrolling counts them.
  int Memo2Lines() const { return memo2Lines_; }
  // Where a link label leads (empty when disabled).
  QString LinkTarget(const QLabel* label) const;
  // Opens a link; the desktop's URL handler by default.
  std::function<void(const QString& url)> OpenUrl;

 signals:
  // The window was closed as the main window is (not only hidden): the program ends.
  void MainWindowClosed();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Image1Click();
  void ScrollTimerTimer();
  void SetMemo2(const std::vector<std::string>& lines);
  QLabel* AddLink(const char* caption, const char* hint, const QString& target, int x, int y);

  std::string updateUrl_;
  int memo2Lines_ = 0;
  bool pressed_ = false;
  bool dragged_ = false;
  QPoint pressAt_;
  QPoint windowAt_;
};

}  // namespace vigilo
