// Image creation: a modal dialog that copies the disc in a drive into an ISO image on a worker
// thread, with a gauge, a blinking lamp, pause and resume, and a confirmed stop.
#pragma once

#include "common/kxPauseGate.h"
#include "media/kxImageCopy.h"
#include "media/kxPhysicalCD.h"
#include "ui/HandOver.h"

#include <QDialog>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QTimer;

namespace kx::ui {
class TqvGauge;
class TShape;
class TUserInteraction;
}  // namespace kx::ui

namespace kx {

class TfrmCreateImage;

// One copy: what the dialog and its worker share. The worker owns the drive until it ends, so a
// second copy started while a stopped one finishes its last chunk gets a drive of its own.
struct TCopyRun {
  std::shared_ptr<TkxDisk> Disk;
  std::string FileName;
  std::int32_t SectorSize = 0;
  std::int64_t SectorCount = 0;
  std::shared_ptr<ui::THandOver> HandOver = ui::THandOver::Create();
  TkxPauseGate Gate;
  std::atomic<bool> StopRequest{false};
  // True from the worker's start until its copy loop has ended; written by the worker.
  std::atomic<bool> Running{true};
  TkxImageCopyResult Result;  // written by the worker before Running turns false
};

class TCDImageThread : public QThread {
  Q_OBJECT

 public:
  TCDImageThread(TfrmCreateImage& Dialog_, std::shared_ptr<TCopyRun> Run_);
  std::shared_ptr<TCopyRun> Run;

 protected:
  void run() override;

 private:
  TfrmCreateImage& Dialog;
};

class TfrmCreateImage : public QDialog {
  Q_OBJECT

 public:
  // Opens the drive of a letter; the default opens the machine's optical drive.
  using TDriveOpener = std::function<std::unique_ptr<TkxPhysicalCD>(char Letter)>;

  explicit TfrmCreateImage(ui::TUserInteraction& Ui_, QWidget* Parent = nullptr);
  // Stops every copy still running and waits for it.
  ~TfrmCreateImage() override;

  // Opens the drive and copies it into FileName with the dialog shown; returns when the dialog
  // has closed. A drive that is not usable is reported and no dialog is shown.
  void CreateImage(char Drive, const std::string& FileName);

  TDriveOpener DriveOpener;

  bool Running() const;
  bool WorkerPaused() const;
  std::shared_ptr<TCopyRun> CurrentRun() const { return Current; }
  int OutstandingWorkers() const { return static_cast<int>(Outstanding.size()); }

  QLabel* lInfo;
  QLabel* lSectors;
  ui::TqvGauge* pb;
  ui::TShape* sWorking;
  QPushButton* bSuspend;
  QPushButton* bClose;
  QTimer* tmBlink;

  void bSuspendClick();
  void bCloseClick();
  void tmBlinkTimer();

 signals:
  // The copy's loop has ended and the dialog shows its ended state.
  void CopyEnded();

 protected:
  void closeEvent(QCloseEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;

 private:
  friend class TCDImageThread;
  void UpdateGauge(TCopyRun& Run, std::int64_t SectorsDone);
  void ShowEnded(TCopyRun& Run);
  void WorkerEnded(TCDImageThread* Thread);

  ui::TUserInteraction& Ui;
  std::shared_ptr<TCopyRun> Current;
  std::vector<TCDImageThread*> Outstanding;
};

}  // namespace kx
