// Process services of the device: the tool-help snapshot and termination.
#pragma once

#include "platform/wintypes.h"

// Snapshot of the device's running programs in ascending process id; only TH32CS_SNAPPROCESS.
HANDLE CreateToolhelp32Snapshot(DWORD dwFlags, DWORD th32ProcessID);
BOOL Process32First(HANDLE hSnapshot, PROCESSENTRY32W* pEntry);
BOOL Process32Next(HANDLE hSnapshot, PROCESSENTRY32W* pEntry);
BOOL CloseToolhelp32Snapshot(HANDLE hSnapshot);

// A handle whose wait returns WAIT_OBJECT_0 once the process is gone; null on failure.
HANDLE OpenProcess(DWORD dwAccess, BOOL bInherit, DWORD dwProcessId);
BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode);
// The calling program's own process id, which termination passes over.
DWORD GetCurrentProcessId();
