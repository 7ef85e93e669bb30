// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dlgCreateImage.h"

#include "common/kxShared.h"
#include "media/kxDisks.h"
#include "ui/logic/kxWindowTexts.h"
#include "ui/Controls.h"
#include "ui/UserInteraction.h"
#include "ui/qvGauge.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace kx::ui {

TfrmCreateImage::TfrmCreateImage(TUserInteraction& Ui_, QWidget* Parent)
    : TWorkerDialog(Ui_, Parent), DriveOpener([](char Letter) { return std::make_unique<TkxPhysicalCD>(Letter); })
{
  SetUpDialog(*this, QStringLiteral("frmCreateImage"), QStringLiteral("Creating image"), QSize(401, 113),
              QColor(0xF0, 0xF0, 0xF0));

  lInfo = MakeTextLine<TFittedLabel>(this, QStringLiteral("lInfo"), {8, 8, 385, 15});
  lSectors = MakeTextLine<TFittedLabel>(this, QStringLiteral("lSectors"), {8, 24, 385, 15});
  pb = MakeProgressGauge(this, QStringLiteral("pb"), {8, 48, 385, 25}, qvgHorizontal);
  sWorking = MakeLamp(this, {8, 80, 25, 25});
  bSuspend = MakeButton(this, QStringLiteral("bSuspend"), QStringLiteral("Suspend/Resume"), {184, 80, 123, 25},
                        TButtonRole::NotByEnter);
  bClose = MakeButton(this, QStringLiteral("bClose"), QStringLiteral("Cancel"), {320, 80, 75, 25}, TButtonRole::NotByEnter);
  setTabOrder(bSuspend, bClose);

  tmBlink = MakeBlinkTimer(this);
  connect(tmBlink, &QTimer::timeout, this, &TfrmCreateImage::tmBlinkTimer);
  connect(bSuspend, &QPushButton::clicked, this, &TfrmCreateImage::bSuspendClick);
  connect(bClose, &QPushButton::clicked, this, &TfrmCreateImage::bCloseClick);
}

bool TfrmCreateImage::Running() const { return Current && Current->Running(); }

bool TfrmCreateImage::WorkerPaused() const { return Current && Current->Control().Paused(); }

void TfrmCreateImage::CreateImage(char Drive, const std::string& FileName)
{
  const char letter = AsciiUpper(Drive);
  lInfo->setText(QString::fromStdString(VisibleText(ImageCopySourceText(letter, FileName))));
  pb->SetProgress(0);
  std::unique_ptr<TkxPhysicalCD> drive = DriveOpener(letter);
  if (!drive || drive->Status != CDReady) {
    // The drive's own message, then its device and why, as the command line says it.
    const std::string text = drive ? OpenFailureText(DriveOpenFailure(std::string{letter, ':'}, *drive))
                                   : std::string(PhysicalCDStatusText(CDNoDevice));
    drive.reset();
    Ui.ShowMessage(this, QString::fromLocal8Bit(text));
    return;
  }
  const auto job = std::make_shared<TkxCopyJob>(std::move(drive), FileName);
  SectorSize = job->SectorSize;
  SectorCount = job->SectorCount;
  const auto worker = std::make_shared<TCopyWorker>(
      [job](TkxJobControl& Control, const TkxProgressSink<std::int64_t>& Progress) { return job->Run(Control, Progress); });
  // Only the current copy's figures and end are shown: the runner hands over none of a worker
  // the dialog has let go.
  worker->ShowFigures = [this](std::int64_t Done) { UpdateGauge(Done); };
  worker->ShowEnd = [this](const TkxImageCopyResult& Result) { ShowEnded(Result); };
  pb->SetMaxValue(static_cast<std::int32_t>(static_cast<std::uint32_t>(SectorCount)));
  lSectors->clear();
  bSuspend->setEnabled(true);
  bClose->setText(QStringLiteral("Cancel"));
  sWorking->SetBrush(clSilver);
  Current = worker;
  Runner.Add(worker, [this](TWorker& Ended) { WorkerEnded(static_cast<const TCopyWorker&>(Ended)); });
  Runner.Start(*worker);

  tmBlink->start();
  Ui.RunModal(*this);
  tmBlink->stop();
  // A copy still running is stopped; the parts written stay.
  Runner.Release(*worker);
  Current.reset();
}

void TfrmCreateImage::UpdateGauge(std::int64_t SectorsDone) { pb->SetProgress(static_cast<std::int32_t>(SectorsDone)); }

void TfrmCreateImage::ShowEnded(const TkxImageCopyResult& Result)
{
  lInfo->setText(lInfo->text() + QString::fromStdString(ImageCopyEndText(Result)));
  lSectors->setText(QString::fromStdString(ImageCopyEndFigures(Result, SectorCount, SectorSize)));
  bSuspend->setEnabled(false);
  bClose->setText(QStringLiteral("Close"));
  sWorking->SetBrush(clSilver);
}

void TfrmCreateImage::WorkerEnded(const TCopyWorker& Worker)
{
  // A stopped copy beeps too, as every end of a long operation does.
  Ui.Beep(TBeep::Exclamation);
  // Why a copy failed is shown while its dialog is still open; the parts written stay.
  if (&Worker == Current.get() && Worker.Result().Outcome.IsFailed())
    Ui.ShowMessage(this, QString::fromLocal8Bit(Worker.Result().Outcome.Reason));
}

void TfrmCreateImage::bSuspendClick()
{
  if (!Running()) return;
  TkxJobControl& control = Current->Control();
  if (control.Paused())
    control.Resume();
  else
    control.Pause();
}

void TfrmCreateImage::bCloseClick()
{
  if (Running() &&
      !Ui.AskYesNo(this, ApplicationTitle(), QStringLiteral("Do you really want to stop the operation?"), TAnswer::Yes))
    return;
  reject();
}

void TfrmCreateImage::keyPressEvent(QKeyEvent* Event)
{
  // Escape is the Cancel button, question included, never a silent stop; the close box stops the
  // copy without a question.
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
  sWorking->SetBrush(NextLampColor(sWorking->Brush(), true));
  lSectors->setText(QString::fromStdString(ImageCopyProgressText(pb->Progress(), SectorCount, SectorSize)));
}

}  // namespace kx::ui
