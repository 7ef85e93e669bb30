// SPDX-License-Identifier: GPL-3.0-or-later
// The scan dialog and its worker: start, pause, accept and cancel at every stage, a worker that
// outlives its dialog, a medium that fails during the scan, the box that adds the check and Accept
// during the check. Also run under ThreadSanitizer.
#include "support/kxFakeUi.h"
#include "recognition/kxCheck.h"
#include "ui/Controls.h"
#include "ui/dlgRecognize.h"
#include "ui/qvGauge.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

using namespace kx;
using namespace kx::ui;

namespace {

// What a test controls of its medium after handing the medium to the dialog.
struct TDiskControl {
  std::atomic<std::int64_t> ThrowAt{-1};
  // Reads of sectors at or after HoldFrom wait until Release.
  std::atomic<std::int64_t> HoldFrom{-1};
  std::mutex Lock;
  std::condition_variable Released;
  bool Open = false;
  std::atomic<std::int64_t> Reads{0};
  std::set<std::int64_t> Unreadable;  // set before the scan starts: these deliver nothing
  // Reads of the check (which are not sequential) after this many of them wait until Release.
  std::atomic<std::int64_t> HoldCheckAfter{-1};
  std::atomic<std::int64_t> CheckReads{0};

  void Release()
  {
    {
      const std::lock_guard guard(Lock);
      Open = true;
    }
    Released.notify_all();
  }
};

enum class TContent { Zeros, ZipEverySector, RiffPastTheEnd };

class TTestDisk final : public TkxDisk {
 public:
  TTestDisk(std::int64_t Sectors, TContent Content_, std::shared_ptr<TDiskControl> Control_)
      : Content(Content_), Control(std::move(Control_))
  {
    SectorCount = Sectors;
  }

  std::int32_t DoReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t First, const TkxReadOptions& How) override
  {
    for (std::int32_t i = 0; i < Count; ++i) {
      const std::int64_t sector = First + i;
      if (sector == Control->ThrowAt) throw EkxIOError("A part of the image file has gone.");
      const std::int64_t hold = Control->HoldFrom;
      const bool holdCheck = How.Order == TkxReadOptions::TOrder::Scattered && Control->HoldCheckAfter >= 0 && Control->CheckReads++ >= Control->HoldCheckAfter;
      if ((hold >= 0 && sector >= hold) || holdCheck) {
        std::unique_lock guard(Control->Lock);
        Control->Released.wait(guard, [this] { return Control->Open; });
      }
      if (Control->Unreadable.count(sector) != 0) return i * SectorSize;
      ++Control->Reads;
      std::uint8_t* b = Buffer + static_cast<std::ptrdiff_t>(i) * SectorSize;
      std::memset(b, 0, static_cast<std::size_t>(SectorSize));
      if (Content == TContent::ZipEverySector) std::memcpy(b, "PK\x03\x04", 4);
      if (Content == TContent::RiffPastTheEnd && sector == 0) {
        std::memcpy(b, "RIFF\x00\x00\x10\x00WAVE", 12);  // states 1 MiB + 8 bytes
      }
    }
    return Count * SectorSize;
  }

 private:
  TContent Content;
  std::shared_ptr<TDiskControl> Control;
};

std::unique_ptr<TkxDisk> Disk(std::int64_t Sectors, TContent Content = TContent::Zeros,
                              std::shared_ptr<TDiskControl> Control = std::make_shared<TDiskControl>())
{
  return std::make_unique<TTestDisk>(Sectors, Content, std::move(Control));
}

QString Text(const QLabel* Label) { return Label->text(); }

// A person who starts the scan, waits for its end and accepts what it found.
std::function<int(QDialog&)> StartWaitAndAccept(TfrmRecognize& Dialog)
{
  return [&Dialog](QDialog&) {
    Dialog.bStart->click();
    [&] { QTRY_VERIFY(!Dialog.Running()); }();
    return int(QDialog::Accepted);
  };
}

}  // namespace

class RecognizeDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void AcceptBeforeStartGivesAnEmptyListAndEndsTheWorker()
  {
    test::TFakeUi ui;
    TfrmRecognize dialog(ui);
    ui.OnModal = [](QDialog&) { return int(QDialog::Accepted); };
    TkxFileList list;
    list.Add("old", 1, 0, 1, false);
    QVERIFY(dialog.Recognize(Disk(10), list));
    QCOMPARE(list.Count, 0);
    QTRY_COMPARE(dialog.OutstandingWorkers(), 0);
    QCOMPARE(ui.Beeps, std::vector<TBeep>{TBeep::Exclamation});
  }

  void LayoutAndInitialFigures()
  {
    test::TFakeUi ui;
    TfrmRecognize dialog(ui);
    QString size;
    QString total;
    QString processed;
    std::int32_t maximum = 0;
    ui.OnModal = [&](QDialog&) {
      size = Text(dialog.lImageSize);
      total = Text(dialog.lTotalSectors);
      processed = Text(dialog.lSectorsProcessed);
      maximum = dialog.gProgress->MaxValue();
      [&] { QCOMPARE(dialog.gProgress->Text(), QStringLiteral("0%")); }();
      [&] { QVERIFY(dialog.Running()); }();
      [&] { QVERIFY(dialog.WorkerPaused()); }();
      return int(QDialog::Rejected);
    };
    TkxFileList list;
    QVERIFY(!dialog.Recognize(Disk(333000), list));
    QCOMPARE(size, QStringLiteral("650M"));
    QCOMPARE(total, QStringLiteral("333000"));
    QCOMPARE(processed, QStringLiteral("0"));
    QCOMPARE(maximum, 333000);
    QVERIFY(!dialog.Recognize(Disk(1), list));
    QCOMPARE(maximum, 1);
    QCOMPARE(size, QStringLiteral("0M"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Recognizing lost files"));
    QCOMPARE(dialog.size(), QSize(395, 240));
    QVERIFY(dialog.bStart->isDefault());
    QTRY_COMPARE(dialog.OutstandingWorkers(), 0);
  }

  void EmptyMediumEndsAtOnceWithZeroFigures()
  {
    test::TFakeUi ui;
    TfrmRecognize dialog(ui);
    ui.OnModal = StartWaitAndAccept(dialog);
    TkxFileList list;
    QVERIFY(dialog.Recognize(Disk(0), list));
    QCOMPARE(list.Count, 0);
    QCOMPARE(Text(dialog.lSectorsProcessed), QStringLiteral("0"));
    QCOMPARE(Text(dialog.lFilesFound), QStringLiteral("0"));
    QCOMPARE(dialog.gProgress->Text(), QStringLiteral("0%"));
  }

  void ProgressIsShownEvery2000SectorsAndAtTheEnd_data()
  {
    QTest::addColumn<int>("Sectors");
    QTest::addColumn<QStringList>("Shown");
    QTest::newRow("1999") << 1999 << QStringList{QStringLiteral("0"), QStringLiteral("1999")};
    QTest::newRow("4500") << 4500
                          << QStringList{QStringLiteral("0"), QStringLiteral("2000"), QStringLiteral("4000"),
                                         QStringLiteral("4500")};
  }

  void ProgressIsShownEvery2000SectorsAndAtTheEnd()
  {
    QFETCH(int, Sectors);
    QFETCH(QStringList, Shown);
    test::TFakeUi ui;
    TfrmRecognize dialog(ui);
    QStringList seen;
    connect(&dialog, &TfrmRecognize::ProgressShown, this, [&] { seen << Text(dialog.lSectorsProcessed); });
    ui.OnModal = StartWaitAndAccept(dialog);
    TkxFileList list;
    QVERIFY(dialog.Recognize(Disk(Sectors), list));
    QCOMPARE(seen, Shown);
    QCOMPARE(dialog.gProgress->Text(), QStringLiteral("100%"));
  }

  void FileStatedPastTheEndShowsMoreSectorsThanTheMediumHolds()
  {
    test::TFakeUi ui;
    TfrmRecognize dialog(ui);
    ui.OnModal = StartWaitAndAccept(dialog);
    TkxFileList list;
    QVERIFY(dialog.Recognize(Disk(10, TContent::RiffPastTheEnd), list));
    QCOMPARE(Text(dialog.lTotalSectors), QStringLiteral("10"));
    QCOMPARE(Text(dialog.lSectorsProcessed), QStringLiteral("513"));
    QCOMPARE(dialog.gProgress->Text(), QStringLiteral("100%"));
    QCOMPARE(list.Count, 1);
    QCOMPARE(list.Items[0].Kind, 29);
  }

  void PauseThenCancelEndsAfterAtMostOneMoreStep()
  {
    test::TFakeUi ui;
    TfrmRecognize dialog(ui);
    auto control = std::make_shared<TDiskControl>();
    control->HoldFrom = 50;
    std::int64_t readsWhenPaused = 0;
    ui.OnModal = [&](QDialog&) {
      dialog.bStart->click();
      [&] { QTRY_VERIFY(control->Reads >= 50); }();
      dialog.bStart->click();  // pause; the worker is held inside sector 50's read
      [&] { QVERIFY(dialog.WorkerPaused()); }();
      readsWhenPaused = control->Reads;
      control->Release();
      return int(QDialog::Rejected);
    };
    TkxFileList list;
    QVERIFY(!dialog.Recognize(Disk(100000, TContent::Zeros, control), list));
    QTRY_COMPARE(dialog.OutstandingWorkers(), 0);
    QVERIFY(control->Reads <= readsWhenPaused + 1);
    QCOMPARE(list.Count, 0);
    QCOMPARE(ui.Beeps.size(), std::size_t{1});
  }

  void LampBlinksOnlyWhileWorking()
  {
    test::TFakeUi ui;
    TfrmRecognize dialog(ui);
    auto control = std::make_shared<TDiskControl>();
    control->HoldFrom = 5;
    ui.OnModal = [&](QDialog&) {
      dialog.tmBlinkTimer();
      [&] { QCOMPARE(dialog.sWorking->Brush(), clSilver); }();
      dialog.bStart->click();
      dialog.tmBlinkTimer();
      [&] { QCOMPARE(dialog.sWorking->Brush(), clRed); }();
      dialog.tmBlinkTimer();
      [&] { QCOMPARE(dialog.sWorking->Brush(), clOrange); }();
      dialog.tmBlinkTimer();
      [&] { QCOMPARE(dialog.sWorking->Brush(), clRed); }();
      dialog.bStart->click();
      dialog.tmBlinkTimer();
      [&] { QCOMPARE(dialog.sWorking->Brush(), clSilver); }();
      control->Release();
      return int(QDialog::Rejected);
    };
    TkxFileList list;
    dialog.Recognize(Disk(20, TContent::Zeros, control), list);
    QTRY_COMPARE(dialog.OutstandingWorkers(), 0);
  }

  void AcceptWhileWorkingCopiesAConsistentList()
  {
    test::TFakeUi ui;
    TfrmRecognize dialog(ui);
    auto control = std::make_shared<TDiskControl>();
    ui.OnModal = [&](QDialog&) {
      dialog.bStart->click();
      [&] { QTRY_VERIFY(control->Reads > 3000); }();
      return int(QDialog::Accepted);
    };
    TkxFileList list;
    QVERIFY(dialog.Recognize(Disk(2'000'000, TContent::ZipEverySector, control), list));
    QVERIFY(list.Count > 3000);
    std::set<std::int64_t> offsets;
    for (std::int32_t i = 0; i < list.Count; ++i) offsets.insert(list.Items[static_cast<std::size_t>(i)].Offset);
    // Every entry whole, none twice, none missing: offsets are exactly the first Count sectors.
    QCOMPARE(static_cast<std::int32_t>(offsets.size()), list.Count);
    QCOMPARE(*offsets.rbegin(), std::int64_t{list.Count - 1} * 2048);
    QTRY_COMPARE(dialog.OutstandingWorkers(), 0);
    QVERIFY(control->Reads < 2'000'000);
  }

  void WorkerThatOutlivesItsDialogDoesNotDisturbTheNextScan()
  {
    test::TFakeUi ui;
    TfrmRecognize dialog(ui);
    auto first = std::make_shared<TDiskControl>();
    first->HoldFrom = 2500;  // held after its first hand-over, until released
    ui.OnModal = [&](QDialog&) {
      dialog.bStart->click();
      [&] { QTRY_VERIFY(first->Reads >= 2500); }();
      return int(QDialog::Rejected);
    };
    TkxFileList list;
    QVERIFY(!dialog.Recognize(Disk(10000, TContent::ZipEverySector, first), list));
    QCOMPARE(dialog.OutstandingWorkers(), 1);

    auto second = std::make_shared<TDiskControl>();
    second->HoldFrom = 15;
    ui.OnModal = [&](QDialog&) {
      dialog.bStart->click();
      [&] { QTRY_VERIFY(second->Reads >= 15); }();
      first->Release();  // the old worker takes its step and ends while this scan runs
      [&] { QTRY_COMPARE(dialog.OutstandingWorkers(), 1); }();
      // Its last figures went to nobody.
      [&] { QCOMPARE(Text(dialog.lFilesFound), QStringLiteral("0")); }();
      [&] { QCOMPARE(Text(dialog.lTotalSectors), QStringLiteral("30")); }();
      second->Release();
      [&] { QTRY_VERIFY(!dialog.Running()); }();
      return int(QDialog::Accepted);
    };
    QVERIFY(dialog.Recognize(Disk(30, TContent::ZipEverySector, second), list));
    QCOMPARE(list.Count, 30);
    QCOMPARE(Text(dialog.lFilesFound), QStringLiteral("30"));
    QCOMPARE(Text(dialog.lTotalSectors), QStringLiteral("30"));
    // The second worker's beep comes through its `finished`, which may still be on its way.
    QTRY_COMPARE(ui.Beeps.size(), std::size_t{2});
  }

  void StepThatFailsEndsTheScanKeepsItsFilesAndIsShown()
  {
    test::TFakeUi ui;
    TfrmRecognize dialog(ui);
    auto control = std::make_shared<TDiskControl>();
    control->ThrowAt = 7;
    ui.OnModal = [&](QDialog&) {
      dialog.bStart->click();
      [&] { QTRY_COMPARE(ui.Messages.size(), std::size_t{1}); }();
      [&] { QVERIFY(!dialog.Running()); }();
      return int(QDialog::Accepted);
    };
    TkxFileList list;
    QVERIFY(dialog.Recognize(Disk(20, TContent::ZipEverySector, control), list));
    QCOMPARE(ui.Messages[0], QStringLiteral("A part of the image file has gone."));
    QCOMPARE(list.Count, 7);
    QCOMPARE(Text(dialog.lSectorsProcessed), QStringLiteral("7"));
    QCOMPARE(dialog.gProgress->Text(), QStringLiteral("35%"));  // where it failed, not the end
    QCOMPARE(ui.Beeps.size(), std::size_t{1});
  }

  void UnreadableSectorsAreToldAtTheEnd()
  {
    test::TFakeUi ui;
    TfrmRecognize dialog(ui);
    auto control = std::make_shared<TDiskControl>();
    control->Unreadable = {3, 4};
    // The end is told once the worker has ended: its beep comes first, then any message.
    std::size_t beeps = 1;
    ui.OnModal = [&](QDialog&) {
      dialog.bStart->click();
      [&] { QTRY_COMPARE(ui.Beeps.size(), beeps); }();
      return int(QDialog::Accepted);
    };
    TkxFileList list;
    QVERIFY(dialog.Recognize(Disk(10, TContent::ZipEverySector, control), list));
    QCOMPARE(ui.Messages, std::vector<QString>{QStringLiteral("2 unreadable sectors were examined as zeros.")});

    // A clean medium says nothing.
    beeps = 2;
    QVERIFY(dialog.Recognize(Disk(10, TContent::ZipEverySector), list));
    QCOMPARE(ui.Messages.size(), std::size_t{1});
  }

  // Found files are thrown away only when the person says so, however the dialog is closed.
  void CancelEscapeAndTheCloseBoxAskBeforeFoundFilesAreDiscarded()
  {
    test::TFakeUi ui;
    TfrmRecognize dialog(ui);
    ui.OnModal = [&](QDialog&) {
      QTest::keyClick(&dialog, Qt::Key_Escape);  // nothing found yet: nothing to ask
      [&] { QVERIFY(ui.Questions.empty()); }();
      return dialog.result();
    };
    TkxFileList list;
    list.Add("kept", 1, 0, 1, false);
    QVERIFY(!dialog.Recognize(Disk(30, TContent::ZipEverySector), list));

    ui.OnModal = [&](QDialog&) {
      dialog.bStart->click();
      [&] { QTRY_VERIFY(!dialog.Running()); }();
      ui.YesNoAnswer = false;
      QTest::keyClick(&dialog, Qt::Key_Escape);
      dialog.bCancel->click();
      dialog.close();
      [&] { QCOMPARE(ui.Questions.size(), std::size_t{3}); }();
      [&] { QVERIFY(dialog.isVisible()); }();
      ui.YesNoAnswer = true;
      dialog.bCancel->click();
      [&] { QVERIFY(!dialog.isVisible()); }();
      return dialog.result();
    };
    QVERIFY(!dialog.Recognize(Disk(30, TContent::ZipEverySector), list));
    QCOMPARE(ui.Questions.back(), QStringLiteral("30 files were found and not accepted. Do you want to discard them?"));
    QCOMPARE(ui.Defaults.back(), TAnswer::No);  // Enter keeps what was found
    QCOMPARE(list.Count, 1);
    QTRY_COMPARE(dialog.OutstandingWorkers(), 0);
  }

  // Enter presses Start/Pause, or the button that has the focus: Accept accepts.
  void ReturnOnTheFocusedAcceptButtonAccepts()
  {
    test::TFakeUi ui;
    TfrmRecognize dialog(ui);
    ui.OnModal = [&](QDialog&) {
      dialog.activateWindow();
      [&] { QVERIFY(QTest::qWaitForWindowActive(&dialog)); }();
      QTest::keyClick(dialog.bStart, Qt::Key_Return);
      [&] { QTRY_VERIFY(!dialog.Running()); }();
      dialog.bAccept->setFocus();
      QTest::keyClick(dialog.bAccept, Qt::Key_Return);
      [&] { QVERIFY(!dialog.isVisible()); }();
      return dialog.result();
    };
    TkxFileList list;
    QVERIFY(dialog.Recognize(Disk(12, TContent::ZipEverySector), list));
    QCOMPARE(list.Count, 12);
  }

  // The statistics' caption sits on its frame, and the pie stands on the window's own background,
  // with no lighter square around it.
  void StatisticsGroupAndPieStandOnTheWindowsBackground()
  {
    test::TFakeUi ui;
    TfrmRecognize dialog(ui);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QImage image = dialog.grab().toImage();
    const QPoint gauge = dialog.gProgress->mapTo(&dialog, QPoint(0, 0));
    const QColor background(image.pixel(2, 2));
    QCOMPARE(QColor(image.pixel(gauge + QPoint(1, 1))), background);      // the pie's corner
    QCOMPARE(QColor(image.pixel(gauge + QPoint(-4, 10))), background);    // beside the pie
    const QPoint group = dialog.GroupBox1->pos();
    const int frame = group.y() + QFontMetrics(dialog.GroupBox1->font()).height() / 2;
    QCOMPARE(QColor(image.pixel(group.x() + 4, frame)), QColor(0xA0, 0xA0, 0xA0));  // the frame's top line
    QVERIFY(QColor(image.pixel(group.x() + 4, frame - 3)) == background);  // with nothing above it
    dialog.hide();
  }

  // The box is on at first and keeps what the person chose from one scan to the next; off, the
  // list is the classic one. It cannot change once the scan has started.
  void CheckBoxIsOnAtFirstKeptBetweenScansAndOffGivesTheClassicList()
  {
    test::TFakeUi ui;
    TfrmRecognize dialog(ui);
    QVERIFY(dialog.cbCheck->isChecked());
    std::vector<bool> enabled;  // before and after the start of each scan
    ui.OnModal = [&](QDialog&) {
      enabled.push_back(dialog.cbCheck->isEnabled());
      dialog.bStart->click();
      enabled.push_back(dialog.cbCheck->isEnabled());
      // The end is shown once the worker has ended, after its beep.
      [&] { QTRY_COMPARE(ui.Beeps.size(), enabled.size() / 2); }();
      return int(QDialog::Accepted);
    };
    TkxFileList list;
    QVERIFY(dialog.Recognize(Disk(30, TContent::ZipEverySector), list));
    QCOMPARE(Text(dialog.lCheck), QStringLiteral("Checked found files: 30 of 30"));
    QCOMPARE(CountCheckStates(list)[static_cast<std::size_t>(TkxCheckState::Damaged)], 30);

    dialog.cbCheck->setChecked(false);
    QVERIFY(dialog.Recognize(Disk(30, TContent::ZipEverySector), list));
    QVERIFY(dialog.Recognize(Disk(30, TContent::ZipEverySector), list));
    QVERIFY(!dialog.cbCheck->isChecked());
    QCOMPARE(enabled, (std::vector<bool>{true, false, true, false, true, false}));
    QCOMPARE(Text(dialog.lCheck), QString());
    QCOMPARE(CountCheckStates(list)[static_cast<std::size_t>(TkxCheckState::NotChecked)], 30);
  }

  // Accept during the check stops it; the dialog closes once it has stopped, and what it
  // concluded (the entries at the medium's end) is accepted with the rest unchecked.
  void AcceptDuringTheCheckTakesWhatItConcluded()
  {
    test::TFakeUi ui;
    TfrmRecognize dialog(ui);
    auto control = std::make_shared<TDiskControl>();
    control->HoldCheckAfter = 10;
    ui.OnModal = [&](QDialog&) {
      dialog.bStart->click();
      [&] { QTRY_COMPARE(Text(dialog.lCheck), QStringLiteral("Checking found files: 10 of 30")); }();
      dialog.bAccept->click();
      [&] { QVERIFY(dialog.isVisible() && !dialog.bAccept->isEnabled()); }();
      control->Release();
      [&] { QTRY_VERIFY(!dialog.isVisible()); }();
      return dialog.result();
    };
    TkxFileList list;
    QVERIFY(dialog.Recognize(Disk(30, TContent::ZipEverySector, control), list));
    QCOMPARE(list.Count, 30);
    QCOMPARE(CountCheckStates(list)[static_cast<std::size_t>(TkxCheckState::Damaged)], 10);
    QCOMPARE(list.Items[29].Check, TkxCheckState::Damaged);
    QCOMPARE(list.Items[0].Check, TkxCheckState::NotChecked);
  }

  void ClosingTheProgramWaitsForAWorkerHeldInARead()
  {
    test::TFakeUi ui;
    auto control = std::make_shared<TDiskControl>();
    control->HoldFrom = 10;
    std::thread releaser;
    {
      TfrmRecognize dialog(ui);
      ui.OnModal = [&](QDialog&) {
        dialog.bStart->click();
        [&] { QTRY_VERIFY(control->Reads >= 10); }();
        return int(QDialog::Rejected);
      };
      TkxFileList list;
      dialog.Recognize(Disk(100, TContent::Zeros, control), list);
      [&] { QCOMPARE(dialog.OutstandingWorkers(), 1); }();
      // The drive answers a while after the window has begun to close.
      releaser = std::thread([control] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        control->Release();
      });
    }
    releaser.join();
    QVERIFY(control->Reads <= 11);
  }
};

QTEST_MAIN(RecognizeDialogTest)
#include "RecognizeDialogTest.moc"
