#include "app/recovery_dlg.h"
#include "engine/copy_error.h"
#include "engine/copy_tree.h"
#include "engine/recovery_run.h"
#include "platform/kernel.h"
#include "ui/progress_scale.h"

void CRecoveryDlg::RecoverEntry() {
  m_bSuccess = FALSE;
  // Each entry's files were counted as the run began.
  if (m_nIndex >= m_arrSrcPaths.size() || m_nIndex >= m_arrDstPaths.size() ||
      m_nIndex >= m_arrFilesCounted.size())
    return;
  const CString strSource = m_arrSrcPaths[m_nIndex];
  const CString strDest = m_arrDstPaths[m_nIndex];
  if (!SourceHasEntries(strSource)) {
    m_bSourceOk = FALSE;
    return;
  }
  m_nFilesTotal = m_arrFilesCounted[m_nIndex];
  m_progress.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, ProgressRangeUpper(m_nFilesTotal)));
  m_nFilesCopied = 0;
  if (!CopyTree(kListSuffix, strSource, strDest, m_hMutex, m_nFilesCopied)) return;
  if (m_nFilesCopied < m_nFilesTotal) {
    // Counted, then gone before they could be copied: the entry is not whole, and says so.
    KeepCopyError(ERROR_FILE_NOT_FOUND,
                  L"files of " + strSource + L" went missing after they were counted");
    return;
  }
  if (!m_bSourceOk) return;
  ++m_nEntriesRestored;
}
