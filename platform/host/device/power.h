// The device's power driver "PWR1:" and the restart request as the host stands them in: every
// call is recorded, and the restart goes to an installed handler, never to the host's reboot.
// Qt-free and safe from any thread.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "platform/winuser.h"

class CHostPower {
 public:
  // One control call on the power driver: the code and the 4-byte input (0 when there was none).
  struct CDriverCall {
    DWORD dwCode;
    DWORD dwInput;
  };
  // Runs the restart; returns only when the restart did not end the run (its result is returned).
  using PFN_RESTART = std::function<BOOL()>;

  // Present by default; without it "PWR1:" cannot be opened.
  void SetDriverPresent(bool bPresent);
  // CreateFileW on a device name: a handle for "PWR1:" (closed with CloseHandle), otherwise
  // INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND.
  HANDLE OpenDriver(LPCWSTR pszName);
  // DeviceIoControl on a handle from OpenDriver: code 7 with a 4-byte input is what the driver
  // takes; anything else fails with ERROR_INVALID_PARAMETER. Every call is recorded.
  BOOL IoControl(HANDLE hDevice, DWORD dwCode, LPVOID pIn, DWORD nInSize, DWORD* pdwReturned);
  // KernelIoControl: IOCTL_HAL_REBOOT is recorded and runs the restart handler (FALSE with
  // ERROR_NOT_SUPPORTED when none is installed); other codes fail.
  BOOL KernelIoControl(DWORD dwCode);
  void SetRestartHandler(PFN_RESTART fnRestart);

  std::vector<CDriverCall> DriverCalls() const;
  int DriverOpens() const;
  int RestartRequests() const;

 private:
  mutable std::mutex m_mutex;
  bool m_bDriverPresent = true;
  int m_nOpens = 0;
  std::vector<CDriverCall> m_calls;
  int m_nRestarts = 0;
  PFN_RESTART m_fnRestart;
};

// The restart of orvane-recovery: runs ORVANE_RESTART_COMMAND with /bin/sh when it is set and
// waits ORVANE_RESTART_WAIT seconds (default 60) for the restart to end the process. A command
// that cannot start, fails, or leaves the process running that long is reported on standard
// error; then, as when no command is set, output is flushed and the process ends with status 3.
// Never returns.
[[noreturn]] BOOL RestartByCommandOrExit();
