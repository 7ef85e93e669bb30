// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's check of found files: the list's entries are checked against the medium on
// a worker, and the list takes the result at once when the check ends.
#include "ui/MainCheck.h"

#include "ui/logic/kxWindowTexts.h"
#include "ui/Controls.h"
#include "ui/UserInteraction.h"

#include <algorithm>

namespace kx::ui {

void TCheckThread::Execute()
{
  // A hand-over per hundredth of the list: a check looks at thousands of entries a second.
  const std::int32_t stride = std::max(1, Entries.Count / 100);
  std::int32_t shown = 0;
  Result = CheckFoundFiles(*Disk, Entries, JobControl, [&](std::int32_t Done, std::int32_t Total) {
    if (Done - shown < stride && Done < Total) return;
    shown = Done;
    Synchronize([this, Done] { Window.ShowCheckProgress(Done); });
  });
  Disk.reset();
}

void TfrmMain::miCheckFilesClick()
{
  if (Extracting() || Checking()) return;
  if (FileList.Count == 0) {
    Ui.Beep(TBeep::Simple);
    return;
  }
  // Checked against another disc, whole files would be marked damaged and their sizes changed.
  std::string medium;
  if (!ChooseListMedium(TkxListCommand::Check, medium)) return;
  std::unique_ptr<TkxDisk> disk = OpenDiskOrSay(medium);
  if (!disk) return;
  const auto worker = std::make_shared<TCheckThread>(*this, std::move(disk), FileList);
  CheckRun = std::make_unique<TCheckRun>(*this, worker);
  Runner.Add(worker, [this](TWorker& Ended) { EndCheck(static_cast<const TCheckThread&>(Ended)); });
  Runner.Start(*worker);
}

QProgressDialog* TfrmMain::CheckProgressWindow() const { return CheckRun ? &CheckRun->Progress.Dialog : nullptr; }

void TfrmMain::ShowCheckProgress(std::int32_t Done) { CheckRun->Show(Done); }

void TfrmMain::EndCheck(const TCheckThread& Worker)
{
  CheckRun.reset();
  const TkxCheckEnd end = FinishCheck(Worker.Result, FileList);
  if (end.Changed) {
    // Refined extensions and the runs listed apart at the end would leave the list out of order.
    {
      const TWaitCursor wait;
      FileList.Sort(ListOrder);
    }
    ListModified = true;
    Modified = true;
    RefreshList();
    UpdateCaption();
  }
  if (end.Message.empty())
    Ui.Beep(TBeep::Exclamation);
  else
    Ui.ShowMessage(this, QString::fromLocal8Bit(end.Message));
  emit CheckEnded();
}

}  // namespace kx::ui
