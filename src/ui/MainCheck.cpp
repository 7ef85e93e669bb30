// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's check of found files: the list's entries are checked against the medium on
// a worker, and the list takes the result at once when the check ends.
#include "ui/Main.h"

#include "recognition/kxCheck.h"
#include "ui/logic/kxWindowTexts.h"
#include "ui/Controls.h"
#include "ui/JobProgress.h"
#include "ui/UserInteraction.h"

#include <algorithm>

namespace kx::ui {

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
  // Its own copy of the list, so that nothing the window does meanwhile reaches it.
  TkxFileList entries;
  entries.Assign(FileList);
  using TCheckWorker = TFilesWorker<TkxCheckResult>;
  const auto worker = std::make_shared<TCheckWorker>(
      [disk = std::shared_ptr<TkxDisk>(std::move(disk)), entries = std::move(entries)](
          TkxJobControl& Control, const TkxProgressSink<TkxFilesDone>& Progress) {
        return CheckFoundFiles(*disk, entries, Control, Progress);
      });
  // A hand-over per hundredth of the list: a check looks at thousands of entries a second.
  worker->Worth = [shown = 0, stride = std::max(1, FileList.Count / 100)](const TkxFilesDone& Files) mutable {
    if (Files.Done - shown < stride && Files.Done < Files.Total) return false;
    shown = Files.Done;
    return true;
  };
  worker->ShowFigures = [this](const TkxFilesDone& Files) { CheckRun->Show(Files.Done); };
  CheckRun = std::make_unique<TFilesJob>(*this, worker, FileList.Count, "checked");
  Runner.Add(worker, [this](TWorker& Ended) { EndCheck(static_cast<const TCheckWorker&>(Ended).Result()); });
  Runner.Start(*worker);
}

QProgressDialog* TfrmMain::CheckProgressWindow() const { return CheckRun ? &CheckRun->Progress.Dialog : nullptr; }

void TfrmMain::EndCheck(const TkxCheckResult& Result)
{
  CheckRun.reset();
  const TkxCheckEnd end = FinishCheck(Result, FileList);
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
