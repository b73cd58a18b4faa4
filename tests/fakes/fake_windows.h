// The recording window system of the tests: every window, message, timer, drawing, display and
// driver call of winuser.h, kept as state and recorded in order as readable text.
//
// Names. Handles are recorded by name, never by value:
//   null                       a null handle
//   dlg102, dlg130             a dialog made from that template ("dlg102#2" for a second one)
//   dlg102/1010                control 1010 of dialog dlg102
//   HHTaskBar                  the shell's task bar window
//   dc1, dc2 ...               device contexts, numbered in order of creation
//   bmp3, font4 ...            bitmaps and fonts, numbered with the contexts
//   WHITE_BRUSH, BLACK_BRUSH, SYSTEM_FONT, DEFAULT_BITMAP    stock objects
//   icon128                    the icon of that resource id
//   PWR1:                      the power driver's handle
//
// Record format. One line per call, `Name(arguments) -> result`, arguments as the program passed
// them: strings in double quotes (UTF-8), rectangles as (left,top,right,bottom), flags in hex,
// message, show and stock constants by name. Results are shown for calls that answer with a
// handle, a size, a rectangle or a choice; a BOOL result is shown only when it is FALSE (" -> 0").
//   RunModalDialog(102, null) -> dlg102          EndDialog(dlg102, 1)     DestroyWindow(dlg102)
//   GetDlgItem(dlg102, 1010) -> dlg102/1010      GetDlgCtrlID(dlg102/1010) -> 1010
//   MoveWindow(dlg102/1010, 10, 170, 220, 22, 1) ShowWindow(HHTaskBar, SW_HIDE)
//   IsWindowVisible(dlg102) -> 1                 InvalidateRect(dlg102, null, 1)
//   UpdateWindow(dlg102)                         GetClientRect(dlg102) -> (0,0,240,320)
//   GetWindowRect(dlg102/1010) -> (10,170,230,192)
//   SetWindowTextW(dlg130, "Recover")            GetWindowTextW(dlg130, 1024) -> "Recover"
//   FindWindowW("HHTaskBar", null) -> HHTaskBar
//   SendMessageW(dlg102, WM_SETICON, ICON_BIG, icon128)
//   SendMessageW(dlg102/1010, PBM_SETRANGE, 0, 0..100)   (PBM_SETRANGE's lParam as low..high)
//   SendMessageW(dlg130/1018, WM_SETFONT, font4, 1)       (other messages: numbers in decimal)
//   DefWindowProcW(dlg102, WM_TIMER, 10, 0)
//   SetTimer(dlg102, 10, 200, null) -> 10        KillTimer(dlg102, 10)
//   MessageBoxW(dlg102, "XML ERROR!", "", 0x40000) -> 1
//   LoadIconW(128) -> icon128                    GetSystemMetrics(SM_CXSCREEN) -> 240
//   SystemParametersInfoW(SPI_SETWORKAREA, 0, (0,0,240,320), SPIF_SENDCHANGE)
//   SystemParametersInfoW(SPI_GETWORKAREA, 0, out, 0) -> (0,0,320,214)
//   GetDC(null) -> dc1    ReleaseDC(null, dc1)   CreateCompatibleDC(dc2) -> dc3
//   CreateCompatibleBitmap(dc2, 240, 320) -> bmp4    SelectObject(dc3, bmp4) -> DEFAULT_BITMAP
//   DeleteObject(bmp4)    DeleteDC(dc3)          GetStockObject(WHITE_BRUSH) -> WHITE_BRUSH
//   FillRect(dc3, (0,0,240,320), WHITE_BRUSH)    SetBkMode(dc3, TRANSPARENT) -> OPAQUE
//   SetTextColor(dc3, RGB(0,0,0)) -> RGB(0,0,0)
//   DrawTextW(dc3, "Recovering....", -1, (0,80,240,160), 0x5) font "Arial" 28 700
//       (the font selected into the context: face, height, weight)
//   BitBlt(dc2, 0, 0, 240, 320, dc3, 0, 0, SRCCOPY)
//   CreateFontIndirectW("Arial" 28 700) -> font5 (other nonzero LOGFONT fields follow as name=v)
//   GetDeviceCaps(dc1, LOGPIXELSY) -> 96
//   ChangeDisplaySettingsEx(null, {dmSize=192 dmFields=0x1000000}, null, CDS_TEST, null) -> 0
//       (the record shows dmSize, dmFields, dmDisplayOrientation when nonzero, and "dirty" when
//        any other byte is not zero)
//   CreateFileW("PWR1:", 0xc0000000, 0x3, null, 4, 0, null) -> PWR1:
//   DeviceIoControl(PWR1:, 7, {1}, 4, null, 0, out, null)    CloseHandle(PWR1:)
//   KernelIoControl(IOCTL_HAL_REBOOT, null, 0, null, 0, null)
// Messages the fake delivers to the program's windows (through AfxCallWndProc) are recorded as
// they go in, with a leading "> ":
//   > WM_INITDIALOG(dlg102)     > WM_COMMAND(dlg102, 1017, BN_CLICKED)     > WM_TIMER(dlg102, 10)
//   > WM_PAINT(dlg102)          > WM_ERASEBKGND(dlg102, dc2)     > WM_LBUTTONDOWN(dlg102, 5, 7)
//   > End(dlg102, 2)            (the End action closing a modal loop)
// With CaptureDiagnostics(true) the program's diagnostic lines join the record as "diag: text"
// (line ends removed), so their order against the calls can be checked.
//
// Rules of the real system that the fake checks (Violations()): deleting a font or bitmap still
// selected into a context (the object then stays alive), deleting a context that still holds a
// bitmap of its own, using or deleting what is already deleted, DeleteDC on a context from GetDC
// or ReleaseDC on one that did not come from it, tapping a hidden or missing button, firing a
// timer that is not set, a modal loop that runs out of actions. AliveObjects() lists the contexts
// and objects the program created and has not released.
//
// Dialogs are built from res/ templates, rectangles in dialog units converted with the base units
// of res/resource.h; a window's client area is its whole rectangle (no frame). The display is
// 320 x 240 in its normal orientation (240 x 320 after the turn), the work area starts as the
// screen less a 26-pixel task bar at the bottom, and turning the display leaves it alone.
//
// Thread-safe: one mutex guards the state; it is never held while the program's code runs.
// Messages sent from any thread are delivered inline on that thread.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/window_backend.h"

