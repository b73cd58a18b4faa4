#include "engine/recovery_run.h"

#include "app/recovery_dlg.h"
#include "engine/copy_error.h"
#include "engine/copy_tree.h"
#include "engine/delete_tree.h"
#include "engine/entry_check.h"
#include "platform/files.h"
#include "platform/kernel.h"
#include "platform/runtime.h"

namespace {

constexpr LONG kCountdownSeconds = 5;

// The file system holding the path flushed; FALSE with the code kept when it could not be.
BOOL FlushedOrFailed(const CString& strPath) {
  if (FlushFileSystemOf(strPath)) return TRUE;
  KeepCopyError(GetLastError(), L"cannot flush " + strPath + L" to its medium");
  return FALSE;
}

}  // namespace

BOOL SourceHasEntries(const CString& strFolder) {
  WIN32_FIND_DATAW data{};
  HANDLE hFind = FindFirstFileW(strFolder + kListSuffix, &data);
  if (hFind != INVALID_HANDLE_VALUE) {
    FindClose(hFind);
    return TRUE;
  }
  // 18 (no more files) for an empty folder, 3 for a missing one: the cause, not 0. A folder that
  // cannot be listed, or whose first entry cannot be examined, is neither.
  const DWORD dwError = GetLastError();
  const bool bMissing = (dwError == ERROR_PATH_NOT_FOUND || dwError == ERROR_FILE_NOT_FOUND) &&
                        GetFileAttributesW(strFolder) == INVALID_FILE_ATTRIBUTES;
  if (!bMissing && dwError != ERROR_NO_MORE_FILES) {
    SetLastError(dwError);
    return ListingEnd(strFolder, data);
  }
  g_dwLastCopyError = dwError;
  ErrorPrintW(L"orvane-recovery: the source folder '%s' is %s", strFolder.GetString(),
              bMissing ? L"missing" : L"empty");
  return FALSE;
}

BOOL BeginRecoveryRun(CRecoveryDlg& dlg) {
  dlg.m_bSuccess = FALSE;
  dlg.m_nEntriesRestored = 0;
  dlg.m_arrFilesCounted.clear();
  if (dlg.m_arrSrcPaths.empty()) {
    ErrorPrintW(L"orvane-recovery: Path.xml names no folder to restore");
    return FALSE;
  }
  if (!EntriesAllowed(dlg.m_arrSrcPaths, dlg.m_arrDstPaths)) {
    g_dwLastCopyError = ERROR_BAD_PATHNAME;
    return FALSE;
  }
  // Emptying the flash with nothing to restore from would lose the device's software for
  // nothing, so every source is probed first.
  for (const CString& strSource : dlg.m_arrSrcPaths) {
    if (!SourceHasEntries(strSource)) {
      dlg.m_bSourceOk = FALSE;
      return FALSE;
    }
  }
  // Counted whole before anything is touched: a folder that cannot be listed, or names the
  // device cannot hold apart, fail the run here.
  for (const CString& strSource : dlg.m_arrSrcPaths) {
    std::atomic<DWORD> nFiles{0};
    if (!CountTree(kListSuffix, strSource, nFiles) || ThreadStopRequested()) return FALSE;
    dlg.m_arrFilesCounted.push_back(nFiles);
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
  // "Recovery completed!" means the files are on the medium, and a restart right after the
  // countdown must not bring the data folder back.
  for (const CString& strDest : dlg.m_arrDstPaths)
    if (!FlushedOrFailed(strDest)) return;
  // The question promised the settings would go: a data folder that stays fails the run.
  CDeleteFailure failure;
  if (!DeleteTree(kAppDataFolder, &failure)) {
    g_dwLastCopyError = failure.dwError;  // the deletion said where it stayed
    return;
  }
  if (!FlushedOrFailed(kAppDataFolder)) return;
  dlg.m_progress.ShowWindow(SW_HIDE);
  dlg.m_nCountdown = kCountdownSeconds;
  dlg.SetTimer(IDT_RESTART, kRestartPeriodMs, nullptr);
  // Last: from here the timer and the screen take the run as restored.
  dlg.m_bSuccess = TRUE;
}
