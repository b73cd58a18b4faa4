#include "platform/host/device/facts.h"

#include <atomic>
#include <cstdint>

namespace {

std::atomic<std::uint64_t> g_nChanges{0};
std::atomic<std::uint64_t> g_nFolderChanges{0};
std::atomic<std::uint64_t> g_nOwners{0};

struct CSlot {
  std::uint64_t nOwner = 0;
  std::uint64_t nChanges = 0;
  std::uint64_t nFolderChanges = 0;
  std::uint64_t nLastCall = 0;  // the last call it serves
  CFact fact;
};

thread_local CSlot t_slots[2];
thread_local unsigned t_nNewest = 0;
thread_local std::uint64_t t_nCall = 0;

// The slot's fact when it belongs to nOwner and still serves; bFolderOnly: only its folder.
const CFact* Serving(CSlot& slot, std::uint64_t nOwner, bool bFolderOnly) {
  if (slot.nOwner != nOwner || t_nCall > slot.nLastCall) return nullptr;
  if (slot.nFolderChanges != g_nFolderChanges.load(std::memory_order_acquire)) return nullptr;
  if (!bFolderOnly && slot.nChanges != g_nChanges.load(std::memory_order_acquire)) return nullptr;
  return &slot.fact;
}

}  // namespace

namespace HostFacts {

std::uint64_t NewOwner() { return ++g_nOwners; }

void NextCall() { ++t_nCall; }

const CFact& Keep(std::uint64_t nOwner, CFact fact) {
  t_nNewest ^= 1;
  CSlot& slot = t_slots[t_nNewest];
  slot.nOwner = nOwner;
  // Taken before the fact is kept: a change landing meanwhile leaves the fact stale, not fresh.
  slot.nFolderChanges = g_nFolderChanges.load(std::memory_order_acquire);
  slot.nChanges = g_nChanges.load(std::memory_order_acquire);
  slot.nLastCall = t_nCall + kServedCalls;
  slot.fact = std::move(fact);
  return slot.fact;
}

const CFact* Find(std::uint64_t nOwner, const CDevicePath& path) {
  for (unsigned i = 0; i < 2; ++i) {
    CSlot& slot = t_slots[t_nNewest ^ i];
    const CFact* fact = Serving(slot, nOwner, false);
    if (fact && fact->Names(path)) {
      slot.nLastCall = t_nCall + kServedCalls;
      return fact;
    }
  }
  return nullptr;
}

const CFact* FindFolder(std::uint64_t nOwner, const std::string& strFolder) {
  for (unsigned i = 0; i < 2; ++i) {
    CSlot& slot = t_slots[t_nNewest ^ i];
    const CFact* fact = Serving(slot, nOwner, true);
    if (fact && *fact->pFolder == strFolder) {
      slot.nLastCall = t_nCall + kServedCalls;
      return fact;
    }
  }
  return nullptr;
}

void Changed() {
  g_nFolderChanges.fetch_add(1, std::memory_order_acq_rel);
  g_nChanges.fetch_add(1, std::memory_order_acq_rel);
}

void FileChanged() { g_nChanges.fetch_add(1, std::memory_order_acq_rel); }

std::uint64_t FolderChanges() { return g_nFolderChanges.load(std::memory_order_acquire); }

}  // namespace HostFacts