class CWnd;

// One step of the simulated user or system, consumed by the innermost modal loop.
struct CFakeAction {
  enum class Kind { kTap, kCommand, kTimer, kRepaint, kClick, kCall, kEnd };
  Kind kind = Kind::kEnd;
  int nId = 0;                 // button or command id, timer id
  int x = 0, y = 0;            // click position in client pixels
  INT_PTR nResult = IDCANCEL;  // kEnd: the loop's result
  std::function<void()> fn;    // kCall

  // BN_CLICKED from the visible button nId of the active dialog.
  static CFakeAction Tap(int nId);
  // WM_COMMAND nId without a control: IDOK for Enter, IDCANCEL for Escape.
  static CFakeAction Command(int nId);
  // WM_TIMER nId to the window that set it (the active dialog first).
  static CFakeAction Timer(int nId);
  // WM_PAINT with a pending erase to the active dialog.
  static CFakeAction Repaint();
  // WM_LBUTTONDOWN at (x, y) of the active dialog.
  static CFakeAction Click(int x, int y);
  // Runs fn on the loop's thread (checks, waits for the worker, more actions).
  static CFakeAction Call(std::function<void()> fn);
  // Ends the innermost modal loop with nResult, as when the loop ends some other way.
  static CFakeAction End(INT_PTR nResult = IDCANCEL);
};

// One text drawn with DrawTextW, with the context's state at that moment.
struct CFakeText {
  std::string strDc;
  std::wstring strText;
  RECT rc;
  UINT uFormat;
  std::wstring strFace;  // of the selected font; empty for a stock font
  LONG nHeight;
  LONG nWeight;
  COLORREF crText;
  int nBkMode;
};

// A frame that reached a window: the texts on the surface copied there, in drawing order.
struct CFakeFrame {
  std::string strWindow;
  std::vector<std::wstring> texts;
};

struct CFakeMessageBox {
  std::string strOwner;
  std::wstring strText;
  std::wstring strCaption;  // "(null)" for a null caption
  UINT uType;
};

struct CFakeProgress {
  int nLower = 0;
  int nUpper = 100;
  int nStep = 10;
  int nPos = 0;
};

// A window as the fake keeps it.
struct CFakeWindowInfo {
  bool bExists = false;  // false for an unknown handle
  std::string strName;
  HWND hParent = nullptr;
  int nId = 0;
  std::wstring strClass;
  RECT rc{};  // relative to the parent's client area (screen for top-level)
  bool bVisible = false;
  bool bDestroyed = false;
  std::wstring strText;
  HICON hIconBig = nullptr;
  HICON hIconSmall = nullptr;
  HFONT hFont = nullptr;
  CFakeProgress progress;           // progress bars only
  std::vector<std::wstring> shown;  // texts last put on it (BitBlt or direct DrawTextW)
};

class CFakeWindows : public IWindowBackend {
 public:
  CFakeWindows();
  ~CFakeWindows() override;
  CFakeWindows(const CFakeWindows&) = delete;
  CFakeWindows& operator=(const CFakeWindows&) = delete;

