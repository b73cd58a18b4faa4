#include <atomic>
#include <utility>

#include "platform/window_backend.h"

namespace {

std::atomic<IWindowBackend*> g_pWindows{nullptr};

// Calls the installed backend, or gives the failure value when there is none.
template <class R, class... P, class... A>
R Fwd(R (IWindowBackend::*pfn)(P...), R failed, A&&... args) {
  IWindowBackend* w = g_pWindows.load();
  return w ? (w->*pfn)(std::forward<A>(args)...) : failed;
}

}  // namespace

IWindowBackend* InstallWindowBackend(IWindowBackend* pBackend) {
  return g_pWindows.exchange(pBackend);
}

IWindowBackend* WindowBackend() { return g_pWindows.load(); }

BOOL EndDialog(HWND hDlg, INT_PTR nResult) {
  return Fwd(&IWindowBackend::EndDialog, FALSE, hDlg, nResult);
}

BOOL DestroyWindow(HWND hWnd) {
  return Fwd(&IWindowBackend::DestroyWindow, FALSE, hWnd);
}

HWND GetDlgItem(HWND hDlg, int nID) {
  return Fwd(&IWindowBackend::GetDlgItem, HWND{}, hDlg, nID);
}

int GetDlgCtrlID(HWND hWnd) {
  return Fwd(&IWindowBackend::GetDlgCtrlID, 0, hWnd);
}

BOOL MoveWindow(HWND hWnd, int x, int y, int nWidth, int nHeight, BOOL bRepaint) {
  return Fwd(&IWindowBackend::MoveWindow, FALSE, hWnd, x, y, nWidth, nHeight, bRepaint);
}

BOOL ShowWindow(HWND hWnd, int nCmdShow) {
  return Fwd(&IWindowBackend::ShowWindow, FALSE, hWnd, nCmdShow);
}

BOOL IsWindowVisible(HWND hWnd) {
  return Fwd(&IWindowBackend::IsWindowVisible, FALSE, hWnd);
}

BOOL InvalidateRect(HWND hWnd, const RECT* pRect, BOOL bErase) {
  return Fwd(&IWindowBackend::InvalidateRect, FALSE, hWnd, pRect, bErase);
}

BOOL UpdateWindow(HWND hWnd) {
  return Fwd(&IWindowBackend::UpdateWindow, FALSE, hWnd);
}

BOOL GetClientRect(HWND hWnd, RECT* pRect) {
  return Fwd(&IWindowBackend::GetClientRect, FALSE, hWnd, pRect);
}

BOOL GetWindowRect(HWND hWnd, RECT* pRect) {
  return Fwd(&IWindowBackend::GetWindowRect, FALSE, hWnd, pRect);
}

BOOL SetWindowTextW(HWND hWnd, LPCWSTR pszText) {
  return Fwd(&IWindowBackend::SetWindowTextW, FALSE, hWnd, pszText);
}

int GetWindowTextW(HWND hWnd, LPWSTR pszBuffer, int nMaxCount) {
  return Fwd(&IWindowBackend::GetWindowTextW, 0, hWnd, pszBuffer, nMaxCount);
}

HWND FindWindowW(LPCWSTR pszClassName, LPCWSTR pszWindowName) {
  return Fwd(&IWindowBackend::FindWindowW, HWND{}, pszClassName, pszWindowName);
}

LRESULT SendMessageW(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
  return Fwd(&IWindowBackend::SendMessageW, LRESULT{0}, hWnd, nMsg, wParam, lParam);
}

LRESULT DefWindowProcW(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
  return Fwd(&IWindowBackend::DefWindowProcW, LRESULT{0}, hWnd, nMsg, wParam, lParam);
}

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC pfnTimer) {
  return Fwd(&IWindowBackend::SetTimer, UINT_PTR{0}, hWnd, nIDEvent, uElapse, pfnTimer);
}

BOOL KillTimer(HWND hWnd, UINT_PTR nIDEvent) {
  return Fwd(&IWindowBackend::KillTimer, FALSE, hWnd, nIDEvent);
}

int MessageBoxW(HWND hWnd, LPCWSTR pszText, LPCWSTR pszCaption, UINT uType) {
  return Fwd(&IWindowBackend::MessageBoxW, 0, hWnd, pszText, pszCaption, uType);
}

HICON LoadIconW(UINT nIDResource) {
  return Fwd(&IWindowBackend::LoadIconW, HICON{}, nIDResource);
}

int GetSystemMetrics(int nIndex) {
  return Fwd(&IWindowBackend::GetSystemMetrics, 0, nIndex);
}

