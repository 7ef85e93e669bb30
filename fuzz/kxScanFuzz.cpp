// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target over the road from a medium to recovered files: the whole scan of a small
// arbitrary medium (classic, or following structures and checked), the project file's save and
// load, sorting by every key, and extraction.
// Checked against simple models: the entries lie on sector starts inside the medium, the project
// loads back to the same list and saves again to the same bytes, a sort is a permutation that
// orders by its key and ends the same whatever the starting order, and every extracted file holds
// exactly the medium's bytes of its entry, cut at the medium's end (and is written completely
// only when nothing was cut).

#include "FuzzSupport.h"
#include "common/kxShared.h"
#include "project/kxExtract.h"
#include "project/kxProject.h"
#include "recognition/kxCheck.h"
#include "recognition/kxRecognition.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

void Check(bool Condition)
{
  if (!Condition) __builtin_trap();
}

std::string ReadFile(const fs::path& Name)
{
  std::ifstream in(Name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool SameEntry(const kx::TkxFileEntry& A, const kx::TkxFileEntry& B)
{
  return A.Name == B.Name && A.Kind == B.Kind && A.Offset == B.Offset && A.Size == B.Size;
}

// What extracting Entry must write: its bytes up to the medium's end.
std::string Expected(const kx::fuzz::TMemoryMedium& Disk, const kx::TkxFileEntry& E)
{
  const auto end = static_cast<std::int64_t>(Disk.Bytes.size());
  const std::int64_t n = std::min(E.Size, end - E.Offset);
  return {Disk.Bytes.begin() + E.Offset, Disk.Bytes.begin() + E.Offset + n};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
  kx::fuzz::TMemoryMedium disk(std::vector<std::uint8_t>(Data, Data + Size));
  const std::int64_t end = disk.SectorCount * disk.SectorSize;

  kx::TkxRecognition scan(disk);
  // The classic scan or the one that follows structures, by the first byte.
  scan.FollowStructure = Size > 0 && (Data[0] & 1) != 0;
  while (scan.Position < disk.SectorCount) scan.RecognizeNext();
  kx::TkxFileList list;
  kx::AcceptFoundFiles(scan.FileList, list);
  Check(list.Count == scan.FileList.Count);
  if (scan.FollowStructure) {
    // Checked: sizes stay inside the medium for whole files, and everything below holds for
    // the checked list too.
    kx::TkxJobControl control;
    const kx::TkxCheckResult checked = kx::CheckFoundFiles(disk, list, control);
    Check(checked.Outcome.IsCompleted());
    kx::ApplyCheck(checked, list);
    for (std::int32_t i = 0; i < list.Count; ++i) {
      const kx::TkxFileEntry& e = list.Items[static_cast<std::size_t>(i)];
      Check(e.Check != kx::TkxCheckState::Whole || (e.Size > 0 && e.Offset + e.Size <= end));
    }
  }
  for (std::int32_t i = 0; i < list.Count; ++i) {
    const kx::TkxFileEntry& e = list.Items[static_cast<std::size_t>(i)];
    Check(e.Kind < kx::KindCount && e.Size >= 0);
    Check(e.Offset >= 0 && e.Offset < end && e.Offset % disk.SectorSize == 0);
    Check(e.Name.find_first_of("\r\n") == std::string::npos);
  }

  // Save, load, save again: the same list and the same bytes.
  const fs::path folder = kx::fuzz::ScratchFolder() / "run";
  std::error_code ec;
  fs::remove_all(folder, ec);
  fs::create_directories(folder);
  const std::string project = (folder / "p.kx").string();
  const std::string location = "/media/disc.iso";
  kx::SaveProjectToFile(project, location, list);
  std::string loadedLocation;
  kx::TkxFileList loaded;
  kx::LoadProject(project, loadedLocation, loaded);
  Check(loadedLocation == location && loaded.Count == list.Count);
  for (std::int32_t i = 0; i < list.Count; ++i) {
    const kx::TkxFileEntry& a = list.Items[static_cast<std::size_t>(i)];
    const kx::TkxFileEntry& b = loaded.Items[static_cast<std::size_t>(i)];
    Check(a.Name == b.Name && kx::KindExtensions[a.Kind] == kx::KindExtensions[b.Kind]);
    Check(a.Offset == b.Offset && a.Size == b.Size && a.Check == b.Check && a.CheckedSize == b.CheckedSize);
  }
  kx::SaveProjectToFile((folder / "q.kx").string(), location, loaded);
  Check(ReadFile(project) == ReadFile(folder / "q.kx"));

  // Every key: a permutation, ordered by the key, and the same from the reversed start.
  for (const kx::TkxSortKey key : {kx::TkxSortKey::skName, kx::TkxSortKey::skExtension, kx::TkxSortKey::skOffset,
                                   kx::TkxSortKey::skSize}) {
    kx::TkxFileList forward;
    forward.Assign(list);
    kx::TkxFileList backward;
    backward.Assign(list);
    std::reverse(backward.Items.begin(), backward.Items.begin() + backward.Count);
    forward.Sort(key);
    backward.Sort(key);
    std::vector<std::int64_t> before;
    std::vector<std::int64_t> after;
    for (std::int32_t i = 0; i < list.Count; ++i) {
      const auto k = static_cast<std::size_t>(i);
      Check(SameEntry(forward.Items[k], backward.Items[k]));
      before.push_back(list.Items[k].Offset);  // offsets are unique in a scan
      after.push_back(forward.Items[k].Offset);
      if (i == 0) continue;
      const kx::TkxFileEntry& p = forward.Items[k - 1];
      const kx::TkxFileEntry& c = forward.Items[k];
      if (key == kx::TkxSortKey::skOffset) Check(p.Offset < c.Offset);
      if (key == kx::TkxSortKey::skSize) Check(p.Size < c.Size || (p.Size == c.Size && p.Offset < c.Offset));
      if (key == kx::TkxSortKey::skExtension)
        Check(kx::AsciiUpper(kx::KindExtensions[p.Kind]) <= kx::AsciiUpper(kx::KindExtensions[c.Kind]));
    }
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    Check(before == after);
  }

  // Each entry alone into an empty folder: one file holding exactly its bytes.
  std::vector<std::string> expected;
  for (std::int32_t i = 0; i < list.Count; ++i) {
    const kx::TkxFileEntry& e = list.Items[static_cast<std::size_t>(i)];
    const fs::path one = folder / ("e" + std::to_string(i));
    fs::create_directories(one);
    const std::int32_t row[] = {i};
    const kx::TkxExtractResult r = kx::ExtractEntries(disk, list, row, one.string() + "/", kx::TkxExtractMode::Plain);
    const bool whole = e.Offset + e.Size <= end;
    Check(r.Written == (whole ? 1 : 0) && r.NotExtracted == (whole ? 0 : 1) && !r.DiskFull);
    std::vector<fs::path> files;
    for (const auto& f : fs::directory_iterator(one)) files.push_back(f.path());
    Check(files.size() == 1);
    expected.push_back(Expected(disk, e));
    Check(ReadFile(files[0]) == expected.back());
  }

  // All at once, grouped: as many files as entries, holding the same contents.
  const fs::path grouped = folder / "grouped";
  fs::create_directories(grouped);
  std::vector<std::int32_t> rows(static_cast<std::size_t>(list.Count));
  for (std::int32_t i = 0; i < list.Count; ++i) rows[static_cast<std::size_t>(i)] = i;
  const kx::TkxExtractResult r = kx::ExtractEntries(disk, list, rows, grouped.string() + "/", kx::TkxExtractMode::Grouped);
  Check(r.Skipped == 0 && r.Written + r.NotExtracted == list.Count);
  std::vector<std::string> found;
  for (const auto& f : fs::recursive_directory_iterator(grouped))
    if (f.is_regular_file()) found.push_back(ReadFile(f.path()));
  std::sort(found.begin(), found.end());
  std::sort(expected.begin(), expected.end());
  Check(found == expected);
  return 0;
}
