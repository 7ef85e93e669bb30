// SPDX-License-Identifier: GPL-3.0-or-later
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

// The worker of a job over a list's files (an extraction, a check): its figures are the files done.
template <class TResult>
using TFilesWorker = TJobWorker<TResult, TkxFilesDone>;

// A job over Total files that the window runs: its worker and its progress window, whose label
// counts the files done ("3 of 57 files checked").
struct TFilesJob {
  TFilesJob(QWidget& Window, std::shared_ptr<TWorker> Worker_, int Total_, const char* Done_)
      : Worker(std::move(Worker_)), Total(Total_), Done(QString::fromLatin1(Done_)), Progress(Window, Worker, Total, Label(0))
  {
  }

  QString Label(int Files) const { return QStringLiteral("%1 of %2 files %3").arg(Files).arg(Total).arg(Done); }
  void Show(int Files) { Progress.Show(Files, Label(Files)); }

  const std::shared_ptr<TWorker> Worker;
  const int Total;
  const QString Done;
  TJobProgress Progress;
};

}  // namespace kx::ui
