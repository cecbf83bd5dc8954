#pragma once
// The one conversion between the program's UTF-8 text and the widgets' QString.

#include <QString>
#include <string>

namespace vigilo {

inline QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
inline std::string S(const QString& s) {
  return s.toUtf8().toStdString();
}

}  // namespace vigilo
