// Window, message, drawing, display and device-driver services of the device, as the logic calls
// them. Every function forwards to the installed window backend (window_backend.h).
#pragma once

#include "platform/wintypes.h"

// Messages.
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_SETFONT = 0x0030;
constexpr UINT WM_SETICON = 0x0080;
constexpr UINT WM_KEYFIRST = 0x0100;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_KEYLAST = 0x0109;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT PBM_SETRANGE = 0x0401;
constexpr UINT PBM_SETPOS = 0x0402;
constexpr UINT PBM_SETSTEP = 0x0404;
constexpr UINT PBM_GETPOS = 0x0408;
constexpr UINT BN_CLICKED = 0;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr WPARAM ICON_SMALL = 0;
constexpr WPARAM ICON_BIG = 1;

// Virtual key codes of the keys a dialog reacts to (letters and digits are their ASCII codes).
constexpr WPARAM VK_TAB = 0x09;
constexpr WPARAM VK_RETURN = 0x0D;
constexpr WPARAM VK_ESCAPE = 0x1B;
constexpr WPARAM VK_SPACE = 0x20;

// A message as the message loop takes it from the queue.
struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// Show commands.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;

// Window styles used by the templates.
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD DS_SETFONT = 0x40;
constexpr DWORD DS_FIXEDSYS = 0x08;
constexpr DWORD WS_EX_CLIENTEDGE = 0x00000200;
constexpr DWORD WS_EX_APPWINDOW = 0x00040000;
constexpr DWORD WS_EX_CAPTIONOKBTN = 0x80000000;
constexpr DWORD SS_LEFT = 0x0;
constexpr DWORD BS_DEFPUSHBUTTON = 0x1;

// Message boxes.
constexpr UINT MB_OK = 0x0;
constexpr UINT MB_ICONHAND = 0x10;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_TOPMOST = 0x40000;

// System metrics and parameters.
constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
constexpr UINT SPI_SETWORKAREA = 47;
constexpr UINT SPI_GETWORKAREA = 48;
constexpr UINT SPIF_SENDCHANGE = 2;

// Drawing.
constexpr int WHITE_BRUSH = 0;
constexpr int BLACK_BRUSH = 4;
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr UINT DT_TOP = 0x0;
constexpr UINT DT_LEFT = 0x0;
constexpr UINT DT_CENTER = 0x1;
constexpr UINT DT_RIGHT = 0x2;
constexpr UINT DT_VCENTER = 0x4;
constexpr UINT DT_BOTTOM = 0x8;
constexpr UINT DT_WORDBREAK = 0x10;
constexpr UINT DT_SINGLELINE = 0x20;
constexpr LONG FW_NORMAL = 400;
constexpr LONG FW_BOLD = 700;
constexpr BYTE DEFAULT_CHARSET = 1;
constexpr int LOGPIXELSY = 90;
constexpr int LF_FACESIZE = 32;

struct LOGFONTW {
  LONG lfHeight;
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  WCHAR lfFaceName[LF_FACESIZE];
};

// Display settings; the record is 192 bytes on the device.
constexpr DWORD DM_DISPLAYORIENTATION = 0x00800000;
constexpr DWORD DM_DISPLAYQUERYORIENTATION = 0x01000000;
constexpr DWORD DMDO_0 = 0;
constexpr DWORD DMDO_90 = 1;
constexpr DWORD CDS_TEST = 0x2;
constexpr DWORD CDS_RESET = 0x40000000;
constexpr LONG DISP_CHANGE_SUCCESSFUL = 0;
constexpr LONG DISP_CHANGE_FAILED = -1;
constexpr LONG DISP_CHANGE_BADMODE = -2;

struct DEVMODEW {
  char16_t dmDeviceName[32];  // UTF-16 as on the device, so the record keeps its size
  WORD dmSpecVersion;
  WORD dmDriverVersion;
  WORD dmSize;
  WORD dmDriverExtra;
  DWORD dmFields;
  short dmOrientation;
  short dmPaperSize;
  short dmPaperLength;
  short dmPaperWidth;
  short dmScale;
  short dmCopies;
  short dmDefaultSource;
  short dmPrintQuality;
  short dmColor;
  short dmDuplex;
  short dmYResolution;
  short dmTTOption;
  short dmCollate;
  char16_t dmFormName[32];
  WORD dmLogPixels;
  DWORD dmBitsPerPel;
  DWORD dmPelsWidth;
  DWORD dmPelsHeight;
  DWORD dmDisplayFlags;
  DWORD dmDisplayFrequency;
  DWORD dmDisplayOrientation;
};
static_assert(sizeof(DEVMODEW) == 192, "the device's display settings record is 192 bytes");

