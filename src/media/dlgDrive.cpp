#include "media/dlgDrive.h"

#include "common/kxShared.h"
#include "media/kxDrives.h"
#include "ui/Controls.h"
#include "ui/UserInteraction.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace kx {

TfrmSelectDrive::TfrmSelectDrive(ui::TUserInteraction& Ui_, QWidget* Parent)
    : QDialog(Parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      DriveLister([] { return ListOpticalDrives(); }),
      Ui(Ui_)
{
  ui::SetUpDialog(*this, QStringLiteral("frmSelectDrive"), QStringLiteral("Choosing a disk drive"), QSize(288, 111),
                  QColor(0xE8, 0xE8, 0xE8));

  Label1 = new QLabel(QStringLiteral("Please select a drive from the list below:"), this);
  Label1->move(16, 16);
  Label1->adjustSize();
  cb = new QComboBox(this);
  cb->setObjectName(QStringLiteral("cb"));
  cb->setGeometry(16, 40, 257, 21);
  bOK = new QPushButton(QStringLiteral("OK"), this);
  bOK->setObjectName(QStringLiteral("bOK"));
  bOK->setGeometry(120, 72, 72, 25);
  bOK->setDefault(true);
  bCancel = new QPushButton(QStringLiteral("Cancel"), this);
  bCancel->setObjectName(QStringLiteral("bCancel"));
  bCancel->setGeometry(200, 72, 72, 25);
  setTabOrder(cb, bOK);
  setTabOrder(bOK, bCancel);
  connect(bOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool TfrmSelectDrive::SelectDrive(char& Drive)
{
  cb->clear();
  for (const std::string& line : DriveLister()) cb->addItem(QString::fromLocal8Bit(line));
  if (cb->count() > 0) cb->setCurrentIndex(0);
  cb->setFocus();
  if (Ui.RunModal(*this) != QDialog::Accepted || cb->currentIndex() < 0) return false;
  const QString line = cb->currentText();
  if (line.isEmpty()) return false;
  Drive = AsciiUpper(line.at(0).toLatin1());
  return true;
}

}  // namespace kx
