// The rescue dialog on a simulated damaged drive whose reads pass a gate the test opens: start,
// figures and map, pause and resume, a stop that saves the map, the offer to go on from a map,
// the refusals, and from the main window's menu the offer at the end to scan the image. Also
// run under ThreadSanitizer. Leaves pictures of the dialog during and after a rescue.
#include "common/kxShared.h"
#include "media/SimulatedDrive.h"
#include "media/dlgDrive.h"
#include "media/dlgRescue.h"
#include "support/kxFakeUi.h"
#include "ui/Main.h"
#include "ui/dlgRecognize.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
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

// The reads of a drive wait here until the test lets them through, one count at a time.
class TGate {
 public:
  void Let(std::int64_t Reads)
  {
    const std::lock_guard guard(Lock);
    Allowed += Reads;
    Changed.notify_all();
  }
  void OpenAll()
  {
    const std::lock_guard guard(Lock);
    Open = true;
    Changed.notify_all();
  }
  std::int64_t Served()
  {
    const std::lock_guard guard(Lock);
    return Passed;
  }
  void Pass()
  {
    std::unique_lock guard(Lock);
    Changed.wait(guard, [this] { return Open || Passed < Allowed; });
    ++Passed;
  }

 private:
  std::mutex Lock;
  std::condition_variable Changed;
  std::int64_t Allowed = 0;
  std::int64_t Passed = 0;
  bool Open = false;
};

// Opens the gate when the test leaves, before the dialog waits for its worker.
struct TOpenAtEnd {
  std::shared_ptr<TGate> Gate;
  ~TOpenAtEnd() { Gate->OpenAll(); }
};

// The time of the rescues, which the drives move: a read takes 20 ms, a failing one 3 s.
struct TDriveClock {
  std::atomic<std::int64_t> Ms{1000000};
  std::chrono::steady_clock::time_point operator()() const
  {
    return std::chrono::steady_clock::time_point(std::chrono::milliseconds(Ms.load()));
  }
};

// The simulated drive, each read of sectors passing the gate first.
class TGatedDrive final : public TScsiDevice {
 public:
  TGatedDrive(std::shared_ptr<TGate> Gate_, int Disc, std::shared_ptr<TDriveClock> Clock_)
      : Sim(2000), Gate(std::move(Gate_)), Clock(std::move(Clock_))
  {
    Sim.Disc = Disc;
    Sim.ReportsCapacity = true;
    for (std::int64_t s = 100; s < 110; ++s) Sim.Unreadable.insert(s);
    for (std::int64_t s = 1000; s < 1100; ++s) Sim.Unreadable.insert(s);
    Sim.Unreadable.insert(1800);
  }
  TScsiResult SendCdb(std::span<const std::uint8_t> Cdb, std::span<std::uint8_t> DataIn,
                      std::chrono::seconds Timeout) override
  {
    const bool read = Cdb[0] == 0xBE && test::TSimulatedDrive::DecodeRead({Cdb.begin(), Cdb.end()}).second > 0;
    if (read) Gate->Pass();
    const TScsiResult result = Sim.SendCdb(Cdb, DataIn, Timeout);
    if (read) Clock->Ms += result.Good() ? 20 : 3000;
    return result;
  }
  TScsiResult SendCdbOut(std::span<const std::uint8_t> Cdb, std::span<const std::uint8_t> DataOut,
                         std::chrono::seconds Timeout) override
  {
    return Sim.SendCdbOut(Cdb, DataOut, Timeout);
  }
  test::TSimulatedDrive Sim;

 private:
  std::shared_ptr<TGate> Gate;
  std::shared_ptr<TDriveClock> Clock;
};

const auto Clock = std::make_shared<TDriveClock>();

