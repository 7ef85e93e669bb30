// SPDX-License-Identifier: GPL-3.0-or-later
// Image > Check found files in the main window: what it refuses to start on, a check that
// updates the list, the caption and the status line, and Cancel in its progress window, which
// keeps what was concluded, as the command line does. The rules of the check itself are tested
// in the core (kxCheckTest).
#include "support/kxFakeUi.h"
#include "ui/FileListView.h"
#include "ui/Main.h"

#include <QAction>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <vector>

using namespace kx;
using namespace kx::ui;

namespace {

constexpr std::int32_t ss = 2048;

// A medium held in memory. When Go is given, the first read tells Reading that it began and
// waits until Go is opened.
class TMemoryMedium final : public TkxDisk {
 public:
  explicit TMemoryMedium(std::vector<std::uint8_t> Bytes_) : Bytes(std::move(Bytes_))
  {
    Bytes.resize((Bytes.size() + ss - 1) / ss * ss, 0);
    SectorCount = static_cast<std::int64_t>(Bytes.size()) / ss;
  }
  std::int32_t DoReadSectors(std::uint8_t* Buffer, std::int32_t Count, std::int64_t First, const TkxReadOptions&) override
  {
    if (Reading) {
      Reading->set_value();
      Reading.reset();
      Go.wait();
    }
    const std::int64_t n = std::max<std::int64_t>(0, std::min<std::int64_t>(Count, SectorCount - First));
    std::memcpy(Buffer, Bytes.data() + First * ss, static_cast<std::size_t>(n * ss));
    return static_cast<std::int32_t>(n * ss);
  }

  std::vector<std::uint8_t> Bytes;
  std::shared_ptr<std::promise<void>> Reading;
  std::shared_future<void> Go;
};

// A PNG padded to three sectors by data of no kind, as the classic scan lists it, then a
// sector of other data.
std::vector<std::uint8_t> Medium(std::int64_t& PngSize)
{
  QFile png(QStringLiteral(KX_TEST_FILES "/tiny.png"));
  if (!png.open(QIODevice::ReadOnly)) return {};
  const QByteArray bytes = png.readAll();
  PngSize = bytes.size();
  std::vector<std::uint8_t> medium(bytes.begin(), bytes.end());
  medium.resize(4 * ss, 0x01);
  return medium;
}

void Fill(TfrmMain& W, std::int64_t PaddedSize)
{
  W.FileList.Add("File 000001", Kinds::Png, 0, PaddedSize, false);
  W.FileList.Add("File 000002", Kinds::Unknown, 3 * ss, ss, false);
  W.RefreshList();
  W.Modified = false;
  W.UpdateCaption();
}

// The row of the entry named Name; -1 when there is none.
int RowOf(const TfrmMain& W, const std::string& Name)
{
  for (std::int32_t i = 0; i < W.FileList.Count; ++i)
    if (W.FileList.Items[static_cast<std::size_t>(i)].Name == Name) return i;
  return -1;
}

const TkxFileEntry& Png(const TfrmMain& W) { return W.FileList.Items[static_cast<std::size_t>(std::max(0, RowOf(W, "File 000001")))]; }

}  // namespace

class CheckWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

  void TheItemFollowsExtractGroupedAndNeedsAListAndAMedium()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    const QList<QAction*> items = w.miImage->actions();
    QCOMPARE(items.indexOf(w.miCheckFiles), items.indexOf(w.miExtractGrouped) + 1);
    QCOMPARE(w.miCheckFiles->text(), QStringLiteral("Check found files"));
    w.miImageClick();
    QVERIFY(!w.miCheckFiles->isEnabled());
    w.miCheckFilesClick();
    QCOMPARE(ui.Beeps, std::vector<TBeep>{TBeep::Simple});

    Fill(w, 3 * ss);
    w.miImageClick();
    QVERIFY(w.miCheckFiles->isEnabled());
    w.eDiskLocation->setText(QStringLiteral("/nonexistent/disc.iso"));
    w.Modified = false;
    w.miCheckFilesClick();
    QVERIFY(!w.Checking());
    QCOMPARE(ui.Messages.size(), std::size_t{1});
    QVERIFY(ui.Messages[0].startsWith(QStringLiteral("An error occurred while trying to mount the disk.")));
    QCOMPARE(w.FileList.Items[0].Size, 3 * ss);
    QVERIFY(!w.Modified);
  }

  void ACheckUpdatesTheListCaptionAndStatusLineAtOnce()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    std::int64_t pngSize = 0;
    const std::vector<std::uint8_t> medium = Medium(pngSize);
    QVERIFY(!medium.empty());
    w.DiskOpener = [&](const std::string&, TkxOpenFailure*) -> std::unique_ptr<TkxDisk> {
      return std::make_unique<TMemoryMedium>(medium);
    };
    Fill(w, 3 * ss);
    w.lb->setCurrentIndex(w.lb->model()->index(0, 0));
    // Before any check the status line is the classic one.
    QCOMPARE(w.pStatusBar->text(), QStringLiteral("1/2 file(s) selected (6,144 bytes)"));

    QSignalSpy ended(&w, &TfrmMain::CheckEnded);
    w.miCheckFilesClick();
    QVERIFY(w.Checking());
    QVERIFY(ended.wait(20000));
    QVERIFY(!w.Checking());
    QCOMPARE(ui.Messages.size(), std::size_t{1});
    QVERIFY(ui.Beeps.empty());
    QCOMPARE(Png(w).Size, pngSize);
    QCOMPARE(Png(w).Check, TkxCheckState::Whole);
    QCOMPARE(w.lb->model()->rowCount(), w.FileList.Count);
    QVERIFY(w.Modified);
    QVERIFY(w.windowTitle().endsWith(QLatin1Char('*')));
    w.lb->setCurrentIndex(w.lb->model()->index(RowOf(w, "File 000001"), 0));
    QVERIFY2(w.pStatusBar->text().endsWith(QStringLiteral(" - focused file: whole")), qPrintable(w.pStatusBar->text()));
  }

  // The list's files are checked against the medium they were found on; where the field names
  // another, the person is asked first with both named, and keeping the list's medium is the
  // default. Checked against the other disc, the PNG would come out damaged.
  void ACheckWithAnotherMediumInTheFieldAsksAndKeepsTheListsByDefault()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    std::int64_t pngSize = 0;
    const std::vector<std::uint8_t> found = Medium(pngSize);
    std::vector<std::string> opened;
    w.DiskOpener = [&](const std::string& Location, TkxOpenFailure*) -> std::unique_ptr<TkxDisk> {
      opened.push_back(Location);
      return std::make_unique<TMemoryMedium>(Location == "/img/found.iso" ? found : std::vector<std::uint8_t>(4 * ss, 0x20));
    };
    Fill(w, 3 * ss);
    w.ListLocation = "/img/found.iso";
    w.eDiskLocation->setText(QStringLiteral("/img/other.iso"));
    QSignalSpy ended(&w, &TfrmMain::CheckEnded);

    ui.YesNoCancelAnswer = TAnswer::Cancel;
    w.miCheckFilesClick();
    QCOMPARE(ui.Questions.size(), std::size_t{1});
    QVERIFY(ui.Questions[0].contains(QStringLiteral("\"/img/found.iso\"")));
    QVERIFY(ui.Questions[0].contains(QStringLiteral("\"/img/other.iso\"")));
    QCOMPARE(ui.Defaults[0], TAnswer::Yes);
    QVERIFY(!w.Checking());
    QVERIFY(opened.empty());

    ui.YesNoCancelAnswer = TAnswer::Yes;
    w.miCheckFilesClick();
    QVERIFY(ended.wait(20000));
    QCOMPARE(opened, std::vector<std::string>{"/img/found.iso"});
    QCOMPARE(Png(w).Check, TkxCheckState::Whole);
    QCOMPARE(Png(w).Size, pngSize);

    // No: the person says the files are on the medium the field names.
    ui.YesNoCancelAnswer = TAnswer::No;
    w.miCheckFilesClick();
    QVERIFY(ended.wait(20000));
    QCOMPARE(opened.back(), std::string("/img/other.iso"));
    QCOMPARE(ui.Questions.size(), std::size_t{3});
  }

  // The list keeps the order it was sorted in: sizes the check made exact, the extensions it
  // refines and the runs it lists apart at the end are sorted in.
  void ACheckThatChangedTheListSortsItAgain()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    std::int64_t pngSize = 0;
    const std::vector<std::uint8_t> medium = Medium(pngSize);
    w.DiskOpener = [&](const std::string&, TkxOpenFailure*) -> std::unique_ptr<TkxDisk> {
      return std::make_unique<TMemoryMedium>(medium);
    };
    w.FileList.Add("File 000001", Kinds::Png, 0, 3 * ss, false);
    w.FileList.Add("File 000002", Kinds::Unknown, 3 * ss, pngSize + 100, false);
    w.RefreshList();
    w.hc->sectionClicked(3);  // by size: the PNG, padded, comes last
    QCOMPARE(RowOf(w, "File 000001"), 1);
    QSignalSpy ended(&w, &TfrmMain::CheckEnded);
    w.miCheckFilesClick();
    QVERIFY(ended.wait(20000));
    QCOMPARE(Png(w).Size, pngSize);
    QCOMPARE(RowOf(w, "File 000001"), 0);
  }

  void CancelInTheProgressWindowSaysWhereItStoppedAndLeavesTheRestUnchecked()
  {
    test::TFakeUi ui;
    TfrmMain w(ui);
    std::int64_t pngSize = 0;
    const std::vector<std::uint8_t> medium = Medium(pngSize);
    auto reading = std::make_shared<std::promise<void>>();
    std::future<void> began = reading->get_future();
    std::promise<void> go;
    w.DiskOpener = [&, held = go.get_future().share()](const std::string&, TkxOpenFailure*) -> std::unique_ptr<TkxDisk> {
      auto disk = std::make_unique<TMemoryMedium>(medium);
      disk->Reading = reading;
      disk->Go = held;
      return disk;
    };
    Fill(w, 3 * ss);
    QSignalSpy ended(&w, &TfrmMain::CheckEnded);
    w.miCheckFilesClick();
    // Events are handled meanwhile: the check may show its progress before its first read.
    QVERIFY(QTest::qWaitFor([&] { return began.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 20000));
    // Hidden during the check's first second, the window's Cancel works all the same.
    w.CheckProgressWindow()->findChild<QPushButton*>()->click();
    go.set_value();
    QVERIFY(ended.wait(20000));
    QVERIFY(ui.Beeps.empty());
    // What was concluded before the stop stands; the file being read stays unchecked.
    QCOMPARE(ui.Messages, std::vector<QString>{QStringLiteral(
                              "Stopped checking after 1 of 2 files: 0 whole, 0 truncated, 0 damaged, 2 not checked.")});
    QCOMPARE(w.FileList.Items[0].Size, 3 * ss);
    QCOMPARE(w.FileList.Items[0].Check, TkxCheckState::NotChecked);
    QVERIFY(!w.Modified);
  }
};

QTEST_MAIN(CheckWindowTest)
#include "CheckWindowTest.moc"