// Device drivers and the restart request.
constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD IOCTL_HAL_REBOOT = 0x0101003C;

using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

// Windows.
HWND GetDlgItem(HWND hDlg, int nID);
int GetDlgCtrlID(HWND hWnd);
BOOL MoveWindow(HWND hWnd, int x, int y, int nWidth, int nHeight, BOOL bRepaint);
BOOL ShowWindow(HWND hWnd, int nCmdShow);
BOOL IsWindowVisible(HWND hWnd);
BOOL InvalidateRect(HWND hWnd, const RECT* pRect, BOOL bErase);
BOOL UpdateWindow(HWND hWnd);
BOOL GetClientRect(HWND hWnd, RECT* pRect);
BOOL GetWindowRect(HWND hWnd, RECT* pRect);
BOOL SetWindowTextW(HWND hWnd, LPCWSTR pszText);
int GetWindowTextW(HWND hWnd, LPWSTR pszBuffer, int nMaxCount);
BOOL DestroyWindow(HWND hWnd);
BOOL EndDialog(HWND hDlg, INT_PTR nResult);
HWND FindWindowW(LPCWSTR pszClassName, LPCWSTR pszWindowName);
// Synchronous; from the worker thread it runs on the user-interface thread while the caller waits.
LRESULT SendMessageW(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
// The default processing of a message.
LRESULT DefWindowProcW(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
// WM_TIMER with the id on the user-interface thread, also when set from the worker.
UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC pfnTimer);
BOOL KillTimer(HWND hWnd, UINT_PTR nIDEvent);
// Modal; returns IDOK when dismissed.
int MessageBoxW(HWND hWnd, LPCWSTR pszText, LPCWSTR pszCaption, UINT uType);
HICON LoadIconW(UINT nIDResource);
int GetSystemMetrics(int nIndex);
BOOL SystemParametersInfoW(UINT uiAction, UINT uiParam, void* pvParam, UINT fWinIni);

// Drawing.
HDC GetDC(HWND hWnd);
int ReleaseDC(HWND hWnd, HDC hdc);
HDC CreateCompatibleDC(HDC hdc);
HBITMAP CreateCompatibleBitmap(HDC hdc, int nWidth, int nHeight);
BOOL DeleteDC(HDC hdc);
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ hObject);
BOOL DeleteObject(HGDIOBJ hObject);
HGDIOBJ GetStockObject(int nObject);
int FillRect(HDC hdc, const RECT* pRect, HBRUSH hBrush);
int SetBkMode(HDC hdc, int nMode);
COLORREF SetTextColor(HDC hdc, COLORREF color);
int DrawTextW(HDC hdc, LPCWSTR pszText, int nCount, RECT* pRect, UINT uFormat);
BOOL BitBlt(HDC hdcDest, int xDest, int yDest, int nWidth, int nHeight, HDC hdcSrc, int xSrc,
            int ySrc, DWORD dwRop);
HFONT CreateFontIndirectW(const LOGFONTW* pLogFont);
int GetDeviceCaps(HDC hdc, int nIndex);

// Display, drivers, restart.
LONG ChangeDisplaySettingsEx(LPCWSTR pszDeviceName, DEVMODEW* pDevMode, HWND hWnd, DWORD dwFlags,
                             LPVOID lParam);
// Opens a device driver by name ("PWR1:"); INVALID_HANDLE_VALUE when there is none. The handle is
// closed with CloseHandle.
HANDLE CreateFileW(LPCWSTR pszName, DWORD dwAccess, DWORD dwShare, void* lpSecurity,
                   DWORD dwCreation, DWORD dwFlags, HANDLE hTemplate);
BOOL DeviceIoControl(HANDLE hDevice, DWORD dwCode, LPVOID pIn, DWORD nInSize, LPVOID pOut,
                     DWORD nOutSize, DWORD* pdwReturned, void* lpOverlapped);
BOOL KernelIoControl(DWORD dwCode, LPVOID pIn, DWORD nInSize, LPVOID pOut, DWORD nOutSize,
                     DWORD* pdwReturned);