// A damaged disc of 2000 sectors (bad 100-109, 1000-1099 and 1800) in a drive behind Gate;
// Disc 1 is another disc of the same size. Opened counts the drives opened.
TfrmRescue::TDriveOpener Opener(std::shared_ptr<TGate> Gate, int Disc = 0, std::shared_ptr<int> Opened = {})
{
  return [Gate, Disc, Opened](char) {
    if (Opened) ++*Opened;
    return std::make_unique<TkxPhysicalCD>(std::make_unique<TGatedDrive>(Gate, Disc, Clock));
  };
}

std::shared_ptr<TGate> OpenGate()
{
  auto gate = std::make_shared<TGate>();
  gate->OpenAll();
  return gate;
}

// A rescue of the damaged disc into Image, stopped after Steps reads: its map lies beside it.
void StoppedRescue(const std::string& Image, int Steps)
{
  TkxRescueJob job(Opener(OpenGate())('D'), Image);
  QCOMPARE(job.Prepare(), std::string());
  TkxJobControl control;
  int steps = 0;
  QVERIFY(job.Run(control, [&] {
                if (++steps == Steps) control.RequestStop();
              }).Stopped);
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
    const TOpenAtEnd open{gate};
    dialog.DriveOpener = Opener(gate);
    dialog.Options.Now = [] { return (*Clock)(); };
    const std::string image = dir.filePath(QStringLiteral("disc")).toStdString();
    ui.OnModal = [&](QDialog&) {
      [&] { QVERIFY(dialog.bStart->isDefault()); }();
      [&] { QCOMPARE(dialog.lPhase->text(), QStringLiteral("-")); }();
      dialog.bStart->click();
      [&] { QVERIFY(dialog.Running()); }();
      [&] { QVERIFY(!dialog.cbScrape->isEnabled() && !dialog.neRetries->isEnabled()); }();
      gate->Let(40);
      [&] { QTRY_COMPARE(gate->Served(), std::int64_t{40}); }();
      dialog.tmRefreshTimer();
      [&] { QCOMPARE(dialog.lPhase->text(), QStringLiteral("Copying")); }();
      [&] { QVERIFY(dialog.lBadSectors->text().toInt() > 0); }();
      [&] { QVERIFY(dialog.lFailingReads->text().toInt() > 0); }();
      [&] { QCOMPARE(dialog.lPerFailingRead->text(), QStringLiteral("3.0 s")); }();
      [&] { QVERIFY(dialog.lSummary->text().contains(QStringLiteral("sectors not read"))); }();
      [&] { QVERIFY(dialog.grab().save(Shot("screenshot-rescue-during.png"))); }();

      dialog.bStart->click();
      [&] { QVERIFY(dialog.Paused()); }();
      [&] { QCOMPARE(dialog.bStart->text(), QStringLiteral("Resume")); }();
      dialog.bStart->click();
      [&] { QVERIFY(!dialog.Paused()); }();
      [&] { QCOMPARE(dialog.bStart->text(), QStringLiteral("Pause")); }();

      // Stop leaves the window open until the read in hand has come back and the map is saved.
      dialog.bStop->click();
      [&] { QVERIFY(dialog.isVisible() && dialog.Running()); }();
      [&] { QVERIFY(!dialog.bStop->isEnabled()); }();
      gate->OpenAll();
      [&] { QTRY_VERIFY(!dialog.Running()); }();
      [&] { QVERIFY(dialog.lSummary->text().contains(QStringLiteral("Stopped; the map is saved"))); }();
      [&] { QCOMPARE(dialog.bStop->text(), QStringLiteral("Close")); }();
      dialog.bStop->click();
      return dialog.result();
    };
    QCOMPARE(dialog.RescueInto('d', image), std::string());
    QVERIFY(dialog.lInfo->toolTip().endsWith(QStringLiteral("/disc.iso'")));
    const TkxRescueMap map = LoadRescueMap(image + ".iso.map");
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
    dialog.DriveOpener = Opener(OpenGate(), 1, opened);

    // An image without its map, before the drive is touched.
    const QString plain = dir.filePath(QStringLiteral("plain.iso"));
    QFile(plain).open(QIODevice::WriteOnly);
    QCOMPARE(dialog.RescueInto('d', plain.toStdString()), std::string());
    QCOMPARE(ui.Messages.size(), std::size_t{1});
    QVERIFY(ui.Messages[0].contains(QStringLiteral("exists and has no map beside it")));
    QCOMPARE(*opened, 0);

    // A map of another disc: the person is offered to go on, and the rescue refuses.
    const std::string image = dir.filePath(QStringLiteral("disc.iso")).toStdString();
    StoppedRescue(image, 20);
    const QByteArray before = [&] {
      QFile f(QString::fromStdString(image + ".map"));
      f.open(QIODevice::ReadOnly);
      return f.readAll();
    }();
    ui.OnModal = [&](QDialog&) {
      dialog.bStart->click();
      [&] { QTRY_COMPARE(ui.Messages.size(), std::size_t{2}); }();
      [&] { QVERIFY(!dialog.Running()); }();
      [&] { QVERIFY(!dialog.bStart->isEnabled()); }();
      return int(QDialog::Rejected);
    };
    dialog.RescueInto('d', image);
    QCOMPARE(ui.Questions.size(), std::size_t{1});
    QVERIFY(ui.Questions[0].contains(QStringLiteral("go on where that rescue stopped")));
    QVERIFY2(ui.Messages[1].contains(QStringLiteral("belongs to another disc")), qPrintable(ui.Messages[1]));
    QCOMPARE(dialog.lSummary->text(), ui.Messages[1]);
    QFile after(QString::fromStdString(image + ".map"));
    after.open(QIODevice::ReadOnly);
    QCOMPARE(after.readAll(), before);

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
    const std::string image = dir.filePath(QStringLiteral("disc.iso")).toStdString();
    StoppedRescue(image, 30);
    w.frmSelectDrive->DriveLister = [] { return std::vector<std::string>{"D: (DAMAGED)"}; };
    w.frmRescue->DriveOpener = Opener(OpenGate());
    w.frmRescue->Options.Now = [] { return (*Clock)(); };
    ui.FileAnswer = dir.filePath(QStringLiteral("disc"));
    std::string mapName = image + ".map";
    bool scrape = true;
    QString scannedTotal;
    ui.OnModal = [&](QDialog& d) {
      if (&d == w.frmRescue.get()) {
        w.frmRescue->cbScrape->setChecked(scrape);
        w.frmRescue->bStart->click();
        [&] { QTRY_VERIFY(!w.frmRescue->Running()); }();
        if (!scrape) [&] { QVERIFY(w.frmRescue->grab().save(Shot("screenshot-rescue-after.png"))); }();
        const TkxRescueMap map = LoadRescueMap(mapName);
        const std::vector<TkxSectorState> cells =
            CellStates(map.Sectors, static_cast<std::size_t>(w.frmRescue->pbMap->CellCount()));
        const QImage drawn = w.frmRescue->pbMap->grab().toImage();
        std::set<QRgb> colours;
        for (std::size_t i = 0; i < cells.size(); ++i) {
          const QRgb pixel = drawn.pixel(w.frmRescue->pbMap->CellRect(static_cast<int>(i)).center());
          colours.insert(pixel);
          [&] { QCOMPARE(QColor(pixel), SectorStateColor(cells[i])); }();
        }
        [&] { QVERIFY(colours.count(SectorStateColor(scrape ? TkxSectorState::Bad : TkxSectorState::NonScraped).rgb())); }();
        [&] { QVERIFY(colours.count(SectorStateColor(TkxSectorState::Finished).rgb()) == 1); }();
        return d.result();
      }
      if (auto* scan = dynamic_cast<TfrmRecognize*>(&d)) {
        scannedTotal = scan->lTotalSectors->text();
        return int(QDialog::Rejected);
      }
      return int(QDialog::Accepted);  // the drive
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
    QVERIFY(QFileInfo::exists(QString::fromStdString(mapName)));
  }
};

QTEST_MAIN(RescueDialogTest)
#include "RescueDialogTest.moc"
