// SPDX-License-Identifier: GPL-3.0-or-later
// The main window over a list of a million found files: showing it, scrolling a page, and a
// header click that sorts it by each column (the sort itself and the redraw that follows); and a
// repaint of rows whose names are 100 KB long.
// Goals: showing and scrolling cost no more than the visible rows; a click sorts by offset,
// size or extension in under 0.5 s and by name in under 1 s; rows of long names repaint about as
// fast as rows of short ones.
#include "found/kxFileList.h"
#include "support/kxFakeUi.h"
#include "ui/FileListView.h"
#include "ui/Main.h"

#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <random>
#include <string>

namespace {

constexpr std::int32_t Rows = 1'000'000;

// A list as a DVD scan gives it: numbered names and names taken from content, many kinds,
// offsets in disc order, sizes of every magnitude; shuffled so that no key is presorted.
void FillLikeAScan(kx::TkxFileList& List)
{
  std::mt19937_64 rnd(7);
  static const char* const words[] = {"report", "Holiday", "index", "README", "setup", "Übersicht", "data", "photo"};
  List.Clear();
  for (std::int32_t i = 0; i < Rows; ++i) {
    std::string name = (rnd() % 3 == 0) ? std::string(words[rnd() % 8]) + "_" + std::to_string(rnd() % 100000)
                                        : "File " + std::to_string(1000000 + i).substr(1);
    const auto kind = static_cast<kx::TKind>(rnd() % kx::KindCount);
    List.Add(std::move(name), kind, std::int64_t{i} * 2048, static_cast<std::int64_t>(rnd() % (1u << (rnd() % 30))), false);
  }
  std::shuffle(List.Items.begin(), List.Items.begin() + List.Count, rnd);
}

struct TWindow {
  kx::test::TFakeUi Ui;
  kx::ui::TfrmMain Window{Ui};
  TWindow()
  {
    FillLikeAScan(Window.FileList);
    Window.show();
    QCoreApplication::processEvents();
  }
};

void BM_ShowMillionRows(benchmark::State& State)
{
  TWindow w;
  for (auto _ : State) {
    w.Window.RefreshList();
    w.Window.lb->viewport()->repaint();
  }
}

void BM_ScrollOnePage(benchmark::State& State)
{
  TWindow w;
  w.Window.RefreshList();
  QScrollBar* bar = w.Window.lb->verticalScrollBar();
  int value = 0;
  for (auto _ : State) {
    value = (value + bar->pageStep()) % bar->maximum();
    bar->setValue(value);
    w.Window.lb->viewport()->repaint();
  }
}

void BM_HeaderClickSorts(benchmark::State& State)
{
  TWindow w;
  const int section = static_cast<int>(State.range(0));
  for (auto _ : State) {
    State.PauseTiming();
    FillLikeAScan(w.Window.FileList);
    w.Window.RefreshList();
    State.ResumeTiming();
    w.Window.hcSectionClick(section);
    w.Window.lb->viewport()->repaint();
  }
  static const char* const keys[] = {"name", "extension", "offset", "size"};
  State.SetLabel(keys[section]);
}

// A hostile project whose every name is 100 KB long: a repaint lays out only a screen's width of
// each, not the whole name.
void BM_RepaintLongNames(benchmark::State& State)
{
  kx::test::TFakeUi ui;
  kx::ui::TfrmMain window{ui};
  for (int i = 0; i < 40; ++i) window.FileList.Add(std::string(100'000, static_cast<char>('a' + i % 26)), 1, i, 1, false);
  window.RefreshList();
  window.show();
  QCoreApplication::processEvents();
  for (auto _ : State) window.lb->viewport()->repaint();
}

BENCHMARK(BM_ShowMillionRows)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ScrollOnePage)->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK(BM_HeaderClickSorts)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RepaintLongNames)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

int main(int argc, char** argv)
{
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
