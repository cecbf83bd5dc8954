#include "core/app/wire_dialup.h"

#include <QCoreApplication>
#include <QMessageBox>

#include "dialup/msRasCmp.h"

namespace vigilo {

void InstallDialupBoxes() {
  TmsRas::ErrorBox = [](const std::string& text) {
    QString shown = QString::fromStdString(text);
    shown.replace('\r', '\n');
    QMessageBox::critical(nullptr, QCoreApplication::applicationName(), shown);
  };
}

}  // namespace vigilo
