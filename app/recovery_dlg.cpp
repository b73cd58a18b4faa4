// The recovery dialog's construction, tear-down, control binding and message map.
#include "app/recovery_dlg.h"

#include <cwchar>

#include "engine/event_thread.h"
#include "platform/files.h"
#include "platform/kernel.h"

BEGIN_MESSAGE_MAP(CRecoveryDlg, CDialog)
ON_WM_ERASEBKGND()
ON_WM_TIMER()
ON_WM_LBUTTONDOWN()
ON_WM_CLOSE()
ON_BN_CLICKED(IDC_YES, OnBnClickedYes)
ON_BN_CLICKED(IDC_NO, OnBnClickedNo)
END_MESSAGE_MAP()

CRecoveryDlg::CRecoveryDlg(CWnd* pParent) : CDialog(IDD_RECOVERY, pParent) {
  m_hIcon = ::LoadIconW(IDR_MAINFRAME);
}

CRecoveryDlg::~CRecoveryDlg() {
  // Normally DestroyWindow has done this. When the program's exit is intercepted (tests, the
  // simulator) the dialog goes without it, and the worker must not outlive what it was given.
  delete m_pWorker;
  m_pWorker = nullptr;
  if (m_hMutex) CloseHandle(m_hMutex);
  m_hMutex = nullptr;
}

void CRecoveryDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_PROGRESS, m_progress);
}

BOOL CRecoveryDlg::DestroyWindow() {
  // The worker goes first: it takes the mutex around every copied file.
  delete m_pWorker;
  m_pWorker = nullptr;
  KillTimer(IDT_PROGRESS);
  if (m_hMutex) {
    if (WaitForSingleObject(m_hMutex, INFINITE) == WAIT_OBJECT_0) ReleaseMutex(m_hMutex);
    CloseHandle(m_hMutex);
    m_hMutex = nullptr;
  }
  return CDialog::DestroyWindow();
}

BOOL CRecoveryDlg::GetModuleDirectory(LPWSTR pszDir) {
  WCHAR szPath[MAX_PATH];
  if (GetModuleFileNameW(nullptr, szPath, MAX_PATH) == 0) return FALSE;
  // No separator at all leaves an empty folder: the file name is then used on its own.
  WCHAR* pSlash = std::wcsrchr(szPath, L'\\');
  if (pSlash)
    pSlash[1] = L'\0';
  else
    szPath[0] = L'\0';
  std::wcscpy(pszDir, szPath);
  return TRUE;
}

BOOL CRecoveryDlg::GetModuleDirectory(CString& strDir) {
  WCHAR szDir[MAX_PATH] = {};
  std::wcsncpy(szDir, strDir, MAX_PATH - 1);
  BOOL bOk = GetModuleDirectory(szDir);
  strDir = szDir;
  return bOk;
}
