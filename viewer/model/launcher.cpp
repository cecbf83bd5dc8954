#include "viewer/model/launcher.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

namespace vigilo {

bool StartDetachedProgram(const std::string& program, const std::vector<std::string>& args) {
  QStringList list;
  for (const std::string& a : args)
    list << QString::fromStdString(a);
  return QProcess::startDetached(QString::fromStdString(program), list);
}

bool OpenWithDesktop(const std::string& path_or_url) {
  const QString text = QString::fromStdString(path_or_url);
  const QUrl url = text.startsWith('/') ? QUrl::fromLocalFile(text) : QUrl(text);
  return QDesktopServices::openUrl(url);
}

}  // namespace vigilo
