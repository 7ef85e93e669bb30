// SPDX-License-Identifier: GPL-3.0-or-later
// The find window over the main window's list: its controls, the search in both directions
// from the list's current row, what a match does to the selection, and the menu keys.
#include "ui/dlgFind.h"
#include "found/kxKinds.h"
#include "support/kxFakeUi.h"
#include "ui/AdjustControl.h"
#include "ui/FileListView.h"
#include "ui/Main.h"
#include "ui/NumberEdit.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTest>

#include <vector>

using namespace kx;
using namespace kx::ui;

namespace {

const QString NoMatch = QStringLiteral("No matches were found.");

TKind Kind(std::string_view Ext) { return KindOfExtension(Ext); }

// A main window holding Entries, its find window as it is at program start.
struct TWindows {
  test::TFakeUi Ui;
  TfrmMain Main{Ui};
  TfrmFind& Find = *Main.frmFind;

  explicit TWindows(std::initializer_list<TkxFileEntry> Entries)
  {
    for (const TkxFileEntry& e : Entries) Main.FileList.Add(e.Name, e.Kind, e.Offset, e.Size, false);
    Main.RefreshList();
  }

  int Current() const { return Main.lb->currentIndex().isValid() ? Main.lb->currentIndex().row() : -1; }
  void SetCurrent(int Row)
  {
    Main.lb->selectionModel()->setCurrentIndex(Main.lb->model()->index(Row, 0), QItemSelectionModel::NoUpdate);
  }
  std::vector<std::int32_t> Selected() const { return Main.SelectedRows(); }
  void Next() { Find.bNext->click(); }
  void Prev() { Find.bPrev->click(); }
};

}  // namespace

class dlgFindTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

  void ControlsAtProgramStart()
  {
    TWindows w({});
    TfrmFind& f = w.Find;
    QVERIFY(!f.isVisible());
    QCOMPARE(f.windowTitle(), QStringLiteral("Find"));
    QVERIFY(!f.isModal());
    const Qt::WindowFlags flags = f.windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
    QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
    QCOMPARE(f.Label1->text(), QStringLiteral("Enter a fragment of the file name:"));
    QVERIFY(f.eName->text().isEmpty());
    QCOMPARE(f.cbCase->text(), QStringLiteral("Case sensitive"));
    QVERIFY(!f.cbCase->isChecked());
    QCOMPARE(f.alMinSize->text(), QStringLiteral("Min. size:"));
    QCOMPARE(f.alMaxSize->text(), QStringLiteral("Max. size:"));
    QCOMPARE(f.alMinSize->AttachedEdit, f.neMinSize);
    QCOMPARE(f.alMaxSize->AttachedEdit, f.neMaxSize);
    QCOMPARE(f.neMinSize->text(), QStringLiteral("0"));
    QCOMPARE(f.neMaxSize->text(), QStringLiteral("64000000000"));
    for (const TNumberEdit* e : {f.neMinSize, f.neMaxSize}) {
      QCOMPARE(e->Min, 0.0);
      QCOMPARE(e->Max, 64000000000.0);
      QCOMPARE(e->Increment, 1.0);
    }
    QCOMPARE(f.bNext->text(), QStringLiteral("Next"));
    QCOMPARE(f.bPrev->text(), QStringLiteral("Previous"));
    QCOMPARE(f.bClose->text(), QStringLiteral("Close"));
    QVERIFY(f.bNext->isDefault());
    for (QAction* a : {w.Main.miFind, w.Main.miFindNext, w.Main.miFindPrevious}) QVERIFY(a->isEnabled());
  }

  void EmptyFragmentStepsRowByRowWithoutWrapping()
  {
    TWindows w({{"a", 1, 0, 10, false}, {"b", 1, 0, 10, false}, {"c", 1, 0, 10, false}});
    QCOMPARE(w.Current(), -1);
    // Without a current row the search starts as if row 0 were current.
    w.Next();
    QCOMPARE(w.Current(), 1);
    w.Next();
    QCOMPARE(w.Current(), 2);
    QVERIFY(w.Ui.Messages.empty());
    w.Next();
    QCOMPARE(w.Ui.Messages, std::vector<QString>{NoMatch});
    QCOMPARE(w.Current(), 2);
    QCOMPARE(w.Selected(), std::vector<std::int32_t>{2});
    w.Prev();
    w.Prev();
    QCOMPARE(w.Current(), 0);
    w.Prev();
    QCOMPARE(w.Ui.Messages.size(), std::size_t{2});
    QCOMPARE(w.Current(), 0);
    // Even with nothing current, Previous finds nothing: row 0 is never tested.
    TWindows none({{"a", 1, 0, 10, false}, {"b", 1, 0, 10, false}});
    none.Prev();
    QCOMPARE(none.Ui.Messages, std::vector<QString>{NoMatch});
    QCOMPARE(none.Current(), -1);
  }

  void TheCurrentRowIsNeverACandidate()
  {
    TWindows w({{"one", 1, 0, 10, false}, {"unique", 1, 0, 10, false}, {"three", 1, 0, 10, false}});
    w.Find.eName->setText(QStringLiteral("uniq"));
    w.SetCurrent(1);
    w.Next();
    w.Prev();
    QCOMPARE(w.Ui.Messages, (std::vector<QString>{NoMatch, NoMatch}));
    QCOMPARE(w.Current(), 1);
    QVERIFY(w.Selected().empty());  // a failed search selects nothing
    w.SetCurrent(0);
    w.Next();
    QCOMPARE(w.Current(), 1);
  }

  void FragmentAndCaseAreReadFromTheControls()
  {
    TWindows w({{"File 000000", Kind(".jpg"), 0, 10, false},
                {"File 000001", Kind(".bmp"), 0, 10, false},
                {"File 000002", Kind(".ppt.xls.doc"), 0, 10, false}});
    // Spanning the name and the extension.
    w.Find.eName->setText(QStringLiteral("01.b"));
    w.Next();
    QCOMPARE(w.Current(), 1);
    w.Find.eName->setText(QStringLiteral(".PPT"));
    w.Next();
    QCOMPARE(w.Current(), 2);
    w.Find.eName->setText(QStringLiteral("file"));
    w.Find.cbCase->setChecked(true);
    w.Prev();
    QCOMPARE(w.Ui.Messages, std::vector<QString>{NoMatch});
    QCOMPARE(w.Current(), 2);
    w.Find.cbCase->setChecked(false);
    w.Prev();
    QCOMPARE(w.Current(), 1);
  }

  void SizeRangeIsReadFromTheNumberEdits()
  {
    TWindows w({{"a", 1, 0, 50, false},
                {"b", 1, 0, 100, false},
                {"c", 1, 0, 101, false},
                {"d", 1, 0, 100, false},
                {"huge", 1, 0, 64000000001, false}});
    w.Find.neMinSize->setText(QStringLiteral("100"));
    w.Find.neMaxSize->setText(QStringLiteral("100"));
    w.Next();
    QCOMPARE(w.Current(), 1);
    w.Next();
    QCOMPARE(w.Current(), 3);
    w.Next();
    QCOMPARE(w.Ui.Messages.size(), std::size_t{1});
    // Min above Max finds nothing.
    w.Find.neMinSize->setText(QStringLiteral("200"));
    w.Find.neMaxSize->setText(QStringLiteral("10"));
    w.SetCurrent(0);
    w.Next();
    QCOMPARE(w.Ui.Messages.size(), std::size_t{2});
    // The upper bound cannot pass 64000000000, so the largest file stays out of reach; a typed
    // bound beyond it reads as the bound.
    w.Find.neMinSize->setText(QStringLiteral("64000000000"));
    w.Find.neMaxSize->setText(QStringLiteral("9E99"));
    w.Next();
    QCOMPARE(w.Ui.Messages.size(), std::size_t{3});
    // An empty field reads as 0.
    w.Find.neMinSize->clear();
    w.Find.neMaxSize->setText(QStringLiteral("50"));
    w.SetCurrent(4);
    w.Prev();
    QCOMPARE(w.Current(), 0);
  }

  void AMatchLeavesOnlyTheFoundRowSelectedCurrentAndVisible()
  {
    TWindows w({});
    for (int i = 0; i < 500; ++i) w.Main.FileList.Add("File " + std::to_string(i), Kind(".jpg"), 0, i, false);
    w.Main.RefreshList();
    w.Main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.Main));
    QItemSelectionModel& selection = *w.Main.lb->selectionModel();
    for (const int row : {0, 3, 7}) selection.select(w.Main.lb->model()->index(row, 0), QItemSelectionModel::Select);
    w.SetCurrent(3);
    w.Find.eName->setText(QStringLiteral("File 450"));
    w.Next();
    QCOMPARE(w.Current(), 450);
    QCOMPARE(w.Selected(), std::vector<std::int32_t>{450});
    const QRect row = w.Main.lb->visualRect(w.Main.lb->model()->index(450, 0));
    QVERIFY(row.top() >= 0 && row.bottom() < w.Main.lb->viewport()->height());
    QCOMPARE(w.Main.pStatusBar->text(), QStringLiteral("1/500 file(s) selected (450 bytes)"));
  }

  void MenuKeysWorkWhetherTheWindowWasOpenedOrNot()
  {
    TWindows w({{"a", 1, 0, 10, false}, {"b", 1, 0, 10, false}, {"c", 1, 0, 10, false}});
    w.Main.show();
    QVERIFY(QTest::qWaitForWindowActive(&w.Main));
    w.Main.lb->setFocus();
    QTest::keyClick(w.Main.lb, Qt::Key_F3);
    QCOMPARE(w.Current(), 1);
    QVERIFY(!w.Find.isVisible());
    QTest::keyClick(w.Main.lb, Qt::Key_F3);
    QTest::keyClick(w.Main.lb, Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(w.Current(), 1);
    QCOMPARE(w.Selected(), std::vector<std::int32_t>{1});
    // From the location field as well.
    w.Main.eDiskLocation->setFocus();
    QTest::keyClick(w.Main.eDiskLocation, Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(w.Current(), 0);
    QVERIFY(w.Ui.Messages.empty());
    QTest::keyClick(w.Main.eDiskLocation, Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(w.Ui.Messages, std::vector<QString>{NoMatch});
  }

  void FindOpensTheWindowBesideAUsableMainWindowAndCloseHidesIt()
  {
    TWindows w({{"apple", 1, 0, 10, false}, {"banana", 1, 0, 10, false}, {"cherry", 1, 0, 10, false},
                {"banana2", 1, 0, 10, false}});
    w.Main.show();
    QVERIFY(QTest::qWaitForWindowActive(&w.Main));
    QTest::keyClick(&w.Main, Qt::Key_F, Qt::ControlModifier);
    QVERIFY(w.Find.isVisible());
    QVERIFY(QTest::qWaitForWindowActive(&w.Find));
    QVERIFY(!w.Main.isHidden() && w.Main.isEnabled());
    QVERIFY(QApplication::activeModalWidget() == nullptr);

    // Typed into the window: Enter in any field runs Next, the default button.
    w.Find.eName->setFocus();
    QTest::keyClicks(w.Find.eName, QStringLiteral("banana"));
    QTest::keyClick(w.Find.eName, Qt::Key_Return);
    QCOMPARE(w.Current(), 1);
    w.Find.neMaxSize->setFocus();
    QTest::keyClick(w.Find.neMaxSize, Qt::Key_Return);
    QCOMPARE(w.Current(), 3);
    QCOMPARE(w.Find.neMaxSize->text(), QStringLiteral("64000000000"));
    // The find keys work in the find window too.
    QTest::keyClick(w.Find.eName, Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(w.Current(), 1);
    // After "No matches were found." the person types on here, whichever window the closing
    // message box left active.
    w.Ui.OnMessage = [&] {
      w.Main.activateWindow();
      [&] { QVERIFY(QTest::qWaitForWindowActive(&w.Main)); }();
    };
    w.Find.eName->setText(QStringLiteral("durian"));
    w.Find.eName->setFocus();
    QTest::keyClick(w.Find.eName, Qt::Key_Return);
    QCOMPARE(w.Ui.Messages, std::vector<QString>{NoMatch});
    w.Ui.OnMessage = nullptr;
    // (A tool window counts as active while its main window is; the application knows better.)
    QTRY_VERIFY(QApplication::activeWindow() == &w.Find);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    QCOMPARE(w.Find.eName->text(), QStringLiteral("duria"));
    w.Find.eName->setText(QStringLiteral("banana"));

    // Esc and Close hide it; it keeps what was typed.
    QTest::keyClick(w.Find.eName, Qt::Key_Escape);
    QVERIFY(!w.Find.isVisible());
    w.Main.miFind->trigger();
    QVERIFY(w.Find.isVisible());
    QCOMPARE(w.Find.eName->text(), QStringLiteral("banana"));
    w.Find.bClose->click();
    QVERIFY(!w.Find.isVisible());
    w.Main.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.Main));
    QTest::keyClick(w.Main.lb, Qt::Key_F3);
    QCOMPARE(w.Current(), 3);
  }
};

QTEST_MAIN(dlgFindTest)
#include "dlgFindTest.moc"
