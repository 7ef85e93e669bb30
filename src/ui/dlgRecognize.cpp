// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dlgRecognize.h"

#include "ui/logic/kxWindowTexts.h"
#include "ui/Controls.h"
#include "ui/UserInteraction.h"
#include "ui/qvGauge.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <array>

namespace kx::ui {

namespace {

void SetLabelText(QLabel* Label, const QString& Text)
{
  Label->setText(Text);
  Label->adjustSize();
}

// The statistics group: captions with their values beside them, and the pie gauge.
QGroupBox* BuildStatistics(TfrmRecognize& D)
{
  auto* group = new TGroupBox(QStringLiteral("Statistics"), &D);
  group->setGeometry(8, 48, 377, 153);
  D.Label2 = MakeLabel(group, QStringLiteral("Overall progress:"), {48, 16});
  QPalette dark = D.Label2->palette();
  dark.setColor(QPalette::WindowText, QColor(0x20, 0x20, 0x20));
  D.Label2->setPalette(dark);
  D.gProgress = MakeProgressGauge(group, QStringLiteral("gProgress"), {48, 35, 100, 100}, qvgPie);
  D.gProgress->SetMaxValue(100);
  D.Label5 = MakeLabel(group, QStringLiteral("Image size:"), {208, 40});
  D.lImageSize = MakeLabel(group, QStringLiteral("0"), {304, 40}, true);
  D.Label3 = MakeLabel(group, QStringLiteral("Total sectors:"), {208, 64});
  D.lTotalSectors = MakeLabel(group, QStringLiteral("0"), {304, 64}, true);
  D.Label4 = MakeLabel(group, QStringLiteral("Sectors processed:"), {208, 88});
  D.lSectorsProcessed = MakeLabel(group, QStringLiteral("0"), {304, 88}, true);
  D.Label6 = MakeLabel(group, QStringLiteral("Files found:"), {208, 112});
  D.lFilesFound = MakeLabel(group, QStringLiteral("0"), {304, 112}, true);
  const int values = ValueColumn({D.Label5, D.Label3, D.Label4, D.Label6}, 304);
  for (QLabel* value : {D.lImageSize, D.lTotalSectors, D.lSectorsProcessed, D.lFilesFound})
    value->move(values, value->y());
  // Under the pie and the figures, which keep their places.
  D.lCheck = MakeTextLine(group, QStringLiteral("lCheck"), {48, 136, 320, 15});
  return group;
}

}  // namespace

TfrmRecognize::TfrmRecognize(TUserInteraction& Ui_, QWidget* Parent)
    : TWorkerDialog(Ui_, Parent)
{
  SetUpDialog(*this, QStringLiteral("frmRecognize"), QStringLiteral("Recognizing lost files"), QSize(395, 240),
              QColor(0xF0, 0xF0, 0xF0));

  Label1 = new QLabel(
      QStringLiteral("Press Start/Pause to search for traces of lost files whose data is still present on the given media."),
      this);
  Label1->setGeometry(8, 8, 289, 33);
  Label1->setWordWrap(true);
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label1->setFont(FontOrFallback(QStringLiteral("Arial"), SansFont(9)));
  // Up to the statistics group below it.
  FitWrappedText(Label1, 48 - 8 - 1);
  QPalette navy = Label1->palette();
  navy.setColor(QPalette::WindowText, clNavy);
  Label1->setPalette(navy);

  bStart = MakeButton(this, QStringLiteral("bStart"), QStringLiteral("Start/Pause"), {304, 8, 83, 33}, TButtonRole::Default);
  QFont bold = bStart->font();
  bold.setBold(true);
  bStart->setFont(bold);
  GroupBox1 = BuildStatistics(*this);
  sWorking = MakeLamp(this, {8, 208, 25, 25});
  // Between the lamp and the buttons, where the row had room.
  cbCheck = new QCheckBox(QStringLiteral("Check found files"), this);
  cbCheck->setObjectName(QStringLiteral("cbCheck"));
  cbCheck->setToolTip(QStringLiteral("After the scan, read every found file whose format states its end, and give it "
                                     "its exact size and a state"));
  cbCheck->setGeometry(40, 208, 117, 25);
  cbCheck->setChecked(true);
  // Enter presses Start/Pause, or the button that has the focus.
  bAccept = MakeButton(this, QStringLiteral("bAccept"), QStringLiteral("Accept found files"), {160, 208, 137, 25});
  bCancel = MakeButton(this, QStringLiteral("bCancel"), QStringLiteral("Cancel"), {312, 207, 75, 25});
  const std::array<QWidget*, 5> tabOrder{bStart, cbCheck, GroupBox1, bAccept, bCancel};
  for (std::size_t i = 1; i < tabOrder.size(); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);

  tmBlink = MakeBlinkTimer(this);
  connect(tmBlink, &QTimer::timeout, this, &TfrmRecognize::tmBlinkTimer);
  tmBlink->start();
  connect(bStart, &QPushButton::clicked, this, &TfrmRecognize::bStartClick);
  connect(bAccept, &QPushButton::clicked, this, &TfrmRecognize::bAcceptClick);
  connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool TfrmRecognize::Running() const { return Current && Current->Running(); }

bool TfrmRecognize::WorkerPaused() const { return Current && (!Current->Started() || Current->Control().Paused()); }

void TfrmRecognize::UpdateProgress(const TWorker& Worker, const TkxScanFigures& Figures)
{
  if (&Worker != Current.get()) return;
  ShownPhase = Figures.Phase;
  if (Figures.Phase == TkxScanPhase::Check) {
    lCheck->setText(QString::fromStdString(CheckPhaseText(Figures.Checked, Figures.ToCheck, false)));
    return;
  }
  gProgress->SetProgress(static_cast<std::int32_t>(static_cast<std::uint32_t>(Figures.Position)));
  SetLabelText(lSectorsProcessed, QString::number(Figures.Position));
  SetLabelText(lFilesFound, QString::number(Figures.Found));
  emit ProgressShown(Figures.Position);
}

bool TfrmRecognize::Recognize(std::unique_ptr<TkxDisk> Disk, TkxFileList& Into)
{
  if (!Disk) return false;
  const auto job = std::make_shared<TkxScanJob>(std::move(Disk));
  // Starts paused: nothing is read until the person starts the scan.
  const auto worker = std::make_shared<TScanWorker>(
      [job](TkxJobControl& Control, const TkxProgressSink<TkxScanFigures>& Progress) { return job->Run(Control, Progress); },
      true);
  worker->ShowFigures = [this, shown = worker.get()](const TkxScanFigures& Figures) { UpdateProgress(*shown, Figures); };
  const TkxDisk& disk = job->Disk();
  // The gauge counts in 32 bits: a medium beyond 2^31 sectors shows its low half.
  gProgress->SetMaxValue(static_cast<std::int32_t>(static_cast<std::uint32_t>(disk.SectorCount)));
  SetLabelText(lImageSize, QString::fromStdString(ImageSizeText(disk.SectorCount, disk.SectorSize)));
  SetLabelText(lTotalSectors, QString::number(disk.SectorCount));

  // The beep and an error's message follow on this thread, once the worker has ended.
  Runner.Add(worker, [this](TWorker& Ended) { WorkerEnded(static_cast<const TScanWorker&>(Ended)); });
  CurrentJob = job;
  Current = worker;
  AcceptWhenEnded = false;
  for (QWidget* control : std::initializer_list<QWidget*>{bStart, bAccept, cbCheck}) control->setEnabled(true);
  lCheck->clear();
  sWorking->SetBrush(clSilver);
  UpdateProgress(*worker, TkxScanFigures{});
  bStart->setFocus();

  const bool accepted = Ui.RunModal(*this) == QDialog::Accepted;
  // The job's list once it has ended; accepted during the scan, what the scan found so far,
  // unchecked, as a scan stopped there leaves it.
  if (accepted && !worker->Running())
    Into.Assign(worker->Result().Files);
  else if (accepted)
    job->AcceptInto(Into);
  // From here on the worker reports to nobody and never waits for this window.
  Runner.Release(*worker);
  Current.reset();
  CurrentJob.reset();
  return accepted;
}

void TfrmRecognize::bStartClick()
{
  if (!Running()) return;
  TkxJobControl& control = Current->Control();
  if (!Current->Started()) {
    // Read by the worker only once it has started.
    CurrentJob->Options.Check = cbCheck->isChecked();
    cbCheck->setEnabled(false);
    control.Resume();
    Runner.Start(*Current);
  } else if (control.Paused()) {
    control.Resume();
  } else {
    control.Pause();
  }
}

void TfrmRecognize::bAcceptClick()
{
  // A check stopped keeps what it concluded; it stops within the file it reads, and the dialog
  // accepts once it has ended.
  if (Running() && ShownPhase == TkxScanPhase::Check) {
    AcceptWhenEnded = true;
    bAccept->setEnabled(false);
    bStart->setEnabled(false);
    Current->Control().RequestStop();
    return;
  }
  accept();
}

void TfrmRecognize::reject()
{
  const std::string question = Current ? DiscardFoundFilesQuestion(CurrentJob->FoundCount()) : std::string();
  // Found files are work: Enter keeps them.
  if (!question.empty() && !Ui.AskYesNo(this, ApplicationTitle(), QString::fromLocal8Bit(question), TAnswer::No))
    return;
  QDialog::reject();
}

void TfrmRecognize::tmBlinkTimer()
{
  if (!isVisible()) return;
  sWorking->SetBrush(NextLampColor(sWorking->Brush(), Running() && !WorkerPaused()));
}

void TfrmRecognize::WorkerEnded(const TScanWorker& Worker)
{
  Ui.Beep(TBeep::Exclamation);
  // The worker wrote its result before Running turned false; this acquire orders the read after
  // that write by itself, rather than through Qt's event queue, which the thread checker cannot
  // see.
  const bool ended = !Worker.Running();
  if (!ended || &Worker != Current.get() || !isVisible()) return;
  const TkxScanResult& result = Worker.Result();
  if (result.Check && result.Outcome.IsCompleted())
    lCheck->setText(QString::fromStdString(CheckPhaseText(result.Check->Checked, result.Found, true)));
  // An error is shown while its scan is still on screen; the files found so far can be accepted.
  // So are sectors that could not be read: the statistics have no line for them, and files that
  // lie across them hold zeros there.
  if (result.Outcome.IsFailed())
    Ui.ShowMessage(this, QString::fromLocal8Bit(result.Outcome.Reason));
  else if (result.UnreadableSectors > 0)
    Ui.ShowMessage(this, QString::fromStdString(ScanUnreadableText(result.UnreadableSectors) + "."));
  if (AcceptWhenEnded) accept();
}

}  // namespace kx::ui
