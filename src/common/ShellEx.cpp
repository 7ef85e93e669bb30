#include "common/ShellEx.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>

namespace kx {

QString BrowseForFolder(QWidget* Parent, const QString& Caption)
{
  return QFileDialog::getExistingDirectory(Parent, Caption, QString(), QFileDialog::ShowDirsOnly);
}

void ShellOpen(const QUrl& Url) { QDesktopServices::openUrl(Url); }

}  // namespace kx
