// The display as the program asks about it and sets it: its size, the work area and the display
// settings (the orientation), all answered by the simulated display.
#include "platform/host/qt/window_backend.h"
#include "platform/kernel.h"

int CQtWindowBackend::GetSystemMetrics(int nIndex) {
  if (nIndex == SM_CXSCREEN) return m_pDisplay->Width();
  if (nIndex == SM_CYSCREEN) return m_pDisplay->Height();
  return 0;
}

BOOL CQtWindowBackend::SystemParametersInfoW(UINT uiAction, UINT, void* pvParam, UINT) {
  if (!pvParam) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (uiAction == SPI_SETWORKAREA) return m_pDisplay->SetWorkArea(*static_cast<RECT*>(pvParam));
  if (uiAction == SPI_GETWORKAREA) {
    *static_cast<RECT*>(pvParam) = m_pDisplay->WorkArea();
    return TRUE;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

LONG CQtWindowBackend::ChangeDisplaySettingsEx(LPCWSTR pszDeviceName, DEVMODEW* pDevMode, HWND,
                                               DWORD dwFlags, LPVOID) {
  if (pszDeviceName && *pszDeviceName) return DISP_CHANGE_BADMODE;  // one display only
  return m_pDisplay->ChangeSettings(pDevMode, dwFlags);
}
