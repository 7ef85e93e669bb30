#include "ui/dlgRecognize.h"

#include "project/kxWindowTexts.h"
#include "ui/Controls.h"
#include "ui/UserInteraction.h"
#include "ui/qvGauge.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace kx::ui {

TRecognitionThread::TRecognitionThread(TfrmRecognize& Dialog_, std::shared_ptr<TScanRun> Run_)
    : Run(std::move(Run_)), Dialog(Dialog_)
{
}

void TRecognitionThread::run()
{
  TScanRun& run = *Run;
  TfrmRecognize* dialog = &Dialog;
  const TkxScanOutcome outcome =
      run.Job->Run([&] { run.HandOver->Run(dialog, [&] { dialog->UpdateProgress(run); }); });
  run.Error = outcome.Error;
  run.Running.store(false, std::memory_order_release);
  // The beep and an error's message follow on the dialog's thread, through `finished`.
}

namespace {

QLabel* MakeLabel(QWidget* Parent, const QString& Text, int X, int Y, bool Bold = false)
{
  auto* label = new QLabel(Text, Parent);
  if (Bold) {
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
  }
  label->move(X, Y);
  label->adjustSize();
  return label;
}

void SetLabelText(QLabel* Label, const QString& Text)
{
  Label->setText(Text);
  Label->adjustSize();
}

}  // namespace

TfrmRecognize::TfrmRecognize(TUserInteraction& Ui_, QWidget* Parent)
    : QDialog(Parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint), Ui(Ui_)
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

  bStart = new QPushButton(QStringLiteral("Start/Pause"), this);
  bStart->setObjectName(QStringLiteral("bStart"));
  bStart->setGeometry(304, 8, 83, 33);
  QFont bold = bStart->font();
  bold.setBold(true);
  bStart->setFont(bold);
  bStart->setDefault(true);
  bStart->setAutoDefault(true);

  GroupBox1 = new QGroupBox(QStringLiteral("Statistics"), this);
  GroupBox1->setGeometry(8, 48, 377, 153);
  Label2 = MakeLabel(GroupBox1, QStringLiteral("Overall progress:"), 48, 16);
  QPalette dark = Label2->palette();
  dark.setColor(QPalette::WindowText, QColor(0x20, 0x20, 0x20));
  Label2->setPalette(dark);
  gProgress = new TqvGauge(GroupBox1);
  gProgress->setObjectName(QStringLiteral("gProgress"));
  gProgress->setGeometry(48, 35, 100, 100);
  gProgress->SetKind(qvgPie);
  gProgress->SetBackColor(Qt::white);
  gProgress->SetForeColor(clNavy);
  gProgress->SetFrameColor(Qt::black);
  gProgress->SetTextKind(qvgtPercent);
  gProgress->SetMinValue(0);
  gProgress->SetMaxValue(100);
  Label5 = MakeLabel(GroupBox1, QStringLiteral("Image size:"), 208, 40);
  lImageSize = MakeLabel(GroupBox1, QStringLiteral("0"), 304, 40, true);
  Label3 = MakeLabel(GroupBox1, QStringLiteral("Total sectors:"), 208, 64);
  lTotalSectors = MakeLabel(GroupBox1, QStringLiteral("0"), 304, 64, true);
  Label4 = MakeLabel(GroupBox1, QStringLiteral("Sectors processed:"), 208, 88);
  lSectorsProcessed = MakeLabel(GroupBox1, QStringLiteral("0"), 304, 88, true);
  Label6 = MakeLabel(GroupBox1, QStringLiteral("Files found:"), 208, 112);
  lFilesFound = MakeLabel(GroupBox1, QStringLiteral("0"), 304, 112, true);
  const int values = ValueColumn({Label5, Label3, Label4, Label6}, 304);
  for (QLabel* value : {lImageSize, lTotalSectors, lSectorsProcessed, lFilesFound}) value->move(values, value->y());

  sWorking = new TShape(this);
  sWorking->setObjectName(QStringLiteral("sWorking"));
  sWorking->setGeometry(8, 208, 25, 25);
  sWorking->SetBrush(clSilver);

  bAccept = new QPushButton(QStringLiteral("Accept found files"), this);
  bAccept->setObjectName(QStringLiteral("bAccept"));
  bAccept->setGeometry(160, 208, 137, 25);
  bAccept->setAutoDefault(false);
  bCancel = new QPushButton(QStringLiteral("Cancel"), this);
  bCancel->setObjectName(QStringLiteral("bCancel"));
  bCancel->setGeometry(312, 207, 75, 25);
  bCancel->setAutoDefault(false);

  setTabOrder(bStart, GroupBox1);
  setTabOrder(GroupBox1, bAccept);
  setTabOrder(bAccept, bCancel);

  tmBlink = new QTimer(this);
  tmBlink->setInterval(250);
  connect(tmBlink, &QTimer::timeout, this, &TfrmRecognize::tmBlinkTimer);
  tmBlink->start();

  connect(bStart, &QPushButton::clicked, this, &TfrmRecognize::bStartClick);
  connect(bAccept, &QPushButton::clicked, this, &QDialog::accept);
  connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TfrmRecognize::~TfrmRecognize()
{
  for (TRecognitionThread* thread : Outstanding) {
    TScanRun& run = *thread->Run;
    run.Job->StopRequest = true;
    run.Job->Gate.Resume();
    run.HandOver->Close();
    if (!thread->isRunning() && !run.Started) thread->start();
    thread->wait();
    delete thread;
  }
}

