// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's controls: the toolbar, the list with its header, the location field, the
// status line and the menu, as the window's form lays them out.
#include "ui/Main.h"

#include "ui/Controls.h"
#include "ui/FileListView.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QStandardItemModel>
#include <QToolButton>
#include <QVBoxLayout>

namespace kx::ui {

namespace {

// A panel whose children keep fixed places, the location field stretching with it.
class TLocationPanel : public QWidget {
 public:
  using QWidget::QWidget;
  QWidget* Stretching = nullptr;

 protected:
  void resizeEvent(QResizeEvent*) override
  {
    if (Stretching != nullptr) Stretching->setGeometry(112, 8, std::max(0, width() - 112 - 7), 21);
  }
};

struct THeaderSection {
  const char* Text;
  int Width;
};
constexpr THeaderSection HeaderSections[] = {{"File name", 340}, {"Ext", 70}, {"Offset", 100}, {"Size (bytes)", 100}};

}  // namespace

bool TLocationEdit::event(QEvent* Event)
{
  if (Event->type() == QEvent::ShortcutOverride) {
    const auto* key = static_cast<QKeyEvent*>(Event);
    if (MenuShortcuts.contains(QKeySequence(key->keyCombination()))) {
      Event->ignore();
      return true;
    }
  }
  return QLineEdit::event(Event);
}

void TfrmMain::BuildForm()
{
  setObjectName(QStringLiteral("frmMain"));
  setFont(SansFont());
  setWindowIcon(LoadIcon(QStringLiteral("tessarin")));
  FixBackground(*this, QColor(0xE6, 0xE6, 0xE6));

  auto* client = new QWidget(this);
  client->setAutoFillBackground(true);
  auto* layout = new QVBoxLayout(client);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  setCentralWidget(client);

  BuildToolbar();
  BuildList();
  BuildLocation();
  pStatusBar = new QLabel(client);
  pStatusBar->setObjectName(QStringLiteral("pStatusBar"));
  pStatusBar->setFixedHeight(20);
  pStatusBar->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  pStatusBar->setFrameShape(QFrame::Panel);
  pStatusBar->setFrameShadow(QFrame::Sunken);
  layout->addWidget(pToolbar);
  layout->addWidget(GroupBox1, 1);
  layout->addWidget(pDiskLocation);
  layout->addWidget(pStatusBar);
  BuildMenu();

  setMinimumSize(480, 210);
  PlaceFirst();
}

void TfrmMain::PlaceFirst()
{
  // The client area is 632 x 526 below the menu.
  PlaceOnScreen(*this, QSize(632, 526 + menuBar()->sizeHint().height()));
}

void TfrmMain::BuildToolbar()
{
  pToolbar = new QWidget(centralWidget());
  pToolbar->setObjectName(QStringLiteral("pToolbar"));
  pToolbar->setFixedHeight(42);
  struct TButton {
    QToolButton*& Button;
    const char* Name;
    int X;
    const char* Hint;
    const char* Icon;
  };
  const TButton buttons[] = {
      {sbNew, "sbNew", 8, "Create a new project", "new"},
      {sbOpen, "sbOpen", 40, "Open an existing project", "open"},
      {sbSave, "sbSave", 72, "Save your project", "save"},
      {sbOpenImage, "sbOpenImage", 112, "Open a disk image file", "openimage"},
      {sbOpenDrive, "sbOpenDrive", 144, "Open a disk drive", "opendrive"},
      {sbRecognize, "sbRecognize", 184, "Recognize lost files on disk", "recognize"},
      {sbExtract, "sbExtract", 216, "Extract the selected files", "extract"},
      {sbContents, "sbContents", 256, "Help contents", "contents"},
      {sbDonate, "sbDonate", 288, "Please donate!", "donate"},
  };
  for (const TButton& b : buttons) {
    b.Button = new QToolButton(pToolbar);
    b.Button->setObjectName(QString::fromLatin1(b.Name));
    b.Button->setGeometry(b.X, 4, 32, 32);
    b.Button->setAutoRaise(true);
    b.Button->setToolTip(QString::fromLatin1(b.Hint));
    b.Button->setIcon(LoadIcon(QString::fromLatin1(b.Icon)));
    b.Button->setIconSize(QSize(28, 28));
    b.Button->setFocusPolicy(Qt::NoFocus);
  }
  connect(sbNew, &QToolButton::clicked, this, &TfrmMain::miNewClick);
  connect(sbOpen, &QToolButton::clicked, this, &TfrmMain::miOpenClick);
  connect(sbSave, &QToolButton::clicked, this, &TfrmMain::miSaveClick);
  connect(sbExtract, &QToolButton::clicked, this, &TfrmMain::miExtractClick);
  connect(sbOpenImage, &QToolButton::clicked, this, &TfrmMain::miOpenImageClick);
  connect(sbOpenDrive, &QToolButton::clicked, this, &TfrmMain::miOpenDriveClick);
  connect(sbRecognize, &QToolButton::clicked, this, &TfrmMain::miRecognizeClick);
  connect(sbContents, &QToolButton::clicked, this, &TfrmMain::miContentsClick);
  connect(sbDonate, &QToolButton::clicked, this, &TfrmMain::miDonateClick);
}

void TfrmMain::BuildList()
{
  GroupBox1 = new TGroupBox(QStringLiteral("Recognized files"), centralWidget());
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  auto* layout = new QVBoxLayout(GroupBox1);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setSpacing(0);

  HeaderModel = new QStandardItemModel(0, 4, this);
  for (int i = 0; i < 4; ++i)
    HeaderModel->setHorizontalHeaderItem(i, new QStandardItem(QString::fromLatin1(HeaderSections[i].Text)));
  hc = new QHeaderView(Qt::Horizontal, GroupBox1);
  hc->setObjectName(QStringLiteral("hc"));
  hc->setModel(HeaderModel);
  hc->setFixedHeight(20);
  hc->setMinimumSectionSize(32);
  hc->setSectionsClickable(true);
  hc->setHighlightSections(false);
  hc->setSortIndicatorShown(false);
  hc->setStretchLastSection(false);
  hc->setSectionResizeMode(QHeaderView::Interactive);
  hc->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  for (int i = 0; i < 4; ++i) hc->resizeSection(i, HeaderSections[i].Width);

  lb = new TFileListBox(GroupBox1);
  lb->setObjectName(QStringLiteral("lb"));
  Model = new TFileListModel(FileList, this);
  lb->setModel(Model);
  Delegate = new TFileListDelegate(*hc, this);
  lb->setItemDelegate(Delegate);
  layout->addWidget(hc);
  layout->addWidget(lb, 1);

  connect(hc, &QHeaderView::sectionClicked, this, &TfrmMain::hcSectionClick);
  connect(hc, &QHeaderView::sectionResized, this, &TfrmMain::hcSectionResize);
  connect(lb->selectionModel(), &QItemSelectionModel::selectionChanged, this, &TfrmMain::lbClick);
  // The Extract items follow the selection, so that their keys work whenever rows are selected,
  // not only after the Image menu was opened.
  connect(lb->selectionModel(), &QItemSelectionModel::selectionChanged, this, &TfrmMain::miImageClick);
  connect(Model, &QAbstractItemModel::modelReset, this, &TfrmMain::miImageClick);
  connect(lb, &QAbstractItemView::doubleClicked, this, &TfrmMain::lbDblClick);
  connect(lb, &TFileListBox::EnterPressed, this, &TfrmMain::lbDblClick);
  // The status line gives the focused entry's state.
  connect(lb->selectionModel(), &QItemSelectionModel::currentChanged, this, &TfrmMain::UpdateStatus);
}

void TfrmMain::BuildLocation()
{
  auto* panel = new TLocationPanel(centralWidget());
  pDiskLocation = panel;
  pDiskLocation->setObjectName(QStringLiteral("pDiskLocation"));
  pDiskLocation->setFixedHeight(40);
  Label1 = MakeLabel(pDiskLocation, QStringLiteral("CD/DVD location:"), {8, 12});
  eDiskLocation = new TLocationEdit(pDiskLocation);
  eDiskLocation->setObjectName(QStringLiteral("eDiskLocation"));
  panel->Stretching = eDiskLocation;
  Label1->setBuddy(eDiskLocation);
  connect(eDiskLocation, &QLineEdit::textChanged, this, &TfrmMain::eDiskLocationChange);
}

void TfrmMain::BuildMenu()
{
  QMenuBar* bar = menuBar();
  // The bar stands on the window's own light background: its items' text is black too.
  QPalette colours = bar->palette();
  colours.setColor(QPalette::ButtonText, Qt::black);
  bar->setPalette(colours);
  const auto add = [this](QMenu* Menu, const char* Caption, const QKeySequence& Shortcut, void (TfrmMain::*Handler)()) {
    QAction* action = Menu->addAction(QString::fromLatin1(Caption));
    action->setShortcut(Shortcut);
    // The menu's keys work wherever the focus is in the window, the list and the field included.
    action->setShortcutContext(Qt::WindowShortcut);
    if (Handler != nullptr) connect(action, &QAction::triggered, this, Handler);
    return action;
  };
  const auto makeDefault = [](QAction* Action) {
    QFont font = Action->font();
    font.setBold(true);
    Action->setFont(font);
  };

  // Alt and the underlined letter open a menu, as on every desktop; Alt+I must never reach the
  // location field as an "i".
  miProject = bar->addMenu(QStringLiteral("&Project"));
  miNew = add(miProject, "New project", QKeySequence(Qt::CTRL | Qt::Key_N), &TfrmMain::miNewClick);
  miOpen = add(miProject, "Open project...", QKeySequence(Qt::CTRL | Qt::Key_O), &TfrmMain::miOpenClick);
  miSave = add(miProject, "Save project", QKeySequence(Qt::CTRL | Qt::Key_S), &TfrmMain::miSaveClick);
  miSaveAs = add(miProject, "Save project as...", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), &TfrmMain::miSaveAsClick);
  miProject->addSeparator();
  miExit = add(miProject, "Exit", QKeySequence(), &TfrmMain::miExitClick);

