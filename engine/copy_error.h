// The error code of the most recent failed file copy, 0 at start; shown by the failure box.
#pragma once

#include <atomic>

#include "platform/wintypes.h"

extern std::atomic<DWORD> g_dwLastCopyError;