  // --- Set-up (before the program runs).
  // The display in its normal orientation; the turned one swaps the sides. Resets the work area.
  void SetScreenSize(int cx, int cy);
  void SetOrientation(DWORD dwOrientation);
  // The display refuses the orientation test (CDS_TEST answers DISP_CHANGE_BADMODE).
  void RefuseOrientation(bool bRefuse);
  void SetWorkArea(const RECT& rc);
  void SetTaskBarPresent(bool bPresent);
  void SetPowerDriverPresent(bool bPresent);
  // What KernelIoControl(IOCTL_HAL_REBOOT) answers (TRUE by default).
  void SetRestartResult(BOOL bResult);
  // The restart request throws CFakeRestart after it was recorded.
  void ThrowOnRestart(bool bThrow);
  void SetLogPixelsY(int nDpi);
  // What MessageBoxW answers (IDOK by default).
  void SetMessageBoxAnswer(int nAnswer);
  // The next nTimes calls of the named backend call fail (null handle or FALSE):
  // "CreateCompatibleDC", "CreateCompatibleBitmap", "CreateFontIndirectW", "GetDC", "SetTimer",
  // "CreateFileW", "DeviceIoControl".
  void FailNext(const std::string& strCall, int nTimes = 1);

  // A dialog window made from the template without a modal loop (not recorded), for tests that
  // attach a window object and call handlers directly. Not shown until ShowWindow.
  HWND CreateDialogWindow(UINT nTemplate);

  // --- Driving.
  // Appends actions to the script that modal loops consume.
  void Script(std::vector<CFakeAction> actions);
  // Called by a modal loop whose script is empty; it may append actions. When it adds none and
  // the dialog has not ended, the loop ends with -1 and a violation is recorded.
  void OnIdle(std::function<void(HWND hActiveDialog)> fn);
  // The same actions on command, outside or inside a modal loop; they act on the innermost
  // modal dialog, or on the most recent dialog when none runs. FALSE when nothing was delivered.
  BOOL Tap(int nId);
  BOOL Command(int nId);
  BOOL FireTimer(UINT_PTR nId);
  BOOL Repaint();
  BOOL Click(int x, int y);
  // Any action now, the same way; kEnd ends the innermost modal loop (FALSE when none runs).
  BOOL Act(const CFakeAction& action);
  // Called after each recorded line, outside the lock (for checks at the moment of a call).
  void SetCallObserver(std::function<void(const std::string&)> fn);
  // Diagnostic lines join the record while on (one fake at a time).
  void CaptureDiagnostics(bool bCapture);
  // Adds a line of the test's own to the record (a marker between phases).
  void Note(const std::string& strLine);

  // --- Inspection.
  std::vector<std::string> Calls() const;
  // Only the lines whose text starts with one of the prefixes ("SetTimer", "> WM_").
  std::vector<std::string> Calls(const std::vector<std::string>& prefixes) const;
  void ClearCalls();
  std::vector<std::string> Violations() const;
  // Contexts and non-stock objects created and not yet released, by name.
  std::vector<std::string> AliveObjects() const;
  std::vector<CFakeText> Texts() const;
  std::vector<CFakeFrame> Frames() const;
  std::vector<CFakeMessageBox> MessageBoxes() const;

  // The most recent dialog made from the template (null if none), and its control nId (also
  // once destroyed, for a look at what it was left with).
  HWND Dialog(UINT nTemplate) const;
  HWND Control(HWND hDlg, int nId) const;
  HWND TaskBar() const;
  CFakeWindowInfo Window(HWND hWnd) const;
  std::string Name(const void* pHandle) const;
  // Set timers as "dlg102:10/200ms", in the order they were set.
  std::vector<std::string> Timers() const;
  bool HasTimer(HWND hWnd, UINT_PTR nId) const;
  DWORD Orientation() const;
  // Screen size in the current orientation.
  std::pair<int, int> ScreenSize() const;
  RECT WorkArea() const;
  bool TaskBarVisible() const;
  int RestartRequests() const;
  int PowerDriverControls() const;

