// SPDX-License-Identifier: GPL-3.0-or-later
// One image of real modern files, scanned in the main window (the scan dialog with its check,
// accepted) and by `tessarin-cli scan`: the window's list and `list --json` of the command line's
// project hold the same entries, sizes, extensions and states, in the same order.
#include "support/kxFakeUi.h"
#include "ui/Main.h"
#include "ui/dlgRecognize.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace kx;

namespace {

// Every sample file from a sector boundary with a sector of unrecognised bytes after it, but the
// picture, which the next file cuts short.
QByteArray ModernFilesImage()
{
  const QDir folder(QStringLiteral(KX_TEST_FILES));
  const auto read = [&folder](const QString& Name) {
    QFile file(folder.filePath(Name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  };
  QByteArray image;
  const auto pad = [&image] { image += QByteArray((2048 - image.size() % 2048) % 2048, '\x01'); };
  for (const QString& name : folder.entryList({QStringLiteral("tiny.*")}, QDir::Files, QDir::Name)) {
    image += name == QStringLiteral("tiny.png") ? read(name).left(3000) : read(name) + QByteArray(2048, '\x01');
    pad();
  }
  return image;
}

QString Row(const std::string& Name, std::string_view Ext, qint64 Offset, qint64 Size, std::string_view State, qint64 Checked)
{
  return QStringLiteral("%1%2 @%3 %4 %5 %6")
      .arg(QString::fromStdString(Name), QString::fromUtf8(Ext.data(), static_cast<qsizetype>(Ext.size())))
      .arg(Offset)
      .arg(Size)
      .arg(QString::fromUtf8(State.data(), static_cast<qsizetype>(State.size())))
      .arg(Checked);
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
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(ModernFilesImage()) > 0);
    out.close();
    QProcess cli;
    cli.setWorkingDirectory(dir.path());
    cli.start(qEnvironmentVariable("KX_CLI"), {QStringLiteral("scan"), image, QStringLiteral("-o"), QStringLiteral("cli.kx")});
    QVERIFY(cli.waitForFinished(60000) && cli.exitCode() == 0);
    cli.start(qEnvironmentVariable("KX_CLI"), {QStringLiteral("list"), QStringLiteral("cli.kx"), QStringLiteral("--json")});
    QVERIFY(cli.waitForFinished(60000));
    QStringList expected;
    for (const QJsonValue& e : QJsonDocument::fromJson(cli.readAllStandardOutput())[QStringLiteral("files")].toArray())
      expected << Row(e[QStringLiteral("name")].toString().toStdString(), e[QStringLiteral("ext")].toString().toStdString(),
                      e[QStringLiteral("offset")].toInteger(), e[QStringLiteral("size")].toInteger(),
                      e[QStringLiteral("state")].toString().toStdString(), e[QStringLiteral("checked_size")].toInteger());

    test::TFakeUi ui;
    ui::TfrmMain w(ui);
    w.eDiskLocation->setText(image);
    ui.OnModal = [&](QDialog&) {
      w.frmRecognize->bStart->click();
      [&] { QTRY_VERIFY_WITH_TIMEOUT(!w.frmRecognize->Running(), 60000); }();
      w.frmRecognize->bAccept->click();
      return w.frmRecognize->result();
    };
    w.miRecognizeClick();
    QStringList shown;
    for (const TkxFileEntry& e : std::span(w.FileList.Items.data(), static_cast<std::size_t>(w.FileList.Count)))
      shown << Row(e.Name, KindExtensions[e.Kind], e.Offset, e.Size, CheckStateName(e.Check), e.CheckedSize);
    QCOMPARE(shown, expected);
    // Checked: the files are whole, but the picture that the next one cut.
    QCOMPARE(expected.filter(QStringLiteral(" whole ")).size(), 22);
    QCOMPARE(expected.filter(QRegularExpression(QStringLiteral("\\.png @.* truncated "))).size(), 1);
  }
};

QTEST_MAIN(ScanEndToEndTest)
#include "ScanEndToEndTest.moc"
