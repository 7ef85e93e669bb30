#include "media/dlgCreateImage.h"

#include "common/kxShared.h"
#include "project/kxWindowTexts.h"
#include "ui/Controls.h"
#include "ui/UserInteraction.h"
#include "ui/qvGauge.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace kx {

using ui::clSilver;

TCDImageThread::TCDImageThread(TfrmCreateImage& Dialog_, std::shared_ptr<TCopyRun> Run_)
    : Run(std::move(Run_)), Dialog(Dialog_)
{
}

void TCDImageThread::run()
{
  TCopyRun& run = *Run;
  TfrmCreateImage* dialog = &Dialog;
  TkxImageCopyOptions options;
  options.StopRequested = [&run] { return run.StopRequest.load(std::memory_order_acquire); };
  options.PauseGate = &run.Gate;
  options.Progress = [&](std::int64_t done) {
    run.HandOver->Run(dialog, [&] { dialog->UpdateGauge(run, done); });
  };
  run.Result = CopyDiskToImage(*run.Disk, run.FileName, options);
  run.Running.store(false, std::memory_order_release);
  // The drive is released as soon as the copy no longer needs it.
  run.Disk.reset();
  run.HandOver->Run(dialog, [&] { dialog->ShowEnded(run); });
}

TfrmCreateImage::TfrmCreateImage(ui::TUserInteraction& Ui_, QWidget* Parent)
    : QDialog(Parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      DriveOpener([](char Letter) { return std::make_unique<TkxPhysicalCD>(Letter); }),
      Ui(Ui_)
{
  ui::SetUpDialog(*this, QStringLiteral("frmCreateImage"), QStringLiteral("Creating image"), QSize(401, 113),
                  QColor(0xF0, 0xF0, 0xF0));

  lInfo = new QLabel(this);
  lInfo->setObjectName(QStringLiteral("lInfo"));
  lInfo->setGeometry(8, 8, 385, 15);
  lSectors = new QLabel(this);
  lSectors->setObjectName(QStringLiteral("lSectors"));
  lSectors->setGeometry(8, 24, 385, 15);
  pb = new ui::TqvGauge(this);
  pb->setObjectName(QStringLiteral("pb"));
  pb->setGeometry(8, 48, 385, 25);
  pb->SetKind(ui::qvgHorizontal);
  pb->SetBackColor(Qt::white);
  pb->SetForeColor(ui::clNavy);
  pb->SetFrameColor(Qt::black);
  pb->SetTextKind(ui::qvgtPercent);
  pb->SetMinValue(0);
  sWorking = new ui::TShape(this);
  sWorking->setObjectName(QStringLiteral("sWorking"));
  sWorking->setGeometry(8, 80, 25, 25);
  sWorking->SetBrush(clSilver);
  bSuspend = new QPushButton(QStringLiteral("Suspend/Resume"), this);
  bSuspend->setObjectName(QStringLiteral("bSuspend"));
  bSuspend->setGeometry(184, 80, 123, 25);
  bSuspend->setAutoDefault(false);
  bClose = new QPushButton(QStringLiteral("Cancel"), this);
  bClose->setObjectName(QStringLiteral("bClose"));
  bClose->setGeometry(320, 80, 75, 25);
  bClose->setAutoDefault(false);
  setTabOrder(bSuspend, bClose);

  tmBlink = new QTimer(this);
  tmBlink->setInterval(250);
  connect(tmBlink, &QTimer::timeout, this, &TfrmCreateImage::tmBlinkTimer);
  connect(bSuspend, &QPushButton::clicked, this, &TfrmCreateImage::bSuspendClick);
  connect(bClose, &QPushButton::clicked, this, &TfrmCreateImage::bCloseClick);
}

TfrmCreateImage::~TfrmCreateImage()
{
  for (TCDImageThread* thread : Outstanding) {
    TCopyRun& run = *thread->Run;
    run.StopRequest = true;
    run.Gate.Resume();
    run.HandOver->Close();
    thread->wait();
    delete thread;
  }
}

bool TfrmCreateImage::Running() const { return Current && Current->Running.load(std::memory_order_acquire); }

bool TfrmCreateImage::WorkerPaused() const { return Current && Current->Gate.Paused(); }

void TfrmCreateImage::CreateImage(char Drive, const std::string& FileName)
{
  const char letter = AsciiUpper(Drive);
  lInfo->setText(QString::fromLocal8Bit(ImageCopySourceText(letter, FileName)));
  pb->SetProgress(0);
  std::unique_ptr<TkxPhysicalCD> drive = DriveOpener(letter);
  if (!drive || drive->Status != CDReady) {
    const std::uint8_t status = drive ? drive->Status : CDNoDevice;
    drive.reset();
    const std::string_view text = PhysicalCDStatusText(status);
    Ui.ShowMessage(this, QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    return;
  }
  const auto run = std::make_shared<TCopyRun>();
  run->SectorSize = drive->SectorSize;
  run->SectorCount = drive->SectorCount;
  run->Disk = std::move(drive);
  run->FileName = FileName;

  pb->SetMaxValue(static_cast<std::int32_t>(static_cast<std::uint32_t>(run->SectorCount)));
  lSectors->clear();
  bSuspend->setEnabled(true);
  bClose->setText(QStringLiteral("Cancel"));
  sWorking->SetBrush(clSilver);
  Current = run;

  auto* thread = new TCDImageThread(*this, run);
  Outstanding.push_back(thread);
  connect(thread, &QThread::finished, this, [this, thread] { WorkerEnded(thread); });
  thread->start();

  tmBlink->start();
  Ui.RunModal(*this);
  tmBlink->stop();

  if (run->Running.load(std::memory_order_acquire)) {
    run->StopRequest = true;
    run->Gate.Resume();
  }
  run->HandOver->Close();
  Current.reset();
}

void TfrmCreateImage::UpdateGauge(TCopyRun& Run, std::int64_t SectorsDone)
{
  if (&Run != Current.get()) return;
  pb->SetProgress(static_cast<std::int32_t>(SectorsDone));
}

void TfrmCreateImage::ShowEnded(TCopyRun& Run)
{
  if (&Run != Current.get()) return;
  lInfo->setText(lInfo->text() + QString::fromStdString(ImageCopyEndText(Run.Result)));
  bSuspend->setEnabled(false);
  bClose->setText(QStringLiteral("Close"));
  sWorking->SetBrush(clSilver);
  emit CopyEnded();
}

void TfrmCreateImage::WorkerEnded(TCDImageThread* Thread)
{
  Outstanding.erase(std::remove(Outstanding.begin(), Outstanding.end(), Thread), Outstanding.end());
  const std::shared_ptr<TCopyRun> run = Thread->Run;
  Thread->deleteLater();
  // A stopped copy beeps too, as every end of a long operation does.
  Ui.Beep(ui::TBeep::Exclamation);
  // Why a copy failed is shown while its dialog is still open; the parts written stay.
  if (run == Current && !run->Result.Error.empty()) Ui.ShowMessage(this, QString::fromLocal8Bit(run->Result.Error));
}

void TfrmCreateImage::bSuspendClick()
{
  if (!Running()) return;
  if (Current->Gate.Paused())
    Current->Gate.Resume();
  else
    Current->Gate.Pause();
}

void TfrmCreateImage::bCloseClick()
{
  if (Running() &&
      !Ui.AskYesNo(this, ui::ApplicationTitle(), QStringLiteral("Do you really want to stop the operation?")))
    return;
  reject();
}

void TfrmCreateImage::closeEvent(QCloseEvent* Event)
{
  // The close box stops the copy without a question.
  QDialog::closeEvent(Event);
}

void TfrmCreateImage::keyPressEvent(QKeyEvent* Event)
{
  // Escape is the Cancel button, question included, never a silent stop.
  if (Event->key() == Qt::Key_Escape) {
    bCloseClick();
    return;
  }
  QDialog::keyPressEvent(Event);
}

void TfrmCreateImage::tmBlinkTimer()
{
  if (!Running() || WorkerPaused()) {
    sWorking->SetBrush(clSilver);
    return;
  }
  sWorking->SetBrush(ui::NextLampColor(sWorking->Brush(), true));
  lSectors->setText(QString::fromStdString(ImageCopyProgressText(pb->Progress(), Current->SectorCount, Current->SectorSize)));
}

}  // namespace kx
