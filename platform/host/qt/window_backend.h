// IWindowBackend on Qt 6 Widgets: dialogs from the templates in res/, their controls, timers,
// messages from any thread, drawing, message boxes, and the simulated display, task bar, power
// driver and restart. Every call runs on the user-interface thread (the thread that made the
// backend, which owns the QApplication); other threads' calls wait there until they have run.
#pragma once

#include <QColor>
#include <QImage>
#include <QPointer>
#include <QRect>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "platform/host/device/power.h"
#include "platform/host/qt/cross_thread.h"
#include "platform/host/qt/device_contexts.h"
#include "platform/host/qt/real_screen.h"
#include "platform/host/qt/simulated_display.h"
#include "platform/host/qt/timers.h"
#include "platform/host/qt/widgets.h"
#include "platform/window_backend.h"

class QEventLoop;
struct CDialogItemTemplate;

// What the simulator watches; called on the user-interface thread, outside any paint.
class IQtWindowObserver {
 public:
  virtual ~IQtWindowObserver() = default;
  // A top-level window of the program (a dialog) has just been painted.
  virtual void OnWindowPainted(HWND hWnd) = 0;
  // A MessageBoxW box has been drawn for the first time.
  virtual void OnMessageBoxShown(HWND hBox) = 0;
};

class CQtWindowBackend : public IWindowBackend, public IQtWindowHost {
 public:
  // On the QApplication's thread. The display, the power driver and the screen outlive the
  // backend. bDrawCaptions: draw captions inside the windows (the offscreen platform has no
  // decorations). With a screen, the windows are drawn into it and there is no task bar;
  // without, each is a window of its own and the task bar a stand-in.
  CQtWindowBackend(CHostDisplay* pDisplay, CHostPower* pPower, bool bDrawCaptions,
                   CQtScreen* pScreen = nullptr);
  ~CQtWindowBackend() override;
  CQtWindowBackend(const CQtWindowBackend&) = delete;
  CQtWindowBackend& operator=(const CQtWindowBackend&) = delete;

  // IWindowBackend.
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

  // Host side, for the simulator and the tests (user-interface thread).
  // A modeless dialog from a template; the program's modal path uses the same windows.
  HWND CreateDialogFromTemplate(UINT nIDTemplate, HWND hParent);
  void SetObserver(IQtWindowObserver* pObserver) { m_pObserver = pObserver; }
  // The template a dialog was built from; 0 for other windows.
  UINT TemplateOf(HWND hWnd) const;
  // Texts the last paint of the window drew, in drawing order, as drawn and as text only.
  std::vector<CDrawnText> DrawnTexts(HWND hWnd) const;
  std::vector<std::wstring> PaintedTexts(HWND hWnd) const;
  // Period in milliseconds of the window's timer; 0 when it is not set.
  UINT TimerPeriod(HWND hWnd, UINT_PTR nIDEvent) const { return m_timers.Period(hWnd, nIDEvent); }
  // The window as it shows now (caption, client area as last painted, controls), without
  // asking the program to paint again.
  QImage RenderWindow(HWND hWnd);
  // The whole panel upright, as the person holding the device sees it: the display in its current
  // orientation (desktop, windows in z-order, task bar) scaled and centred as it is shown.
  QImage RenderDisplay();
  // Clicks a button as a tap would: press and release at its centre, delivered to whatever
  // widget is there; FALSE when the button is hidden, covered or behind a modal window.
  BOOL ClickButton(HWND hButton);
  QWidget* WidgetOf(HWND hWnd) const;  // the control, or a top-level window's client area
  HWND TaskBarWindow() const { return m_hTaskBar; }
  CQtScreen* Screen() const { return m_pScreen; }
  CQtGdi& Gdi() { return m_gdi; }
  CQtCrossThreadCalls& CrossThreadCalls() { return *m_pCalls; }
  CHostDisplay& Display() { return *m_pDisplay; }
  CHostPower& Power() { return *m_pPower; }
  QColor DialogColor() const { return m_dialogColor; }

  // Runs fn on the user-interface thread (at once when already there) and returns its result;
  // a default value when the backend is shutting down.
  template <class F>
  auto OnUi(F&& fn) -> decltype(fn());