  miImage = bar->addMenu(QStringLiteral("&Image"));
  connect(miImage, &QMenu::aboutToShow, this, &TfrmMain::miImageClick);
  miOpenImage = add(miImage, "Open image file...", QKeySequence(Qt::CTRL | Qt::Key_I), &TfrmMain::miOpenImageClick);
  miOpenDrive = add(miImage, "Open disk drive...", QKeySequence(Qt::CTRL | Qt::Key_D), &TfrmMain::miOpenDriveClick);
  miCreateImage = add(miImage, "Create image from physical disk...", QKeySequence(Qt::CTRL | Qt::Key_Y),
                      &TfrmMain::miCreateImageClick);
  miRescue = add(miImage, "Rescue damaged disc...", QKeySequence(), &TfrmMain::miRescueClick);
  miImage->addSeparator();
  miRecognize = add(miImage, "Recognize files...", QKeySequence(Qt::CTRL | Qt::Key_R), &TfrmMain::miRecognizeClick);
  makeDefault(miRecognize);
  miExtract = add(miImage, "Extract...", QKeySequence(Qt::CTRL | Qt::Key_E), &TfrmMain::miExtractClick);
  miExtractGrouped = add(miImage, "Extract grouped by extension...", QKeySequence(Qt::CTRL | Qt::Key_G),
                         &TfrmMain::miExtractGroupedClick);
  miCheckFiles = add(miImage, "Check found files", QKeySequence(), &TfrmMain::miCheckFilesClick);
  miImage->addSeparator();
  miFind = add(miImage, "Find...", QKeySequence(Qt::CTRL | Qt::Key_F), &TfrmMain::miFindClick);
  miFindNext = add(miImage, "Find Next", QKeySequence(Qt::Key_F3), &TfrmMain::miFindNextClick);
  miFindPrevious = add(miImage, "Find Previous", QKeySequence(Qt::SHIFT | Qt::Key_F3), &TfrmMain::miFindPreviousClick);

  miHelp = bar->addMenu(QStringLiteral("&Help"));
  miContents = add(miHelp, "Contents", QKeySequence(Qt::Key_F1), &TfrmMain::miContentsClick);
  miHelp->addSeparator();
  Homepage1 = add(miHelp, "Homepage...", QKeySequence(), &TfrmMain::Homepage1Click);
  miContact = add(miHelp, "Contact us...", QKeySequence(), &TfrmMain::miContactClick);
  miDonate = add(miHelp, "Donate!", QKeySequence(), &TfrmMain::miDonateClick);
  makeDefault(miDonate);
  miHelp->addSeparator();
  miAbout = add(miHelp, "About...", QKeySequence(), &TfrmMain::miAboutClick);

  miImageClick();
  // The actions belong to the window, so their shortcuts work while the menu bar is closed.
  for (QMenu* menu : {miProject, miImage, miHelp})
    for (QAction* action : menu->actions()) {
      addAction(action);
      if (!action->shortcut().isEmpty()) eDiskLocation->MenuShortcuts.append(action->shortcut());
    }
}

}  // namespace kx::ui
