// SPDX-License-Identifier: GPL-3.0-or-later
// Image creation: a modal dialog that copies the disc in a drive into an ISO image on a worker
// thread, with a gauge, a blinking lamp, pause and resume, and a confirmed stop.
#pragma once

#include "media/kxImageCopy.h"
#include "media/kxPhysicalCD.h"
#include "ui/WorkerRunner.h"

#include <functional>
#include <memory>
#include <string>

class QLabel;
class QPushButton;
class QTimer;

namespace kx::ui {

class TqvGauge;
class TFittedLabel;
class TShape;
class TUserInteraction;
class TfrmCreateImage;

// The worker of one copy: its figures are the sectors copied. Its job owns the drive until the
// copy has ended, so a second copy started while a stopped one finishes its last chunk gets a
// drive of its own.
using TCopyWorker = TJobWorker<TkxImageCopyResult, std::int64_t>;

class TfrmCreateImage : public TWorkerDialog {
  Q_OBJECT

 public:
  // Opens the drive of a letter; the default opens the machine's optical drive.
  using TDriveOpener = std::function<std::unique_ptr<TkxPhysicalCD>(char Letter)>;

  explicit TfrmCreateImage(TUserInteraction& Ui_, QWidget* Parent = nullptr);

  // Opens the drive and copies it into FileName with the dialog shown; returns when the dialog
  // has closed. A drive that is not usable is reported and no dialog is shown.
  void CreateImage(char Drive, const std::string& FileName);

  TDriveOpener DriveOpener;

  bool Running() const;
  bool WorkerPaused() const;

  TFittedLabel* lInfo;
  TFittedLabel* lSectors;
  TqvGauge* pb;
  TShape* sWorking;
  QPushButton* bSuspend;
  QPushButton* bClose;
  QTimer* tmBlink;

  void bSuspendClick();
  void bCloseClick();
  void tmBlinkTimer();

  // The copy's progress and its end, on this window's thread.
  void UpdateGauge(std::int64_t SectorsDone);
  void ShowEnded(const TkxImageCopyResult& Result);

 protected:
  void keyPressEvent(QKeyEvent* Event) override;

 private:
  void WorkerEnded(const TCopyWorker& Worker);

  std::shared_ptr<TCopyWorker> Current;
  // The current copy's drive, as it was measured, for the display.
  std::int32_t SectorSize = 2048;
  std::int64_t SectorCount = 0;
};

}  // namespace kx::ui
