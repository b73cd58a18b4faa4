#include "platform/host/host_facts.h"

#include <atomic>
#include <cstdint>

namespace {

std::atomic<std::uint64_t> g_nChanges{0};

struct CSlot {
  const void* pOwner = nullptr;
  std::uint64_t nChanges = 0;
  std::uint64_t nLastCall = 0;  // the last call it serves
  CFact fact;
};

thread_local CSlot t_slots[2];
thread_local unsigned t_nNewest = 0;
thread_local std::uint64_t t_nCall = 0;

}  // namespace

namespace HostFacts {

void NextCall() { ++t_nCall; }

const CFact& Keep(const void* pOwner, CFact fact, unsigned nCalls) {
  t_nNewest ^= 1;
  CSlot& slot = t_slots[t_nNewest];
  slot.pOwner = pOwner;
  slot.nChanges = g_nChanges.load(std::memory_order_acquire);
  slot.nLastCall = t_nCall + nCalls;
  slot.fact = std::move(fact);
  return slot.fact;
}

const CFact* Find(const void* pOwner, const std::wstring& strPath) {
  const std::uint64_t nChanges = g_nChanges.load(std::memory_order_acquire);
  for (unsigned i = 0; i < 2; ++i) {
    CSlot& slot = t_slots[t_nNewest ^ i];
    if (slot.pOwner == pOwner && slot.nChanges == nChanges && t_nCall <= slot.nLastCall &&
        slot.fact.strPath == strPath) {
      slot.nLastCall = t_nCall + 1;
      return &slot.fact;
    }
  }
  return nullptr;
}

void Changed() { g_nChanges.fetch_add(1, std::memory_order_acq_rel); }

}  // namespace HostFacts
