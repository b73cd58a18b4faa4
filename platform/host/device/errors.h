// errno to the device's error codes, as users see them in the failure message.
#pragma once

#include "platform/wintypes.h"

// The Win32 code for an errno. bParentMissing: ENOENT means a folder on the way is missing
// (ERROR_PATH_NOT_FOUND, 3) rather than the last component (ERROR_FILE_NOT_FOUND, 2).
DWORD Win32FromErrno(int nErrno, bool bParentMissing = false);

// chmod's answers where the file system holds no permission bits, or not these (a mode outside
// the mount's mask): the device keeps no such bits, so a copy goes on without them.
bool ModeNotHeld(int nErrno);
