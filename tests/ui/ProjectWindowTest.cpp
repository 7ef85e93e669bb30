// SPDX-License-Identifier: GPL-3.0-or-later
// The project commands of the main window: the state of title and flag through new, open, save
// and save as; the unsaved-changes prompt; failed loads and failed saves.
#include "support/kxFakeUi.h"
#include "ui/FileListView.h"
#include "ui/dlgDrive.h"
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
    QCOMPARE(ui.Questions.back(), QStringLiteral("Save changes to project \"Untitled\"?"));
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
    QCOMPARE(ui.Questions.back(), QStringLiteral("Save changes to project \"Untitled\"?"));
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
      QVERIFY(w.OpenProjectFile(good.toStdString()));
      QVERIFY(ui.FileChoices.empty());
      QVERIFY(ui.Messages.empty());
      QCOMPARE(w.eDiskLocation->text(), QStringLiteral("/x/disc.iso"));
      QCOMPARE(w.lb->model()->rowCount(), 2);
      QCOMPARE(w.windowTitle(), Title(false, good));
    }
    const QString missing = dir.filePath(QStringLiteral("missing.kx"));
    TfrmMain w(ui);
    QVERIFY(!w.OpenProjectFile(missing.toStdString()));
    QCOMPARE(ui.Messages.back(), QStringLiteral("File not found\n\n") + missing + QStringLiteral(": No such file or directory"));
    QVERIFY(w.ProjectFileName.empty());
    QCOMPARE(w.lb->model()->rowCount(), 0);
  }

  // A file that is not a whole project changes nothing of the open one, and a save afterwards
  // writes the open project as it was.
  void AFileThatIsNotAWholeProjectLeavesTheOpenProjectAsItWas()
  {
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.kx"));
    const std::string goodText = "KX\nLOCATION\n/x/disc.iso\nFILES\n2\nFile 000001\n.jpg\n2048\n100\nFile 000002\n.png\n4096\n10\n";
    WriteAll(good, goodText);
    struct TCase {
      const char* Name;
      std::string Text;
      const char* Message;  // what the window says after the file's name
    };
    const TCase cases[] = {
        {"number.kx", "KX\nLOCATION\n/y/other.iso\nFILES\n3\nFile 000001\n.gif\n0\n10\nFile 000002\n.png\nabc\n5\n",
         "Invalid numeric input\n\n%1, line 12: the offset of entry 2 of 3 is not a whole number within its range"},
        {"text.kx", "Things to do\n", "Not a valid project file\n\n%1, line 1: the first line is not \"KX\": this is not a project file"},
        {"cut.kx", "KX\nLOCATION\n/y/other.iso\nFILES\n40\nFile 000001\n.gif\n0\n10\n",
         "Not a valid project file\n\n%1, line 10: the file ends before the name of entry 2 of 40: it is cut short"},
        {"huge.kx", "KX\nLOCATION\n/y/other.iso\nFILES\n30000000\n",
         "Too many entries for a project\n\n%1, line 5: 30000000 entries, where no disc holds more than 8388608"},
    };
    test::TFakeUi ui;
    TfrmMain w(ui);
    ui.FileAnswer = good;
    QVERIFY(w.OpenProject());
    for (const TCase& c : cases) {
      const QString bad = dir.filePath(QString::fromLatin1(c.Name));
      WriteAll(bad, c.Text);
      ui.FileAnswer = bad;
      QVERIFY(!w.OpenProject());
      QCOMPARE(ui.Messages.back(), QString::fromLatin1(c.Message).arg(bad));
      QCOMPARE(QString::fromStdString(w.ProjectFileName), good);
      QCOMPARE(w.eDiskLocation->text(), QStringLiteral("/x/disc.iso"));
      QCOMPARE(w.lb->model()->rowCount(), 2);
      QCOMPARE(w.FileList.Items[1].Name, std::string("File 000002"));
      QVERIFY(!w.Modified);
      QCOMPARE(w.windowTitle(), Title(false, good));
    }
    // Ctrl+S: the project as it was, unmodified, so written as it was read.
    QVERIFY(w.SaveProject(false));
    QCOMPARE(ReadAll(good), goodText);
  }

  // A project names the medium its files were found on: where the field names another, the save
  // asks first, naming both, and keeping the list's medium is the default; the field then shows
  // what was saved. No saves the field's medium, which the list's files are then found on.
  void SaveWithAnotherMediumInTheFieldAsksAndKeepsTheListsByDefault()
  {
    QTemporaryDir dir;
    const QString project = dir.filePath(QStringLiteral("p.kx"));
    const std::string saved = "KX\nLOCATION\n/img/a.iso\nFILES\n1\nFile 000001\n.jpg\n2048\n4096\n";
    WriteAll(project, saved);
    test::TFakeUi ui;
    TfrmMain w(ui);
    QVERIFY(w.OpenProjectFile(project.toStdString()));
    w.eDiskLocation->setText(QStringLiteral("/img/b.iso"));

    ui.YesNoCancelAnswer = TAnswer::Cancel;
    QVERIFY(!w.SaveProject(false));
    QCOMPARE(ui.Questions.size(), std::size_t{1});
    QVERIFY(ui.Questions[0].contains(QStringLiteral("\"/img/a.iso\"")) && ui.Questions[0].contains(QStringLiteral("\"/img/b.iso\"")));
    QCOMPARE(ui.Defaults, std::vector<TAnswer>{TAnswer::Yes});
    QCOMPARE(ReadAll(project), saved);
    QCOMPARE(w.windowTitle(), Title(true, project));

    ui.YesNoCancelAnswer = TAnswer::Yes;
    QVERIFY(w.SaveProject(false));
    QCOMPARE(ReadAll(project), saved);
    QCOMPARE(w.eDiskLocation->text(), QStringLiteral("/img/a.iso"));
    QCOMPARE(w.windowTitle(), Title(false, project));

    w.eDiskLocation->setText(QStringLiteral("/img/b.iso"));
    ui.YesNoCancelAnswer = TAnswer::No;
    QVERIFY(w.SaveProject(false));
    QCOMPARE(ReadAll(project), "KX\nLOCATION\n/img/b.iso\nFILES\n1\nFile 000001\n.jpg\n2048\n4096\n");
    QCOMPARE(w.windowTitle(), Title(false, project));
    QCOMPARE(w.ListLocation, std::string("/img/b.iso"));
  }

  // "other" typed in the save dialog, which asked nothing, is "other.kx" that exists.
  void SaveAsAsksBeforeItReplacesTheFileTheExtensionNames()
  {
    QTemporaryDir dir;
    const QString other = dir.filePath(QStringLiteral("other.kx"));
    WriteAll(other, "KX\nLOCATION\nD:\nFILES\n0\n");
    test::TFakeUi ui;
    TfrmMain w(ui);
    w.eDiskLocation->setText(QStringLiteral("E:"));
    ui.FileAnswer = dir.filePath(QStringLiteral("other"));
    ui.YesNoAnswer = false;
    QVERIFY(!w.SaveProject(true));
    QCOMPARE(ui.Questions, std::vector<QString>{QStringLiteral("\"%1\" already exists. Do you want to replace it?").arg(other)});
    QCOMPARE(ui.Defaults, std::vector<TAnswer>{TAnswer::No});
    QCOMPARE(ReadAll(other), std::string("KX\nLOCATION\nD:\nFILES\n0\n"));
    QVERIFY(w.ProjectFileName.empty());
    QVERIFY(w.Modified);
    ui.YesNoAnswer = true;
    QVERIFY(w.SaveProject(true));
    QCOMPARE(ReadAll(other), std::string("KX\nLOCATION\nE:\nFILES\n0\n"));
    QCOMPARE(QString::fromStdString(w.ProjectFileName), other);
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
    ui.YesNoCancelAnswer = TAnswer::No;  // saved with the location the field names
    QVERIFY(!w.SaveProject(false));
    QCOMPARE(ui.Messages.size(), std::size_t{1});
    QCOMPARE(ReadAll(ui.FileAnswer), before);
    QVERIFY(w.Modified);
    QCOMPARE(w.windowTitle(), title);
  }
};

QTEST_MAIN(ProjectWindowTest)
#include "ProjectWindowTest.moc"
