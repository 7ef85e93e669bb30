// SPDX-License-Identifier: GPL-3.0-or-later
// Image creation from a simulated drive: the drive's status messages, progress, suspend and
// resume, a stop asked and refused, the close box, the ended state, a failing write and a
// target that cannot be created; and a picture of the dialog during a copy.
#include "common/kxShared.h"
#include "media/SimulatedDrive.h"
#include "ui/dlgCreateImage.h"
#include "support/kxFakeUi.h"
#include "ui/Controls.h"
#include "ui/qvGauge.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>

#include <sys/mount.h>

using namespace kx;
using namespace kx::ui;

namespace {

// A transport that answers like the simulated drive, each command after a pause, so that a copy
// lasts long enough to be watched, paused and stopped.
class TSlowTransport final : public TScsiDevice {
 public:
  TSlowTransport(std::int64_t Sectors, std::chrono::milliseconds Delay_, std::shared_ptr<std::atomic<int>> Reads_)
      : Drive(Sectors), Delay(Delay_), Reads(std::move(Reads_))
  {
  }
  TScsiResult SendCdb(std::span<const std::uint8_t> Cdb, std::span<std::uint8_t> DataIn,
                      std::chrono::seconds Timeout) override
  {
    if (!Cdb.empty() && Cdb[0] == 0xBE) {
      std::this_thread::sleep_for(Delay);
      ++*Reads;
    }
    return Drive.SendCdb(Cdb, DataIn, Timeout);
  }
  test::TSimulatedDrive Drive;

 private:
  std::chrono::milliseconds Delay;
  std::shared_ptr<std::atomic<int>> Reads;
};

struct TDriveSetup {
  std::int64_t Sectors = 640;
  std::set<std::int64_t> Unreadable;
  std::chrono::milliseconds Delay{0};
  bool NotReady = false;
  bool NoDevice = false;
  std::shared_ptr<std::atomic<int>> Reads = std::make_shared<std::atomic<int>>(0);
};

TfrmCreateImage::TDriveOpener Opener(TDriveSetup Setup)
{
  return [Setup](char) -> std::unique_ptr<TkxPhysicalCD> {
    if (Setup.NoDevice) return std::make_unique<TkxPhysicalCD>(std::unique_ptr<TScsiDevice>());
    auto transport = std::make_unique<TSlowTransport>(Setup.Sectors, Setup.Delay, Setup.Reads);
    transport->Drive.NotReady = Setup.NotReady;
    transport->Drive.Unreadable = Setup.Unreadable;
    return std::make_unique<TkxPhysicalCD>(std::move(transport));
  };
}

void WaitForEnd(TfrmCreateImage& Dialog)
{
  QTRY_VERIFY_WITH_TIMEOUT(!Dialog.Running(), 20000);
  QTRY_COMPARE(Dialog.bClose->text(), QStringLiteral("Close"));
}

}  // namespace

class CreateImageDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void UnusableDrivesAreReportedWithoutADialog()
  {
    QTemporaryDir dir;
    test::TFakeUi ui;
    TfrmCreateImage dialog(ui);
    const QString target = dir.filePath(QStringLiteral("disk.iso"));
    TDriveSetup notReady;
    notReady.NotReady = true;
    dialog.DriveOpener = Opener(notReady);
    dialog.CreateImage('d', target.toStdString());
    TDriveSetup none;
    none.NoDevice = true;
    dialog.DriveOpener = Opener(none);
    dialog.CreateImage('d', target.toStdString());
    dialog.DriveOpener = [](char) -> std::unique_ptr<TkxPhysicalCD> {
      auto transport = std::make_unique<test::TSimulatedDrive>(10);
      transport->Throws = true;
      return std::make_unique<TkxPhysicalCD>(std::move(transport));
    };
    dialog.CreateImage('d', target.toStdString());
    // Each drive's own message first, then its device and why.
    QCOMPARE(ui.Messages, (std::vector<QString>{
                              QStringLiteral("Drive unit is not ready\n\n/dev/sr0: no disc, or the drive is not ready"),
                              QStringLiteral("An error occurred while trying to mount the disk. The specified drive or "
                                             "image file does not exist, there is no media loaded or the image file has "
                                             "a wrong format.\n\n/dev/sr0: cannot be opened"),
                              QStringLiteral("Unknown CD/DVD error\n\n/dev/sr0: the drive does not answer as an optical drive")}));
    QCOMPARE(ui.ModalRuns, 0);
    QVERIFY(!QFile::exists(target));
  }

  // The target's name is shown as it is, however much it looks like rich text.
  void TheTargetIsShownAsPlainText()
  {
    QTemporaryDir dir;
    test::TFakeUi ui;
    TfrmCreateImage dialog(ui);
    TDriveSetup notReady;
    notReady.NotReady = true;
    dialog.DriveOpener = Opener(notReady);
    const QString target = dir.filePath(QStringLiteral("<h1><font color=red>damaged</font></h1>.iso"));
    dialog.CreateImage('d', target.toStdString());
    QCOMPARE(dialog.lInfo->textFormat(), Qt::PlainText);
    QCOMPARE(dialog.lInfo->text(), QStringLiteral("Source: 'D:', target: '%1'").arg(target));
  }

  void CompleteCopyShowsItsEndedState()
  {
    QTemporaryDir dir;
    test::TFakeUi ui;
    TfrmCreateImage dialog(ui);
    TDriveSetup setup;
    dialog.DriveOpener = Opener(setup);
    const QString target = dir.filePath(QStringLiteral("disk.iso"));
    QString infoAtStart;
    ui.OnModal = [&](QDialog&) {
      infoAtStart = dialog.lInfo->text();
      WaitForEnd(dialog);
      [&] { QVERIFY(!dialog.bSuspend->isEnabled()); }();
      [&] { QCOMPARE(dialog.pb->Progress(), 640); }();
      [&] { QCOMPARE(dialog.pb->Text(), QStringLiteral("100%")); }();
      dialog.bCloseClick();  // ended: closes without a question
      return dialog.result();
    };
    dialog.CreateImage('d', target.toStdString());
    QCOMPARE(infoAtStart, QStringLiteral("Source: 'D:', target: '%1'").arg(target));
    QCOMPARE(dialog.lInfo->text(), infoAtStart + QStringLiteral(" - Complete"));
    QCOMPARE(dialog.lSectors->text(), QStringLiteral("640/640 sectors (1 MB)"));
    QVERIFY(ui.Questions.empty());
    QCOMPARE(QFileInfo(target).size(), 640 * 2048);
    QTRY_COMPARE(dialog.OutstandingWorkers(), 0);
    QCOMPARE(ui.Beeps, std::vector<TBeep>{TBeep::Exclamation});
  }

  void ProgressSuspendResumeAndAStopAnsweredNoThenYes()
  {
    QTemporaryDir dir;
    test::TFakeUi ui;
    TfrmCreateImage dialog(ui);
    TDriveSetup setup;
    setup.Sectors = 32 * 400;
    setup.Delay = std::chrono::milliseconds(5);
    dialog.DriveOpener = Opener(setup);
    const QString target = dir.filePath(QStringLiteral("disk.iso"));
    ui.OnModal = [&](QDialog&) {
      [&] { QTRY_VERIFY(*setup.Reads >= 4); }();
      dialog.tmBlinkTimer();
      [&] { QVERIFY(dialog.lSectors->text().endsWith(QStringLiteral("/12800 sectors (25 MB)"))); }();
      [&] { QCOMPARE(dialog.sWorking->Brush(), clRed); }();
      dialog.bSuspendClick();
      [&] { QVERIFY(dialog.WorkerPaused()); }();
      QTest::qWait(100);
      const int pausedAt = *setup.Reads;
      QTest::qWait(150);
      [&] { QVERIFY(*setup.Reads <= pausedAt + 1); }();
      dialog.tmBlinkTimer();
      [&] { QCOMPARE(dialog.sWorking->Brush(), clSilver); }();
      dialog.bSuspendClick();
      [&] { QTRY_VERIFY(*setup.Reads > pausedAt + 3); }();
      ui.YesNoAnswer = false;
      dialog.bCloseClick();
      [&] { QVERIFY(dialog.isVisible()); }();
      [&] { QVERIFY(dialog.Running()); }();
      ui.YesNoAnswer = true;
      dialog.bCloseClick();
      return dialog.result();
    };
    dialog.CreateImage('d', target.toStdString());
    QCOMPARE(ui.Questions, (std::vector<QString>{QStringLiteral("Do you really want to stop the operation?"),
                                                 QStringLiteral("Do you really want to stop the operation?")}));
    QTRY_COMPARE(dialog.OutstandingWorkers(), 0);
    const qint64 size = QFileInfo(target).size();
    QVERIFY(size > 0);
    QVERIFY(size < 32 * 400 * 2048);
    QCOMPARE(size % (32 * 2048), 0);
  }

  void StopWhilePausedAndTheCloseBoxAskNothing()
  {
    QTemporaryDir dir;
    test::TFakeUi ui;
    TfrmCreateImage dialog(ui);
    TDriveSetup setup;
    setup.Sectors = 32 * 400;
    setup.Delay = std::chrono::milliseconds(5);
    dialog.DriveOpener = Opener(setup);
    ui.OnModal = [&](QDialog& d) {
      [&] { QTRY_VERIFY(*setup.Reads >= 2); }();
      dialog.bSuspendClick();
      QCloseEvent close;
      QApplication::sendEvent(&d, &close);
      return int(QDialog::Rejected);
    };
    dialog.CreateImage('d', dir.filePath(QStringLiteral("disk.iso")).toStdString());
    QVERIFY(ui.Questions.empty());
    QTRY_COMPARE(dialog.OutstandingWorkers(), 0);
    QVERIFY(*setup.Reads < 400);
    QCOMPARE(ui.Beeps.size(), std::size_t{1});
  }

  void TargetThatCannotBeCreatedEndsWithTheError()
  {
    QTemporaryDir dir;
    test::TFakeUi ui;
    TfrmCreateImage dialog(ui);
    TDriveSetup setup;
    dialog.DriveOpener = Opener(setup);
    ui.OnModal = [&](QDialog&) {
      WaitForEnd(dialog);
      [&] { QTRY_COMPARE(ui.Messages.size(), std::size_t{1}); }();
      return int(QDialog::Rejected);
    };
    dialog.CreateImage('d', dir.filePath(QStringLiteral("missing/disk.iso")).toStdString());
    QVERIFY(dialog.lInfo->text().endsWith(QStringLiteral(" - Failed")));
    QVERIFY2(ui.Messages[0].contains(QStringLiteral("missing/disk.iso")), qPrintable(ui.Messages[0]));
    QTRY_COMPARE(dialog.OutstandingWorkers(), 0);
  }

  void FailingWriteIsShownAndThePartsWrittenStay()
  {
    QTemporaryDir small;
    const bool mounted = ::mount("tmpfs", small.path().toLocal8Bit().constData(), "tmpfs", 0, "size=256k") == 0;
    if (!mounted) QSKIP("cannot mount a small tmpfs here");
    test::TFakeUi ui;
    {
      TfrmCreateImage dialog(ui);
      TDriveSetup setup;
      setup.Sectors = 32 * 20;  // 1.25 MiB onto 256 KiB
      dialog.DriveOpener = Opener(setup);
      const QString target = small.filePath(QStringLiteral("disk.iso"));
      ui.OnModal = [&](QDialog&) {
        WaitForEnd(dialog);
        [&] { QTRY_COMPARE(ui.Messages.size(), std::size_t{1}); }();
        return int(QDialog::Rejected);
      };
      dialog.CreateImage('d', target.toStdString());
      QVERIFY(!dialog.lInfo->text().contains(QStringLiteral("Complete")));
      QVERIFY2(ui.Messages[0].contains(QStringLiteral("No space left on device")), qPrintable(ui.Messages[0]));
      QVERIFY(QFileInfo(target).size() > 0);
      QTRY_COMPARE(dialog.OutstandingWorkers(), 0);
    }
    ::umount2(small.path().toLocal8Bit().constData(), MNT_DETACH);
  }

  void SecondCopyWhileAStoppedOneFinishesHasADriveOfItsOwn()
  {
    QTemporaryDir dir;
    test::TFakeUi ui;
    TfrmCreateImage dialog(ui);
    TDriveSetup slow;
    slow.Sectors = 32 * 400;
    slow.Delay = std::chrono::milliseconds(20);
    dialog.DriveOpener = Opener(slow);
    ui.OnModal = [&](QDialog&) {
      [&] { QTRY_VERIFY(*slow.Reads >= 2); }();
      dialog.bCloseClick();  // Yes: stopped while a chunk is still being read
      return dialog.result();
    };
    dialog.CreateImage('d', dir.filePath(QStringLiteral("first.iso")).toStdString());
    QCOMPARE(dialog.OutstandingWorkers(), 1);

    TDriveSetup quick;
    quick.Sectors = 320;
    dialog.DriveOpener = Opener(quick);
    ui.OnModal = [&](QDialog&) {
      WaitForEnd(dialog);
      dialog.bCloseClick();
      return dialog.result();
    };
    const QString second = dir.filePath(QStringLiteral("second.iso"));
    dialog.CreateImage('e', second.toStdString());
    QVERIFY(dialog.lInfo->text().endsWith(QStringLiteral(" - Complete")));
    QCOMPARE(QFileInfo(second).size(), 320 * 2048);
    QTRY_COMPARE(dialog.OutstandingWorkers(), 0);
    QVERIFY(*slow.Reads < 400);
  }

  // A long target and unreadable sectors: the end line still shows its start and its end, and
  // the count of sectors written as zeros has a line of its own.
  void TheEndLinesFitTheirLabels()
  {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("images of the discs from the attic, sorted by year/1998"));
    QVERIFY(QDir().mkpath(folder));
    test::TFakeUi ui;
    TfrmCreateImage dialog(ui);
    TDriveSetup setup;
    setup.Unreadable = {100, 101, 102};
    dialog.DriveOpener = Opener(setup);
    ui.OnModal = [&](QDialog&) {
      WaitForEnd(dialog);
      [&] { QVERIFY(dialog.grab().save(QStringLiteral(QT_TESTCASE_BUILDDIR "/screenshot-create-image-end.png"))); }();
      dialog.bCloseClick();
      return dialog.result();
    };
    dialog.CreateImage('d', (folder + QStringLiteral("/disk.iso")).toStdString());
    for (const TFittedLabel* label : {dialog.lInfo, dialog.lSectors}) {
      const QString shown = label->ShownText();
      QVERIFY2(QFontMetrics(label->font()).horizontalAdvance(shown) <= label->width(), qPrintable(shown));
    }
    QVERIFY(dialog.lInfo->ShownText().startsWith(QStringLiteral("Source: 'D:', target: '")));
    QVERIFY(dialog.lInfo->ShownText().endsWith(QStringLiteral("disk.iso' - Complete")));
    QVERIFY2(dialog.lSectors->ShownText().endsWith(QStringLiteral(" unreadable sectors were written as zeros.")),
             qPrintable(dialog.lSectors->ShownText()));
    QTRY_COMPARE(dialog.OutstandingWorkers(), 0);
  }

  void PictureDuringACopy()
  {
    QTemporaryDir dir;
    test::TFakeUi ui;
    TfrmCreateImage dialog(ui);
    TDriveSetup setup;
    setup.Sectors = 32 * 200;
    setup.Delay = std::chrono::milliseconds(5);
    dialog.DriveOpener = Opener(setup);
    ui.OnModal = [&](QDialog&) {
      [&] { QTRY_VERIFY(*setup.Reads >= 60); }();
      dialog.tmBlinkTimer();
      const QString file = QStringLiteral(QT_TESTCASE_BUILDDIR "/screenshot-create-image.png");
      [&] { QVERIFY(dialog.grab().save(file)); }();
      ui.YesNoAnswer = true;
      dialog.bCloseClick();
      return dialog.result();
    };
    dialog.CreateImage('e', dir.filePath(QStringLiteral("shot.iso")).toStdString());
    QTRY_COMPARE(dialog.OutstandingWorkers(), 0);
  }
};

QTEST_MAIN(CreateImageDialogTest)
#include "CreateImageDialogTest.moc"
