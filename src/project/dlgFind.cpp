#include "project/dlgFind.h"

#include "ui/AdjustControl.h"
#include "ui/Controls.h"
#include "ui/NumberEdit.h"
#include "ui/UserInteraction.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScreen>

namespace kx {

TfrmFind::TfrmFind(ui::TUserInteraction& Ui_, QListView& List_, const TkxFileList& FileList_, QWidget* Parent)
    : QDialog(Parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      Ui(Ui_),
      List(List_),
      FileList(FileList_)
{
  ui::SetUpDialog(*this, QStringLiteral("frmFind"), QStringLiteral("Find"), QSize(273, 176));
  setModal(false);

  Label1 = new QLabel(QStringLiteral("Enter a fragment of the file name:"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->move(8, 8);
  Label1->adjustSize();
  eName = new QLineEdit(this);
  eName->setObjectName(QStringLiteral("eName"));
  eName->setGeometry(8, 26, 257, 21);
  Label1->setBuddy(eName);
  cbCase = new QCheckBox(QStringLiteral("Case sensitive"), this);
  cbCase->setObjectName(QStringLiteral("cbCase"));
  cbCase->setGeometry(8, 54, 257, 17);

  alMinSize = new ui::TAdjustLabel(QStringLiteral("Min. size:"), this);
  alMinSize->setObjectName(QStringLiteral("alMinSize"));
  alMinSize->setGeometry(8, 84, 60, 21);
  neMinSize = new ui::TNumberEdit(this);
  neMinSize->setObjectName(QStringLiteral("neMinSize"));
  neMinSize->setGeometry(72, 84, 193, 21);
  neMinSize->Min = 0;
  neMinSize->Max = FindMaxSize;
  neMinSize->Increment = 1;
  neMinSize->setText(QStringLiteral("0"));
  alMinSize->AttachedEdit = neMinSize;

  alMaxSize = new ui::TAdjustLabel(QStringLiteral("Max. size:"), this);
  alMaxSize->setObjectName(QStringLiteral("alMaxSize"));
  alMaxSize->setGeometry(8, 112, 60, 21);
  neMaxSize = new ui::TNumberEdit(this);
  neMaxSize->setObjectName(QStringLiteral("neMaxSize"));
  neMaxSize->setGeometry(72, 112, 193, 21);
  neMaxSize->Min = 0;
  neMaxSize->Max = FindMaxSize;
  neMaxSize->Increment = 1;
  neMaxSize->setText(QStringLiteral("64000000000"));
  alMaxSize->AttachedEdit = neMaxSize;

  bNext = new QPushButton(QStringLiteral("Next"), this);
  bNext->setObjectName(QStringLiteral("bNext"));
  bNext->setGeometry(32, 144, 73, 25);
  bNext->setDefault(true);
  bPrev = new QPushButton(QStringLiteral("Previous"), this);
  bPrev->setObjectName(QStringLiteral("bPrev"));
  bPrev->setGeometry(112, 144, 73, 25);
  bClose = new QPushButton(QStringLiteral("Close"), this);
  bClose->setObjectName(QStringLiteral("bClose"));
  bClose->setGeometry(192, 144, 73, 25);

  setTabOrder(eName, cbCase);
  setTabOrder(cbCase, neMinSize);
  setTabOrder(neMinSize, neMaxSize);
  setTabOrder(neMaxSize, bNext);
  setTabOrder(bNext, bPrev);
  setTabOrder(bPrev, bClose);
  eName->setFocus();

  connect(bNext, &QPushButton::clicked, this, [this] { bFindClick(bNext); });
  connect(bPrev, &QPushButton::clicked, this, [this] { bFindClick(bPrev); });
  connect(bClose, &QPushButton::clicked, this, &TfrmFind::bCloseClick);

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
}

void TfrmFind::ShowFind()
{
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

TkxFindCriteria TfrmFind::Criteria() const
{
  TkxFindCriteria criteria;
  criteria.Fragment = eName->text().toLocal8Bit().toStdString();
  criteria.CaseSensitive = cbCase->isChecked();
  criteria.MinSize = neMinSize->Value();
  criteria.MaxSize = neMaxSize->Value();
  return criteria;
}

void TfrmFind::bFindClick(QObject* Sender)
{
  const int step = Sender == bNext ? 1 : -1;
  const TkxFindMatcher matcher(Criteria());
  // The row with the focus, whether or not it is selected; -1 when there is none.
  const int current = List.currentIndex().isValid() ? List.currentIndex().row() : -1;
  const std::int32_t row = FindRow(FileList, current, step, matcher);
  if (row < 0 || row >= List.model()->rowCount()) {
    Ui.ShowMessage(isVisible() ? static_cast<QWidget*>(this) : List.window(), QStringLiteral("No matches were found."));
    return;
  }
  // One step, so that the list never shows the found row beside an old selection.
  const QModelIndex index = List.model()->index(row, 0);
  List.selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  List.scrollTo(index);
}

void TfrmFind::bCloseClick() { close(); }

}  // namespace kx
