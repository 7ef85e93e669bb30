// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's check of found files: the worker that checks a copy of the list against the
// medium, and the running check the window holds.
#pragma once

#include "recognition/kxCheck.h"
#include "ui/JobProgress.h"
#include "ui/Main.h"

#include <memory>

namespace kx::ui {

// The worker of one check: its own copy of the list, so that nothing the window does meanwhile
// reaches it, and the medium.
class TCheckThread final : public TWorker {
 public:
  TCheckThread(TfrmMain& Window_, std::unique_ptr<TkxDisk> Disk_, const TkxFileList& List)
      : Window(Window_), Disk(std::move(Disk_))
  {
    Entries.Assign(List);
  }

  TkxJobControl& Control() override { return JobControl; }
  std::int32_t Total() const { return Entries.Count; }

  // Written by Execute; read once the worker has ended.
  TkxCheckResult Result;

 protected:
  void Execute() override;

 private:
  TfrmMain& Window;
  std::unique_ptr<TkxDisk> Disk;
  TkxFileList Entries;
  TkxJobControl JobControl;
};

struct TfrmMain::TCheckRun : TRunningJob<TCheckThread> {
  TCheckRun(TfrmMain& Window, std::shared_ptr<TCheckThread> Worker_) : TRunningJob(Window, std::move(Worker_), "checked") {}
};

}  // namespace kx::ui
