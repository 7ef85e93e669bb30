// tessarin: the desktop program.
#include "project/kxWindowTexts.h"
#include "ui/Controls.h"
#include "ui/Main.h"
#include "ui/UserInteraction.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

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

}  // namespace

int main(int argc, char** argv)
{
  if (!DisplayAvailable()) {
    std::fprintf(stderr,
                 "tessarin: the desktop program needs a display (DISPLAY or WAYLAND_DISPLAY); tessarin-cli --help lists the "
                 "command-line commands.\n");
    return 1;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tessarin"));
  QApplication::setApplicationDisplayName(QString::fromLatin1(kx::ApplicationTitle.data()));
  QApplication::setFont(kx::ui::SansFont());

  kx::ui::TUserInteraction ui;
  kx::ui::TfrmMain window(ui);
  window.show();
  return QApplication::exec();
}
