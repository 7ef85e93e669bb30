// The progress window of a long job that the main window runs on its worker runner (an
// extraction, a check of found files).
#pragma once

#include "ui/Controls.h"
#include "ui/WorkerRunner.h"

#include <QProgressDialog>

#include <memory>

namespace kx::ui {

// It appears only once the job has run for a second, so that a short job shows none; Cancel asks
// the job to stop. While it exists, the window takes no input but through it, and shows the
// hourglass.
class TJobProgress {
 public:
  TJobProgress(QWidget& Window, const std::shared_ptr<TWorker>& Worker, int Total, const QString& Label);
  TJobProgress(const TJobProgress&) = delete;
  TJobProgress& operator=(const TJobProgress&) = delete;

  void Show(int Done, const QString& Label);

  QProgressDialog Dialog;

 private:
  const TWindowInputBlocker Blocker;
  const TWaitCursor Wait;
};

}  // namespace kx::ui
