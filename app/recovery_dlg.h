// The recovery dialog: owns the state of a recovery run, which the worker thread, the timers and
// the screen drawing share.
#pragma once

#include <atomic>
#include <vector>

#include "platform/afxwin.h"
#include "res/resource.h"

class CEventThread;

constexpr UINT_PTR IDT_PROGRESS = 10;  // screen refresh, 200 ms
constexpr UINT_PTR IDT_RESTART = 16;   // restart countdown, 1000 ms
constexpr UINT kProgressPeriodMs = 200;
constexpr UINT kRestartPeriodMs = 1000;

// Worker states: idle or result already handled, run in progress, run finished not yet handled.
constexpr LONG WORKER_IDLE = 2;
constexpr LONG WORKER_RUNNING = 0;
constexpr LONG WORKER_FINISHED = 1;

class CRecoveryDlg : public CDialog {
 public:
  explicit CRecoveryDlg(CWnd* pParent = nullptr);
  ~CRecoveryDlg() override;

  BOOL DestroyWindow() override;
  BOOL OnInitDialog() override;
  // Swallows every key: YES and NO answer only a tap or a click, and no key ends the run.
  BOOL PreTranslateMessage(MSG* pMsg) override;

  // Folder of the program file with its trailing "\" into a buffer of MAX_PATH characters;
  // FALSE (buffer unchanged) when it cannot be told.
  static BOOL GetModuleDirectory(LPWSTR pszDir);
  static BOOL GetModuleDirectory(CString& strDir);

  // Recovery of the entry at m_nIndex, on the worker thread.
  void RecoverEntry();

  // Handlers.
  BOOL OnEraseBkgnd(CDC* pDC);
  void DrawAskScreen(CDC* pDC);
  void OnTimer(UINT_PTR nIDEvent);
  void OnLButtonDown(UINT nFlags, CPoint point);
  void OnBnClickedYes();
  void OnBnClickedNo();
  // The window manager's close: NO while the question is shown, nothing once the run began.
  void OnClose();

  // State of a run, in declaration order. Members the worker shares are atomic; the files
  // counters are also taken under m_hMutex by the copy and the drawing.
  HICON m_hIcon = nullptr;
  CStringArray m_arrSrcPaths;                 // source folder of each entry
  CStringArray m_arrDstPaths;                 // destination folder of each entry
  std::atomic<DWORD> m_nFilesTotal{0};        // files counted under the current source
  std::vector<DWORD> m_arrFilesCounted;       // each entry's files, counted as the run began
  std::atomic<DWORD> m_nFilesCopied{0};       // files of the current entry copied so far
  HANDLE m_hMutex = nullptr;                  // "MUTEX_FOR_COPY"
  std::atomic<DWORD> m_nIndex{0};             // entry being processed
  std::atomic<BOOL> m_bSuccess{FALSE};        // the run restored every entry completely
  std::atomic<BOOL> m_bSourceOk{TRUE};        // no source turned out missing or empty
  std::atomic<DWORD> m_nEntriesRestored{0};   // entries of this run restored completely
  CString m_strMessage;                       // text of the failure box
  CEventThread* m_pWorker = nullptr;          // owned
  std::atomic<HANDLE> m_hStopEvent{nullptr};  // the worker's stop event
  std::atomic<bool> m_bStart{false};          // start request: set by YES, cleared by the worker
  std::atomic<LONG> m_nWorkerState{WORKER_IDLE};
  std::atomic<LONG> m_nCountdown{0};          // seconds left before the restart
  CProgressCtrl m_progress;                   // control IDC_PROGRESS
  BOOL m_bAskMode = FALSE;                    // question screen shown (user-interface thread only)

  // The work area as the program found it, put back on every end without a restart.
  RECT m_rcSavedWorkArea{0, 0, 0, 0};
  BOOL m_bHaveSavedWorkArea = FALSE;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  // Ends the program without a restart: the shell put back as found, exit code 0.
  [[noreturn]] void EndWithoutRestart();
  DECLARE_MESSAGE_MAP()
};
