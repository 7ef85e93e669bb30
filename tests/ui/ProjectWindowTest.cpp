// The project commands of the main window: the state of title and flag through new, open, save
// and save as; the unsaved-changes prompt; failed loads and failed saves.
#include "support/kxFakeUi.h"
#include "ui/FileListView.h"
#include "media/dlgDrive.h"
#include "ui/Main.h"

#include <QCloseEvent>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include <sys/mount.h>

using namespace kx;
using namespace kx::ui;

namespace {

std::string ReadAll(const QString& Path)
{
  std::ifstream in(Path.toLocal8Bit().toStdString(), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteAll(const QString& Path, const std::string& Text)
{
  std::ofstream out(Path.toLocal8Bit().toStdString(), std::ios::binary);
  out << Text;
}

QString Title(bool Modified, const QString& Name = {})
{
  return QStringLiteral("Veltrane Tessarin 2008 - [%1]%2")
      .arg(Name.isEmpty() ? QStringLiteral("Untitled") : Name, Modified ? QStringLiteral("*") : QString());
}

// A tmpfs of a few KiB on a folder of its own, so that a save can run out of space.
struct TSmallDisk {
  QTemporaryDir Dir;
  bool Mounted = false;
  QString Error;
  explicit TSmallDisk(int Bytes)
  {
    const std::string options = "size=" + std::to_string(Bytes);
    Mounted = ::mount("tmpfs", Dir.path().toLocal8Bit().constData(), "tmpfs", 0, options.c_str()) == 0;
    if (!Mounted) Error = QString::fromLocal8Bit(std::strerror(errno));
  }
  ~TSmallDisk()
  {
    if (Mounted) ::umount2(Dir.path().toLocal8Bit().constData(), MNT_DETACH);
  }
};

}  // namespace

class ProjectWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void EveryRowOfTheStateTable()
  {
    QTemporaryDir dir;
    test::TFakeUi ui;
    TfrmMain w(ui);
    QCOMPARE(w.windowTitle(), Title(false));  // untitled, not modified
    w.eDiskLocation->setText(QStringLiteral("E:"));
    QCOMPARE(w.windowTitle(), Title(true));  // untitled, modified
    ui.FileAnswer = dir.filePath(QStringLiteral("one"));
    QVERIFY(w.SaveProject(false));
    const QString one = dir.filePath(QStringLiteral("one.kx"));
    QCOMPARE(w.windowTitle(), Title(false, one));  // named, not modified
    QVERIFY(QFile::exists(one));
    w.eDiskLocation->setText(QStringLiteral("D:"));
    QCOMPARE(w.windowTitle(), Title(true, one));  // named, modified
    QVERIFY(w.SaveProject(false));
    QCOMPARE(ui.FileChoices.size(), std::size_t{1});  // the named project is saved without asking
    QCOMPARE(w.windowTitle(), Title(false, one));
    QVERIFY(w.NewProject());
    QCOMPARE(w.windowTitle(), Title(false));
    QVERIFY(w.eDiskLocation->text().isEmpty());
    QVERIFY(ui.Questions.empty());
    ui.FileAnswer = one;
    QVERIFY(w.OpenProject());
    QCOMPARE(w.eDiskLocation->text(), QStringLiteral("D:"));
    QCOMPARE(w.windowTitle(), Title(false, one));  // opening sets the location yet ends unmodified
  }

  void PromptAnswersAtNewOpenAndClose()
  {
    QTemporaryDir dir;
    test::TFakeUi ui;
    TfrmMain w(ui);
    w.FileList.Add("a", 1, 0, 5, false);
    w.RefreshList();
    w.eDiskLocation->setText(QStringLiteral("E:"));

    ui.YesNoCancelAnswer = TAnswer::Cancel;
    QVERIFY(!w.NewProject());
    QCOMPARE(ui.Questions.back(), QStringLiteral("Save changes to project \"\"?"));
    QCOMPARE(w.FileList.Count, 1);
    QVERIFY(!w.OpenProject());
    QVERIFY(ui.FileChoices.empty());
    QCloseEvent close;
    QApplication::sendEvent(&w, &close);
    QVERIFY(!close.isAccepted());

    // Yes whose save is cancelled in the save dialog stops the operation.
    ui.YesNoCancelAnswer = TAnswer::Yes;
    ui.FileAnswer.clear();
    QVERIFY(!w.NewProject());
    QCOMPARE(w.FileList.Count, 1);

    // Yes that saves goes on.
    ui.FileAnswer = dir.filePath(QStringLiteral("p.kx"));
    QVERIFY(w.NewProject());
    QCOMPARE(w.FileList.Count, 0);
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("p.kx"))));

    // No goes on without saving.
    w.eDiskLocation->setText(QStringLiteral("F:"));
    ui.YesNoCancelAnswer = TAnswer::No;
    QCloseEvent again;
    QApplication::sendEvent(&w, &again);
    QVERIFY(again.isAccepted());
    QCOMPARE(ui.Questions.back(), QStringLiteral("Save changes to project \"\"?"));
  }

  void YesWhoseSaveFailsStopsTheClose()
  {
    QTemporaryDir dir;
    test::TFakeUi ui;
    TfrmMain w(ui);
    w.eDiskLocation->setText(QStringLiteral("E:"));
    ui.YesNoCancelAnswer = TAnswer::Yes;
    ui.FileAnswer = dir.filePath(QStringLiteral("no-such-folder/p.kx"));
    QCloseEvent close;
    QApplication::sendEvent(&w, &close);
    QVERIFY(!close.isAccepted());
    QCOMPARE(ui.Messages.size(), std::size_t{1});
    QVERIFY(w.Modified);
  }

  void SaveAsksForANameWhenTheFileIsGoneAndAddsTheExtension()
  {
    QTemporaryDir dir;
    test::TFakeUi ui;
    TfrmMain w(ui);
    ui.FileAnswer = dir.filePath(QStringLiteral("proj"));
    QVERIFY(w.SaveProject(true));
    QCOMPARE(QString::fromStdString(w.ProjectFileName), dir.filePath(QStringLiteral("proj.kx")));
    ui.FileAnswer = dir.filePath(QStringLiteral("proj.old"));
    QVERIFY(w.SaveProject(true));
    QCOMPARE(QString::fromStdString(w.ProjectFileName), dir.filePath(QStringLiteral("proj.old")));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("proj.old"))));
    QFile::remove(dir.filePath(QStringLiteral("proj.old")));
    ui.FileAnswer = dir.filePath(QStringLiteral("again"));
    const std::size_t asked = ui.FileChoices.size();
    QVERIFY(w.SaveProject(false));
    QCOMPARE(ui.FileChoices.size(), asked + 1);
    QCOMPARE(ui.FileChoices.back().Filter, QStringLiteral("Tessarin projects (*.kx)"));
    QCOMPARE(QString::fromStdString(w.ProjectFileName), dir.filePath(QStringLiteral("again.kx")));
  }

  // A project named on the command line (a double click on a .kx file) opens without a dialog;
  // one that cannot be read is named in the message and leaves the window untitled.
  void AProjectNamedAtStartOpensWithoutAsking()
  {
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.kx"));
    WriteAll(good, "KX\nLOCATION\n/x/disc.iso\nFILES\n2\nFile 000001\n.jpg\n2048\n100\nFile 000002\n.png\n4096\n10\n");
    test::TFakeUi ui;
    {
      TfrmMain w(ui);
      QVERIFY(w.OpenProjectFile(good.toStdString(), true));
      QVERIFY(ui.FileChoices.empty());
      QVERIFY(ui.Messages.empty());
      QCOMPARE(w.eDiskLocation->text(), QStringLiteral("/x/disc.iso"));
      QCOMPARE(w.lb->model()->rowCount(), 2);
      QCOMPARE(w.windowTitle(), Title(false, good));
    }
    const QString missing = dir.filePath(QStringLiteral("missing.kx"));
    TfrmMain w(ui);
    QVERIFY(!w.OpenProjectFile(missing.toStdString(), true));
    QCOMPARE(ui.Messages.back(), missing + QStringLiteral("\n\nFile not found"));
    QVERIFY(w.ProjectFileName.empty());
    QCOMPARE(w.lb->model()->rowCount(), 0);
  }

  void FailedLoadKeepsTheNameAndShowsOnlyTheRowsRead()
  {
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.kx"));
    const QString bad = dir.filePath(QStringLiteral("bad.kx"));
    WriteAll(good, "KX\nLOCATION\n/x/disc.iso\nFILES\n1\nFile 000001\n.jpg\n2048\n100\n");
    WriteAll(bad, "KX\nLOCATION\n/y/other.iso\nFILES\n3\nFile 000001\n.gif\n0\n10\nFile 000002\n.png\nabc\n5\n");
    test::TFakeUi ui;
    TfrmMain w(ui);
    ui.FileAnswer = good;
    QVERIFY(w.OpenProject());
    ui.FileAnswer = bad;
    QVERIFY(!w.OpenProject());
    QCOMPARE(ui.Messages.back(), QStringLiteral("Invalid numeric input"));
    QCOMPARE(QString::fromStdString(w.ProjectFileName), good);
    QCOMPARE(w.eDiskLocation->text(), QStringLiteral("/y/other.iso"));
    QCOMPARE(w.lb->model()->rowCount(), w.FileList.Count);
    QVERIFY(w.Modified);
    QCOMPARE(w.windowTitle(), Title(true, good));
  }

  void ImageNameThatTheExtensionTurnsIntoAnExistingFileIsAskedAbout()
  {
    QTemporaryDir dir;
    const QString existing = dir.filePath(QStringLiteral("disk.iso"));
    WriteAll(existing, "an earlier image");
    test::TFakeUi ui;
    TfrmMain w(ui);
    w.frmSelectDrive->DriveLister = [] { return std::vector<std::string>{"D: (DATA)"}; };
    ui.OnModal = [](QDialog&) { return int(QDialog::Accepted); };
    ui.FileAnswer = dir.filePath(QStringLiteral("disk"));
    ui.YesNoAnswer = false;
    w.miCreateImageClick();
    QCOMPARE(ui.Questions.size(), std::size_t{1});
    QVERIFY(ui.Questions[0].contains(existing));
    QCOMPARE(ui.ModalRuns, 1);  // the drive choice only: no copy was started
    QCOMPARE(ReadAll(existing), std::string("an earlier image"));
    QCOMPARE(ui.FileChoices.back().Filter, QStringLiteral("ISO disk image files (*.iso)"));

    // A name the extension turns into a folder's is refused before the drive is opened.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.iso")));
    ui.FileAnswer = dir.filePath(QStringLiteral("folder"));
    w.miCreateImageClick();
    QCOMPARE(ui.Messages.size(), std::size_t{1});
    QVERIFY2(ui.Messages[0].contains(QStringLiteral("names a folder")), qPrintable(ui.Messages[0]));
    QCOMPARE(ui.Questions.size(), std::size_t{1});
    QCOMPARE(ui.ModalRuns, 2);  // the two drive choices
  }

  void FailedSaveLeavesThePreviousProjectWholeAndTheWindowModified()
  {
    TSmallDisk disk(16 * 1024);
    if (!disk.Mounted) QSKIP(qPrintable(QStringLiteral("cannot mount a small tmpfs here: ") + disk.Error));
    test::TFakeUi ui;
    TfrmMain w(ui);
    w.eDiskLocation->setText(QStringLiteral("/images/disc.iso"));
    ui.FileAnswer = disk.Dir.filePath(QStringLiteral("p.kx"));
    QVERIFY(w.SaveProject(false));
    const std::string before = ReadAll(ui.FileAnswer);
    for (int i = 0; i < 2000; ++i) w.FileList.Add("File " + std::to_string(i), 77, i * 2048LL, 2048, false);
    w.RefreshList();
    w.eDiskLocation->setText(QStringLiteral("/images/disc2.iso"));
    const QString title = w.windowTitle();
    QVERIFY(!w.SaveProject(false));
    QCOMPARE(ui.Messages.size(), std::size_t{1});
    QCOMPARE(ReadAll(ui.FileAnswer), before);
    QVERIFY(w.Modified);
    QCOMPARE(w.windowTitle(), title);
  }
};

QTEST_MAIN(ProjectWindowTest)
#include "ProjectWindowTest.moc"
