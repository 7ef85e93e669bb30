// SPDX-License-Identifier: GPL-3.0-or-later
// The check of found files, a step after the scan: every entry whose format states its end is
// read from the medium, and gets its exact size, a state (whole, truncated, damaged) and, where
// the content says more than the first bytes did, a refined kind. A job that a worker can run:
// it asks the job control between entries and hands its result over in one piece.
#pragma once

#include "common/kxJob.h"
#include "common/kxJobControl.h"
#include "media/kxDisk.h"
#include "found/kxFileList.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kx {

// What the check concluded of one entry.
struct TkxCheckChange {
  std::int32_t Index = 0;  // the entry's row in the list that was checked
  TKind Kind = 0;
  std::int64_t Size = 0;
  TkxCheckState State = TkxCheckState::NotChecked;
  std::int64_t CheckedSize = 0;
  // Where the entry begins now, when it moved: a stored ISO image found at its volume descriptor
  // begins 16 sectors before it.
  std::optional<std::int64_t> Offset;
};

struct TkxCheckResult {
  std::vector<TkxCheckChange> Changes;  // the entries whose state, size, kind or offset the check set
  // Rows that go, ascending: unrecognised data, text and false starts (files found damaged) that
  // lie where the walk of a whole file's structure went. A file found whole on its own stays.
  std::vector<std::int32_t> Absorbed;
  // Data that an entry held past the exact end of a whole file, from the next sector on:
  // listed as unrecognised data again, so that nothing that was listed is lost. Runs of zeros
  // (the slack of a disc's file system) are left out.
  std::vector<TkxFileEntry> Rest;
  std::int32_t Checked = 0;  // entries looked at
  // Stopped on request before every entry was concluded, or failed where the medium failed (a
  // part file vanished); the changes so far stand.
  TkxJobOutcome Outcome;
};

// Checks List's entries against Disk, from the last offset to the first, so that each file's
// end is sought with the files after it known: a search or walk stops where the next found file
// starts (a file of another kind ends the file before it there, or cuts it), and one that runs
// into a file of its own kind goes on as that file's own check found (a recurring header: a
// page, a member, a pack). A walk over headers passes what lies wholly inside the structure it
// walked. Only the entries that share a start and a kind are checked once together. Every
// entry is checked again, whatever state it had, so that a check of a checked list changes
// nothing. Control is asked before each entry and after each finder (a stop requested while a
// file was read leaves that file unconcluded); the byte sources carry it, so that a long search
// gives up within one file. Progress, when given, is told the entries done and their total.
// It has the shape of every long job, with the medium and the list as its input.
// Reads only; the list is not changed. A stopped check merges no pieces: its changes stand for
// the entries it concluded, which are the ones at the end of the medium.
TkxCheckResult CheckFoundFiles(TkxDisk& Disk, const TkxFileList& List, TkxJobControl& Control,
                               const TkxProgressSink<TkxFilesDone>& Progress = {});

// Applies a check's result to the list it was made for, in one step: sizes, kinds, states and
// moved offsets set, absorbed rows removed (the other rows keep their order), rests appended.
void ApplyCheck(const TkxCheckResult& Result, TkxFileList& List);

// The counts of a list's states, indexed by TkxCheckState.
std::array<std::int32_t, 4> CountCheckStates(const TkxFileList& List);

// How a check went, for List after the result was applied to it: "Checked 57 of 57 files:
// 40 whole, 2 truncated, 5 damaged, 10 not checked; 3 pieces inside whole files merged; 1 run
// after whole files listed apart." ("Stopped checking after 20 of 57 files: ..." when stopped).
std::string CheckSummaryText(const TkxCheckResult& Result, const TkxFileList& List);

// The end of a check that a window ran on a copy of its list: applied to List, also a stopped
// (cancelled) one, whose entries concluded keep what it found and the others stay as they were,
// as the command line keeps them; Message says how it went, and why it ended early where the
// medium failed.
struct TkxCheckEnd {
  bool Changed = false;  // sizes, kinds, states or rows of List changed
  std::string Message;
};
TkxCheckEnd FinishCheck(const TkxCheckResult& Result, TkxFileList& List);

// The state of the entry at Row as the window's status line adds it after the selection's
// count: " - focused file: whole" (truncated, damaged, not checked). Empty where no entry of
// List was ever checked, so that the line stays as it always was, and for a row outside List.
std::string FocusedStateText(const TkxFileList& List, std::int32_t Row);

}  // namespace kx
