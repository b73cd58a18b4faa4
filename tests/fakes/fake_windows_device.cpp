// The recording window system: screen metrics, work area, display settings, the power driver
// and the restart request.
#include <cstring>

#include "platform/kernel.h"
#include "tests/fakes/fake_windows_state.h"

namespace {

std::string BoolTail(BOOL b) { return b ? "" : " -> 0"; }

std::string DevModeText(const DEVMODEW* pDm) {
  if (!pDm) return "null";
  std::string s = "{dmSize=" + std::to_string(pDm->dmSize) + " dmFields=" + FakeHex(pDm->dmFields);
  if (pDm->dmDisplayOrientation)
    s += " dmDisplayOrientation=" + std::to_string(pDm->dmDisplayOrientation);
  DEVMODEW rest;
  std::memcpy(&rest, pDm, sizeof rest);
  rest.dmSize = 0;
  rest.dmFields = 0;
  rest.dmDisplayOrientation = 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(&rest);
  for (size_t i = 0; i < sizeof rest; ++i)
    if (p[i]) {
      s += " dirty";
      break;
    }
  return s + "}";
}

std::string DisplayFlagsText(DWORD dwFlags) {
  if (dwFlags == CDS_TEST) return "CDS_TEST";
  if (dwFlags == CDS_RESET) return "CDS_RESET";
  return FakeHex(dwFlags);
}

// The power driver behind a handle; tells the fake when the handle is closed.
class CPowerDriverObject : public CKernelObject {
 public:
  explicit CPowerDriverObject(std::shared_ptr<std::function<void(HANDLE)>> pOnClose)
      : m_pOnClose(std::move(pOnClose)) {}
  ~CPowerDriverObject() override {
    if (m_pOnClose && *m_pOnClose) (*m_pOnClose)(m_hSelf);
  }
  DWORD Wait(DWORD) override { return WAIT_FAILED; }
  HANDLE m_hSelf = nullptr;

 private:
  std::shared_ptr<std::function<void(HANDLE)>> m_pOnClose;
};

}  // namespace

int CFakeWindows::GetSystemMetrics(int nIndex) {
  int n = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (nIndex == SM_CXSCREEN) n = m_pImpl->ScreenCx();
    if (nIndex == SM_CYSCREEN) n = m_pImpl->ScreenCy();
  }
  std::string name = nIndex == SM_CXSCREEN   ? "SM_CXSCREEN"
                     : nIndex == SM_CYSCREEN ? "SM_CYSCREEN"
                                             : std::to_string(nIndex);
  Record("GetSystemMetrics(" + name + ") -> " + std::to_string(n));
  return n;
}

BOOL CFakeWindows::SystemParametersInfoW(UINT uiAction, UINT uiParam, void* pvParam, UINT fWinIni) {
  BOOL bOk = FALSE;
  std::string line = "SystemParametersInfoW(";
  std::string strWinIni = fWinIni == SPIF_SENDCHANGE ? "SPIF_SENDCHANGE" : std::to_string(fWinIni);
  RECT* pRc = static_cast<RECT*>(pvParam);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (uiAction == SPI_SETWORKAREA) {
      line += "SPI_SETWORKAREA, " + std::to_string(uiParam) + ", " + FakeRect(pRc) + ", " +
              strWinIni + ")";
      if (pRc) {
        m_pImpl->rcWorkArea = *pRc;
        bOk = TRUE;
      }
      line += BoolTail(bOk);
    } else if (uiAction == SPI_GETWORKAREA) {
      line += "SPI_GETWORKAREA, " + std::to_string(uiParam) + ", out, " + strWinIni + ") -> ";
      if (pRc) {
        *pRc = m_pImpl->rcWorkArea;
        bOk = TRUE;
      }
      line += bOk ? FakeRect(m_pImpl->rcWorkArea) : "0";
    } else {
      line += std::to_string(uiAction) + ", " + std::to_string(uiParam) + ", ?, " + strWinIni +
              ") -> 0";
    }
  }
  Record(line);
  return bOk;
}

LONG CFakeWindows::ChangeDisplaySettingsEx(LPCWSTR pszDeviceName, DEVMODEW* pDevMode, HWND hWnd,
                                           DWORD dwFlags, LPVOID lParam) {
  // What was passed, before the test writes its answer into the record.
  std::string line = "ChangeDisplaySettingsEx(" + FakeQuote(pszDeviceName) + ", " +
                     DevModeText(pDevMode) + ", " + Name(hWnd) + ", " + DisplayFlagsText(dwFlags) +
                     ", " + (lParam ? "param" : "null") + ")";
  LONG nResult = DISP_CHANGE_FAILED;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    CImpl& s = *m_pImpl;
    if (!pDevMode || pDevMode->dmSize != sizeof(DEVMODEW)) {
      nResult = DISP_CHANGE_BADMODE;
    } else if (s.bRefuseOrientation) {
      nResult = DISP_CHANGE_BADMODE;
    } else if (dwFlags == CDS_TEST) {
      // The query answers with the orientations the display supports: 0, 90, 180, 270.
      if (pDevMode->dmFields & DM_DISPLAYQUERYORIENTATION) pDevMode->dmDisplayOrientation = 7;
      pDevMode->dmPelsWidth = static_cast<DWORD>(s.ScreenCx());
      pDevMode->dmPelsHeight = static_cast<DWORD>(s.ScreenCy());
      pDevMode->dmBitsPerPel = 16;
      nResult = DISP_CHANGE_SUCCESSFUL;
    } else if (dwFlags == CDS_RESET && (pDevMode->dmFields & DM_DISPLAYORIENTATION) &&
               pDevMode->dmDisplayOrientation <= 4 && pDevMode->dmDisplayOrientation != 3) {
      s.dwOrientation = pDevMode->dmDisplayOrientation;
      if (CImpl::CWindow* bar = s.Find(s.hTaskBar))
        bar->rc = {0, s.ScreenCy() - 26, s.ScreenCx(), s.ScreenCy()};
      nResult = DISP_CHANGE_SUCCESSFUL;
    }
  }
  Record(line + " -> " + std::to_string(nResult));
  return nResult;
}

