// SPDX-License-Identifier: GPL-3.0-or-later
// The list of found files: filled by a scan, shown, sorted, saved to a project file and
// extracted from.
#pragma once

#include "media/kxDisk.h"
#include "found/kxKinds.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kx {

struct TkxFileEntry {
  std::string Name;        // display name without the extension; never holds a line break
  TKind Kind = 0;          // the extension is always KindExtensions[Kind]
  std::int64_t Offset = 0; // first byte on the medium
  std::int64_t Size = 0;
  bool Continues = false;  // only meaningful during a scan: the end has not been found yet
  // What a check of the file's structure found (kxCheck.h), and the size the structure states:
  // the exact size of a whole file, the stated size of a truncated one, the sound bytes of a
  // damaged one; 0 when not checked.
  TkxCheckState Check = TkxCheckState::NotChecked;
  std::int64_t CheckedSize = 0;
};

enum class TkxSaveOutcome : std::uint8_t {
  Written,     // every byte of the entry is in the file
  NoFile,      // nothing was created: a negative offset or size, an offset past the medium's end,
               // or the file could not be created
  NameTaken,   // exclusive creation found the name in use; nothing was touched
  Incomplete,  // the entry runs past the medium's end: its readable part is in the file, kept
  Failed,      // a read or a write failed (an image cut short, a vanished part); the file was removed
  DiskFull,    // the disk filled up; the incomplete file was removed
  Stopped,     // the job was asked to stop during the copy; the incomplete file was removed
};

// Equals the index of the list's header column.
enum class TkxSortKey : std::uint8_t { skName = 0, skExtension = 1, skOffset = 2, skSize = 3 };

class TkxFileList {
 public:
  // Entries 0..Count-1 are valid; the length of Items is the capacity and the slots past
  // Count are empty. Other units read both fields directly.
  std::int32_t Count = 0;
  std::vector<TkxFileEntry> Items;

  void Clear();

  // Grows the capacity in blocks of 256 (to Count OR 255), so a scan that adds one entry per
  // sector reallocates rarely.
  void Add(std::string Name, TKind Kind, std::int64_t Offset, std::int64_t Size, bool Continues);

  // This list becomes an independent copy of Source, spare slots included.
  void Assign(const TkxFileList& Source);

  // Ascending by Key; not stable. Names are compared by the collation of the user's locale
  // with case ignored, extensions by their ASCII-folded bytes, numbers in full 64-bit width.
  // Order, when given, receives where each entry came from: (*Order)[new row] = old row.
  void Sort(TkxSortKey Key, std::vector<std::int32_t>* Order = nullptr);

  // Writes the entry's bytes from Disk into a new (or truncated) file. False, without
  // creating a file, for a negative offset or size or an offset past the medium's end; false,
  // with the file removed, when anything fails after that: only whole files are left. An entry
  // that runs past the medium's end keeps its readable part and gives false. Never throws.
  static bool SaveEntryToFile(const std::string& FileName, const TkxFileEntry& Entry, TkxDisk& Disk);

  // SaveEntryToFile with the outcome of a failure, for callers that react to it; Reason, when
  // given, receives why it failed in words (the system's text of its error where there is one).
  // The copy asks How's control between its chunks: a stop ends it within one chunk.
  static TkxSaveOutcome WriteEntryFile(const std::string& FileName, const TkxFileEntry& Entry, TkxDisk& Disk,
                                       TkxCreateMode Mode, std::string* Reason = nullptr,
                                       const TkxReadOptions& How = {});
};

// A run of rows, First..Last inclusive.
struct TkxRowRange {
  std::int32_t First = 0;
  std::int32_t Last = -1;
};

// Where chosen rows are after a sort whose Order Sort gave: the runs of rows the entries of Rows
// (before the sort) now occupy, ascending and merged, and where the entry of row Current went
// (-1 for none). A selection follows its entries through a sort so.
struct TkxRowsAfterSort {
  std::vector<TkxRowRange> Rows;
  std::int32_t Current = -1;
};
TkxRowsAfterSort RowsAfterSort(const std::vector<std::int32_t>& Order, const std::vector<TkxRowRange>& Rows,
                               std::int32_t Current);

}  // namespace kx
