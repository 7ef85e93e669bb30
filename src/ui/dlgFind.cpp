// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dlgFind.h"

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

namespace kx::ui {

namespace {

// "Min. size:" or "Max. size:" at Y: the adjust label and its number edit of sizes.
void BuildSizeEdit(QWidget* Parent, const QString& Which, int Y, const QString& Initial, TAdjustLabel*& Label,
                   TNumberEdit*& Edit)
{
  Label = new TAdjustLabel(Which + QStringLiteral(". size:"), Parent);
  Label->setObjectName(QStringLiteral("al") + Which + QStringLiteral("Size"));
  Label->setGeometry(8, Y, 60, 21);
  Edit = new TNumberEdit(Parent);
  Edit->setObjectName(QStringLiteral("ne") + Which + QStringLiteral("Size"));
  Edit->setGeometry(72, Y, 193, 21);
  Edit->Min = 0;
  Edit->Max = FindMaxSize;
  Edit->Increment = 1;
  Edit->setText(Initial);
  Label->AttachedEdit = Edit;
}

}  // namespace

TfrmFind::TfrmFind(TUserInteraction& Ui_, QListView& List_, const TkxFileList& FileList_, QWidget* Parent)
    : QDialog(Parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      Ui(Ui_),
      List(List_),
      FileList(FileList_)
{
  SetUpDialog(*this, QStringLiteral("frmFind"), QStringLiteral("Find"), QSize(273, 176));
  setModal(false);

  Label1 = MakeLabel(this, QStringLiteral("Enter a fragment of the file name:"), {8, 8}, false, QStringLiteral("Label1"));
  eName = new QLineEdit(this);
  eName->setObjectName(QStringLiteral("eName"));
  eName->setGeometry(8, 26, 257, 21);
  Label1->setBuddy(eName);
  cbCase = new QCheckBox(QStringLiteral("Case sensitive"), this);
  cbCase->setObjectName(QStringLiteral("cbCase"));
  cbCase->setGeometry(8, 54, 257, 17);
  BuildSizeEdit(this, QStringLiteral("Min"), 84, QStringLiteral("0"), alMinSize, neMinSize);
  BuildSizeEdit(this, QStringLiteral("Max"), 112, QStringLiteral("64000000000"), alMaxSize, neMaxSize);
  bNext = MakeButton(this, QStringLiteral("bNext"), QStringLiteral("Next"), {32, 144, 73, 25}, TButtonRole::Default);
  bPrev = MakeButton(this, QStringLiteral("bPrev"), QStringLiteral("Previous"), {112, 144, 73, 25});
  bClose = MakeButton(this, QStringLiteral("bClose"), QStringLiteral("Close"), {192, 144, 73, 25});

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
    // A tool window is not given the keyboard back when the message closes: the person goes on
    // typing here.
    if (isVisible()) {
      activateWindow();
      raise();
    }
    return;
  }
  // One step, so that the list never shows the found row beside an old selection.
  const QModelIndex index = List.model()->index(row, 0);
  List.selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  List.scrollTo(index);
}

void TfrmFind::bCloseClick() { close(); }

}  // namespace kx::ui
