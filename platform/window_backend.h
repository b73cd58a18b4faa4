// The window system behind winuser.h: Qt 6 on the host, in the program and the tests alike. One
// virtual per platform call, with the platform call's own arguments and result; winuser.cpp
// forwards each free function to the installed backend.
//
// Messages reach the program's windows through AfxCallWndProc (afxwin.h): the backend calls it
// for WM_INITDIALOG, WM_PAINT, WM_ERASEBKGND, WM_TIMER, WM_LBUTTONDOWN and WM_COMMAND
// (BN_CLICKED from a child: wParam MAKEWPARAM(id, BN_CLICKED), lParam the child's HWND), always on
// the user-interface thread. What the program does not handle comes back to DefWindowProcW.
#pragma once

#include "platform/winuser.h"

class CDialog;

class IWindowBackend {
 public:
  virtual ~IWindowBackend() = default;

  // Creates the dialog from template nIDTemplate (res/), attaches it to pDialog with AfxAttach,
  // sends WM_INITDIALOG, shows it and runs a modal loop until EndDialog; returns its result.
  // The window still exists on return (CDialog::DoModal destroys it).
  virtual INT_PTR RunModalDialog(UINT nIDTemplate, HWND hParent, CDialog* pDialog) = 0;
  virtual BOOL EndDialog(HWND hDlg, INT_PTR nResult) = 0;
  virtual BOOL DestroyWindow(HWND hWnd) = 0;

  virtual HWND GetDlgItem(HWND hDlg, int nID) = 0;
  virtual int GetDlgCtrlID(HWND hWnd) = 0;
  virtual BOOL MoveWindow(HWND hWnd, int x, int y, int nWidth, int nHeight, BOOL bRepaint) = 0;
  virtual BOOL ShowWindow(HWND hWnd, int nCmdShow) = 0;
  virtual BOOL IsWindowVisible(HWND hWnd) = 0;
  virtual BOOL InvalidateRect(HWND hWnd, const RECT* pRect, BOOL bErase) = 0;
  virtual BOOL UpdateWindow(HWND hWnd) = 0;
  virtual BOOL GetClientRect(HWND hWnd, RECT* pRect) = 0;
  virtual BOOL GetWindowRect(HWND hWnd, RECT* pRect) = 0;
  virtual BOOL SetWindowTextW(HWND hWnd, LPCWSTR pszText) = 0;
  virtual int GetWindowTextW(HWND hWnd, LPWSTR pszBuffer, int nMaxCount) = 0;
  virtual HWND FindWindowW(LPCWSTR pszClassName, LPCWSTR pszWindowName) = 0;
  virtual LRESULT SendMessageW(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) = 0;
  virtual LRESULT DefWindowProcW(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) = 0;
  virtual UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC pfnTimer) = 0;
  virtual BOOL KillTimer(HWND hWnd, UINT_PTR nIDEvent) = 0;
  virtual int MessageBoxW(HWND hWnd, LPCWSTR pszText, LPCWSTR pszCaption, UINT uType) = 0;
  virtual HICON LoadIconW(UINT nIDResource) = 0;
  virtual int GetSystemMetrics(int nIndex) = 0;
  virtual BOOL SystemParametersInfoW(UINT uiAction, UINT uiParam, void* pvParam, UINT fWinIni) = 0;

  virtual HDC GetDC(HWND hWnd) = 0;
  virtual int ReleaseDC(HWND hWnd, HDC hdc) = 0;
  virtual HDC CreateCompatibleDC(HDC hdc) = 0;
  virtual HBITMAP CreateCompatibleBitmap(HDC hdc, int nWidth, int nHeight) = 0;
  virtual BOOL DeleteDC(HDC hdc) = 0;
  virtual HGDIOBJ SelectObject(HDC hdc, HGDIOBJ hObject) = 0;
  virtual BOOL DeleteObject(HGDIOBJ hObject) = 0;
  virtual HGDIOBJ GetStockObject(int nObject) = 0;
  virtual int FillRect(HDC hdc, const RECT* pRect, HBRUSH hBrush) = 0;
  virtual int SetBkMode(HDC hdc, int nMode) = 0;
  virtual COLORREF SetTextColor(HDC hdc, COLORREF color) = 0;
  virtual int DrawTextW(HDC hdc, LPCWSTR pszText, int nCount, RECT* pRect, UINT uFormat) = 0;
  virtual BOOL BitBlt(HDC hdcDest, int xDest, int yDest, int nWidth, int nHeight, HDC hdcSrc,
                      int xSrc, int ySrc, DWORD dwRop) = 0;
  virtual HFONT CreateFontIndirectW(const LOGFONTW* pLogFont) = 0;
  virtual int GetDeviceCaps(HDC hdc, int nIndex) = 0;

  virtual LONG ChangeDisplaySettingsEx(LPCWSTR pszDeviceName, DEVMODEW* pDevMode, HWND hWnd,
                                       DWORD dwFlags, LPVOID lParam) = 0;
  virtual HANDLE CreateFileW(LPCWSTR pszName, DWORD dwAccess, DWORD dwShare, void* lpSecurity,
                             DWORD dwCreation, DWORD dwFlags, HANDLE hTemplate) = 0;
  virtual BOOL DeviceIoControl(HANDLE hDevice, DWORD dwCode, LPVOID pIn, DWORD nInSize,
                               LPVOID pOut, DWORD nOutSize, DWORD* pdwReturned,
                               void* lpOverlapped) = 0;
  virtual BOOL KernelIoControl(DWORD dwCode, LPVOID pIn, DWORD nInSize, LPVOID pOut,
                               DWORD nOutSize, DWORD* pdwReturned) = 0;
};

// Installs the backend (not owned); returns the previous one.
IWindowBackend* InstallWindowBackend(IWindowBackend* pBackend);
IWindowBackend* WindowBackend();
