// SPDX-License-Identifier: GPL-3.0-or-later
// The main window as a person meets it: its title, list, status line, header, menus, location
// field and links, with a scripted person in place of dialogs.
#include "common/kxShared.h"
#include "ui/dlgDrive.h"
#include "media/kxDisks.h"
#include "ui/logic/kxWindowTexts.h"
#include "support/kxFakeUi.h"
#include "support/kxHostileNames.h"
#include "ui/Controls.h"
#include "ui/FileListView.h"
#include "ui/Main.h"
#include "ui/PageViewer.h"
#include "ui/dlgCreateImage.h"
#include "ui/dlgRecognize.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QTextBrowser>
#include <QApplication>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <fstream>

using namespace kx;
using namespace kx::ui;

namespace {

void Fill(TkxFileList& List, std::initializer_list<TkxFileEntry> Entries)
{
  for (const TkxFileEntry& e : Entries) List.Add(e.Name, e.Kind, e.Offset, e.Size, false);
}

// A plain image of Sectors zero sectors.
QString MakeImage(const QTemporaryDir& Dir, const QString& Name, int Sectors)
{
  const QString path = Dir.filePath(Name);
  std::ofstream out(path.toLocal8Bit().toStdString(), std::ios::binary);
  const std::string sector(2048, '\0');
  for (int i = 0; i < Sectors; ++i) out << sector;
  return path;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  // The status line groups its byte count as the locale does; the tests read it in English.
  void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

  void TitleFollowsProjectAndModified()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    QCOMPARE(w.windowTitle(), QStringLiteral("Veltrane Tessarin 2008 - [Untitled]"));
    QTest::keyClick(w.eDiskLocation, Qt::Key_X);
    QVERIFY(w.Modified);
    QCOMPARE(w.windowTitle(), QStringLiteral("Veltrane Tessarin 2008 - [Untitled]*"));
    w.ProjectFileName = "/home/me/disc.kx";
    w.UpdateCaption();
    QCOMPARE(w.windowTitle(), QStringLiteral("Veltrane Tessarin 2008 - [/home/me/disc.kx]*"));
    w.Modified = false;
    w.UpdateCaption();
    QCOMPARE(w.windowTitle(), QStringLiteral("Veltrane Tessarin 2008 - [/home/me/disc.kx]"));
  }

