// The error code of the most recent failed file copy, 0 at start; shown by the failure box.
#pragma once

#include <atomic>

#include "platform/wintypes.h"

extern std::atomic<DWORD> g_dwLastCopyError;

// Says on standard error what failed: "orvane-recovery: WHAT: REASON (code N)".
void SayError(DWORD dwError, LPCWSTR pszWhat);
// Keeps dwError for the failure box and says what failed, as SayError.
void KeepCopyError(DWORD dwError, LPCWSTR pszWhat);
