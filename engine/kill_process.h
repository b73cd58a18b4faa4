// Termination of a running program by the file name of its image.
#pragma once

#include "platform/wintypes.h"

// Terminates the first running process (in snapshot order) whose image file name equals
// pszName without regard to case, and waits up to 2500 ms for it to end; the calling process
// is passed over. Writes "terminate %s ok\r\n" only when the process ended.
void KillProcessByName(LPCWSTR pszName);
