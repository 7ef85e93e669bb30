// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/kxPendingFiles.h"

#include "common/kxPlatform.h"

#include <array>
#include <atomic>
#include <cstring>

namespace kx {

namespace {

enum TSlotState : int { Free, Filling, Ready };

// More than one program thread ever writes at once (a window's save during an extraction).
constexpr int SlotCount = 8;
// Longer names are not registered; few paths come near it.
constexpr std::size_t MaxPathBytes = 4096;

struct TSlot {
  std::atomic<int> State{Free};
  std::array<char, MaxPathBytes> Path{};
};

static_assert(std::atomic<int>::is_always_lock_free, "a signal handler reads the slots");

std::array<TSlot, SlotCount> Slots;

}  // namespace

TkxPendingFile::TkxPendingFile(const std::string& FileName) noexcept
{
  if (FileName.size() >= MaxPathBytes) return;
  for (int i = 0; i < SlotCount; ++i) {
    TSlot& slot = Slots[static_cast<std::size_t>(i)];
    int expected = Free;
    if (!slot.State.compare_exchange_strong(expected, Filling, std::memory_order_acquire)) continue;
    std::memcpy(slot.Path.data(), FileName.c_str(), FileName.size() + 1);
    slot.State.store(Ready, std::memory_order_release);
    Slot = i;
    return;
  }
}

TkxPendingFile::~TkxPendingFile()
{
  if (Slot >= 0) Slots[static_cast<std::size_t>(Slot)].State.store(Free, std::memory_order_release);
}

void RemovePendingFiles() noexcept
{
  for (TSlot& slot : Slots)
    if (slot.State.load(std::memory_order_acquire) == Ready) os::RemoveFile(slot.Path.data());
}

}  // namespace kx
