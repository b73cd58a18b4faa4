// The system's own words for the error codes a person can meet in the program's messages.
#pragma once

#include <string>

#include "platform/wintypes.h"

// The device's message text for a Win32 error code ("There is not enough space on the disk.");
// "Unknown error N." for a code without one.
std::wstring ErrorText(DWORD dwError);
