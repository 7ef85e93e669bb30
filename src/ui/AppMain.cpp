// SPDX-License-Identifier: GPL-3.0-or-later
// tessarin: the desktop program.
#include "common/kxVersion.h"
#include "ui/Controls.h"
#include "ui/Main.h"
#include "ui/UserInteraction.h"

#include <QApplication>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Qt aborts when it finds no display; a clear word is kinder.
bool DisplayAvailable()
{
  const auto set = [](const char* Name) {
    const char* value = std::getenv(Name);
    return value != nullptr && *value != '\0';
  };
  return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

const char* const Usage =
    "Usage: tessarin [PROJECT.kx]\n"
    "Tessarin recovers lost files from CD and DVD media and disc images: the desktop program.\n"
    "PROJECT.kx, when given, is opened at start.\n"
    "\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "tessarin-cli --help lists the command-line commands.\n";

}  // namespace

int main(int argc, char** argv)
{
  // Answered before a display is needed, so that they work anywhere (and for help2man).
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("tessarin %s\n%s", kx::ProgramVersion, kx::LicenceNotice);
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(Usage, stdout);
      return 0;
    }
  }
  if (!DisplayAvailable()) {
    std::fprintf(stderr,
                 "tessarin: the desktop program needs a display (DISPLAY or WAYLAND_DISPLAY); tessarin-cli --help lists the "
                 "command-line commands.\n");
    return 1;
  }
  QApplication app(argc, argv);
  // No display name: Qt would append it to every window title, which shows each window's own.
  QApplication::setApplicationName(QStringLiteral("Tessarin"));
  QApplication::setFont(kx::ui::SansFont());

  kx::ui::TUserInteraction ui;
  kx::ui::TfrmMain window(ui);
  window.show();
  // Qt has taken its own options (-platform, ...) out of the arguments; the first other word is
  // the project, as a file manager passes it on a double click.
  const QStringList arguments = QApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    if (arguments[i].startsWith(QLatin1Char('-'))) continue;
    window.OpenProjectFile(QFileInfo(arguments[i]).absoluteFilePath().toLocal8Bit().toStdString());
    break;
  }
  return QApplication::exec();
}