HANDLE CFakeWindows::CreateFileW(LPCWSTR pszName, DWORD dwAccess, DWORD dwShare, void* lpSecurity,
                                 DWORD dwCreation, DWORD dwFlags, HANDLE hTemplate) {
  HANDLE h = INVALID_HANDLE_VALUE;
  bool bOpen = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    bOpen = pszName && std::wstring(pszName) == L"PWR1:" && m_pImpl->bPowerDriver &&
            !m_pImpl->ShouldFail("CreateFileW");
  }
  if (bOpen) {
    auto pOnClose = std::make_shared<std::function<void(HANDLE)>>();
    std::weak_ptr<CCloseSink> wpSink = m_pImpl->pCloseSink;
    *pOnClose = [wpSink](HANDLE hClosed) {
      auto pSink = wpSink.lock();
      if (!pSink) return;
      std::lock_guard<std::mutex> sinkLock(pSink->mutex);
      if (pSink->pFake) pSink->pFake->DriverClosed(hClosed);
    };
    auto pObj = std::make_shared<CPowerDriverObject>(pOnClose);
    h = RegisterHandle(pObj);
    pObj->m_hSelf = h;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pImpl->openDrivers.insert(h);
  } else {
    SetLastError(ERROR_FILE_NOT_FOUND);
  }
  Record("CreateFileW(" + FakeQuote(pszName) + ", " + FakeHex(dwAccess) + ", " + FakeHex(dwShare) +
         ", " + (lpSecurity ? "sa" : "null") + ", " + std::to_string(dwCreation) + ", " +
         FakeHex(dwFlags) + ", " + Name(hTemplate) + ") -> " +
         (h == INVALID_HANDLE_VALUE ? std::string("INVALID_HANDLE_VALUE") : Name(h)));
  return h;
}

void CFakeWindows::DriverClosed(HANDLE h) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_pImpl->openDrivers.erase(h)) return;
  }
  Record("CloseHandle(PWR1:)");
}

BOOL CFakeWindows::DeviceIoControl(HANDLE hDevice, DWORD dwCode, LPVOID pIn, DWORD nInSize,
                                   LPVOID pOut, DWORD nOutSize, DWORD* pdwReturned,
                                   void* lpOverlapped) {
  BOOL bOk = FALSE;
  std::string strIn = "null";
  if (pIn && nInSize == sizeof(DWORD)) {
    DWORD v;
    std::memcpy(&v, pIn, sizeof v);
    strIn = "{" + std::to_string(v) + "}";
  } else if (pIn) {
    strIn = "bytes";
  }
  std::string line;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    CImpl& s = *m_pImpl;
    line = "DeviceIoControl(" + s.AnyName(hDevice) + ", " + std::to_string(dwCode) + ", " + strIn +
           ", " + std::to_string(nInSize) + ", " + (pOut ? "buffer" : "null") + ", " +
           std::to_string(nOutSize) + ", " + (pdwReturned ? "out" : "null") + ", " +
           (lpOverlapped ? "overlapped" : "null") + ")";
    if (!s.openDrivers.count(hDevice)) {
      s.Violation(line + ": not an open driver handle");
    } else if (!s.ShouldFail("DeviceIoControl")) {
      ++s.nPowerControls;
      if (pdwReturned) *pdwReturned = 0;
      bOk = TRUE;
    }
  }
  Record(line + BoolTail(bOk));
  return bOk;
}

BOOL CFakeWindows::KernelIoControl(DWORD dwCode, LPVOID pIn, DWORD nInSize, LPVOID pOut,
                                   DWORD nOutSize, DWORD* pdwReturned) {
  BOOL bOk = FALSE;
  bool bThrow = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (dwCode == IOCTL_HAL_REBOOT) {
      ++m_pImpl->nRestarts;
      bOk = m_pImpl->bRestartResult;
      bThrow = m_pImpl->bThrowOnRestart;
    }
  }
  Record(std::string("KernelIoControl(") +
         (dwCode == IOCTL_HAL_REBOOT ? std::string("IOCTL_HAL_REBOOT") : FakeHex(dwCode)) + ", " +
         (pIn ? "in" : "null") + ", " + std::to_string(nInSize) + ", " + (pOut ? "out" : "null") +
         ", " + std::to_string(nOutSize) + ", " + (pdwReturned ? "out" : "null") + ")" +
         BoolTail(bOk));
  if (bThrow) throw CFakeRestart{};
  return bOk;
}
