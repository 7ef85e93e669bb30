// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own pages (help.html, readme.html) in a window of the program's own, for a
// desktop that has no program to open them: links to other pages of the program follow within
// it, links to the web are handed to the desktop.
#pragma once

#include <QDialog>

class QTextBrowser;
class QUrl;

namespace kx::ui {

class TPageViewer : public QDialog {
  Q_OBJECT

 public:
  // Shows Page, a local HTML file; its title is the page's own.
  explicit TPageViewer(const QUrl& Page, QWidget* Parent = nullptr);

  QTextBrowser* Browser;
};

}  // namespace kx::ui
