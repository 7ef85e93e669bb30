#include "ui/Main.h"

#include "common/kxShared.h"
#include "media/dlgCreateImage.h"
#include "media/dlgDrive.h"
#include "media/kxDisks.h"
#include "project/kxExtract.h"
#include "project/kxProject.h"
#include "project/dlgFind.h"
#include "project/kxWindowTexts.h"
#include "ui/Controls.h"
#include "ui/FileListView.h"
#include "ui/UserInteraction.h"
#include "ui/dlgRecognize.h"

#include <QApplication>
#include <QEventLoop>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStandardItemModel>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <atomic>
#include <limits>

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
// While a long command runs on a worker, the person's input reaches only its progress window, as
// if the command ran on this thread; the window keeps painting, and the list cannot change under
// the worker.
class TInputBlocker : public QObject {
 public:
  explicit TInputBlocker(QWidget* Allowed_) : Allowed(Allowed_) { qApp->installEventFilter(this); }
  ~TInputBlocker() override { qApp->removeEventFilter(this); }
  TInputBlocker(const TInputBlocker&) = delete;
  TInputBlocker& operator=(const TInputBlocker&) = delete;

  bool eventFilter(QObject* Watched, QEvent* Event) override
  {
    switch (Event->type()) {
      case QEvent::Shortcut:
        return true;
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::ContextMenu: {
        const auto* widget = qobject_cast<QWidget*>(Watched);
        if (widget == nullptr) return false;
        return !(Allowed != nullptr && (widget == Allowed || Allowed->isAncestorOf(widget)));
      }
      default:
        return false;
    }
  }

 private:
  QWidget* Allowed;
};

// An extraction runs this long before its progress window appears.
constexpr int ProgressWindowDelayMs = 1000;

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

QUrl HelpPageUrl() { return QUrl::fromLocalFile(QString::fromLocal8Bit(ProgramFolder() + "help.html")); }
QUrl ReadmePageUrl() { return QUrl::fromLocalFile(QString::fromLocal8Bit(ProgramFolder() + "readme.html")); }
QUrl WebSiteUrl(const QString& Page) { return QUrl(QStringLiteral("https://www.veltrane.example/") + Page); }

TfrmMain::TfrmMain(TUserInteraction& Ui_, QWidget* Parent)
    : QMainWindow(Parent), DiskOpener([](const std::string& Location, std::string* Message) { return kx::OpenDisk(Location, Message); }), Ui(Ui_)
{
  setObjectName(QStringLiteral("frmMain"));
  setFont(SansFont());
  setWindowIcon(LoadIcon(QStringLiteral("tessarin")));
  QPalette colours = palette();
  colours.setColor(QPalette::Window, QColor(0xE6, 0xE6, 0xE6));
  setPalette(colours);

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

  frmSelectDrive = std::make_unique<TfrmSelectDrive>(Ui);
  frmRecognize = std::make_unique<TfrmRecognize>(Ui);
  frmCreateImage = std::make_unique<TfrmCreateImage>(Ui);
  // A tool window of the main window: it stays with it, does not keep the program running, and
  // the menu's keys (F3 above all) work in it too.
  frmFind = std::make_unique<TfrmFind>(Ui, *lb, FileList, this);

  // The client area is 632 x 526 below the menu.
  resize(632, 526 + menuBar()->sizeHint().height());
  setMinimumSize(480, 210);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }

  // FormCreate: an empty untitled project.
  ProjectFileName.clear();
  Modified = false;
  UpdateCaption();
  RefreshList();
}

TfrmMain::~TfrmMain() = default;

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
  GroupBox1 = new QGroupBox(QStringLiteral("Recognized files"), centralWidget());
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
  Delegate = new TFileListDelegate(*Model, *hc, this);
  lb->setItemDelegate(Delegate);
  layout->addWidget(hc);
  layout->addWidget(lb, 1);

  connect(hc, &QHeaderView::sectionClicked, this, &TfrmMain::hcSectionClick);
  connect(hc, &QHeaderView::sectionResized, this, &TfrmMain::hcSectionResize);
  connect(lb->selectionModel(), &QItemSelectionModel::selectionChanged, this, &TfrmMain::lbClick);
  connect(lb, &QAbstractItemView::doubleClicked, this, &TfrmMain::lbDblClick);
}

