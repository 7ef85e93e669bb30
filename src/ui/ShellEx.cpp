// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ShellEx.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>

namespace kx {

QString BrowseForFolder(QWidget* Parent, const QString& Caption, const QString& StartFolder)
{
  return QFileDialog::getExistingDirectory(Parent, Caption, StartFolder, QFileDialog::ShowDirsOnly);
}

bool ShellOpen(const QUrl& Url) { return QDesktopServices::openUrl(Url); }

}  // namespace kx
