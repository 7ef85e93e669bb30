// SPDX-License-Identifier: GPL-3.0-or-later
// One image of real modern files, scanned in the main window (the scan dialog with its check,
// accepted) and by `tessarin-cli scan`: `list --json` of the command line's project and the
// window's list hold the same entries, sizes, extensions and states, in the same order.
#include "found/kxKinds.h"
#include "support/kxFakeUi.h"
#include "ui/Main.h"
#include "ui/dlgRecognize.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace kx;
using namespace kx::ui;

namespace {

constexpr qsizetype ss = 2048;

// Every committed sample file from a sector boundary, a sector of unrecognised bytes after each,
// and a picture cut short by the archive after it.
QByteArray ModernFilesImage()
{
  QByteArray image;
  const auto put = [&image](const QByteArray& File) {
    image += File;
    image += QByteArray((ss - image.size() % ss) % ss, '\x01');
    image += QByteArray(ss, '\x01');
  };
  const QString folder = QStringLiteral(KX_TEST_FILES "/");
  for (const char* name : {"tiny.jpg", "tiny.docx", "tiny.odt", "tiny.mp4", "tiny.mov", "tiny.mkv", "tiny.webm",
                           "tiny.webp", "tiny.flac", "tiny.opus", "tiny.sqlite", "tiny.7z", "tiny.gif", "tiny.tif"}) {
    QFile file(folder + QLatin1String(name));
    if (file.open(QIODevice::ReadOnly)) put(file.readAll());
  }
  QFile png(folder + QStringLiteral("tiny.png"));
  QFile tar(folder + QStringLiteral("tiny.tar"));
  if (png.open(QIODevice::ReadOnly) && tar.open(QIODevice::ReadOnly)) {
    image += png.readAll().left(3000);
    image += QByteArray((ss - image.size() % ss) % ss, '\x01');
    put(tar.readAll());
  }
  return image;
}

// An entry as `list --json` writes it.
QString Row(const QString& Name, const QString& Ext, qint64 Offset, qint64 Size, const QString& State, qint64 Checked)
{
  return QStringLiteral("%1 %2 @%3 %4 bytes %5 (%6)").arg(Name, Ext).arg(Offset).arg(Size).arg(State).arg(Checked);
}

}  // namespace

class ScanEndToEndTest : public QObject {
  Q_OBJECT

 private slots:
  void TheWindowAndTheCommandLineListTheSameCheckedFiles()
  {
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("modern.iso"));
    QFile out(image);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(ModernFilesImage());
    out.close();

    QProcess cli;
    cli.setWorkingDirectory(dir.path());
    const QString program = qEnvironmentVariable("KX_CLI");
    cli.start(program, {QStringLiteral("scan"), image, QStringLiteral("-o"), QStringLiteral("cli.kx")});
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 0);
    cli.start(program, {QStringLiteral("list"), QStringLiteral("cli.kx"), QStringLiteral("--json")});
    QVERIFY(cli.waitForFinished(60000));
    QStringList expected;
    for (const QJsonValue& e : QJsonDocument::fromJson(cli.readAllStandardOutput())[QStringLiteral("files")].toArray())
      expected << Row(e[QStringLiteral("name")].toString(), e[QStringLiteral("ext")].toString(),
                      e[QStringLiteral("offset")].toInteger(), e[QStringLiteral("size")].toInteger(),
                      e[QStringLiteral("state")].toString(), e[QStringLiteral("checked_size")].toInteger());

    test::TFakeUi ui;
    TfrmMain w(ui);
    w.eDiskLocation->setText(image);
    ui.OnModal = [&](QDialog&) {
      w.frmRecognize->bStart->click();
      [&] { QTRY_VERIFY_WITH_TIMEOUT(!w.frmRecognize->Running(), 60000); }();
      w.frmRecognize->bAccept->click();
      return w.frmRecognize->result();
    };
    w.miRecognizeClick();
    QStringList shown;
    for (std::int32_t i = 0; i < w.FileList.Count; ++i) {
      const TkxFileEntry& e = w.FileList.Items[static_cast<std::size_t>(i)];
      shown << Row(QString::fromStdString(e.Name), QString::fromStdString(std::string(KindExtensions[e.Kind])), e.Offset,
                   e.Size, QString::fromStdString(std::string(CheckStateName(e.Check))), e.CheckedSize);
    }
    QCOMPARE(shown, expected);
    // The check ran: the files are whole but the picture the archive cut.
    QVERIFY(expected.filter(QStringLiteral(" whole (")).size() >= 15);
    QCOMPARE(expected.filter(QStringLiteral(".png")).filter(QStringLiteral(" truncated (")).size(), 1);
  }
};

QTEST_MAIN(ScanEndToEndTest)
#include "ScanEndToEndTest.moc"
