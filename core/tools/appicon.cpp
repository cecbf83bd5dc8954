// vigilo_appicon DIR SIZE...: writes the program's icon as DIR/vigilo-SIZE.png for each
// size, drawn by the same code as the tray's pictures. Run by the build for installation.

#include <QImage>
#include <QString>
#include <cstdio>

#include "core/ui/imagelist.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("Usage: vigilo_appicon DIR SIZE...\n", stderr);
    return 2;
  }
  // Painting shapes into an image needs no application object and no display.
  const QString dir = QString::fromLocal8Bit(argv[1]);
  for (int i = 2; i < argc; ++i) {
    bool ok = false;
    const int size = QString::fromLatin1(argv[i]).toInt(&ok);
    if (!ok || size < 1 || size > 1024) {
      std::fprintf(stderr, "vigilo_appicon: bad size %s\n", argv[i]);
      return 2;
    }
    const QString file = dir + QStringLiteral("/vigilo-%1.png").arg(size);
    if (!vigilo::DrawProgramIcon(size).save(file, "PNG")) {
      std::fprintf(stderr, "vigilo_appicon: cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
