// SPDX-License-Identifier: GPL-3.0-or-later
// The rescue of a damaged disc in a window: a modal dialog that runs the rescue job on a worker,
// draws its map of the disc and its figures, pauses, resumes and stops it (the map is saved), and
// at the end offers to scan the image.
#pragma once

#include "media/kxPhysicalCD.h"
#include "media/kxRescue.h"
#include "ui/WorkerRunner.h"

#include <QColor>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTimer;

namespace kx::ui {

class TFittedLabel;
class TUserInteraction;

// The colour of a cell of the map in State.
QColor SectorStateColor(TkxSectorState State);

// The map of the disc: one square per group of sectors, in rows from the top left, each in the
// colour of its group's worst state; the group the rescue reads at is framed.
class TSectorMapView : public QWidget {
  Q_OBJECT

 public:
  static constexpr int Pitch = 8;  // a cell of 7 x 7 pixels and a gap

  explicit TSectorMapView(QWidget* Parent = nullptr);

  // The groups the view has room for.
  int CellCount() const;
  // Cells as TkxRescueJob::Cells gives them; Current the cell to frame, -1 for none.
  void SetCells(std::vector<TkxSectorState> Cells_, int Current_ = -1);
  // The rectangle of cell Index.
  QRect CellRect(int Index) const;

 protected:
  void paintEvent(QPaintEvent* Event) override;

 private:
  int Columns() const;
  std::vector<TkxSectorState> Cells;
  int Current = -1;
};

// The worker of one rescue: prepares the job (reads the map, or begins the image) and runs it.
// The window reads the job's figures and map while it runs; the job is safe for that.
class TRescueThread final : public TWorker {
 public:
  TRescueThread(std::unique_ptr<TkxPhysicalCD> Drive, std::string ImageName, TkxRescueOptions Options);

  TkxRescueJob Job;
  TkxJobControl JobControl;
  // Written by Execute; read by the window once the worker has ended.
  std::string Problem;  // why the rescue could not begin (another disc, a map that cannot be used)
  TkxRescueOutcome Outcome;

  TkxJobControl& Control() override { return JobControl; }

 protected:
  void Execute() override;
};

class TfrmRescue : public TWorkerDialog {
  Q_OBJECT

 public:
  // Opens the drive of a letter; the default opens the machine's optical drive.
  using TDriveOpener = std::function<std::unique_ptr<TkxPhysicalCD>(char Letter)>;

  explicit TfrmRescue(TUserInteraction& Ui_, QWidget* Parent = nullptr);

  // Asks for the image file, then RescueInto it.
  std::string Rescue(char Drive);
  // Rescues the disc in Drive into the image Typed (".iso" added when it has no extension) with
  // the dialog shown, after offering to go on where an earlier rescue of that image stopped.
  // Returns the image's name when the person asked at the end to scan it, else "".
  std::string RescueInto(char Drive, const std::string& Typed);

  TDriveOpener DriveOpener;
  // What the rescues start with; the check box and the retry count set its settings.
  TkxRescueOptions Options;

  // A rescue is under way: started and not ended (also while it is stopping).
  bool Running() const;
  bool Paused() const;

  TFittedLabel* lInfo;
  TSectorMapView* pbMap;
  QGroupBox* GroupBox1;
  QLabel* lPhase;
  QLabel* lRescued;
  QLabel* lUnreadable;
  QLabel* lFailingReads;
  QLabel* lPerFailingRead;
  QLabel* lSinceGoodRead;
  QLabel* lTimeLeft;
  QLabel* lSummary;
  QCheckBox* cbScrape;
  QSpinBox* neRetries;
  QPushButton* bStart;
  QPushButton* bStop;
  QTimer* tmRefresh;

  void bStartClick();
  void bStopClick();
  // The figures and the map of the current rescue, read from its job.
  void tmRefreshTimer();

 signals:
  // The current rescue's worker has ended and the window shows its end.
  void RescueEnded();

 protected:
  void keyPressEvent(QKeyEvent* Event) override;

 private:
  void BuildFigures();
  void ShowReady(const std::string& ImageName);
  void StartRescue();
  void WorkerEnded(const TRescueThread& Worker);
  void ShowFigures(const TkxRescueFigures& Figures);

  std::unique_ptr<TkxPhysicalCD> Drive;  // opened, until the rescue starts
  char Letter = 0;
  std::string Image;
  std::shared_ptr<TRescueThread> Current;
  bool Ended = false;
  bool ScanAsked = false;
};

}  // namespace kx::ui
