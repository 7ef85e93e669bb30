// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dlgDrive.h"

#include "common/kxShared.h"
#include "media/kxDrives.h"
#include "ui/logic/kxWindowTexts.h"
#include "ui/Controls.h"
#include "ui/UserInteraction.h"

#include <QComboBox>
#include <QPushButton>

namespace kx::ui {

TfrmSelectDrive::TfrmSelectDrive(TUserInteraction& Ui_, QWidget* Parent)
    : QDialog(Parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      DriveLister([] { return ListOpticalDrives(); }),
      Ui(Ui_)
{
  SetUpDialog(*this, QStringLiteral("frmSelectDrive"), QStringLiteral("Choosing a disk drive"), QSize(288, 111),
                  QColor(0xE8, 0xE8, 0xE8));

  Label1 = MakeLabel(this, QStringLiteral("Please select a drive from the list below:"), {16, 16});
  cb = new QComboBox(this);
  cb->setObjectName(QStringLiteral("cb"));
  cb->setGeometry(16, 40, 257, 21);
  // Shown while the list is empty, so that an empty choice says why.
  cb->setPlaceholderText(QStringLiteral("No optical drive was found."));
  bOK = MakeButton(this, QStringLiteral("bOK"), QStringLiteral("OK"), {120, 72, 72, 25}, TButtonRole::Default);
  bCancel = MakeButton(this, QStringLiteral("bCancel"), QStringLiteral("Cancel"), {200, 72, 72, 25});
  setTabOrder(cb, bOK);
  setTabOrder(bOK, bCancel);
  connect(bOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool TfrmSelectDrive::SelectDrive(char& Drive)
{
  cb->clear();
  // A disc's label is whatever its maker wrote.
  for (const std::string& line : DriveLister()) cb->addItem(QString::fromStdString(VisibleText(line)));
  if (cb->count() > 0) cb->setCurrentIndex(0);
  cb->setFocus();
  if (Ui.RunModal(*this) != QDialog::Accepted || cb->currentIndex() < 0) return false;
  const QString line = cb->currentText();
  if (line.isEmpty()) return false;
  Drive = AsciiUpper(line.at(0).toLatin1());
  return true;
}

}  // namespace kx::ui
