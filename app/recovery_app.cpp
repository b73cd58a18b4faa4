#include "app/recovery_app.h"

#include "app/recovery_dlg.h"

BEGIN_MESSAGE_MAP(CRecoveryApp, CWinApp)
END_MESSAGE_MAP()

CRecoveryApp theApp;

CRecoveryApp::CRecoveryApp() : CWinApp(nullptr) {}

BOOL CRecoveryApp::InitInstance() {
  SetRegistryKey(L"Local AppWizard-Generated Applications");
  CRecoveryDlg dlg;
  m_pMainWnd = &dlg;
  // The main window pointer must not outlive the dialog, also when an intercepted exit unwinds.
  struct CMainWndReset {
    CWinApp* pApp;
    ~CMainWndReset() { pApp->m_pMainWnd = nullptr; }
  } reset{this};
  dlg.DoModal();
  return FALSE;
}