bool TfrmRecognize::Running() const { return Current && Current->Running.load(std::memory_order_acquire); }

bool TfrmRecognize::WorkerPaused() const { return Current && (!Current->Started || Current->Job->Gate.Paused()); }

void TfrmRecognize::UpdateProgress(TScanRun& Run)
{
  if (&Run != Current.get()) return;
  const TkxRecognition& recognition = Run.Job->Recognition;
  gProgress->SetProgress(static_cast<std::int32_t>(static_cast<std::uint32_t>(recognition.Position)));
  SetLabelText(lSectorsProcessed, QString::number(recognition.Position));
  SetLabelText(lFilesFound, QString::number(recognition.FileList.Count));
  emit ProgressShown(recognition.Position);
}

bool TfrmRecognize::Recognize(std::unique_ptr<TkxDisk> Disk, TkxFileList& Into)
{
  if (!Disk) return false;
  const auto run = std::make_shared<TScanRun>(std::move(Disk));
  const TkxDisk& disk = run->Job->Disk();
  // The gauge counts in 32 bits: a medium beyond 2^31 sectors shows its low half.
  gProgress->SetMaxValue(static_cast<std::int32_t>(static_cast<std::uint32_t>(disk.SectorCount)));
  SetLabelText(lImageSize, QString::fromStdString(ImageSizeText(disk.SectorCount, disk.SectorSize)));
  SetLabelText(lTotalSectors, QString::number(disk.SectorCount));

  auto* thread = new TRecognitionThread(*this, run);
  Outstanding.push_back(thread);
  connect(thread, &QThread::finished, this, [this, thread] { WorkerEnded(thread); });
  Current = run;
  CurrentThread = thread;
  run->Running = true;
  sWorking->SetBrush(clSilver);
  UpdateProgress(*run);
  bStart->setFocus();

  const bool accepted = Ui.RunModal(*this) == QDialog::Accepted;
  if (accepted) run->Job->AcceptInto(Into);

  if (run->Running.load(std::memory_order_acquire)) {
    // Asked to stop before it is let go, so that a paused worker takes no further step.
    run->Job->StopRequest = true;
    run->Job->Gate.Resume();
    if (!run->Started) {
      run->Started = true;
      thread->start();
    }
  }
  // From here on the worker reports to nobody and never waits for this window.
  run->HandOver->Close();
  Current.reset();
  CurrentThread = nullptr;
  return accepted;
}

void TfrmRecognize::bStartClick()
{
  if (!Running()) return;
  TkxPauseGate& gate = Current->Job->Gate;
  if (!Current->Started) {
    Current->Started = true;
    gate.Resume();
    CurrentThread->start();
  } else if (gate.Paused()) {
    gate.Resume();
  } else {
    gate.Pause();
  }
}

void TfrmRecognize::tmBlinkTimer()
{
  if (!isVisible()) return;
  sWorking->SetBrush(NextLampColor(sWorking->Brush(), Running() && !WorkerPaused()));
}

void TfrmRecognize::WorkerEnded(TRecognitionThread* Thread)
{
  Outstanding.erase(std::remove(Outstanding.begin(), Outstanding.end(), Thread), Outstanding.end());
  const std::shared_ptr<TScanRun> run = Thread->Run;
  Thread->deleteLater();
  Ui.Beep(TBeep::Exclamation);
  // The worker wrote Error before it released Running; this acquire orders the read after that
  // write by itself, rather than through Qt's event queue, which the thread checker cannot see.
  const bool ended = !run->Running.load(std::memory_order_acquire);
  // An error is shown while its scan is still on screen; the files found so far can be accepted.
  if (ended && run == Current && !run->Error.empty() && isVisible())
    Ui.ShowMessage(this, QString::fromLocal8Bit(run->Error));
}

}  // namespace kx::ui
