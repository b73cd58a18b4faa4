// The device's drivers as the program opens and calls them: the power driver and the kernel's
// restart.
#include "platform/host/qt/window_backend.h"

HANDLE CQtWindowBackend::CreateFileW(LPCWSTR pszName, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) {
  return m_pPower->OpenDriver(pszName);
}

BOOL CQtWindowBackend::DeviceIoControl(HANDLE hDevice, DWORD dwCode, LPVOID pIn, DWORD nInSize,
                                       LPVOID, DWORD, DWORD* pdwReturned, void*) {
  return m_pPower->IoControl(hDevice, dwCode, pIn, nInSize, pdwReturned);
}

BOOL CQtWindowBackend::KernelIoControl(DWORD dwCode, LPVOID, DWORD, LPVOID, DWORD,
                                       DWORD* pdwReturned) {
  if (pdwReturned) *pdwReturned = 0;
  return m_pPower->KernelIoControl(dwCode);
}
