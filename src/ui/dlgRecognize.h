// SPDX-License-Identifier: GPL-3.0-or-later
// The scan dialog and its worker: the dialog shows a scan's progress, and then its check's, and
// lets the person start, pause, accept or cancel it; the worker runs the scan job on a thread of
// its own.
#pragma once

#include "recognition/kxRecognition.h"
#include "ui/WorkerRunner.h"

#include <atomic>
#include <memory>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTimer;

namespace kx::ui {

class TqvGauge;
class TShape;
class TUserInteraction;
class TfrmRecognize;

// The worker of one scan. The dialog holds the scan job too, so that the medium and what was
// found stay valid until the dialog lets go, also when the person accepted or cancelled while
// the worker was working.
using TScanWorker = TJobWorker<TkxScanResult, TkxScanFigures>;

class TfrmRecognize : public TWorkerDialog {
  Q_OBJECT

 public:
  explicit TfrmRecognize(TUserInteraction& Ui_, QWidget* Parent = nullptr);

  // Runs one scan of Disk with the dialog shown modally. True when the person accepted the
  // found files, which then replace Into's entries, sorted by extension: checked where the check
  // ran, as far as it ran.
  bool Recognize(std::unique_ptr<TkxDisk> Disk, TkxFileList& Into);

  // The figures of the current scan; runs on this window's thread.
  void UpdateProgress(const TWorker& Worker, const TkxScanFigures& Figures);

  // Whether the current scan's worker is running, and whether it waits to be started or resumed.
  bool Running() const;
  bool WorkerPaused() const;

  QLabel* Label1;
  QPushButton* bStart;
  QGroupBox* GroupBox1;
  QLabel* Label2;
  TqvGauge* gProgress;
  QLabel* Label5;
  QLabel* lImageSize;
  QLabel* Label3;
  QLabel* lTotalSectors;
  QLabel* Label4;
  QLabel* lSectorsProcessed;
  QLabel* Label6;
  QLabel* lFilesFound;
  QLabel* lCheck;  // the check's phase and progress, below the scan's figures
  TShape* sWorking;
  // Whether the scan is followed by the check of what it found. Kept from one scan to the next.
  QCheckBox* cbCheck;
  QPushButton* bAccept;
  QPushButton* bCancel;
  QTimer* tmBlink;

  void bStartClick();
  void bAcceptClick();
  void tmBlinkTimer();

  // Cancel, Escape and the close box: files found and not accepted are thrown away only when the
  // person says so; otherwise the dialog stays, the scan going on.
  void reject() override;

 signals:
  // The figures now show Position; once per progress display.
  void ProgressShown(qint64 Position);

 private:
  void WorkerEnded(const TScanWorker& Worker);

  std::shared_ptr<TkxScanJob> CurrentJob;
  std::shared_ptr<TScanWorker> Current;
  TkxScanPhase ShownPhase = TkxScanPhase::Scan;
  // Accept was pressed during the check: the dialog accepts once the stopped check has ended.
  bool AcceptWhenEnded = false;
};

}  // namespace kx::ui