void TfrmMain::BuildLocation()
{
  auto* panel = new TLocationPanel(centralWidget());
  pDiskLocation = panel;
  pDiskLocation->setObjectName(QStringLiteral("pDiskLocation"));
  pDiskLocation->setFixedHeight(40);
  Label1 = new QLabel(QStringLiteral("CD/DVD location:"), pDiskLocation);
  Label1->move(8, 12);
  Label1->adjustSize();
  eDiskLocation = new TLocationEdit(pDiskLocation);
  eDiskLocation->setObjectName(QStringLiteral("eDiskLocation"));
  panel->Stretching = eDiskLocation;
  Label1->setBuddy(eDiskLocation);
  connect(eDiskLocation, &QLineEdit::textChanged, this, &TfrmMain::eDiskLocationChange);
}

void TfrmMain::BuildMenu()
{
  QMenuBar* bar = menuBar();
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

  miProject = bar->addMenu(QStringLiteral("Project"));
  miNew = add(miProject, "New project", QKeySequence(Qt::CTRL | Qt::Key_N), &TfrmMain::miNewClick);
  miOpen = add(miProject, "Open project...", QKeySequence(Qt::CTRL | Qt::Key_O), &TfrmMain::miOpenClick);
  miSave = add(miProject, "Save project", QKeySequence(Qt::CTRL | Qt::Key_S), &TfrmMain::miSaveClick);
  miSaveAs = add(miProject, "Save project as...", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), &TfrmMain::miSaveAsClick);
  miProject->addSeparator();
  miExit = add(miProject, "Exit", QKeySequence(), &TfrmMain::miExitClick);

  miImage = bar->addMenu(QStringLiteral("Image"));
  connect(miImage, &QMenu::aboutToShow, this, &TfrmMain::miImageClick);
  miOpenImage = add(miImage, "Open image file...", QKeySequence(Qt::CTRL | Qt::Key_I), &TfrmMain::miOpenImageClick);
  miOpenDrive = add(miImage, "Open disk drive...", QKeySequence(Qt::CTRL | Qt::Key_D), &TfrmMain::miOpenDriveClick);
  miCreateImage = add(miImage, "Create image from physical disk...", QKeySequence(Qt::CTRL | Qt::Key_Y),
                      &TfrmMain::miCreateImageClick);
  miImage->addSeparator();
  miRecognize = add(miImage, "Recognize files...", QKeySequence(Qt::CTRL | Qt::Key_R), &TfrmMain::miRecognizeClick);
  makeDefault(miRecognize);
  miExtract = add(miImage, "Extract...", QKeySequence(Qt::CTRL | Qt::Key_E), &TfrmMain::miExtractClick);
  miExtractGrouped = add(miImage, "Extract grouped by extension...", QKeySequence(Qt::CTRL | Qt::Key_G),
                         &TfrmMain::miExtractGroupedClick);
  miImage->addSeparator();
  miFind = add(miImage, "Find...", QKeySequence(Qt::CTRL | Qt::Key_F), &TfrmMain::miFindClick);
  miFindNext = add(miImage, "Find Next", QKeySequence(Qt::Key_F3), &TfrmMain::miFindNextClick);
  miFindPrevious = add(miImage, "Find Previous", QKeySequence(Qt::SHIFT | Qt::Key_F3), &TfrmMain::miFindPreviousClick);

  miHelp = bar->addMenu(QStringLiteral("Help"));
  miContents = add(miHelp, "Contents", QKeySequence(Qt::Key_F1), &TfrmMain::miContentsClick);
  miHelp->addSeparator();
  Homepage1 = add(miHelp, "Homepage...", QKeySequence(), &TfrmMain::Homepage1Click);
  miContact = add(miHelp, "Contact us...", QKeySequence(), &TfrmMain::miContactClick);
  miDonate = add(miHelp, "Donate!", QKeySequence(), &TfrmMain::miDonateClick);
  makeDefault(miDonate);
  miHelp->addSeparator();
  miAbout = add(miHelp, "About...", QKeySequence(), &TfrmMain::miAboutClick);


  // The actions belong to the window, so their shortcuts work while the menu bar is closed.
  for (QMenu* menu : {miProject, miImage, miHelp})
    for (QAction* action : menu->actions()) {
      addAction(action);
      if (!action->shortcut().isEmpty()) eDiskLocation->MenuShortcuts.append(action->shortcut());
    }
}

