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

// How the worker of one rescue ended: the job is prepared (its map read, or its image begun)
// and then run. Not Prepared: the outcome says why the rescue could not begin (another disc, a
// map that cannot be used).
struct TRescueEnd : TkxRescueResult {
  bool Prepared = false;
};
// Its figures are the job's, pushed after every read; the window reads the job's map, which is
// safe while it runs.
using TRescueWorker = TJobWorker<TRescueEnd, TkxRescueFigures>;

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

  void bStartClick();
  void bStopClick();

 signals:
  // The current rescue's worker has ended and the window shows its end.
  void RescueEnded();

 protected:
  void keyPressEvent(QKeyEvent* Event) override;

 private:
  void BuildFigures();
  void ShowReady(const std::string& ImageName);
  void StartRescue();
  void WorkerEnded(const TRescueWorker& Worker);
  void ShowFigures(const TkxRescueFigures& Figures);
  // Figures the rescue pushed while it runs; they say what it has done so far.
  void ShowRunning(const TkxRescueFigures& Figures);

  std::unique_ptr<TkxPhysicalCD> Drive;  // opened, until the rescue starts
  char Letter = 0;
  std::string Image;
  std::shared_ptr<TRescueWorker> Current;
  std::shared_ptr<TkxRescueJob> CurrentJob;
  bool Ended = false;
  bool ScanAsked = false;
};

}  // namespace kx::ui
