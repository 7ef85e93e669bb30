// The desktop shell: choosing a folder, and opening a page or file with the program the desktop
// associates with it.
#pragma once

#include <QString>

class QUrl;
class QWidget;

namespace kx {

// A blocking choice of one existing folder; empty when the person cancels.
QString BrowseForFolder(QWidget* Parent, const QString& Caption);

// Opens Url as the desktop does for a double click; whether that worked is not examined.
void ShellOpen(const QUrl& Url);

}  // namespace kx