void TfrmMain::UpdateCaption()
{
  setWindowTitle(QString::fromLocal8Bit(MainWindowCaption(ProjectFileName, Modified)));
}

void TfrmMain::RefreshList()
{
  Model->Reset();
  lb->viewport()->update();
  UpdateStatus();
}

std::vector<std::int32_t> TfrmMain::SelectedRows() const
{
  std::vector<std::int32_t> rows;
  for (const QItemSelectionRange& range : lb->selectionModel()->selection())
    for (int row = range.top(); row <= range.bottom(); ++row) rows.push_back(row);
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

void TfrmMain::UpdateStatus()
{
  std::vector<TkxRowRange> ranges;
  for (const QItemSelectionRange& range : lb->selectionModel()->selection())
    ranges.push_back({range.top(), range.bottom()});
  const TkxSelectionSummary summary = SummarizeSelection(FileList, ranges);
  pStatusBar->setText(QString::fromStdString(StatusLineText(summary.Rows, FileList.Count, summary.Bytes)));
}

std::string TfrmMain::LocationText() const { return eDiskLocation->text().toLocal8Bit().toStdString(); }

std::unique_ptr<TkxDisk> TfrmMain::OpenDisk(std::string* Message) const
{
  if (Message) *Message = MountErrorMessage;
  return DiskOpener(LocationText(), Message);
}

void TfrmMain::eDiskLocationChange()
{
  Modified = true;
  UpdateCaption();
}

void TfrmMain::miOpenImageClick()
{
  TFileChoice choice;
  choice.Caption = QStringLiteral("Open image file");
  // The dialog separates the patterns of a filter by spaces.
  choice.Filter = QStringLiteral("All known CD/DVD images (*.bin *.iso *.ibq)");
  const QFileInfo current(eDiskLocation->text());
  if (!eDiskLocation->text().isEmpty() && current.isFile()) choice.FileName = current.absoluteFilePath();
  const QString chosen = Ui.ChooseOpenFile(this, choice);
  if (!chosen.isEmpty()) eDiskLocation->setText(QFileInfo(chosen).absoluteFilePath());
}

void TfrmMain::miOpenDriveClick()
{
  char drive = 0;
  if (frmSelectDrive->SelectDrive(drive)) eDiskLocation->setText(QString(QChar::fromLatin1(drive)) + QLatin1Char(':'));
}

void TfrmMain::miImageClick()
{
  const bool any = lb->selectionModel()->hasSelection();
  miExtract->setEnabled(any);
  miExtractGrouped->setEnabled(any);
}

void TfrmMain::miExitClick() { close(); }

void TfrmMain::miRecognizeClick()
{
  std::string why;
  std::unique_ptr<TkxDisk> disk = OpenDisk(&why);
  if (!disk) {
    Ui.ShowMessage(this, QString::fromLocal8Bit(why));
    return;
  }
  if (frmRecognize->Recognize(std::move(disk), FileList)) {
    Modified = true;
    RefreshList();
    UpdateCaption();
  }
}

void TfrmMain::miFindClick() { frmFind->ShowFind(); }
// The window's criteria hold whether it was ever shown or not.
void TfrmMain::miFindNextClick() { frmFind->bNext->click(); }
void TfrmMain::miFindPreviousClick() { frmFind->bPrev->click(); }

void TfrmMain::hcSectionClick(int Section)
{
  if (Section < 0 || Section > 3) return;
  {
    const TWaitCursor wait;
    FileList.Sort(static_cast<TkxSortKey>(Section));
  }
  RefreshList();
}

void TfrmMain::hcSectionResize() { lb->viewport()->update(); }

void TfrmMain::lbClick() { UpdateStatus(); }

void TfrmMain::lbDblClick() { Extract(TkxExtractMode::Plain); }

void TfrmMain::closeEvent(QCloseEvent* Event)
{
  // FormCloseQuery: unsaved changes may keep the window open; so does a running extraction.
  if (Busy || !QuerySaveProject()) {
    Event->ignore();
    return;
  }
  Event->accept();
}

// ---- projects ----------------------------------------------------------------------------

namespace {

QString ProjectFilter() { return QStringLiteral("Tessarin projects (*.kx)"); }

}  // namespace

bool TfrmMain::QuerySaveProject()
{
  if (!Modified) return true;
  const QString text =
      QStringLiteral("Save changes to project \"%1\"?").arg(QString::fromLocal8Bit(ProjectFileName));
  switch (Ui.AskYesNoCancel(this, ApplicationTitle(), text)) {
    case TAnswer::Yes: return SaveProject(false);
    case TAnswer::No: return true;
    case TAnswer::Cancel: break;
  }
  return false;
}

bool TfrmMain::NewProject()
{
  if (!QuerySaveProject()) return false;
  eDiskLocation->clear();
  FileList.Clear();
  RefreshList();
  ProjectFileName.clear();
  Modified = false;
  UpdateCaption();
  return true;
}

void TfrmMain::LoadProject(const std::string& FileName)
{
  std::string location = LocationText();
  try {
    kx::LoadProject(FileName, location, FileList);
  } catch (...) {
    // What was read up to the failure stays, the location included.
    if (location != LocationText()) eDiskLocation->setText(QString::fromLocal8Bit(location));
    throw;
  }
  if (location != LocationText()) eDiskLocation->setText(QString::fromLocal8Bit(location));
}

void TfrmMain::SaveProjectToFile(const std::string& FileName) { kx::SaveProjectToFile(FileName, LocationText(), FileList); }

bool TfrmMain::OpenProject()
{
  if (!QuerySaveProject()) return false;
  TFileChoice choice;
  choice.Caption = QStringLiteral("Open project");
  choice.Filter = ProjectFilter();
  const QString chosen = Ui.ChooseOpenFile(this, choice);
  if (chosen.isEmpty()) return false;
  return OpenProjectFile(chosen.toLocal8Bit().toStdString());
}

bool TfrmMain::OpenProjectFile(const std::string& FileName, bool NameInMessage)
{
  bool loaded = false;
  {
    const TWaitCursor wait;
    try {
      LoadProject(FileName);
      loaded = true;
    } catch (const EkxProjectError& e) {
      Ui.ShowMessage(this, QString::fromLocal8Bit(NameInMessage ? (FileName + "\n\n" + e.what()).c_str() : e.what()));
    }
  }
  if (loaded) {
    ProjectFileName = FileName;
    Modified = false;
  }
  // Also after a failed load, so that the list never shows more rows than it holds.
  RefreshList();
  UpdateCaption();
  return loaded;
}

bool TfrmMain::SaveProject(bool AskName)
{
  if (AskName || ProjectFileName.empty() || !QFileInfo::exists(QString::fromLocal8Bit(ProjectFileName))) {
    TFileChoice choice;
    choice.Caption = QStringLiteral("Save project");
    choice.Filter = ProjectFilter();
    choice.FileName = QString::fromLocal8Bit(ProjectFileName);
    choice.ConfirmOverwrite = true;
    const QString chosen = Ui.ChooseSaveFile(this, choice);
    if (chosen.isEmpty()) return false;
    ProjectFileName = AddDefaultExt(chosen.toLocal8Bit().toStdString(), ProjectExt);
  }
  try {
    const TWaitCursor wait;
    SaveProjectToFile(ProjectFileName);
  } catch (const EkxProjectError& e) {
    Ui.ShowMessage(this, QString::fromLocal8Bit(e.what()));
    return false;
  }
  Modified = false;
  UpdateCaption();
  return true;
}

void TfrmMain::miNewClick() { NewProject(); }
void TfrmMain::miOpenClick() { OpenProject(); }
void TfrmMain::miSaveClick() { SaveProject(false); }
void TfrmMain::miSaveAsClick() { SaveProject(true); }

// ---- extraction --------------------------------------------------------------------------

void TfrmMain::miExtractClick() { Extract(TkxExtractMode::Plain); }
void TfrmMain::miExtractGroupedClick() { Extract(TkxExtractMode::Grouped); }

void TfrmMain::Extract(TkxExtractMode Mode)
{
  if (Busy) return;
  const std::vector<std::int32_t> rows = SelectedRows();
  if (rows.empty()) {
    Ui.Beep(TBeep::Simple);
    return;
  }
  const QString chosen = Ui.ChooseFolder(this, QString::fromLatin1(ExtractFolderCaption.data(),
                                                                    static_cast<qsizetype>(ExtractFolderCaption.size())));
  if (chosen.isEmpty()) return;
  const std::string folder = IncludeTrailingPathDelimiter(chosen.toLocal8Bit().toStdString());
  std::string why;
  std::unique_ptr<TkxDisk> disk = OpenDisk(&why);
  if (!disk) {
    Ui.ShowMessage(this, QString::fromLocal8Bit(why));
    Ui.Beep(TBeep::Exclamation);
    return;
  }

  // The worker gets its own copy of the chosen entries, in row order.
  TkxFileList chosenEntries;
  std::vector<std::int32_t> order;
  for (const std::int32_t row : rows) {
    const TkxFileEntry& e = FileList.Items[static_cast<std::size_t>(row)];
    order.push_back(chosenEntries.Count);
    chosenEntries.Add(e.Name, e.Kind, e.Offset, e.Size, false);
  }
  const auto total = static_cast<int>(rows.size());

  Busy = true;
  TkxExtractResult result;
  {
    const TWaitCursor wait;
    std::atomic<std::int32_t> done{0};
    std::atomic<bool> stop{false};
    QProgressDialog progress(QString(), QStringLiteral("Cancel"), 0, total, this);
    progress.setWindowTitle(ApplicationTitle());
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(std::numeric_limits<int>::max());
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setLabelText(QStringLiteral("0 of %1 files extracted").arg(total));
    progress.hide();
    connect(&progress, &QProgressDialog::canceled, this, [&stop] { stop = true; });
    const TInputBlocker blocker(&progress);

    QThread* worker = QThread::create([&] {
      result = ExtractEntries(*disk, chosenEntries, order, folder, Mode,
                              [&done](std::int32_t n) { done.store(n, std::memory_order_relaxed); },
                              [&stop] { return stop.load(std::memory_order_relaxed); });
    });
    QEventLoop loop;
    connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    QTimer tick;
    tick.setInterval(100);
    QElapsedTimer elapsed;
    elapsed.start();
    connect(&tick, &QTimer::timeout, this, [&] {
      const int n = done.load(std::memory_order_relaxed);
      progress.setValue(n);
      progress.setLabelText(QStringLiteral("%1 of %2 files extracted").arg(n).arg(total));
      if (!progress.isVisible() && elapsed.elapsed() >= ProgressWindowDelayMs) {
        ExtractProgress = &progress;
        progress.show();
      }
    });
    tick.start();
    worker->start();
    loop.exec();
    worker->wait();
    delete worker;
    ExtractProgress = nullptr;
  }
  disk.reset();
  Busy = false;

  const std::string report = ExtractionReportText(result);
  if (report.empty())
    Ui.Beep(TBeep::Exclamation);
  else
    Ui.ShowMessage(this, QString::fromLocal8Bit(report));
}

// ---- image creation ----------------------------------------------------------------------

void TfrmMain::miCreateImageClick()
{
  char drive = 0;
  if (!frmSelectDrive->SelectDrive(drive)) return;
  TFileChoice choice;
  choice.Caption = QStringLiteral("Create image");
  choice.Filter = QStringLiteral("ISO disk image files (*.iso)");
  choice.ConfirmOverwrite = true;
  const QString chosen = Ui.ChooseSaveFile(this, choice);
  if (chosen.isEmpty()) return;
  const std::string typed = chosen.toLocal8Bit().toStdString();
  const std::string fileName = AddDefaultExt(typed, ".iso");
  // The save dialog asked about the name as typed; one the extension turned into an existing
  // file's name is asked about here.
  if (fileName != typed && NameTaken(fileName) &&
      !Ui.AskYesNo(this, ApplicationTitle(),
                   QStringLiteral("\"%1\" already exists. Do you want to replace it?").arg(QString::fromLocal8Bit(fileName))))
    return;
  frmCreateImage->CreateImage(drive, fileName);
}

void TfrmMain::Homepage1Click() { Ui.OpenUrl(WebSiteUrl()); }
void TfrmMain::miContactClick() { Ui.OpenUrl(WebSiteUrl(QStringLiteral("contact.php"))); }
void TfrmMain::miDonateClick() { Ui.OpenUrl(WebSiteUrl(QStringLiteral("redir.php?page=donate"))); }
void TfrmMain::miContentsClick() { Ui.OpenUrl(HelpPageUrl()); }
void TfrmMain::miAboutClick() { Ui.OpenUrl(ReadmePageUrl()); }

}  // namespace kx::ui
