// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/JobProgress.h"

#include "ui/UserInteraction.h"

#include <QTimer>

#include <limits>

namespace kx::ui {

namespace {

// A job runs this long before its progress window appears.
constexpr int ProgressWindowDelayMs = 1000;

}  // namespace

TJobProgress::TJobProgress(QWidget& Window, const std::shared_ptr<TWorker>& Worker, int Total, const QString& Label)
    : Dialog(Label, QStringLiteral("Cancel"), 0, Total, &Window), Blocker(Window, &Dialog)
{
  Dialog.setWindowTitle(ApplicationTitle());
  // Shown by the timer below, never by the dialog's own guess of the time left.
  Dialog.setMinimumDuration(std::numeric_limits<int>::max());
  Dialog.setAutoClose(false);
  Dialog.setAutoReset(false);
  Dialog.hide();
  QObject::connect(&Dialog, &QProgressDialog::canceled, &Dialog, [Worker] { Worker->Control().RequestStop(); });
  QTimer::singleShot(ProgressWindowDelayMs, &Dialog, [this] { Dialog.show(); });
}

void TJobProgress::Show(int Done, const QString& Label)
{
  Dialog.setValue(Done);
  Dialog.setLabelText(Label);
}

}  // namespace kx::ui