  // --- IWindowBackend.
  INT_PTR RunModalDialog(UINT nIDTemplate, HWND hParent, CDialog* pDialog) override;
  BOOL EndDialog(HWND hDlg, INT_PTR nResult) override;
  BOOL DestroyWindow(HWND hWnd) override;
  HWND GetDlgItem(HWND hDlg, int nID) override;
  int GetDlgCtrlID(HWND hWnd) override;
  BOOL MoveWindow(HWND hWnd, int x, int y, int nWidth, int nHeight, BOOL bRepaint) override;
  BOOL ShowWindow(HWND hWnd, int nCmdShow) override;
  BOOL IsWindowVisible(HWND hWnd) override;
  BOOL InvalidateRect(HWND hWnd, const RECT* pRect, BOOL bErase) override;
  BOOL UpdateWindow(HWND hWnd) override;
  BOOL GetClientRect(HWND hWnd, RECT* pRect) override;
  BOOL GetWindowRect(HWND hWnd, RECT* pRect) override;
  BOOL SetWindowTextW(HWND hWnd, LPCWSTR pszText) override;
  int GetWindowTextW(HWND hWnd, LPWSTR pszBuffer, int nMaxCount) override;
  HWND FindWindowW(LPCWSTR pszClassName, LPCWSTR pszWindowName) override;
  LRESULT SendMessageW(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) override;
  LRESULT DefWindowProcW(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) override;
  UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC pfnTimer) override;
  BOOL KillTimer(HWND hWnd, UINT_PTR nIDEvent) override;
  int MessageBoxW(HWND hWnd, LPCWSTR pszText, LPCWSTR pszCaption, UINT uType) override;
  HICON LoadIconW(UINT nIDResource) override;
  int GetSystemMetrics(int nIndex) override;
  BOOL SystemParametersInfoW(UINT uiAction, UINT uiParam, void* pvParam, UINT fWinIni) override;

  HDC GetDC(HWND hWnd) override;
  int ReleaseDC(HWND hWnd, HDC hdc) override;
  HDC CreateCompatibleDC(HDC hdc) override;
  HBITMAP CreateCompatibleBitmap(HDC hdc, int nWidth, int nHeight) override;
  BOOL DeleteDC(HDC hdc) override;
  HGDIOBJ SelectObject(HDC hdc, HGDIOBJ hObject) override;
  BOOL DeleteObject(HGDIOBJ hObject) override;
  HGDIOBJ GetStockObject(int nObject) override;
  int FillRect(HDC hdc, const RECT* pRect, HBRUSH hBrush) override;
  int SetBkMode(HDC hdc, int nMode) override;
  COLORREF SetTextColor(HDC hdc, COLORREF color) override;
  int DrawTextW(HDC hdc, LPCWSTR pszText, int nCount, RECT* pRect, UINT uFormat) override;
  BOOL BitBlt(HDC hdcDest, int xDest, int yDest, int nWidth, int nHeight, HDC hdcSrc, int xSrc,
              int ySrc, DWORD dwRop) override;
  HFONT CreateFontIndirectW(const LOGFONTW* pLogFont) override;
  int GetDeviceCaps(HDC hdc, int nIndex) override;

  LONG ChangeDisplaySettingsEx(LPCWSTR pszDeviceName, DEVMODEW* pDevMode, HWND hWnd, DWORD dwFlags,
                               LPVOID lParam) override;
  HANDLE CreateFileW(LPCWSTR pszName, DWORD dwAccess, DWORD dwShare, void* lpSecurity,
                     DWORD dwCreation, DWORD dwFlags, HANDLE hTemplate) override;
  BOOL DeviceIoControl(HANDLE hDevice, DWORD dwCode, LPVOID pIn, DWORD nInSize, LPVOID pOut,
                       DWORD nOutSize, DWORD* pdwReturned, void* lpOverlapped) override;
  BOOL KernelIoControl(DWORD dwCode, LPVOID pIn, DWORD nInSize, LPVOID pOut, DWORD nOutSize,
                       DWORD* pdwReturned) override;

  struct CImpl;  // the state behind the mutex (fake_windows_state.h)
  // Called when a driver handle is closed with CloseHandle.
  void DriverClosed(HANDLE h);

 private:
  friend struct CImpl;
  // Delivers a message to a program window, recording it as "> ...".
  LRESULT Deliver(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
  // WM_PAINT to the window, with the erase the paint's default processing sends.
  void PaintWindow(HWND hWnd, bool bErase);
  void Record(std::string strLine);

  mutable std::mutex m_mutex;
  std::unique_ptr<CImpl> m_pImpl;
  std::function<void(const std::string&)> m_fnObserver;
};

// Installs the fake as the window backend for the scope; restores the previous one.
class CFakeWindowsScope {
 public:
  explicit CFakeWindowsScope(CFakeWindows& fake);
  ~CFakeWindowsScope();
  CFakeWindowsScope(const CFakeWindowsScope&) = delete;
  CFakeWindowsScope& operator=(const CFakeWindowsScope&) = delete;

 private:
  IWindowBackend* m_pPrevious;
};

// A rectangle as the record writes it: "(left,top,right,bottom)".
std::string FakeRectText(const RECT& rc);

// Thrown by the restart request when ThrowOnRestart(true).
struct CFakeRestart {};
