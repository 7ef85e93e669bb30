// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dlgRescue.h"

#include "common/kxDisplayText.h"
#include "common/kxShared.h"
#include "media/kxImageCopy.h"
#include "ui/Controls.h"
#include "ui/UserInteraction.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>

#include <array>
#include <utility>

namespace kx::ui {

namespace {

QString Local(const std::string& Text) { return QString::fromLocal8Bit(Text); }

void SetValue(QLabel* Label, const std::string& Text)
{
  Label->setText(Local(Text));
  Label->adjustSize();
}

// The legend below the map, one swatch and caption per state, in the order the phases meet them.
void BuildLegend(QWidget* Parent, int Y)
{
  const std::pair<TkxSectorState, const char*> states[] = {
      {TkxSectorState::NonTried, "Not tried"}, {TkxSectorState::NonTrimmed, "Not trimmed"},
      {TkxSectorState::NonScraped, "Not scraped"}, {TkxSectorState::Bad, "Bad"},
      {TkxSectorState::Finished, "Finished"}};
  int x = 8;
  for (const auto& [state, caption] : states) {
    auto* swatch = new TShape(Parent);
    swatch->setGeometry(x, Y + 1, 11, 11);
    swatch->SetBrush(SectorStateColor(state));
    QLabel* label = MakeLabel(Parent, QString::fromLatin1(caption), {x + 15, Y});
    x = label->x() + label->width() + 18;
  }
}

}  // namespace

QColor SectorStateColor(TkxSectorState State)
{
  switch (State) {
    case TkxSectorState::NonTried: return {0x50, 0x50, 0x50};
    case TkxSectorState::NonTrimmed: return {0xF0, 0xD0, 0x00};
    case TkxSectorState::NonScraped: return {0x30, 0x60, 0xE0};
    case TkxSectorState::Bad: return {0xE0, 0x20, 0x20};
    case TkxSectorState::Finished: break;
  }
  return {0x20, 0xB0, 0x30};
}

// ---- the map ---------------------------------------------------------------------------------

TSectorMapView::TSectorMapView(QWidget* Parent) : QWidget(Parent) { setObjectName(QStringLiteral("pbMap")); }

int TSectorMapView::Columns() const { return std::max(1, (width() + 1) / Pitch); }

int TSectorMapView::CellCount() const { return Columns() * std::max(1, (height() + 1) / Pitch); }

void TSectorMapView::SetCells(std::vector<TkxSectorState> Cells_, int Current_)
{
  Cells = std::move(Cells_);
  Current = Current_;
  update();
}

QRect TSectorMapView::CellRect(int Index) const
{
  return {Index % Columns() * Pitch, Index / Columns() * Pitch, Pitch - 1, Pitch - 1};
}

void TSectorMapView::paintEvent(QPaintEvent*)
{
  QPainter painter(this);
  const int count = std::min(CellCount(), static_cast<int>(Cells.size()));
  for (int i = 0; i < count; ++i) painter.fillRect(CellRect(i), SectorStateColor(Cells[static_cast<std::size_t>(i)]));
  if (Current >= 0 && Current < count) {
    painter.setPen(Qt::white);
    painter.drawRect(CellRect(Current).adjusted(0, 0, -1, -1));
  }
}

// ---- the dialog ------------------------------------------------------------------------------

TfrmRescue::TfrmRescue(TUserInteraction& Ui_, QWidget* Parent)
    : TWorkerDialog(Ui_, Parent), DriveOpener([](char Letter) { return std::make_unique<TkxPhysicalCD>(Letter); })
{
  SetUpDialog(*this, QStringLiteral("frmRescue"), QStringLiteral("Rescuing a damaged disc"), QSize(480, 389),
              QColor(0xF0, 0xF0, 0xF0));
  lInfo = MakeTextLine<TFittedLabel>(this, QStringLiteral("lInfo"), {8, 8, 464, 15});
  pbMap = new TSectorMapView(this);
  pbMap->setGeometry(8, 28, 464, 160);
  BuildLegend(this, 194);
  BuildFigures();
  lSummary = MakeTextLine(this, QStringLiteral("lSummary"), {8, 314, 464, 34});
  lSummary->setWordWrap(true);
  lSummary->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  lSummary->setTextFormat(Qt::PlainText);

  cbScrape = new QCheckBox(QStringLiteral("Scrape bad areas"), this);
  cbScrape->setObjectName(QStringLiteral("cbScrape"));
  cbScrape->setToolTip(QStringLiteral("Also read the inside of bad areas sector by sector (slow)"));
  cbScrape->setGeometry(8, 358, 130, 21);
  QLabel* retries = MakeLabel(this, QStringLiteral("Retry passes:"), {146, 362});
  neRetries = new QSpinBox(this);
  neRetries->setObjectName(QStringLiteral("neRetries"));
  neRetries->setRange(0, 1000);
  neRetries->setToolTip(QStringLiteral("Passes over the bad sectors at the end"));
  neRetries->setGeometry(retries->x() + retries->width() + 6, 358, 56, 22);
  retries->setBuddy(neRetries);
  bStart = MakeButton(this, QStringLiteral("bStart"), QStringLiteral("Start"), {312, 356, 75, 25}, TButtonRole::Default);
  bStop = MakeButton(this, QStringLiteral("bStop"), QStringLiteral("Close"), {397, 356, 75, 25}, TButtonRole::NotByEnter);
  setTabOrder(cbScrape, neRetries);
  setTabOrder(neRetries, bStart);
  setTabOrder(bStart, bStop);

  connect(bStart, &QPushButton::clicked, this, &TfrmRescue::bStartClick);
  connect(bStop, &QPushButton::clicked, this, &TfrmRescue::bStopClick);
}

void TfrmRescue::BuildFigures()
{
  GroupBox1 = new QGroupBox(QStringLiteral("Rescue"), this);
  GroupBox1->setGeometry(8, 212, 464, 96);
  struct TFigure {
    QLabel*& Value;
    const char* Caption;
    int X;
    int Y;
  };
  const TFigure figures[] = {
      {lPhase, "Phase:", 10, 18},
      {lRescued, "Rescued:", 10, 36},
      {lUnreadable, "Unreadable sectors:", 10, 54},
      {lFailingReads, "Failing reads:", 10, 72},
      {lPerFailingRead, "Time per failing read:", 230, 18},
      {lSinceGoodRead, "Since the last good read:", 230, 36},
      {lTimeLeft, "Time left:", 230, 54},
  };
  std::array<QLabel*, std::size(figures)> captions{};
  for (std::size_t i = 0; i < std::size(figures); ++i) {
    captions[i] = MakeLabel(GroupBox1, QString::fromLatin1(figures[i].Caption), {figures[i].X, figures[i].Y});
    figures[i].Value = MakeLabel(GroupBox1, QStringLiteral("-"), {figures[i].X + 90, figures[i].Y}, true);
  }
  const int left = ValueColumn({captions[0], captions[1], captions[2], captions[3]}, 90);
  const int right = ValueColumn({captions[4], captions[5], captions[6]}, 370);
  for (std::size_t i = 0; i < std::size(figures); ++i) figures[i].Value->move(i < 4 ? left : right, figures[i].Y);
}

bool TfrmRescue::Running() const { return Current != nullptr && !Ended; }

bool TfrmRescue::Paused() const { return Running() && Current->Control().Paused(); }

std::string TfrmRescue::Rescue(char Drive)
{
  TFileChoice choice;
  choice.Caption = QStringLiteral("Rescue damaged disc");
  choice.Filter = QStringLiteral("ISO disk image files (*.iso)");
  // An existing image is never replaced: with its map the rescue goes on, without one it is refused.
  choice.ConfirmOverwrite = false;
  const QString chosen = Ui.ChooseSaveFile(this, choice);
  if (chosen.isEmpty()) return {};
  return RescueInto(Drive, chosen.toLocal8Bit().toStdString());
}

std::string TfrmRescue::RescueInto(char Drive_, const std::string& Typed)
{
  // A stopped rescue ends after the read in hand and then saves its map; until then it still
  // holds the drive, and perhaps the image a new rescue would go on with.
  if (OutstandingWorkers() > 0) {
    Ui.ShowMessage(this, QStringLiteral("The rescue stopped last is still finishing its last read. Please try again "
                                        "in a moment."));
    return {};
  }
  const TkxImageTarget target = ResolveImageTarget(Typed);
  std::string problem = target.Error.empty() ? TkxRescueJob::TargetProblem(target.FileName) : target.Error;
  if (!problem.empty()) {
    Ui.ShowMessage(this, Local(problem));
    return {};
  }
  if (TkxRescueJob::MapExists(target.FileName) &&
      !Ui.AskYesNo(this, ApplicationTitle(),
                   QStringLiteral("The map of an earlier rescue into \"%1\" lies beside it. Do you want to go on "
                                  "where that rescue stopped?")
                       .arg(Local(target.FileName)),
                   TAnswer::Yes))
    return {};
  Letter = AsciiUpper(Drive_);
  std::unique_ptr<TkxPhysicalCD> drive = DriveOpener(Letter);
  if (!drive || drive->Status != CDReady) {
    const std::string_view text = PhysicalCDStatusText(drive ? drive->Status : CDNoDevice);
    Ui.ShowMessage(this, QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    return {};
  }
  Drive = std::move(drive);
  ShowReady(target.FileName);

  Ui.RunModal(*this);
  // A rescue still running is stopped; its worker saves the map on its way out.
  if (Current) Runner.Release(*Current);
  Current.reset();
  CurrentJob.reset();
  Drive.reset();
  return ScanAsked ? Image : std::string();
}

void TfrmRescue::ShowReady(const std::string& ImageName)
{
  Image = ImageName;
  Ended = false;
  ScanAsked = false;
  lInfo->setText(QString::fromStdString(VisibleText(ImageCopySourceText(Letter, Image))));
  for (QLabel* value : {lPhase, lRescued, lUnreadable, lFailingReads, lPerFailingRead, lSinceGoodRead, lTimeLeft})
    SetValue(value, "-");
  const std::string mapName = RescueMapName(Image);
  if (const std::optional<TkxRescueMap> map = MapBesideImage(Image)) {
    pbMap->SetCells(CellStates(map->Sectors, static_cast<std::size_t>(pbMap->CellCount())));
    lSummary->setText(Local("Start goes on where the rescue saved in \"" + mapName + "\" stopped."));
  } else {
    pbMap->SetCells(std::vector<TkxSectorState>(static_cast<std::size_t>(pbMap->CellCount()), TkxSectorState::NonTried));
    lSummary->setText(Local("The map is saved beside the image as \"" + mapName + "\"."));
  }
  cbScrape->setEnabled(true);
  neRetries->setEnabled(true);
  bStart->setText(QStringLiteral("Start"));
  bStart->setEnabled(true);
  bStop->setText(QStringLiteral("Close"));
  bStop->setEnabled(true);
  bStart->setFocus();
}

void TfrmRescue::StartRescue()
{
  TkxRescueOptions options = Options;
  options.Settings = {cbScrape->isChecked(), neRetries->value()};
  const auto job = std::make_shared<TkxRescueJob>(std::move(Drive), Image, std::move(options));
  Current = std::make_shared<TRescueWorker>(
      [job](TkxJobControl& Control, const TkxProgressSink<TkxRescueFigures>& Progress) {
        // Preparing reads the disc's identity, which on a damaged disc may take a failing read.
        TRescueEnd end;
        end.Outcome = job->Prepare();
        if (!end.Outcome.IsCompleted()) return end;
        end.Prepared = true;
        static_cast<TkxRescueResult&>(end) = job->Run(Control, Progress);
        return end;
      });
  // A read takes from milliseconds to a minute: the figures are shown four times a second of the
  // rescue's clock at most, and after every slower read.
  Current->Worth = [shown = -1.0](const TkxRescueFigures& Figures) mutable {
    if (shown >= 0 && Figures.Seconds - shown < 0.25) return false;
    shown = Figures.Seconds;
    return true;
  };
  Current->ShowFigures = [this](const TkxRescueFigures& Figures) { ShowRunning(Figures); };
  CurrentJob = job;
  Runner.Add(Current, [this](TWorker& Worker) { WorkerEnded(static_cast<const TRescueWorker&>(Worker)); });
  Runner.Start(*Current);
  cbScrape->setEnabled(false);
  neRetries->setEnabled(false);
  bStart->setText(QStringLiteral("Pause"));
  bStop->setText(QStringLiteral("Stop"));
}

void TfrmRescue::bStartClick()
{
  if (Current == nullptr) {
    if (Drive) StartRescue();
    return;
  }
  TkxJobControl& control = Current->Control();
  if (!Running() || control.StopRequested()) return;
  if (control.Paused()) {
    control.Resume();
    bStart->setText(QStringLiteral("Pause"));
  } else {
    control.Pause();
    bStart->setText(QStringLiteral("Resume"));
  }
}

void TfrmRescue::bStopClick()
{
  if (!Running()) {
    reject();
    return;
  }
  // The rescue ends after the read in hand, which on a damaged disc may take a minute, and saves
  // its map; the window stays to show where it stopped.
  Current->Control().RequestStop();
  bStart->setEnabled(false);
  bStop->setEnabled(false);
  bStop->setText(QStringLiteral("Stopping..."));
}

void TfrmRescue::keyPressEvent(QKeyEvent* Event)
{
  // Escape is the Stop button: it stops a rescue and closes a window that has none running.
  if (Event->key() == Qt::Key_Escape) {
    if (bStop->isEnabled()) bStopClick();
    return;
  }
  QDialog::keyPressEvent(Event);
}

void TfrmRescue::ShowFigures(const TkxRescueFigures& f)
{
  const TkxRescueFigureTexts t = RescueFigureTexts(f);
  SetValue(lPhase, t.Phase);
  SetValue(lRescued, t.Rescued);
  SetValue(lUnreadable, t.Unreadable);
  SetValue(lFailingReads, t.FailingReads);
  SetValue(lPerFailingRead, t.PerFailingRead);
  SetValue(lSinceGoodRead, t.SinceGoodRead);
  SetValue(lTimeLeft, t.TimeLeft);
  const int count = pbMap->CellCount();
  const int at = Running() && f.Sectors > 0 ? static_cast<int>(f.Position * count / f.Sectors) : -1;
  pbMap->SetCells(CurrentJob->Cells(static_cast<std::size_t>(count)), at);
}

void TfrmRescue::ShowRunning(const TkxRescueFigures& Figures)
{
  ShowFigures(Figures);
  lSummary->setText(Local(RescueSummaryText(Figures)));
}

void TfrmRescue::WorkerEnded(const TRescueWorker& Worker)
{
  Ui.Beep(TBeep::Exclamation);
  if (&Worker != Current.get()) return;
  Ended = true;
  bStart->setEnabled(false);
  bStart->setText(QStringLiteral("Start"));
  bStop->setEnabled(true);
  bStop->setText(QStringLiteral("Close"));
  const TRescueEnd& end = Worker.Result();
  if (!end.Prepared) {
    lSummary->setText(Local(end.Outcome.Reason));
    Ui.ShowMessage(this, Local(end.Outcome.Reason));
    return;
  }
  const TkxRescueFigures f = CurrentJob->Figures();
  ShowFigures(f);
  const std::string summary = RescueSummaryText(f);
  if (end.Outcome.IsFailed()) {
    lSummary->setText(Local(summary));
    Ui.ShowMessage(this, Local(end.Outcome.Reason));
  } else if (end.Outcome.IsStopped()) {
    lSummary->setText(Local(summary + ". Stopped; the map is saved, and a rescue into the same image goes on here."));
  } else {
    lSummary->setText(Local(summary));
    if (Ui.AskYesNo(this, ApplicationTitle(),
                    Local(summary + ".\n\nDo you want to scan the image \"" + Image + "\" for lost files now?"),
                    TAnswer::Yes)) {
      ScanAsked = true;
      accept();
    }
  }
}

}  // namespace kx::ui
