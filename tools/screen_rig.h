// The recovery dialog's screens on the Qt host backend, offscreen, without a recovery run: the
// dialog's members are set to a state and its own drawing code renders it. Shared by the picture
// tool, the frame benchmark and the offscreen tests; user-interface thread only.
#pragma once

#include <QApplication>
#include <QImage>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/recovery_dlg.h"
#include "platform/host/install.h"
#include "platform/kernel.h"
#include "ui/progress_scale.h"

// One state of the screens, as the job and the buttons leave the dialog's members.
struct CScreenState {
  const char* pszName;  // file name stem of its picture
  BOOL bAskMode;
  BOOL bSuccess;
  DWORD dwCopied;
  DWORD dwTotal;
  LONG nCountdown;
};

// The four screens as the user meets them.
inline const std::vector<CScreenState>& ScreenStates() {
  static const std::vector<CScreenState> states = {
      {"question", TRUE, FALSE, 0, 0, 0},
      {"preparing", FALSE, FALSE, 0, 0, 0},
      {"copying", FALSE, FALSE, 3, 7, 0},
      {"completed", FALSE, TRUE, 7, 7, 5},
  };
  return states;
}

// The one QApplication of the process, on the offscreen platform unless another was named.
inline QApplication& ScreenRigApplication() {
  static std::unique_ptr<CQtEnvironment> pEnv;
  static int nArgc = 1;
  static char szName[] = "orvane-screens";
  static char* argv[] = {szName, nullptr};
  if (!QApplication::instance()) {
    pEnv = std::make_unique<CQtEnvironment>();
    std::string strError;
    // Not the device's usual size: the real screen's tests see a screen of its own size.
    pEnv->Prepare(true, 400, 300, strError);
    // Kept for the life of the process: Qt's own teardown at exit would outlive the backends.
    static QApplication* pApp = new QApplication(nArgc, argv);
    pEnv->Release();
    (void)pApp;
  }
  return *static_cast<QApplication*>(QApplication::instance());
}

class CScreenRig {
 public:
  // Backends installed with options; a recovery dialog made from its template and bound to it.
  // With bInitialise the dialog's own initialisation runs (display turned, layout, worker idle),
  // which needs a Path.xml in the image; otherwise the dialog is sized to nWidth x nHeight and only
  // the progress bar is bound.
  explicit CScreenRig(const CHostOptions& options, bool bInitialise = false, int nWidth = 240,
                      int nHeight = 320)
      : m_backends(WithApplication(options)) {
    m_hDlg = Windows().CreateDialogFromTemplate(IDD_RECOVERY, nullptr);
    m_dlg.Attach(m_hDlg);
    if (bInitialise) {
      AfxCallWndProc(m_hDlg, WM_INITDIALOG, 0, 0);
    } else {
      ::MoveWindow(m_hDlg, 0, 0, nWidth, nHeight, FALSE);
      m_dlg.UpdateData(FALSE);
      m_dlg.m_bAskMode = TRUE;
      m_dlg.m_hMutex = CreateMutexW(nullptr, FALSE, L"MUTEX_FOR_COPY");
    }
    // Shown after its initialisation, as the modal run shows it.
    ::ShowWindow(m_hDlg, SW_SHOW);
  }

  // The dialog's own tear-down: worker stopped, refresh timer killed, mutex closed, window gone.
  ~CScreenRig() { m_dlg.DestroyWindow(); }

  CScreenRig(const CScreenRig&) = delete;
  CScreenRig& operator=(const CScreenRig&) = delete;

  CQtWindowBackend& Windows() { return m_backends.Windows(); }
  CRecoveryDlg& Dialog() { return m_dlg; }
  HWND DialogWindow() const { return m_hDlg; }

  // The members of the state, the bar's range as the job sets it, and the controls shown as the
  // buttons and the job leave them: buttons on the question screen only, the bar while copying.
  void SetState(const CScreenState& s) {
    m_dlg.m_bAskMode = s.bAskMode;
    m_dlg.m_bSuccess = s.bSuccess;
    m_dlg.m_nFilesCopied = s.dwCopied;
    m_dlg.m_nFilesTotal = s.dwTotal;
    m_dlg.m_nCountdown = s.nCountdown;
    if (s.dwTotal)
      m_dlg.m_progress.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, ProgressRangeUpper(s.dwTotal)));
    m_dlg.m_progress.ShowWindow(!s.bAskMode && !s.bSuccess ? SW_SHOW : SW_HIDE);
    for (int nId : {IDC_YES, IDC_NO})
      if (CWnd* p = m_dlg.GetDlgItem(nId)) p->ShowWindow(s.bAskMode ? SW_SHOW : SW_HIDE);
  }

  // One frame of the dialog's erase handler drawn into a fresh memory context of the client
  // area's size, as it reaches the screen; the handler's own objects are all released by then.
  QImage RenderFrame() {
    RECT rc{};
    ::GetClientRect(m_hDlg, &rc);
    HDC hdcScreen = ::GetDC(nullptr);
    HDC hdcTarget = ::CreateCompatibleDC(hdcScreen);
    HBITMAP hBitmap = ::CreateCompatibleBitmap(hdcScreen, rc.right, rc.bottom);
    HGDIOBJ hOld = ::SelectObject(hdcTarget, hBitmap);
    CDC dc(hdcTarget);
    m_dlg.OnEraseBkgnd(&dc);
    QImage image;
    if (const QImage* p = Windows().Gdi().BitmapOf(hBitmap)) image = p->copy();
    ::SelectObject(hdcTarget, hOld);
    ::DeleteObject(hBitmap);
    ::DeleteDC(hdcTarget);
    ::ReleaseDC(nullptr, hdcScreen);
    return image.convertToFormat(QImage::Format_RGB32);
  }

  // The dialog painted through the window system, as a refresh tick brings it about.
  // Pending events run first, so that a window shown just now is exposed and really paints.
  void Repaint() {
    QCoreApplication::processEvents();
    ::InvalidateRect(m_hDlg, nullptr, TRUE);
    ::UpdateWindow(m_hDlg);
    QCoreApplication::processEvents();
  }

  // The texts of the dialog's last paint, as the simulator records a frame.
  std::vector<std::wstring> PaintedTexts() { return Windows().PaintedTexts(m_hDlg); }

 private:
  static const CHostOptions& WithApplication(const CHostOptions& options) {
    ScreenRigApplication();
    return options;
  }

  CHostBackends m_backends;
  CRecoveryDlg m_dlg;
  HWND m_hDlg = nullptr;
};
