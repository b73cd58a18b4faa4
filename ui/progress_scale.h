// Progress in files: the percentage shown and the progress bar's range and position. File counts
// are 32-bit while the bar's range message carries 16-bit ends, so a larger total is shown on the
// largest 16-bit range with the position scaled to it. The job that sets the range and the
// drawing that sets the position both go through these, so the two always agree.
#pragma once

#include <climits>
#include <cstdint>

#include "platform/wintypes.h"

// Largest upper end the range message can carry.
constexpr DWORD kProgressRangeLimit = 0xFFFF;

// Upper end of the bar's range for dwTotal files: the total while it fits, else the limit.
constexpr WORD ProgressRangeUpper(DWORD dwTotal) {
  return static_cast<WORD>(dwTotal <= kProgressRangeLimit ? dwTotal : kProgressRangeLimit);
}

// The bar's position for dwCopied of dwTotal files on the range above: the count itself while
// the total fits, else scaled down in 64-bit arithmetic (truncated, not clamped).
constexpr DWORD ProgressBarPos(DWORD dwCopied, DWORD dwTotal) {
  if (dwTotal <= kProgressRangeLimit) return dwCopied;
  return static_cast<DWORD>(std::uint64_t{dwCopied} * kProgressRangeLimit / dwTotal);
}

// The percentage shown for dwCopied of dwTotal (nonzero) files: truncated, not clamped above 100,
// in 64-bit arithmetic so that no count overflows it; beyond INT_MAX only in theory.
constexpr int ProgressPercent(DWORD dwCopied, DWORD dwTotal) {
  std::uint64_t nPercent = std::uint64_t{dwCopied} * 100 / dwTotal;
  return nPercent > INT_MAX ? INT_MAX : static_cast<int>(nPercent);
}
