// The scan dialog and its worker: the dialog shows a scan's progress and lets the person start,
// pause, accept or cancel it; the worker runs the scan on a thread of its own.
#pragma once

#include "recognition/kxRecognition.h"
#include "ui/HandOver.h"

#include <QDialog>
#include <QThread>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class QGroupBox;
class QLabel;
class QPushButton;
class QTimer;

namespace kx::ui {

class TqvGauge;
class TShape;
class TUserInteraction;
class TfrmRecognize;

// One scan: what the dialog and its worker share. The worker may outlive the dialog's interest
// in it (the person accepted or cancelled while it was working); the shared pointers keep the
// medium, the recognition and this state valid until the worker has ended.
struct TScanRun {
  explicit TScanRun(std::unique_ptr<TkxDisk> Disk) : Job(std::make_shared<TkxScanJob>(std::move(Disk))) {}

  std::shared_ptr<TkxScanJob> Job;
  std::shared_ptr<THandOver> HandOver = THandOver::Create();
  // True from the worker's creation until it has finished its final steps; written by the
  // worker, read by the dialog.
  std::atomic<bool> Running{true};
  bool Started = false;  // the worker thread has been started (user-interface thread only)
  std::string Error;     // why a step failed; written by the worker before Running turns false
};

class TRecognitionThread : public QThread {
  Q_OBJECT

 public:
  TRecognitionThread(TfrmRecognize& Dialog_, std::shared_ptr<TScanRun> Run_);

  std::shared_ptr<TScanRun> Run;

 protected:
  void run() override;

 private:
  TfrmRecognize& Dialog;
};

class TfrmRecognize : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmRecognize(TUserInteraction& Ui_, QWidget* Parent = nullptr);
  // Stops every worker that is still running and waits for it; none waits for this window then.
  ~TfrmRecognize() override;

  // Runs one scan of Disk with the dialog shown modally. True when the person accepted the
  // found files, which then replace Into's entries, sorted by extension.
  bool Recognize(std::unique_ptr<TkxDisk> Disk, TkxFileList& Into);

  // The figures of the current scan; runs on this window's thread.
  void UpdateProgress(TScanRun& Run);

  // Whether the current scan's worker is running, and whether it waits to be started or resumed.
  bool Running() const;
  bool WorkerPaused() const;
  // The current scan, while Recognize runs.
  std::shared_ptr<TScanRun> CurrentRun() const { return Current; }
  // Workers that have not ended yet, of this and earlier scans.
  int OutstandingWorkers() const { return static_cast<int>(Outstanding.size()); }

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
  TShape* sWorking;
  QPushButton* bAccept;
  QPushButton* bCancel;
  QTimer* tmBlink;

  void bStartClick();
  void tmBlinkTimer();

 signals:
  // The figures now show Position; once per progress display.
  void ProgressShown(qint64 Position);

 private:
  friend class TRecognitionThread;
  void WorkerEnded(TRecognitionThread* Thread);

  TUserInteraction& Ui;
  std::shared_ptr<TScanRun> Current;
  TRecognitionThread* CurrentThread = nullptr;
  std::vector<TRecognitionThread*> Outstanding;
};

}  // namespace kx::ui
