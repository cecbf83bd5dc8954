// The check cycle as Tdm shows it: tray icon, tooltip, menus and progress window.

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QThread>

#include "base/text.h"
#include "core/ui/datm.h"
#include "core/ui/prbar.h"

namespace vigilo {

void Tdm::StartCheck() {
  // The settings may be edited now (a tick or "Проверить почту" after Resume while
  // the window is open): no check reads them half-changed.
  if (settingsRunning_) return;
  try {
    Check->StartCheck();
  } catch (const std::exception& e) {
    ShowError(e.what());
  }
}

void Tdm::UpdateStatus() {
  Check->UpdateStatus();
}

void Tdm::ShowError(const std::string& text) {
  if (OnError) {
    OnError(text);
    return;
  }
  QMessageBox::critical(nullptr, QCoreApplication::applicationName(), QString::fromStdString(text));
}

void Tdm::ConfItemClick(int32_t conf) {
  if (settingsRunning_ || passwordOpen_) return;  // numbers may change there
  CurConf = conf;
  Timer1->stop();
  WhenNotBusy([this, conf] {
    if (conf >= 0 && static_cast<std::size_t>(conf) < Settings().Conf.size()) {
      // Copies: the prompt runs an event loop in which the settings may change.
      const tuser u = Settings().Conf[static_cast<std::size_t>(conf)];
      bool granted = !u.ViewMail;
      if (u.ViewMail) {
        const std::string name = Trim(u.ConfigNM);
        passwordOpen_ = true;
        UpdateCommandItems();  // no settings while the prompt is open
        const auto typed = AskPassword ? AskPassword("Пароль к " + name) : std::nullopt;
        passwordOpen_ = false;
        UpdateCommandItems();
        granted = typed && *typed == u.UserPwd;
        if (!granted) ShowError("Пароль не верен. Просмотр почты в " + name + " запрещен.");
      }
      if (granted) emit HeadersRequested(conf);
    }
    StartTimer1();
  });
}

void Tdm::PlayCheckFrames() {
  TrayIcon1->SetIconList(&ImageList4);
  for (int frame = 0; frame < 8; ++frame) {
    TrayIcon1->SetIconIndex(frame);
    QThread::msleep(static_cast<unsigned long>(FramePauseMs));
  }
}

void Tdm::ShowCheckAnimation() {
  TrayIcon1->SetIconList(&ImageList4);
  TrayIcon1->SetCycleInterval(100);
  TrayIcon1->SetCycleIcons(true);
}

void Tdm::ShowMailWaiting() {
  TrayIcon1->SetCycleInterval(500);
  TrayIcon1->SetIconList(&ImageList1);
  TrayIcon1->SetCycleIcons(true);  // blinks between icons 0 and 1, starting at 0
}

void Tdm::ShowSteadyIcon() {
  TrayIcon1->SetCycleIcons(false);
  TrayIcon1->SetIconList(&ImageList1);
  TrayIcon1->SetIconIndex(1);
}

void Tdm::SetHint(const std::string& hint) {
  TrayIcon1->SetHint(hint);
}

void Tdm::SetTrayMenu(TrayMenu menu) {
  TrayIcon1->SetPopupMenu(menu == TrayMenu::Short ? PopupMenu2 : PopupMenu1);
}

void Tdm::ClearConfItems() {
  for (QAction* a : n5Items_) {
    N5->removeAction(a);
    a->deleteLater();
  }
  for (QAction* a : confItems_) {
    ConfMenu->removeAction(a);
    a->deleteLater();
  }
  n5Items_.clear();
  confItems_.clear();
}

void Tdm::AddConfItems(int32_t conf) {
  for (QMenu* menu : {N5, ConfMenu}) {
    QAction* item = menu->addAction(QString());
    item->setData(conf);  // the tag
    connect(item, &QAction::triggered, this, [this, conf] { ConfItemClick(conf); });
    (menu == N5 ? n5Items_ : confItems_).push_back(item);
  }
}

void Tdm::SetConfItem(std::size_t position, const ConfItemLook& look) {
  for (std::vector<QAction*>* items : {&n5Items_, &confItems_}) {
    if (position >= items->size()) continue;
    QAction* item = (*items)[position];
    item->setEnabled(look.Enabled);
    item->setText(QString::fromStdString(look.Caption));
    item->setIcon(ImageList5.Icon(look.Picture));
  }
}

Tprogress* Tdm::CreateProgress() {
  ReleaseProgress();
  Progress = new Tprogress();
  Progress->PlaceLowerRight();
  return Progress;
}

void Tdm::ShowProgress(const std::string& label1, const std::string& label2, int max) {
  CreateProgress();
  Progress->Bar->setRange(0, max > 0 ? max : 0);
  Progress->Label1->setText(QString::fromStdString(label1));
  Progress->Label2->setText(QString::fromStdString(label2));
  Progress->show();
}

void Tdm::SetProgress(int position, const std::string& label2) {
  if (!Progress) return;
  Progress->Bar->setValue(position);
  Progress->Label2->setText(QString::fromStdString(label2));
}

void Tdm::SetProgressLabels(const std::string& label1, const std::string& label2) {
  if (!Progress) return;
  Progress->Label1->setText(QString::fromStdString(label1));
  Progress->Label2->setText(QString::fromStdString(label2));
}

bool Tdm::ProgressVisible() const {
  return Progress && Progress->isVisible();
}

void Tdm::ReleaseProgress() {
  if (!Progress) return;
  Tprogress* window = Progress;
  Progress = nullptr;
  window->hide();
  delete window;
}

void Tdm::POPClientTransferProgress(ms::TmsSocketBase&, int, int ByteCount, int) {
  if (!Progress) return;
  Progress->Label2->setText(
      QString::fromStdString(TransferProgressText(ByteCount, Progress->Bar->maximum())));
  Progress->Bar->setValue(ByteCount);
}

}  // namespace vigilo
