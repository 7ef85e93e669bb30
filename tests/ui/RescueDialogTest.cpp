// SPDX-License-Identifier: GPL-3.0-or-later
// The rescue dialog on a simulated damaged drive whose reads the test can hold: start, figures
// and map, pause and resume, a stop that saves the map, the offer to go on from a map, the
// refusals, and from the main window's menu the offer at the end to scan the image. Also run
// under ThreadSanitizer. Leaves pictures of the dialog during and after a rescue.
#include "media/SimulatedDrive.h"
#include "ui/dlgDrive.h"
#include "ui/dlgRescue.h"
#include "support/kxFakeUi.h"
#include "ui/Controls.h"
#include "ui/Main.h"
#include "ui/dlgRecognize.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>

using namespace kx;
using namespace kx::ui;

namespace {

// The drive's reads of sectors; from read HoldAt on, each waits until the test releases them.
struct TGate {
  std::atomic<std::int64_t> Reads{0};
  std::int64_t HoldAt = -1;  // set before the drive is opened; -1 holds none
  std::mutex Lock;
  std::condition_variable Opened;
  bool Open = false;

  void Pass()
  {
    if (HoldAt >= 0 && Reads >= HoldAt) {
      std::unique_lock guard(Lock);
      Opened.wait(guard, [this] { return Open; });
    }
    ++Reads;
  }
  void Release()
  {
    {
      const std::lock_guard guard(Lock);
      Open = true;
    }
    Opened.notify_all();
  }
};

// Releases the reads when the test leaves, also early, before the dialog waits for its worker.
struct TReleaseAtEnd {
  std::shared_ptr<TGate> Gate;
  ~TReleaseAtEnd() { Gate->Release(); }
};

// The time of the rescues, which the drives move: a read takes 20 ms, a failing one 3 s.
std::atomic<std::int64_t> ClockMs{1000000};
std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::time_point(std::chrono::milliseconds(ClockMs)); }

// A damaged disc of 2000 sectors (bad 100-109, 1000-1099 and 1800) whose reads pass Gate; Disc
// 1 is another disc of the same size. Opened counts the drives opened.
TfrmRescue::TDriveOpener Opener(std::shared_ptr<TGate> Gate, int Disc = 0, std::shared_ptr<int> Opened = {})
{
  return [Gate, Disc, Opened](char) {
    if (Opened) ++*Opened;
    auto drive = std::make_unique<test::TSimulatedDrive>(2000);
    test::TSimulatedDrive* sim = drive.get();
    sim->Disc = Disc;
    sim->ReportsCapacity = true;
    for (std::int64_t s = 100; s < 110; ++s) sim->Unreadable.insert(s);
    for (std::int64_t s = 1000; s < 1100; ++s) sim->Unreadable.insert(s);
    sim->Unreadable.insert(1800);
    sim->BeforeCommand = [sim, Gate](std::size_t Index) {
      const std::vector<std::uint8_t>& cdb = sim->Commands[Index].Cdb;
      if (cdb[0] != 0xBE) return;
      const auto [lba, count] = test::TSimulatedDrive::DecodeRead(cdb);
      if (count == 0) return;
      Gate->Pass();
      const auto bad = sim->Unreadable.lower_bound(lba);
      ClockMs += bad != sim->Unreadable.end() && *bad < lba + count ? 3000 : 20;
    };
    return std::make_unique<TkxPhysicalCD>(std::move(drive));
  };
}

// A rescue of the damaged disc into Image, stopped after Steps reads: its map lies beside it.
void StoppedRescue(const std::string& Image, int Steps)
{
  TkxRescueJob job(Opener(std::make_shared<TGate>())('D'), Image);
  QVERIFY(job.Prepare().IsCompleted());
  TkxJobControl control;
  int steps = 0;
  QVERIFY(job.Run(control, [&](const TkxRescueFigures&) {
                if (++steps == Steps) control.RequestStop();
              }).Outcome.IsStopped());
}

QString Shot(const char* Name) { return QStringLiteral(QT_TESTCASE_BUILDDIR "/") + QLatin1String(Name); }

}  // namespace

class RescueDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void StartFiguresPauseResumeAndAStopThatSavesTheMap()
  {
    QTemporaryDir dir;
    test::TFakeUi ui;
    TfrmRescue dialog(ui);
    auto gate = std::make_shared<TGate>();
    gate->HoldAt = 40;
    const TReleaseAtEnd release{gate};
    dialog.DriveOpener = Opener(gate);
    dialog.Options.Now = Now;
    ui.OnModal = [&](QDialog&) {
      [&] { QCOMPARE(dialog.lPhase->text(), QStringLiteral("-")); }();
      dialog.bStart->click();
      [&] { QVERIFY(dialog.Running() && !dialog.cbScrape->isEnabled() && !dialog.neRetries->isEnabled()); }();
      [&] { QTRY_COMPARE(gate->Reads.load(), std::int64_t{40}); }();
      // The figures come as the rescue pushes them: no timer of the window's reads them.
      [&] { QTRY_VERIFY(dialog.lFailingReads->text().toInt() > 0); }();
      [&] { QCOMPARE(dialog.lPhase->text(), QStringLiteral("Copying")); }();
      [&] { QVERIFY(dialog.lUnreadable->text().toInt() > 0 && dialog.lFailingReads->text().toInt() > 0); }();
      [&] { QCOMPARE(dialog.lPerFailingRead->text(), QStringLiteral("3.0 s")); }();
      [&] { QVERIFY(dialog.lSummary->text().contains(QStringLiteral("sectors not read"))); }();
      [&] { QVERIFY(dialog.grab().save(Shot("screenshot-rescue-during.png"))); }();

      dialog.bStart->click();
      [&] { QVERIFY(dialog.Paused() && dialog.bStart->text() == QStringLiteral("Resume")); }();
      dialog.bStart->click();
      [&] { QVERIFY(!dialog.Paused() && dialog.bStart->text() == QStringLiteral("Pause")); }();

      // Stop leaves the window open until the read in hand has come back and the map is saved.
      dialog.bStop->click();
      [&] { QVERIFY(dialog.isVisible() && dialog.Running() && !dialog.bStop->isEnabled()); }();
      gate->Release();
      [&] { QTRY_VERIFY(!dialog.Running()); }();
      [&] { QVERIFY(dialog.lSummary->text().contains(QStringLiteral("Stopped; the map is saved"))); }();
      dialog.bStop->click();  // now Close
      return dialog.result();
    };
    QCOMPARE(dialog.RescueInto('d', dir.filePath(QStringLiteral("disc")).toStdString()), std::string());
    QVERIFY(dialog.lInfo->text().endsWith(QStringLiteral("/disc.iso'")));
    const TkxRescueMap map = LoadRescueMap(dir.filePath(QStringLiteral("disc.iso.map")).toStdString());
    QVERIFY(map.Phase != TkxRescuePhase::Finished);
    QVERIFY(map.Sectors.Count(TkxSectorState::Finished) >= 32 * 20);
    QVERIFY(ui.Questions.empty());
    QCOMPARE(ui.Beeps, std::vector<TBeep>{TBeep::Exclamation});
    QTRY_COMPARE(dialog.OutstandingWorkers(), 0);
  }

  void RefusalsComeFromTheCore()
  {
    QTemporaryDir dir;
    test::TFakeUi ui;
    TfrmRescue dialog(ui);
    auto opened = std::make_shared<int>(0);
    dialog.DriveOpener = Opener(std::make_shared<TGate>(), 1, opened);

    // An image without its map, before the drive is touched.
    const QString plain = dir.filePath(QStringLiteral("plain.iso"));
    QFile(plain).open(QIODevice::WriteOnly);
    dialog.RescueInto('d', plain.toStdString());
    QCOMPARE(ui.Messages.size(), std::size_t{1});
    QVERIFY(ui.Messages[0].contains(QStringLiteral("exists and has no map beside it")));
    QCOMPARE(*opened, 0);

    // A map of another disc: the person is offered to go on, and the rescue refuses.
    const std::string image = dir.filePath(QStringLiteral("disc.iso")).toStdString();
    StoppedRescue(image, 20);
    ui.OnModal = [&](QDialog&) {
      dialog.bStart->click();
      [&] { QTRY_COMPARE(ui.Messages.size(), std::size_t{2}); }();
      [&] { QVERIFY(!dialog.Running() && !dialog.bStart->isEnabled()); }();
      return int(QDialog::Rejected);
    };
    dialog.RescueInto('d', image);
    QCOMPARE(ui.Questions.size(), std::size_t{1});
    QVERIFY(ui.Questions[0].contains(QStringLiteral("go on where that rescue stopped")));
    QVERIFY2(ui.Messages[1].contains(QStringLiteral("belongs to another disc")), qPrintable(ui.Messages[1]));
    QCOMPARE(dialog.lSummary->text(), ui.Messages[1]);

    // Declining the offer opens nothing.
    ui.YesNoAnswer = false;
    const int modal = ui.ModalRuns;
    dialog.RescueInto('d', image);
    QCOMPARE(ui.ModalRuns, modal);
    QCOMPARE(*opened, 1);
    QTRY_COMPARE(dialog.OutstandingWorkers(), 0);
  }

  // From the menu: the drive, the image (".iso" added), the offer to go on, the rescue to its
  // end with the map drawn from the map file, and the scan of the image the person asks for.
  void FromTheMenuToTheScanOfTheImage()
  {
    QTemporaryDir dir;
    test::TFakeUi ui;
    TfrmMain w(ui);
    TfrmRescue& dialog = *w.frmRescue;
    const std::string image = dir.filePath(QStringLiteral("disc.iso")).toStdString();
    StoppedRescue(image, 30);
    w.frmSelectDrive->DriveLister = [] { return std::vector<std::string>{"D: (DAMAGED)"}; };
    dialog.DriveOpener = Opener(std::make_shared<TGate>());
    dialog.Options.Now = Now;
    ui.FileAnswer = dir.filePath(QStringLiteral("disc"));
    std::string mapName = image + ".map";
    bool scrape = true;
    QString scannedTotal;
    ui.OnModal = [&](QDialog& d) {
      if (auto* scan = dynamic_cast<TfrmRecognize*>(&d)) scannedTotal = scan->lTotalSectors->text();
      if (&d != &dialog) return int(dynamic_cast<TfrmSelectDrive*>(&d) ? QDialog::Accepted : QDialog::Rejected);
      dialog.cbScrape->setChecked(scrape);
      dialog.bStart->click();
      [&] { QTRY_VERIFY(!dialog.Running()); }();
      if (!scrape) [&] { QVERIFY(dialog.grab().save(Shot("screenshot-rescue-after.png"))); }();
      const std::vector<TkxSectorState> cells =
          CellStates(LoadRescueMap(mapName).Sectors, static_cast<std::size_t>(dialog.pbMap->CellCount()));
      const QImage drawn = dialog.pbMap->grab().toImage();
      std::set<QRgb> colours;
      for (std::size_t i = 0; i < cells.size(); ++i) {
        const QRgb pixel = drawn.pixel(dialog.pbMap->CellRect(static_cast<int>(i)).center());
        colours.insert(pixel);
        [&] { QCOMPARE(QColor(pixel), SectorStateColor(cells[i])); }();
      }
      [&] { QVERIFY(colours.count(SectorStateColor(scrape ? TkxSectorState::Bad : TkxSectorState::NonScraped).rgb())); }();
      return d.result();
    };
    w.miRescueClick();
    QCOMPARE(ui.Questions.size(), std::size_t{2});
    QVERIFY(ui.Questions[0].contains(QStringLiteral("go on where that rescue stopped")));
    QVERIFY(ui.Questions[1].contains(QStringLiteral("111 unreadable sectors")));
    QVERIFY(ui.Questions[1].contains(QStringLiteral("scan the image")));
    QCOMPARE(w.eDiskLocation->text(), QString::fromStdString(image));
    QCOMPARE(scannedTotal, QStringLiteral("2000"));
    QCOMPARE(LoadRescueMap(image + ".map").Sectors.Count(TkxSectorState::Bad), std::int64_t{111});

    // Declining the scan leaves the location as it was.
    ui.Questions.clear();
    w.eDiskLocation->setText(QStringLiteral("E:"));
    ui.FileAnswer = dir.filePath(QStringLiteral("second.iso"));
    mapName = ui.FileAnswer.toStdString() + ".map";
    ui.YesNoAnswer = false;
    scrape = false;
    w.miRescueClick();
    QCOMPARE(ui.Questions.size(), std::size_t{1});
    QCOMPARE(w.eDiskLocation->text(), QStringLiteral("E:"));
  }
};

QTEST_MAIN(RescueDialogTest)
#include "RescueDialogTest.moc"