BOOL SystemParametersInfoW(UINT uiAction, UINT uiParam, void* pvParam, UINT fWinIni) {
  return Fwd(&IWindowBackend::SystemParametersInfoW, FALSE, uiAction, uiParam, pvParam, fWinIni);
}

HDC GetDC(HWND hWnd) {
  return Fwd(&IWindowBackend::GetDC, HDC{}, hWnd);
}

int ReleaseDC(HWND hWnd, HDC hdc) {
  return Fwd(&IWindowBackend::ReleaseDC, 0, hWnd, hdc);
}

HDC CreateCompatibleDC(HDC hdc) {
  return Fwd(&IWindowBackend::CreateCompatibleDC, HDC{}, hdc);
}

HBITMAP CreateCompatibleBitmap(HDC hdc, int nWidth, int nHeight) {
  return Fwd(&IWindowBackend::CreateCompatibleBitmap, HBITMAP{}, hdc, nWidth, nHeight);
}

BOOL DeleteDC(HDC hdc) {
  return Fwd(&IWindowBackend::DeleteDC, FALSE, hdc);
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ hObject) {
  return Fwd(&IWindowBackend::SelectObject, HGDIOBJ{}, hdc, hObject);
}

BOOL DeleteObject(HGDIOBJ hObject) {
  return Fwd(&IWindowBackend::DeleteObject, FALSE, hObject);
}

HGDIOBJ GetStockObject(int nObject) {
  return Fwd(&IWindowBackend::GetStockObject, HGDIOBJ{}, nObject);
}

int FillRect(HDC hdc, const RECT* pRect, HBRUSH hBrush) {
  return Fwd(&IWindowBackend::FillRect, 0, hdc, pRect, hBrush);
}

int SetBkMode(HDC hdc, int nMode) {
  return Fwd(&IWindowBackend::SetBkMode, 0, hdc, nMode);
}

COLORREF SetTextColor(HDC hdc, COLORREF color) {
  return Fwd(&IWindowBackend::SetTextColor, COLORREF{0}, hdc, color);
}

int DrawTextW(HDC hdc, LPCWSTR pszText, int nCount, RECT* pRect, UINT uFormat) {
  return Fwd(&IWindowBackend::DrawTextW, 0, hdc, pszText, nCount, pRect, uFormat);
}

BOOL BitBlt(HDC hdcDest, int xDest, int yDest, int nWidth, int nHeight, HDC hdcSrc, int xSrc, int ySrc, DWORD dwRop) {
  return Fwd(&IWindowBackend::BitBlt, FALSE, hdcDest, xDest, yDest, nWidth, nHeight, hdcSrc, xSrc, ySrc, dwRop);
}

HFONT CreateFontIndirectW(const LOGFONTW* pLogFont) {
  return Fwd(&IWindowBackend::CreateFontIndirectW, HFONT{}, pLogFont);
}

int GetDeviceCaps(HDC hdc, int nIndex) {
  return Fwd(&IWindowBackend::GetDeviceCaps, 0, hdc, nIndex);
}

LONG ChangeDisplaySettingsEx(LPCWSTR pszDeviceName, DEVMODEW* pDevMode, HWND hWnd, DWORD dwFlags, LPVOID lParam) {
  return Fwd(&IWindowBackend::ChangeDisplaySettingsEx, DISP_CHANGE_FAILED, pszDeviceName, pDevMode, hWnd, dwFlags, lParam);
}

HANDLE CreateFileW(LPCWSTR pszName, DWORD dwAccess, DWORD dwShare, void* lpSecurity, DWORD dwCreation, DWORD dwFlags, HANDLE hTemplate) {
  return Fwd(&IWindowBackend::CreateFileW, INVALID_HANDLE_VALUE, pszName, dwAccess, dwShare, lpSecurity, dwCreation, dwFlags, hTemplate);
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwCode, LPVOID pIn, DWORD nInSize, LPVOID pOut, DWORD nOutSize, DWORD* pdwReturned, void* lpOverlapped) {
  return Fwd(&IWindowBackend::DeviceIoControl, FALSE, hDevice, dwCode, pIn, nInSize, pOut, nOutSize, pdwReturned, lpOverlapped);
}

BOOL KernelIoControl(DWORD dwCode, LPVOID pIn, DWORD nInSize, LPVOID pOut, DWORD nOutSize, DWORD* pdwReturned) {
  return Fwd(&IWindowBackend::KernelIoControl, FALSE, dwCode, pIn, nInSize, pOut, nOutSize, pdwReturned);
}
