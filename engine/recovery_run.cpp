#include "engine/recovery_run.h"

#include "app/recovery_dlg.h"
#include "engine/delete_tree.h"
#include "platform/files.h"
#include "platform/kernel.h"
#include "platform/runtime.h"

namespace {

constexpr LONG kCountdownSeconds = 5;

}  // namespace

BOOL SourceHasEntries(const CString& strFolder) {
  WIN32_FIND_DATAW data;
  HANDLE hFind = FindFirstFileW(strFolder + kListSuffix, &data);
  if (hFind == INVALID_HANDLE_VALUE) return FALSE;
  FindClose(hFind);
  return TRUE;
}

void ReportUnusableSource(const CString& strFolder) {
  const bool bMissing = GetFileAttributesW(strFolder) == INVALID_FILE_ATTRIBUTES;
  ErrorPrintW(L"orvane-recovery: the source folder '%s' is %s", strFolder.GetString(),
              bMissing ? L"missing" : L"empty");
}

BOOL BeginRecoveryRun(CRecoveryDlg& dlg) {
  dlg.m_bSuccess = FALSE;
  dlg.m_nEntriesRestored = 0;
  if (dlg.m_arrSrcPaths.empty()) return FALSE;
  // Emptying the flash with nothing to restore from would lose the device's software for
  // nothing, so every source is probed first.
  for (const CString& strSource : dlg.m_arrSrcPaths) {
    if (!SourceHasEntries(strSource)) {
      ReportUnusableSource(strSource);
      dlg.m_bSourceOk = FALSE;
      return FALSE;
    }
  }
  DeleteTree(kFlashFolder);
  return !ThreadStopRequested();
}

void RunRecovery(CRecoveryDlg& dlg) {
  if (!BeginRecoveryRun(dlg)) return;
  for (DWORD i = 0; i < dlg.m_arrSrcPaths.size() && !ThreadStopRequested(); ++i) {
    dlg.m_nIndex = i;
    dlg.RecoverEntry();
  }
  EndRecoveryRun(dlg);
}

void EndRecoveryRun(CRecoveryDlg& dlg) {
  if (ThreadStopRequested() || !dlg.m_bSourceOk ||
      dlg.m_nEntriesRestored != dlg.m_arrSrcPaths.size())
    return;
  DeleteTree(kAppDataFolder);
  dlg.m_progress.ShowWindow(SW_HIDE);
  dlg.m_nCountdown = kCountdownSeconds;
  dlg.SetTimer(IDT_RESTART, kRestartPeriodMs, nullptr);
  // Last: from here the timer and the screen take the run as restored.
  dlg.m_bSuccess = TRUE;
}
