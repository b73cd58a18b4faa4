// The recovery dialog's initialisation: display turned, full screen, folder lists, layout,
// mutex, refresh timer and worker.
#include <exception>

#include "app/recovery_dlg.h"
#include "config/path_list.h"
#include "device/device_control.h"
#include "engine/event_thread.h"
#include "platform/kernel.h"
#include "platform/run_log.h"

namespace {

constexpr LPCWSTR kPathListFile = L"Path.xml";
constexpr LPCWSTR kCopyMutexName = L"MUTEX_FOR_COPY";
constexpr LPCWSTR kXmlErrorText = L"XML ERROR!";
constexpr int kButtonTop = 140;
constexpr int kButtonHeight = 50;
constexpr int kButtonMargin = 30;  // left and right margins and the gap between the buttons
constexpr int kProgressInset = 10;

}  // namespace

BOOL CRecoveryDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetScreenOrientation(DMDO_90);
  SetIcon(m_hIcon, TRUE);
  SetIcon(m_hIcon, FALSE);

  // Kept so that an end without a restart can give the shell its work area back.
  m_bHaveSavedWorkArea = SystemParametersInfoW(SPI_GETWORKAREA, 0, &m_rcSavedWorkArea, 0);
  SetFullScreen(this, SW_HIDE, 0);

  // Taken after the turn and the full screen: the whole screen in the turned orientation.
  CRect rcClient;
  GetClientRect(&rcClient);
  const int nWidth = rcClient.Width();
  const int nHeight = rcClient.Height();

  CString strFile;
  GetModuleDirectory(strFile);
  strFile += kPathListFile;
  try {
    ReadPathList(strFile, m_arrSrcPaths, m_arrDstPaths);
  } catch (const std::exception&) {
    SetRunOutcome("configuration error");
    MessageBox(kXmlErrorText, L"", MB_OK | MB_TOPMOST);
    EndWithoutRestart();
  }
  m_nIndex = 0;

  CRect rcProgress;
  m_progress.GetWindowRect(&rcProgress);
  m_progress.MoveWindow(kProgressInset, nHeight / 2 + kProgressInset, nWidth - 2 * kProgressInset,
                        rcProgress.Height(), TRUE);
  m_progress.SetRange(0, 100);
  m_progress.SetStep(1);
  m_progress.ShowWindow(SW_HIDE);

  const int nButtonWidth = (nWidth - 3 * kButtonMargin) / 2;
  m_bAskMode = TRUE;
  if (CWnd* pNo = GetDlgItem(IDC_NO))
    pNo->MoveWindow(kButtonMargin, kButtonTop, nButtonWidth, kButtonHeight, TRUE);
  if (CWnd* pYes = GetDlgItem(IDC_YES))
    pYes->MoveWindow(nButtonWidth + 2 * kButtonMargin, kButtonTop, nButtonWidth, kButtonHeight,
                     TRUE);

  m_nFilesTotal = 0;
  m_nFilesCopied = 0;
  m_hMutex = CreateMutexW(nullptr, FALSE, kCopyMutexName);
  SetTimer(IDT_PROGRESS, kProgressPeriodMs, nullptr);
  m_pWorker = new CEventThread(&m_hStopEvent, RecoveryThreadProc, this);
  return TRUE;
}