  // IQtWindowHost.
  void PaintClient(HWND hWnd, QWidget* pClient) override;
  void OnMouseDown(HWND hWnd, QPoint ptClient) override;
  bool PreTranslateKey(HWND hWnd, QWidget* pTarget, const QKeyEvent& key) override;
  bool OnDialogKey(HWND hWnd, int nKey) override;
  void OnCloseRequest(HWND hWnd) override;

 private:
  enum class EKind { Dialog, MessageBox, Progress, Button, Static, TaskBar, Other };
  struct CModal {
    QEventLoop* pLoop = nullptr;
    bool bEnded = false;
    INT_PTR nResult = 0;
  };
  struct CWindow {
    EKind eKind = EKind::Other;
    QPointer<QWidget> pFrame;   // top-level windows: the frame; controls: the control
    QPointer<QWidget> pClient;  // top-level windows: the client area; controls: the control
    HWND hParent = nullptr;
    std::vector<HWND> children;
    int nID = 0;
    UINT nTemplate = 0;
    std::wstring strClass;
    std::wstring strText;
    DWORD dwStyle = 0;
    bool bTopMost = false;
    bool bEnded = false;
    INT_PTR nResult = 0;
    CModal* pModal = nullptr;
    HICON hIcons[2] = {nullptr, nullptr};
    HFONT hFont = nullptr;     // WM_SETFONT
    HFONT hOwnFont = nullptr;  // the template's font, deleted with the window
    int nLower = 0, nUpper = 100, nPos = 0, nStep = 10;
    std::shared_ptr<QImage> pContent;  // the client area as the program painted it
    HDC hPaintDC = nullptr;
    std::vector<CDrawnText> painted;
    bool bBoxShown = false;
    unsigned nChanges = 0;  // top-level windows: changes to the window or its controls
  };

  CWindow* Find(HWND hWnd);
  const CWindow* Find(HWND hWnd) const;
  HWND Register(CWindow window);
  HWND CreateControl(HWND hDlg, QWidget* pClient, const CDialogItemTemplate& item);
  CQtFrameWidget* NewFrame(DWORD dwStyle, DWORD dwExStyle);
  INT_PTR RunModal(HWND hWnd, HWND hFocus);
  void ShowTopLevel(HWND hWnd);
  void BringToTop(HWND hWnd);
  void DestroyRecord(HWND hWnd);
  void LayoutTaskBar();
  // The real screen placed anew for the display's orientation.
  void PlaceScreen();
  // The window's client content, made anew (in the dialog colour) when the client's size or the
  // panel's scale has changed since it was made.
  std::shared_ptr<QImage> Content(CWindow& w, QSize clientSize);
  void ApplyProgress(CWindow& w);
  LRESULT ControlMessage(HWND hWnd, CWindow& w, UINT nMsg, WPARAM wParam, LPARAM lParam);
  void OnButtonClicked(HWND hButton);
  HWND BuildMessageBox(LPCWSTR pszText, LPCWSTR pszCaption, UINT uType);
  void NotifyPainted(HWND hWnd);
  // Counts a change of the window (or of a control, for its dialog): a paint notified before
  // it no longer shows the window as it is.
  void Touch(HWND hWnd);

  std::thread::id m_uiThread;
  CHostDisplay* m_pDisplay;
  CHostPower* m_pPower;
  CQtScreen* m_pScreen;
  bool m_bDrawCaptions;
  QColor m_dialogColor;
  std::unique_ptr<CQtCrossThreadCalls> m_pCalls;
  CQtGdi m_gdi;
  CQtTimers m_timers;
  std::map<HWND, CWindow> m_windows;
  std::vector<HWND> m_zOrder;  // top-level windows, bottom first
  std::map<HDC, std::shared_ptr<QImage>> m_imageDCs;
  std::map<UINT, HICON> m_iconIds;
  std::map<HICON, QImage> m_icons;
  UINT_PTR m_nNextHandle = 0x10000;
  HWND m_hTaskBar = nullptr;
  IQtWindowObserver* m_pObserver = nullptr;
  bool m_bReplaying = false;
};

template <class F>
auto CQtWindowBackend::OnUi(F&& fn) -> decltype(fn()) {
  using R = decltype(fn());
  if (std::this_thread::get_id() == m_uiThread) return fn();
  if constexpr (std::is_void_v<R>) {
    m_pCalls->Call([&] { fn(); });
  } else {
    R result{};
    m_pCalls->Call([&] { result = fn(); });
    return result;
  }
}
