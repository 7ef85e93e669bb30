// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/PageViewer.h"

#include "ui/Controls.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace kx::ui {

TPageViewer::TPageViewer(const QUrl& Page, QWidget* Parent) : QDialog(Parent, Qt::Window)
{
  setObjectName(QStringLiteral("frmPage"));
  Browser = new QTextBrowser(this);
  Browser->setObjectName(QStringLiteral("Browser"));
  // Web links would be fetched by no one here; the desktop may still have a way to open them.
  Browser->setOpenExternalLinks(true);
  const QFileInfo file(Page.toLocalFile());
  if (file.isFile())
    Browser->setSource(Page);
  else
    Browser->setPlainText(file.filePath() + QStringLiteral(": no such file"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Browser, 1);
  layout->addWidget(buttons);
  const QString title = Browser->documentTitle();
  setWindowTitle(!title.isEmpty() ? title : file.fileName());
  setMinimumSize(240, 160);
  PlaceOnScreen(*this, QSize(640, 520));
}

}  // namespace kx::ui