  // A location typed and erased again leaves the project as it was saved; the list's
  // changes keep it modified whatever the field holds.
  void ALocationTypedAndErasedLeavesTheProjectUnmodified()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    QTest::keyClick(w.eDiskLocation, Qt::Key_X);
    QVERIFY(w.Modified);
    QTest::keyClick(w.eDiskLocation, Qt::Key_Backspace);
    QVERIFY(!w.Modified);
    QCOMPARE(w.windowTitle(), QStringLiteral("Veltrane Tessarin 2008 - [Untitled]"));
    w.ListModified = true;
    QTest::keyClick(w.eDiskLocation, Qt::Key_X);
    QTest::keyClick(w.eDiskLocation, Qt::Key_Backspace);
    QVERIFY(w.Modified);
  }

  void FreshWindowLayout()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.centralWidget()->size(), QSize(632, 526));
    QCOMPARE(w.minimumSize(), QSize(480, 210));
    QCOMPARE(w.pStatusBar->text(), QStringLiteral("0/0 file(s) selected (0 bytes)"));
    QVERIFY(w.eDiskLocation->text().isEmpty());
    QCOMPARE(w.pToolbar->height(), 42);
    QCOMPARE(w.pDiskLocation->height(), 40);
    QCOMPARE(w.pStatusBar->height(), 20);
    QCOMPARE(w.eDiskLocation->x(), 112);
    QCOMPARE(w.eDiskLocation->geometry().right() + 1, w.pDiskLocation->width() - 7);
    const QStringList texts = {QStringLiteral("File name"), QStringLiteral("Ext"), QStringLiteral("Offset"),
                               QStringLiteral("Size (bytes)")};
    const int widths[] = {340, 70, 100, 100};
    for (int i = 0; i < 4; ++i) {
      [&] { QCOMPARE(w.hc->model()->headerData(i, Qt::Horizontal).toString(), texts[i]); }();
      [&] { QCOMPARE(w.hc->sectionSize(i), widths[i]); }();
    }
    QCOMPARE(w.hc->minimumSectionSize(), 32);
    struct TButton {
      QToolButton* Button;
      int X;
      const char* Hint;
    };
    const TButton buttons[] = {{w.sbNew, 8, "Create a new project"},         {w.sbOpen, 40, "Open an existing project"},
                               {w.sbSave, 72, "Save your project"},          {w.sbOpenImage, 112, "Open a disk image file"},
                               {w.sbOpenDrive, 144, "Open a disk drive"},    {w.sbRecognize, 184, "Recognize lost files on disk"},
                               {w.sbExtract, 216, "Extract the selected files"}, {w.sbContents, 256, "Help contents"},
                               {w.sbDonate, 288, "Please donate!"}};
    for (const TButton& b : buttons) {
      [&] { QCOMPARE(b.Button->geometry(), QRect(b.X, 4, 32, 32)); }();
      [&] { QCOMPARE(b.Button->toolTip(), QString::fromLatin1(b.Hint)); }();
      QVERIFY2(!b.Button->icon().isNull(), b.Hint);
    }
  }

  void MenuCaptionsAndShortcuts()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    struct TItem {
      QAction* Action;
      const char* Caption;
      QKeySequence Shortcut;
    };
    const TItem items[] = {
        {w.miNew, "New project", QKeySequence(QStringLiteral("Ctrl+N"))},
        {w.miOpen, "Open project...", QKeySequence(QStringLiteral("Ctrl+O"))},
        {w.miSave, "Save project", QKeySequence(QStringLiteral("Ctrl+S"))},
        {w.miSaveAs, "Save project as...", QKeySequence(QStringLiteral("Ctrl+Shift+S"))},
        {w.miExit, "Exit", QKeySequence()},
        {w.miOpenImage, "Open image file...", QKeySequence(QStringLiteral("Ctrl+I"))},
        {w.miOpenDrive, "Open disk drive...", QKeySequence(QStringLiteral("Ctrl+D"))},
        {w.miCreateImage, "Create image from physical disk...", QKeySequence(QStringLiteral("Ctrl+Y"))},
        {w.miRescue, "Rescue damaged disc...", QKeySequence()},
        {w.miRecognize, "Recognize files...", QKeySequence(QStringLiteral("Ctrl+R"))},
        {w.miExtract, "Extract...", QKeySequence(QStringLiteral("Ctrl+E"))},
        {w.miExtractGrouped, "Extract grouped by extension...", QKeySequence(QStringLiteral("Ctrl+G"))},
        {w.miFind, "Find...", QKeySequence(QStringLiteral("Ctrl+F"))},
        {w.miFindNext, "Find Next", QKeySequence(QStringLiteral("F3"))},
        {w.miFindPrevious, "Find Previous", QKeySequence(QStringLiteral("Shift+F3"))},
        {w.miContents, "Contents", QKeySequence(QStringLiteral("F1"))},
        {w.Homepage1, "Homepage...", QKeySequence()},
        {w.miContact, "Contact us...", QKeySequence()},
        {w.miDonate, "Donate!", QKeySequence()},
        {w.miAbout, "About...", QKeySequence()},
    };
    for (const TItem& item : items) {
      [&] { QCOMPARE(item.Action->text(), QString::fromLatin1(item.Caption)); }();
      [&] { QCOMPARE(item.Action->shortcut(), item.Shortcut); }();
    }
    QCOMPARE(w.miProject->title(), QStringLiteral("&Project"));
    QCOMPARE(w.miImage->title(), QStringLiteral("&Image"));
    QCOMPARE(w.miHelp->title(), QStringLiteral("&Help"));
    QCOMPARE(w.miImage->actions().indexOf(w.miRescue), w.miImage->actions().indexOf(w.miCreateImage) + 1);
    QVERIFY(w.miRecognize->font().bold());
    QVERIFY(w.miDonate->font().bold());
    QVERIFY(!w.miExtract->font().bold());
  }

  void ListShowsEveryEntryAndTheStatusCountsIn64Bits()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    Fill(w.FileList, {{"big", 56, 0, 3'000'000'000, false},
                      {"bigger", 77, 2048, 3'000'000'000, false},
                      {"small", 1, 4096, 1234, false}});
    w.RefreshList();
    QCOMPARE(w.lb->model()->rowCount(), 3);
    QCOMPARE(w.pStatusBar->text(), QStringLiteral("0/3 file(s) selected (0 bytes)"));
    w.lb->selectionModel()->select(w.lb->model()->index(0, 0), QItemSelectionModel::Select);
    w.lb->selectionModel()->select(w.lb->model()->index(1, 0), QItemSelectionModel::Select);
    QCOMPARE(w.pStatusBar->text(), QStringLiteral("2/3 file(s) selected (6,000,000,000 bytes)"));
    QCOMPARE(w.SelectedRows(), (std::vector<std::int32_t>{0, 1}));
  }

  void RowTextsAndColumnEdges()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    Fill(w.FileList, {{"photo", 77, 2048, 1234, false}, {"data", 0, 0, 1, false}});
    w.RefreshList();
    const QAbstractItemModel& model = w.ListModel();
    const auto text = [&](int Row, int Column) { return model.index(Row, Column).data().toString(); };
    QCOMPARE(text(0, 0), QStringLiteral("photo"));
    QCOMPARE(text(0, 1), QStringLiteral(".jpg"));
    QCOMPARE(text(0, 2), QStringLiteral("0x000000800"));
    QCOMPARE(text(0, 3), QStringLiteral("      1234"));
    QCOMPARE(text(1, 1), QString());
    QCOMPARE(model.index(0, 2).data(Qt::ForegroundRole).value<QColor>(), OffsetColor);
    QCOMPARE(model.index(0, 3).data(Qt::ForegroundRole).value<QColor>(), SizeColor);
    QCOMPARE(model.index(0, 0).data(Qt::FontRole).value<QFont>(), SansFont());
    QCOMPARE(model.index(0, 3).data(Qt::FontRole).value<QFont>(), MonoFont());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const auto* delegate = qobject_cast<TFileListDelegate*>(w.lb->itemDelegate());
    QVERIFY(delegate != nullptr);
    QCOMPARE(delegate->ColumnLeft(0), 2);
    QCOMPARE(delegate->ColumnLeft(1), 342);
    QCOMPARE(delegate->ColumnLeft(2), 412);
    QCOMPARE(delegate->ColumnLeft(3), 512);
    w.hc->resizeSection(0, 200);
    QCOMPARE(delegate->ColumnLeft(1), 202);
  }

  // What a disc or a project names reaches the window visibly: every character shown, none that
  // reorders the row or controls it; a message box never takes a name for rich text.
  void HostileNamesAreShownAsTheyAre()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    for (const test::THostileName& name : test::HostileNames()) w.FileList.Add(name.Name, 0, 0, 1, false);
    w.RefreshList();
    for (int row = 0; row < w.FileList.Count; ++row) {
      const test::THostileName& name = test::HostileNames()[static_cast<std::size_t>(row)];
      QCOMPARE(w.ListModel().index(row, 0).data().toString(), QString::fromStdString(name.Window));
    }

    const std::string bidi = test::HostileName("a right-to-left").Name;
    w.frmSelectDrive->DriveLister = [&bidi] { return std::vector<std::string>{"D: (" + bidi + ")"}; };
    QString offered;
    ui.OnModal = [&offered](QDialog& d) {
      offered = d.findChild<QComboBox*>(QStringLiteral("cb"))->itemText(0);
      return int(QDialog::Rejected);
    };
    w.miOpenDriveClick();
    QCOMPARE(offered, QStringLiteral("D: (invoice\\u202efdp.exe)"));

    const QString html = QString::fromStdString(test::HostileName("HTML").Name);
    for (const QMessageBox::StandardButtons buttons :
         {QMessageBox::StandardButtons(QMessageBox::Ok), QMessageBox::Yes | QMessageBox::No,
          QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel}) {
      const auto box = MakeMessageBox(&w, ui::ApplicationTitle(), html, buttons);
      QCOMPARE(box->textFormat(), Qt::PlainText);
      QCOMPARE(box->text(), html);
    }
  }

  // Enter answers a question with the default it was asked with: the safe answer where work is
  // at stake.
  void EnterGivesTheDefaultAnswer()
  {
    TUserInteraction real;
    const auto pressEnter = [] {
      QTimer::singleShot(0, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return); });
    };
    pressEnter();
    QVERIFY(!real.AskYesNo(nullptr, {}, QStringLiteral("Discard?"), TAnswer::No));
    for (const TAnswer answer : {TAnswer::Yes, TAnswer::No, TAnswer::Cancel}) {
      pressEnter();
      QCOMPARE(real.AskYesNoCancel(nullptr, {}, QStringLiteral("Which?"), answer), answer);
    }
  }

  void RowsArePaintedWhiteAndSelectedLightGreen()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    Fill(w.FileList, {{"a", 1, 0, 10, false}, {"b", 1, 2048, 20, false}});
    w.RefreshList();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.lb->selectionModel()->select(w.lb->model()->index(1, 0), QItemSelectionModel::Select);
    QCOMPARE(w.lb->visualRect(w.lb->model()->index(0, 0)).height(), 20);
    const QImage image = w.lb->viewport()->grab().toImage();
    // Far right of each row, where no text is drawn.
    const int x = image.width() - 3;
    QCOMPARE(QColor(image.pixel(x, 10)), RowColor);
    QCOMPARE(QColor(image.pixel(x, 30)), SelectedRowColor);

    // The row with the focus has the dotted rectangle: every other pixel of its edges.
    w.lb->setFocus();
    w.lb->selectionModel()->setCurrentIndex(w.lb->model()->index(1, 0), QItemSelectionModel::NoUpdate);
    QTRY_VERIFY(w.lb->hasFocus());
    const QImage focused = w.lb->viewport()->grab().toImage();
    const QRect row = w.lb->visualRect(w.lb->model()->index(1, 0));
    const int y = row.top();
    QCOMPARE(QColor(focused.pixel(x, y)) == Qt::black, QColor(focused.pixel(x + 1, y)) != Qt::black);
    QCOMPARE(QColor(focused.pixel(x - 1, y)) == Qt::black, QColor(focused.pixel(x, y)) != Qt::black);
    QCOMPARE(QColor(focused.pixel(x, 10)), RowColor);  // the other row has none
  }

  void HeaderClickSortsAscendingEveryTime()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    Fill(w.FileList, {{"c", 1, 0, 30, false}, {"a", 1, 2048, 10, false}, {"b", 1, 4096, 20, false}});
    w.RefreshList();
    for (int click = 0; click < 2; ++click) {
      w.hc->sectionClicked(3);
      [&] { QCOMPARE(w.FileList.Items[0].Size, 10); }();
      [&] { QCOMPARE(w.FileList.Items[1].Size, 20); }();
      [&] { QCOMPARE(w.FileList.Items[2].Size, 30); }();
    }
    QVERIFY(!w.Modified);
    w.hc->sectionClicked(0);
    QCOMPARE(w.FileList.Items[0].Name, std::string("a"));
  }

  // Ctrl+E and Ctrl+G work whenever rows are selected, also after the Image menu was opened with
  // none selected, and never while none is.
  void ExtractItemsAndTheirKeysFollowTheSelection()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    Fill(w.FileList, {{"a", 1, 0, 10, false}, {"b", 1, 2048, 20, false}});
    w.RefreshList();
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    emit w.miImage->aboutToShow();
    QVERIFY(!w.miExtract->isEnabled());
    QVERIFY(!w.miExtractGrouped->isEnabled());
    QTest::keyClick(&w, Qt::Key_E, Qt::ControlModifier);
    QVERIFY(ui.FolderCaptions.empty());
    w.lb->selectionModel()->select(w.lb->model()->index(0, 0), QItemSelectionModel::Select);
    QTest::keyClick(&w, Qt::Key_E, Qt::ControlModifier);
    QTest::keyClick(&w, Qt::Key_G, Qt::ControlModifier);
    QCOMPARE(ui.FolderCaptions.size(), std::size_t{2});  // each asked where to, the chooser cancelled
    w.lb->clearSelection();
    QTest::keyClick(&w, Qt::Key_G, Qt::ControlModifier);
    QCOMPARE(ui.FolderCaptions.size(), std::size_t{2});
    w.lb->selectAll();
    w.RefreshList();  // a new list has no selection
    QVERIFY(!w.miExtract->isEnabled());
  }

  void HeaderClickKeepsTheSelectionAndTheCurrentRowInView()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    for (int i = 0; i < 500; ++i) w.FileList.Add("f" + std::to_string(i), 1, 2048 * i, 1000 - i, false);
    w.RefreshList();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    for (const int row : {0, 1, 7}) w.lb->selectionModel()->select(w.lb->model()->index(row, 0), QItemSelectionModel::Select);
    w.lb->selectionModel()->setCurrentIndex(w.lb->model()->index(1, 0), QItemSelectionModel::NoUpdate);
    w.hc->sectionClicked(3);  // by size: the first rows go to the end
    std::vector<std::string> names;
    for (const std::int32_t row : w.SelectedRows()) names.push_back(w.FileList.Items[static_cast<std::size_t>(row)].Name);
    QCOMPARE(names, (std::vector<std::string>{"f7", "f1", "f0"}));
    QCOMPARE(w.pStatusBar->text(), QStringLiteral("3/500 file(s) selected (2,992 bytes)"));
    const QModelIndex current = w.lb->currentIndex();
    QCOMPARE(w.FileList.Items[static_cast<std::size_t>(current.row())].Name, std::string("f1"));
    QVERIFY(w.lb->viewport()->rect().intersects(w.lb->visualRect(current)));
  }

  void CancelledDriveChoiceChangesNothing()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    w.frmSelectDrive->DriveLister = [] { return std::vector<std::string>{"D: (DATA)", "E:"}; };
    w.eDiskLocation->setText(QStringLiteral("/tmp/disc.iso"));
    w.Modified = false;
    w.UpdateCaption();
    const QString title = w.windowTitle();
    w.miOpenDriveClick();
    QCOMPARE(ui.ModalRuns, 1);
    QCOMPARE(w.eDiskLocation->text(), QStringLiteral("/tmp/disc.iso"));
    QCOMPARE(w.windowTitle(), title);
    QVERIFY(!w.Modified);
  }

  void ChosenDriveBecomesTheLocation()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    w.frmSelectDrive->DriveLister = [] { return std::vector<std::string>{"D: (DATA)", "E:"}; };
    QStringList offered;
    ui.OnModal = [&offered](QDialog& d) {
      auto* cb = d.findChild<QComboBox*>(QStringLiteral("cb"));
      for (int i = 0; i < cb->count(); ++i) offered << cb->itemText(i);
      if (cb->currentIndex() != 0) return int(QDialog::Rejected);
      cb->setCurrentIndex(1);
      return int(QDialog::Accepted);
    };
    w.miOpenDriveClick();
    QCOMPARE(offered, (QStringList{QStringLiteral("D: (DATA)"), QStringLiteral("E:")}));
    QCOMPARE(w.eDiskLocation->text(), QStringLiteral("E:"));
    QVERIFY(w.Modified);
  }

  void DriveDialogWithoutDrivesNeverChooses()
  {
    test::TFakeUi ui;
    TfrmSelectDrive dialog(ui);
    dialog.DriveLister = [] { return std::vector<std::string>{}; };
    char drive = 'Q';
    ui.OnModal = [](QDialog&) { return int(QDialog::Accepted); };
    QVERIFY(!dialog.SelectDrive(drive));
    QCOMPARE(drive, 'Q');
    // The empty list says why it is empty.
    QCOMPARE(dialog.cb->currentIndex(), -1);
    QCOMPARE(dialog.cb->placeholderText(), QStringLiteral("No optical drive was found."));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Choosing a disk drive"));
    QCOMPARE(dialog.size(), QSize(288, 111));
  }

  void LocationFormsAndTheMountMessage()
  {
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    test::TFakeUi ui;
    TfrmMain w(ui);
    const QString mount = QString::fromLatin1(MountErrorMessage.data(), MountErrorMessage.size());
    // Empty: nothing to open.
    w.miRecognizeClick();
    QCOMPARE(ui.Messages.size(), std::size_t{1});
    QCOMPARE(ui.Messages[0], mount + QStringLiteral("\n\nNo location is given."));
    QCOMPARE(ui.ModalRuns, 0);
    // "E:" is a drive; there is none on this machine.
    w.eDiskLocation->setText(QStringLiteral("E:"));
    QVERIFY(IsDriveName(w.LocationText()));
    QVERIFY(!w.OpenDisk());
    w.miRecognizeClick();
    QVERIFY2(ui.Messages.back().startsWith(mount + QStringLiteral("\n\n/dev/sr1: ")), qPrintable(ui.Messages.back()));
    // "e:x" and "E:\" are image paths, opened as such when the file exists.
    MakeImage(dir, QStringLiteral("e:x"), 3);
    MakeImage(dir, QStringLiteral("E:\\"), 2);
    w.eDiskLocation->setText(QStringLiteral("e:x"));
    auto disk = w.OpenDisk();
    QVERIFY(disk != nullptr);
    QCOMPARE(disk->SectorCount, 3);
    w.eDiskLocation->setText(QStringLiteral("E:\\"));
    disk = w.OpenDisk();
    QVERIFY(disk != nullptr);
    QCOMPARE(disk->SectorCount, 2);
    QDir::setCurrent(previous);
  }

  void ChosenImageBecomesTheLocationAndPresetsTheNextChoice()
  {
    QTemporaryDir dir;
    const QString image = MakeImage(dir, QStringLiteral("disc.iso"), 1);
    test::TFakeUi ui;
    TfrmMain w(ui);
    ui.FileAnswer = image;
    w.miOpenImageClick();
    QCOMPARE(w.eDiskLocation->text(), image);
    QCOMPARE(ui.FileChoices.back().Filter, QStringLiteral("All known CD/DVD images (*.bin *.iso *.ibq)"));
    QVERIFY(ui.FileChoices.back().FileName.isEmpty());
    ui.FileAnswer.clear();
    w.miOpenImageClick();
    QCOMPARE(ui.FileChoices.back().FileName, image);
    QCOMPARE(w.eDiskLocation->text(), image);
  }

  void MenuShortcutsWorkWhileTheLocationFieldHasTheFocus()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.eDiskLocation->setFocus();
    QVERIFY(w.eDiskLocation->hasFocus());
    QSignalSpy triggered(w.miExtract, &QAction::triggered);
    w.miExtract->setEnabled(true);
    QTest::keyClick(w.eDiskLocation, Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(triggered.count(), 1);
    // Ctrl+R reaches the scan command, which finds nothing to open.
    QTest::keyClick(w.eDiskLocation, Qt::Key_R, Qt::ControlModifier);
    QCOMPARE(ui.Messages.size(), std::size_t{1});
  }

  // Alt and a menu title's letter open that menu, from the location field too; no other Alt
  // combination types into the field; Enter on a row extracts as a double click does.
  void AltKeysOpenMenusAndTypeNothingAndEnterExtracts()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    Fill(w.FileList, {{"a", 1, 0, 10, false}, {"b", 1, 2048, 20, false}});
    w.RefreshList();
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.eDiskLocation->setFocus();
    QTRY_VERIFY(w.eDiskLocation->hasFocus());
    for (QMenu* menu : {w.miProject, w.miImage, w.miHelp}) {
      const QKeySequence mnemonic = QKeySequence::mnemonic(menu->title());
      QVERIFY(!mnemonic.isEmpty());
      QTest::keySequence(w.eDiskLocation, mnemonic);
      QTRY_VERIFY2(menu->isVisible(), qPrintable(menu->title()));
      menu->close();
      QTRY_VERIFY(!menu->isVisible());
    }
    w.eDiskLocation->setFocus();
    QTRY_VERIFY(w.eDiskLocation->hasFocus());
    QTest::keyClick(w.eDiskLocation, Qt::Key_X, Qt::AltModifier);
    QTest::keyClick(w.eDiskLocation, Qt::Key_2, Qt::AltModifier | Qt::ShiftModifier);
    QCOMPARE(w.eDiskLocation->text(), QString());
    QVERIFY(!w.Modified);
    QTest::keyClick(w.eDiskLocation, Qt::Key_X);
    QCOMPARE(w.eDiskLocation->text(), QStringLiteral("x"));

    w.lb->setFocus();
    w.lb->setCurrentIndex(w.lb->model()->index(1, 0));
    QTest::keyClick(w.lb, Qt::Key_Return);
    QTest::keyClick(w.lb, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(ui.FolderCaptions.size(), std::size_t{2});  // each asked where to, the chooser cancelled
  }

  void HelpAndWebLinks()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    w.miContentsClick();
    w.miAboutClick();
    w.Homepage1Click();
    w.miContactClick();
    w.miDonateClick();
    w.sbDonate->click();
    const std::string folder = ProgramFolder();
    QCOMPARE(ui.OpenedUrls.size(), std::size_t{6});
    QCOMPARE(ui.OpenedUrls[0], QUrl::fromLocalFile(QString::fromStdString(folder + "help.html")));
    QCOMPARE(ui.OpenedUrls[1], QUrl::fromLocalFile(QString::fromStdString(folder + "readme.html")));
    QCOMPARE(ui.OpenedUrls[2], QUrl(QStringLiteral("https://www.veltrane.example/")));
    QCOMPARE(ui.OpenedUrls[3], QUrl(QStringLiteral("https://www.veltrane.example/contact.php")));
    QCOMPARE(ui.OpenedUrls[4], QUrl(QStringLiteral("https://www.veltrane.example/redir.php?page=donate")));
    QCOMPARE(ui.OpenedUrls[5], ui.OpenedUrls[4]);
    QVERIFY(ui.ShownPages.empty());

    // A desktop without a browser: the program's own pages in its own window.
    ui.OpenUrlAnswer = false;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_F1);
    w.miAboutClick();
    QCOMPARE(ui.ShownPages, (std::vector<QUrl>{ui.OpenedUrls[0], ui.OpenedUrls[1]}));
    w.Homepage1Click();
    QCOMPARE(ui.ShownPages.size(), std::size_t{2});

    QTemporaryDir dir;
    const QString page = dir.filePath(QStringLiteral("help.html"));
    std::ofstream(page.toStdString()) << "<html><head><title>Tessarin help</title></head><body><p>Open an image.</p></body></html>";
    TPageViewer viewer(QUrl::fromLocalFile(page));
    QCOMPARE(viewer.windowTitle(), QStringLiteral("Tessarin help"));
    QCOMPARE(viewer.Browser->toPlainText(), QStringLiteral("Open an image."));
  }

  // Each chooser begins in the folder of the last choice, of a file or of a folder.
  void ChoosersBeginWhereTheLastChoiceWas()
  {
    QTemporaryDir images;
    QTemporaryDir out;
    const QString image = MakeImage(images, QStringLiteral("disc.iso"), 1);
    test::TFakeUi ui;
    TfrmMain w(ui);
    ui.FileAnswer = image;
    w.miOpenImageClick();
    QVERIFY(ui.FileChoices.back().Folder.isEmpty());
    ui.FileAnswer.clear();
    QVERIFY(!w.SaveProject(true));
    QCOMPARE(ui.FileChoices.back().Folder, images.path());
    Fill(w.FileList, {{"a", 1, 0, 10, false}});
    w.RefreshList();
    w.lb->selectAll();
    ui.FolderAnswer = out.path();
    QSignalSpy ended(&w, &TfrmMain::ExtractionEnded);
    w.miExtractClick();
    QVERIFY(ended.count() == 1 || ended.wait(20000));
    QCOMPARE(ui.FolderStarts.back(), images.path());
    w.Modified = false;
    w.OpenProject();
    QCOMPARE(ui.FileChoices.back().Folder, out.path());
  }

  // Text on the forms' own light backgrounds stays dark under a dark desktop palette.
  void UnderADarkPaletteTheLightFormsKeepDarkText()
  {
    const QPalette previous = QApplication::palette();
    QPalette dark(QColor(0x30, 0x30, 0x30), QColor(0x20, 0x20, 0x20));
    dark.setColor(QPalette::WindowText, QColor(0xF0, 0xF0, 0xF0));
    dark.setColor(QPalette::ButtonText, QColor(0xF0, 0xF0, 0xF0));
    dark.setColor(QPalette::Text, QColor(0xF0, 0xF0, 0xF0));
    QApplication::setPalette(dark);
    {
      test::TFakeUi ui;
      TfrmMain w(ui);
      w.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      const auto darkest = [](QWidget* Widget, QRect Area) {
        const QImage image = Widget->grab(Area).toImage();
        int lightness = 255;
        for (int y = 0; y < image.height(); ++y)
          for (int x = 0; x < image.width(); ++x) lightness = std::min(lightness, QColor(image.pixel(x, y)).lightness());
        return lightness;
      };
      const QFontMetrics metrics(w.GroupBox1->font());
      struct TText {
        const char* What;
        QWidget* Widget;
        QRect Area;
      };
      const TText texts[] = {
          {"menu bar", w.menuBar(), w.menuBar()->actionGeometry(w.miProject->menuAction())},
          {"group caption", w.GroupBox1, QRect(8, 0, metrics.horizontalAdvance(w.GroupBox1->title()), metrics.height())},
          {"location caption", w.Label1, w.Label1->rect()},
          {"status line", w.pStatusBar, w.pStatusBar->rect().adjusted(2, 2, -2, -2)},
          {"scan dialog's caption", w.frmRecognize->Label5, w.frmRecognize->Label5->rect()},
      };
      for (const TText& t : texts) QVERIFY2(darkest(t.Widget, t.Area) < 100, t.What);
      QVERIFY(w.grab().save(QStringLiteral(QT_TESTCASE_BUILDDIR "/screenshot-dark-palette.png")));
    }
    QApplication::setPalette(previous);
  }

  // A message of a window that is not shown (a dialog that reports before it opens) is centred
  // on the window in front, not in a corner of the screen.
  void MessagesOfAHiddenDialogAreCentredOnTheWindowInFront()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(MessageAnchor(w.frmCreateImage.get()), &w);
    QCOMPARE(MessageAnchor(w.lb), &w);
  }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
