// SPDX-License-Identifier: GPL-3.0-or-later
// Extraction from the main window: the empty selection, the folder choice, the mount message,
// plain and grouped names, a second run into the same folder, the failure report, and Cancel in
// the progress window of a long extraction.
#include "common/kxShared.h"
#include "ui/dlgFind.h"
#include "project/kxExtract.h"
#include "support/kxFakeUi.h"
#include "ui/FileListView.h"
#include "ui/Main.h"
#include "ui/dlgRecognize.h"

#include <QDir>
#include <QLineEdit>
#include <QFile>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <future>
#include <functional>
#include <thread>

using namespace kx;
using namespace kx::ui;

namespace {

// An image whose sector s holds the byte 'a' + s % 26 throughout.
QString MakeImage(const QTemporaryDir& Dir, int Sectors)
{
  const QString path = Dir.filePath(QStringLiteral("disc.iso"));
  std::ofstream out(path.toLocal8Bit().toStdString(), std::ios::binary);
  for (int s = 0; s < Sectors; ++s) out << std::string(2048, static_cast<char>('a' + s % 26));
  return path;
}

QByteArray ReadAll(const QString& Path)
{
  QFile file(Path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class TSlowDisk final : public TkxDisk {
 public:
  TSlowDisk() { SectorCount = 16; }
  std::int32_t DoReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t, const TkxReadOptions&) override
  {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::memset(Buffer, 'z', static_cast<std::size_t>(Count) * 2048);
    return Count * 2048;
  }
};

// A medium whose first read waits until Go is opened; Reading is set when it has begun.
class THeldDisk final : public TkxDisk {
 public:
  THeldDisk(std::shared_ptr<std::promise<void>> Reading_, std::shared_future<void> Go_)
      : Reading(std::move(Reading_)), Go(std::move(Go_))
  {
    SectorCount = 16;
  }
  std::int32_t DoReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t, const TkxReadOptions&) override
  {
    if (!Held) {
      Held = true;
      Reading->set_value();
      Go.wait();
    }
    std::memset(Buffer, 'h', static_cast<std::size_t>(Count) * 2048);
    return Count * 2048;
  }

 private:
  std::shared_ptr<std::promise<void>> Reading;
  std::shared_future<void> Go;
  bool Held = false;
};

// A large medium whose read of sector HoldAt waits until Go is opened; Reading is set when it has
// begun. It remembers the last sector it read.
class THeldAtDisk final : public TkxDisk {
 public:
  THeldAtDisk(std::int64_t HoldAt_, std::shared_ptr<std::promise<void>> Reading_, std::shared_future<void> Go_,
              std::shared_ptr<std::atomic<std::int64_t>> Last_)
      : HoldAt(HoldAt_), Reading(std::move(Reading_)), Go(std::move(Go_)), Last(std::move(Last_))
  {
    SectorCount = 10 * TkxDisk::ChunkSectors;
  }
  std::int32_t DoReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t FirstSector, const TkxReadOptions&) override
  {
    if (FirstSector <= HoldAt && HoldAt < FirstSector + Count) {
      Reading->set_value();
      Go.wait();
    }
    *Last = FirstSector + Count - 1;
    std::memset(Buffer, 'l', static_cast<std::size_t>(Count) * 2048);
    return Count * 2048;
  }

 private:
  const std::int64_t HoldAt;
  std::shared_ptr<std::promise<void>> Reading;
  std::shared_future<void> Go;
  std::shared_ptr<std::atomic<std::int64_t>> Last;
};

void SelectAll(TfrmMain& W)
{
  W.lb->selectAll();
}

// Starts an extraction as Start does and waits for its end: the window says how it went once
// its worker has ended.
void RunToEnd(TfrmMain& W, const std::function<void()>& Start)
{
  QSignalSpy ended(&W, &TfrmMain::ExtractionEnded);
  Start();
  if (W.Extracting()) QVERIFY(ended.wait(60000));
  QVERIFY(!W.Extracting());
}

}  // namespace

class ExtractWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void EmptySelectionOnlyBeeps()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    w.FileList.Add("a", 1, 0, 10, false);
    w.RefreshList();
    w.miExtractClick();
    QCOMPARE(ui.Beeps, std::vector<TBeep>{TBeep::Simple});
    QVERIFY(ui.FolderCaptions.empty());
  }

  void CancelledChooserAndMountFailure()
  {
    QTemporaryDir out;
    test::TFakeUi ui;
    TfrmMain w(ui);
    w.FileList.Add("a", 1, 0, 10, false);
    w.RefreshList();
    SelectAll(w);
    w.miExtractClick();
    QCOMPARE(ui.FolderCaptions, std::vector<QString>{QStringLiteral("Please select a folder for the extracted file(s):")});
    QVERIFY(ui.Messages.empty());
    QVERIFY(ui.Beeps.empty());

    ui.FolderAnswer = out.path();
    w.eDiskLocation->setText(out.filePath(QStringLiteral("missing.iso")));
    w.miExtractClick();
    QCOMPARE(ui.Messages.size(), std::size_t{1});
    QVERIFY(ui.Messages[0].startsWith(QStringLiteral("An error occurred while trying to mount the disk.")));
    QCOMPARE(ui.Beeps, std::vector<TBeep>{TBeep::Exclamation});
    QCOMPARE(QDir(out.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 0);
  }

  void PlainAndGroupedNamesAndASecondRunIntoTheSameFolder()
  {
    QTemporaryDir dir;
    QTemporaryDir out;
    test::TFakeUi ui;
    TfrmMain w(ui);
    w.eDiskLocation->setText(MakeImage(dir, 4));
    w.FileList.Add("File 000001", 77, 0, 2048, false);
    w.FileList.Add("File 000002", 0, 2048, 4096, false);
    w.FileList.Add("File 000003", 53, 6144, 100, false);
    w.RefreshList();
    SelectAll(w);
    w.Modified = false;
    ui.FolderAnswer = out.path();

    RunToEnd(w, [&] { w.Extract(TkxExtractMode::Plain); });
    RunToEnd(w, [&] { w.Extract(TkxExtractMode::Plain); });
    QVERIFY(ui.Messages.empty());
    QCOMPARE(ui.Beeps, (std::vector<TBeep>{TBeep::Exclamation, TBeep::Exclamation}));
    QCOMPARE(ReadAll(out.filePath(QStringLiteral("File 000001.jpg"))), QByteArray(2048, 'a'));
    QCOMPARE(ReadAll(out.filePath(QStringLiteral("File 000001(2).jpg"))), QByteArray(2048, 'a'));
    QCOMPARE(ReadAll(out.filePath(QStringLiteral("File 000002"))), QByteArray(2048, 'b') + QByteArray(2048, 'c'));
    QCOMPARE(ReadAll(out.filePath(QStringLiteral("File 000003.ppt.xls.doc"))), QByteArray(100, 'd'));

    RunToEnd(w, [&] { w.miExtractGroupedClick(); });
    const std::string folder = IncludeTrailingPathDelimiter(out.path().toStdString());
    QCOMPARE(ReadAll(QString::fromStdString(ExtractTargetDir(folder, 77, TkxExtractMode::Grouped) + "File 000001.jpg")),
             QByteArray(2048, 'a'));
    QCOMPARE(ReadAll(out.filePath(QStringLiteral("Other/File 000002"))).size(), 4096);
    QVERIFY(!w.Modified);
    QCOMPARE(w.SelectedRows().size(), std::size_t{3});
  }

  void FailuresAreReportedAndTheOthersStillWritten()
  {
    QTemporaryDir dir;
    QTemporaryDir out;
    test::TFakeUi ui;
    TfrmMain w(ui);
    w.eDiskLocation->setText(MakeImage(dir, 2));
    w.FileList.Add("good", 1, 0, 10, false);
    w.FileList.Add("negative", 1, -5, 10, false);
    w.RefreshList();
    SelectAll(w);
    ui.FolderAnswer = out.path();
    RunToEnd(w, [&] { w.miExtractClick(); });
    QCOMPARE(ui.Messages.size(), std::size_t{1});
    // Each path with its reason, as the command line gives them.
    QCOMPARE(ui.Messages[0], QStringLiteral("The following files could not be extracted:\n\n") +
                                 out.filePath(QStringLiteral("negative.txt")) + QStringLiteral(": its offset is negative\n"));
    QVERIFY(QFile::exists(out.filePath(QStringLiteral("good.txt"))));
    QVERIFY(ui.Beeps.empty());
  }

  // The list's files are extracted from the medium they were found on; another location in the
  // field is asked about first, naming both, and the list's medium is the default answer.
  void ExtractionFromAnotherMediumIsAskedAboutFirst()
  {
    QTemporaryDir found;
    QTemporaryDir other;
    QTemporaryDir out;
    const QString a = MakeImage(found, 3);
    const QString b = other.filePath(QStringLiteral("disc.iso"));
    std::ofstream(b.toStdString(), std::ios::binary) << std::string(3 * 2048, 'z');
    const QString project = found.filePath(QStringLiteral("p.kx"));
    std::ofstream(project.toStdString()) << "KX\nLOCATION\n" << a.toStdString() << "\nFILES\n1\nFile 000002\n\n2048\n2048\n";
    test::TFakeUi ui;
    TfrmMain w(ui);
    QVERIFY(w.OpenProjectFile(project.toStdString()));
    SelectAll(w);
    ui.FolderAnswer = out.path();
    w.eDiskLocation->setText(b);
    ui.YesNoCancelAnswer = TAnswer::Cancel;
    w.miExtractClick();
    QCOMPARE(ui.Questions.size(), std::size_t{1});
    QVERIFY2(ui.Questions[0].contains(a) && ui.Questions[0].contains(b), qPrintable(ui.Questions[0]));
    QCOMPARE(ui.Defaults, std::vector<TAnswer>{TAnswer::Yes});
    QVERIFY(ui.FolderCaptions.empty());
    QVERIFY(!w.Extracting());

    ui.YesNoCancelAnswer = TAnswer::Yes;
    RunToEnd(w, [&] { w.miExtractClick(); });
    QCOMPARE(ReadAll(out.filePath(QStringLiteral("File 000002"))), QByteArray(2048, 'b'));
    ui.YesNoCancelAnswer = TAnswer::No;
    RunToEnd(w, [&] { w.miExtractClick(); });
    QCOMPARE(ReadAll(out.filePath(QStringLiteral("File 000002(2)"))), QByteArray(2048, 'z'));
    QCOMPARE(ui.Questions.size(), std::size_t{3});

    // Back at the list's own medium, nothing is asked; nor after a scan of the other one.
    w.eDiskLocation->setText(a);
    RunToEnd(w, [&] { w.miExtractClick(); });
    QCOMPARE(ui.Questions.size(), std::size_t{3});
    ui.OnModal = [&](QDialog& Dialog) {
      w.frmRecognize->bStart->click();
      [&] { QTRY_VERIFY(!w.frmRecognize->Running()); }();
      return int(Dialog.Accepted);
    };
    w.eDiskLocation->setText(b);
    w.miRecognizeClick();
    QCOMPARE(w.ListLocation, b.toStdString());
    SelectAll(w);
    RunToEnd(w, [&] { w.miExtractClick(); });
    QCOMPARE(ui.Questions.size(), std::size_t{3});
  }

  void WhileItRunsTheMainWindowTakesNoInputButOtherWindowsDo()
  {
    QTemporaryDir out;
    test::TFakeUi ui;
    TfrmMain w(ui);
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto reading = std::make_shared<std::promise<void>>();
    std::promise<void> go;
    w.DiskOpener = [reading, held = go.get_future().share()](const std::string&, TkxOpenFailure*) {
      return std::unique_ptr<TkxDisk>(std::make_unique<THeldDisk>(reading, held));
    };
    w.FileList.Add("a", 1, 0, 10, false);
    w.FileList.Add("b", 1, 2048, 10, false);
    w.RefreshList();
    SelectAll(w);
    w.Modified = false;
    ui.FolderAnswer = out.path();
    QSignalSpy ended(&w, &TfrmMain::ExtractionEnded);
    w.miExtractClick();
    QVERIFY(w.Extracting());
    reading->get_future().wait();

    QTest::keyClicks(w.eDiskLocation, QStringLiteral("x"));
    QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);  // a new project would empty the list
    QCOMPARE(w.eDiskLocation->text(), QString());
    QCOMPARE(w.FileList.Count, 2);
    QTest::keyClicks(w.frmFind->eName, QStringLiteral("y"));
    QCOMPARE(w.frmFind->eName->text(), QStringLiteral("y"));

    go.set_value();
    QVERIFY(ended.wait(20000));
    QTest::keyClicks(w.eDiskLocation, QStringLiteral("x"));
    QCOMPARE(w.eDiskLocation->text(), QStringLiteral("x"));
    w.Modified = false;
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
    QCOMPARE(w.FileList.Count, 0);
  }

  // Cancel during one file of gigabytes ends it within the chunk being copied, removes it and
  // says so, rather than copying to the file's end and saying nothing.
  void CancelStopsALargeFileWithinAChunk()
  {
    QTemporaryDir out;
    test::TFakeUi ui;
    TfrmMain w(ui);
    const auto reading = std::make_shared<std::promise<void>>();
    std::promise<void> go;
    const auto last = std::make_shared<std::atomic<std::int64_t>>(-1);
    w.DiskOpener = [reading, held = go.get_future().share(), last](const std::string&, TkxOpenFailure*) {
      return std::unique_ptr<TkxDisk>(std::make_unique<THeldAtDisk>(TkxDisk::ChunkSectors, reading, held, last));
    };
    w.FileList.Add("large", 0, 0, 10 * TkxDisk::ChunkSectors * 2048, false);
    w.RefreshList();
    SelectAll(w);
    ui.FolderAnswer = out.path();
    RunToEnd(w, [&] {
      w.miExtractClick();
      reading->get_future().wait();  // in the second chunk
      w.ExtractProgressWindow()->findChild<QPushButton*>()->click();
      go.set_value();
    });
    QCOMPARE(ui.Messages, std::vector<QString>{QStringLiteral("The extraction was stopped. 1 file was not extracted.")});
    QCOMPARE(last->load(), 2 * TkxDisk::ChunkSectors - 1);
    QVERIFY(QDir(out.path()).entryList(QDir::Files).isEmpty());
  }

  void CancelInTheProgressWindowStopsBeforeTheNextFile()
  {
    QTemporaryDir dir;
    QTemporaryDir out;
    test::TFakeUi ui;
    TfrmMain w(ui);
    w.show();
    // A medium that answers each read after a millisecond, as a slow drive would.
    w.DiskOpener = [](const std::string&, TkxOpenFailure*) -> std::unique_ptr<TkxDisk> {
      return std::make_unique<TSlowDisk>();
    };
    const int files = 3000;
    for (int i = 0; i < files; ++i) w.FileList.Add("f" + std::to_string(i), 0, 0, 2048, false);
    w.RefreshList();
    SelectAll(w);
    ui.FolderAnswer = out.path();
    RunToEnd(w, [&] {
      w.miExtractClick();
      QVERIFY(w.ExtractProgressWindow() != nullptr);
      QVERIFY(!w.ExtractProgressWindow()->isVisible());
      QTRY_VERIFY_WITH_TIMEOUT(w.ExtractProgressWindow()->isVisible(), 20000);
      w.ExtractProgressWindow()->findChild<QPushButton*>()->click();
    });
    QCOMPARE(ui.Messages.size(), std::size_t{1});
    const int written = QDir(out.path()).entryList(QDir::Files).size();
    QVERIFY(written < files);
    QVERIFY2(ui.Messages[0].contains(QStringLiteral("%1 files were not extracted.").arg(files - written)),
             qPrintable(ui.Messages[0]));
  }
};

QTEST_MAIN(ExtractWindowTest)
#include "ExtractWindowTest.moc"
