// The question screen's answers, and the end of the program without a restart.
#include "app/recovery_dlg.h"
#include "device/device_control.h"
#include "platform/files.h"
#include "platform/run_log.h"
#include "platform/runtime.h"

void CRecoveryDlg::OnBnClickedYes() {
  // No configured entry, or a first source that is not there: nothing can be restored.
  const DWORD nIndex = m_nIndex.load();
  if (nIndex >= m_arrSrcPaths.size() || m_arrSrcPaths[nIndex].IsEmpty() ||
      GetFileAttributesW(m_arrSrcPaths[nIndex]) == INVALID_FILE_ATTRIBUTES) {
    SetRunOutcome("nothing restored: the first source is missing");
    EndWithoutRestart();
  }

  m_bAskMode = FALSE;
  m_progress.ShowWindow(SW_SHOW);
  if (CWnd* pNo = GetDlgItem(IDC_NO)) pNo->ShowWindow(SW_HIDE);
  if (CWnd* pYes = GetDlgItem(IDC_YES)) pYes->ShowWindow(SW_HIDE);
  Invalidate(TRUE);
  m_bStart.store(true, std::memory_order_release);
}

void CRecoveryDlg::OnBnClickedNo() {
  SetRunOutcome("cancelled by NO");
  EndWithoutRestart();
}

// The tap is swallowed: it never reaches the default processing.
void CRecoveryDlg::OnLButtonDown(UINT, CPoint) {}

void CRecoveryDlg::EndWithoutRestart() {
  SetScreenOrientation(DMDO_0);
  ShowTaskBar(SW_SHOW);
  if (m_bHaveSavedWorkArea)
    SystemParametersInfoW(SPI_SETWORKAREA, 0, &m_rcSavedWorkArea, SPIF_SENDCHANGE);
  ExitProgram(0);
}
