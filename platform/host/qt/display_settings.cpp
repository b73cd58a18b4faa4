// The program's icon, screen metrics, the work area, display settings and the device drivers.
#include <QImage>

#include "platform/host/qt/window_backend.h"
#include "platform/kernel.h"
#include "res/resource.h"

// The icon is a resource of this static library: registered before its first use. Outside any
// namespace, as the registration function it names is.
static void RegisterIcon() {
  static const bool bRegistered = [] {
    Q_INIT_RESOURCE(icon);
    return true;
  }();
  (void)bRegistered;
}

HICON CQtWindowBackend::LoadIconW(UINT nIDResource) {
  return OnUi([&]() -> HICON {
    if (auto it = m_iconIds.find(nIDResource); it != m_iconIds.end()) return it->second;
    if (nIDResource != IDR_MAINFRAME) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    RegisterIcon();
    QImage image(QStringLiteral(":/res/icon128.png"));
    if (image.isNull()) return nullptr;
    HICON hIcon = reinterpret_cast<HICON>(m_nNextHandle);
    m_nNextHandle += 4;
    m_icons[hIcon] = image;
    m_iconIds[nIDResource] = hIcon;
    return hIcon;
  });
}

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
