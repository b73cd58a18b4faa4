#include "platform/host/device/power.h"

#include <cstring>
#include <cwchar>

#include "platform/kernel.h"

namespace {

constexpr DWORD kPowerCode = 7;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;

// The open driver behind a handle; nothing waits on it.
class CPowerDriverHandle : public CKernelObject {
 public:
  DWORD Wait(DWORD) override { return WAIT_FAILED; }
};

}  // namespace

void CHostPower::SetDriverPresent(bool bPresent) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bDriverPresent = bPresent;
}

HANDLE CHostPower::OpenDriver(LPCWSTR pszName) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bDriverPresent || !pszName || std::wcscmp(pszName, L"PWR1:") != 0) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    ++m_nOpens;
  }
  return RegisterHandle(std::make_shared<CPowerDriverHandle>());
}

BOOL CHostPower::IoControl(HANDLE hDevice, DWORD dwCode, LPVOID pIn, DWORD nInSize,
                           DWORD* pdwReturned) {
  if (!std::dynamic_pointer_cast<CPowerDriverHandle>(LookupHandle(hDevice))) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DWORD dwInput = 0;
  if (pIn && nInSize >= sizeof(DWORD)) std::memcpy(&dwInput, pIn, sizeof(DWORD));
  std::lock_guard<std::mutex> lock(m_mutex);
  m_calls.push_back({dwCode, dwInput});
  if (pdwReturned) *pdwReturned = 0;
  if (dwCode != kPowerCode || !pIn || nInSize != sizeof(DWORD)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

BOOL CHostPower::KernelIoControl(DWORD dwCode) {
  if (dwCode != IOCTL_HAL_REBOOT) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  PFN_RESTART fnRestart;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_nRestarts;
    fnRestart = m_fnRestart;
  }
  if (!fnRestart) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  return fnRestart();
}

void CHostPower::SetRestartHandler(PFN_RESTART fnRestart) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_fnRestart = std::move(fnRestart);
}

std::vector<CHostPower::CDriverCall> CHostPower::DriverCalls() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_calls;
}

int CHostPower::DriverOpens() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_nOpens;
}

int CHostPower::RestartRequests() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_nRestarts;
}
