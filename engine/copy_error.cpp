#include "engine/copy_error.h"

std::atomic<DWORD> g_dwLastCopyError{0};
