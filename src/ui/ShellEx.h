// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop shell: choosing a folder, and opening a page or file with the program the desktop
// associates with it.
#pragma once

#include <QString>

class QUrl;
class QWidget;

namespace kx {

// A blocking choice of one existing folder, beginning in StartFolder where one is given; empty
// when the person cancels.
QString BrowseForFolder(QWidget* Parent, const QString& Caption, const QString& StartFolder = {});

// Opens Url as the desktop does for a double click; false when no program could be started for it
// (a desktop without a browser).
bool ShellOpen(const QUrl& Url);

}  // namespace kx
