#include "device/device_control.h"

#include <cstring>

#include "platform/kernel.h"
#include "platform/winuser.h"

namespace {

constexpr LPCWSTR kTaskBarClass = L"HHTaskBar";
constexpr LPCWSTR kPowerDriver = L"PWR1:";
constexpr DWORD kPowerControlCode = 7;
constexpr DWORD kFullScreenSettleMs = 100;

// Zero-filled record with only the size and the field mask set.
void ResetDevMode(DEVMODEW& dm, DWORD dwFields) {
  std::memset(&dm, 0, sizeof dm);
  dm.dmSize = sizeof dm;
  dm.dmFields = dwFields;
}

}  // namespace

BOOL SetScreenOrientation(int nOrientation) {
  DEVMODEW dm;
  ResetDevMode(dm, DM_DISPLAYQUERYORIENTATION);
  if (ChangeDisplaySettingsEx(nullptr, &dm, nullptr, CDS_TEST, nullptr) != DISP_CHANGE_SUCCESSFUL)
    return FALSE;
  ResetDevMode(dm, DM_DISPLAYORIENTATION);
  dm.dmDisplayOrientation = static_cast<DWORD>(nOrientation);
  return ChangeDisplaySettingsEx(nullptr, &dm, nullptr, CDS_RESET, nullptr) ==
         DISP_CHANGE_SUCCESSFUL;
}

void ShowTaskBar(int nCmdShow) {
  if (HWND hTaskBar = FindWindowW(kTaskBarClass, nullptr)) ShowWindow(hTaskBar, nCmdShow);
}

void SetFullScreen(CWnd* pWnd, int nCmdShow, int nExtraHeight) {
  ShowTaskBar(nCmdShow);
  int cx = GetSystemMetrics(SM_CXSCREEN);
  int cy = GetSystemMetrics(SM_CYSCREEN);
  RECT rc{0, 0, cx, cy + nExtraHeight};
  SystemParametersInfoW(SPI_SETWORKAREA, 0, &rc, SPIF_SENDCHANGE);
  Sleep(kFullScreenSettleMs);
  pWnd->MoveWindow(0, 0, cx, cy, TRUE);
}

BOOL RebootDevice() {
  HANDLE hPower = CreateFileW(kPowerDriver, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (hPower && hPower != INVALID_HANDLE_VALUE) {
    DWORD dwIn = 1;
    DWORD dwReturned = 0;
    DeviceIoControl(hPower, kPowerControlCode, &dwIn, sizeof dwIn, nullptr, 0, &dwReturned,
                    nullptr);
    CloseHandle(hPower);
  }
  return KernelIoControl(IOCTL_HAL_REBOOT, nullptr, 0, nullptr, 0, nullptr);
}
