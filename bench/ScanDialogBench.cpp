// SPDX-License-Identifier: GPL-3.0-or-later
// The scan job (scan and check) through the scan dialog against the job as the command line runs
// it, over the same cached image: the dialog's worker, with its pause gate, step lock and progress hand-overs to a
// live event loop, must keep at least 90 % of the command line's rate.
//   ScanDialogBench IMAGE [benchmark flags]
// The image is read once before the first run, so that both read it from the cache.
#include "media/kxDisks.h"
#include "recognition/kxRecognition.h"
#include "ui/dlgRecognize.h"
#include "ui/UserInteraction.h"

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string Image;

// A person who starts the scan, waits for its end and accepts.
class TAutoAccept final : public kx::ui::TUserInteraction {
 public:
  kx::ui::TfrmRecognize* Dialog = nullptr;
  int RunModal(QDialog&) override
  {
    // The dialog's own modal loop waits for events, as this one does; it never spins. The
    // worker's end is announced by the beep.
    QEventLoop loop;
    Ended = &loop;
    Dialog->bStart->click();
    loop.exec();
    Ended = nullptr;
    return QDialog::Accepted;
  }
  void Beep(kx::ui::TBeep) override
  {
    if (Ended != nullptr) Ended->quit();
  }
  QEventLoop* Ended = nullptr;
};

void BM_ScanDialog(benchmark::State& State)
{
  TAutoAccept person;
  kx::ui::TfrmRecognize dialog(person);
  person.Dialog = &dialog;
  std::int64_t bytes = 0;
  std::int32_t found = 0;
  for (auto _ : State) {
    auto disk = kx::OpenDisk(Image);
    if (!disk) {
      State.SkipWithError("cannot open the image");
      return;
    }
    bytes += disk->SectorCount * disk->SectorSize;
    kx::TkxFileList list;
    dialog.Recognize(std::move(disk), list);
    found = list.Count;
  }
  State.SetBytesProcessed(bytes);
  State.counters["files"] = found;
}

// What `tessarin-cli scan` does between opening the medium and writing the project.
void BM_ScanAsCommandLine(benchmark::State& State)
{
  std::int64_t bytes = 0;
  std::int32_t found = 0;
  for (auto _ : State) {
    auto disk = kx::OpenDisk(Image);
    if (!disk) {
      State.SkipWithError("cannot open the image");
      return;
    }
    bytes += disk->SectorCount * disk->SectorSize;
    kx::TkxScanJob job(std::move(disk), {true, 64, 1});
    kx::TkxJobControl control;
    found = job.Run(control, [](const kx::TkxScanFigures&) {}).Files.Count;
  }
  State.SetBytesProcessed(bytes);
  State.counters["files"] = found;
}

BENCHMARK(BM_ScanDialog)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScanAsCommandLine)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: %s IMAGE [benchmark flags]\n", argv[0]);
    return 2;
  }
  Image = argv[1];
  {
    std::ifstream warm(Image, std::ios::binary);
    std::vector<char> buffer(1 << 20);
    while (warm.read(buffer.data(), static_cast<std::streamsize>(buffer.size()))) {
    }
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  --argc;
  ++argv;
  argv[0] = argv[-1];
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
