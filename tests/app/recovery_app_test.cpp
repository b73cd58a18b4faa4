// The application object, the dialog's starting values and the program's folder.
#include "app/recovery_app.h"

#include <cwchar>

#include "tests/app/app_fixture.h"

namespace {

using Lines = std::vector<std::string>;

TEST_F(AppTest, StartUpRunsTheDialogAndEndsTheProgram) {
  PutPathXml(PathXml({{"\\SDMMC\\Backup", "\\ResidentFlash"}}));
  struct Case {
    const char* name;
    CFakeAction action;
    int nExit;  // -1: InitInstance returned
    std::string strLast;
  };
  const Case cases[] = {
      {"NO ends the program", CFakeAction::Tap(IDC_NO), 0,
       "SystemParametersInfoW(SPI_SETWORKAREA, 0, (0,0,320,214), SPIF_SENDCHANGE)"},
      {"the loop ends some other way", CFakeAction::End(), -1, "DestroyWindow(dlg102)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CFakeWindows windows;
    CFakeWindowsScope scope(windows);
    windows.Script({c.action});
    ASSERT_EQ(AfxGetApp(), &theApp);
    int nExit = -1;
    BOOL bResult = TRUE;
    try {
      bResult = theApp.InitInstance();
    } catch (const CFakeExit& e) {
      nExit = e.nCode;
    }
    EXPECT_EQ(nExit, c.nExit);
    if (nExit < 0) {
      EXPECT_EQ(bResult, FALSE);
    }
    Lines calls = windows.Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(Lines(calls.begin(), calls.begin() + 2),
              (Lines{"LoadIconW(128) -> icon128", "RunModalDialog(102, null) -> dlg102"}));
    EXPECT_EQ(calls.back(), c.strLast);
    EXPECT_EQ(theApp.m_strRegistryKey, L"Local AppWizard-Generated Applications");
    EXPECT_EQ(AfxGetMainWnd(), nullptr);
  }
}

TEST_F(AppTest, NewDialogWaitsIdleWithItsIcon) {
  CRecoveryDlg dlg;
  EXPECT_EQ(m_windows.Name(dlg.m_hIcon), "icon128");
  EXPECT_EQ(dlg.GetTemplateId(), IDD_RECOVERY);
  std::string strState =
      "worker state " + std::to_string(dlg.m_nWorkerState) + ", source ok " +
      std::to_string(dlg.m_bSourceOk) + ", start " + std::to_string(dlg.m_bStart) + ", success " +
      std::to_string(dlg.m_bSuccess) + ", lists " +
      std::to_string(dlg.m_arrSrcPaths.size() + dlg.m_arrDstPaths.size()) + ", files " +
      std::to_string(dlg.m_nFilesTotal) + "/" + std::to_string(dlg.m_nFilesCopied) + ", index " +
      std::to_string(dlg.m_nIndex) + ", countdown " + std::to_string(dlg.m_nCountdown) + ", ask " +
      std::to_string(dlg.m_bAskMode) + ", handles " + std::to_string(dlg.m_hMutex != nullptr) +
      std::to_string(dlg.m_hStopEvent != nullptr) + std::to_string(dlg.m_pWorker != nullptr) +
      ", message '" + dlg.m_strMessage.ToUtf8() + "'";
  EXPECT_EQ(strState,
            "worker state 2, source ok 1, start 0, success 0, lists 0, files 0/0, index 0, "
            "countdown 0, ask 0, handles 000, message ''");
}

TEST_F(AppTest, ModuleDirectoryKeepsTheTrailingSeparator) {
  struct Case {
    std::wstring strModule;  // empty: the system cannot tell
    BOOL bResult;
    std::wstring strDir;  // what both forms give, starting from "before"
  };
  const Case cases[] = {
      {L"\\Windows\\x.exe", TRUE, L"\\Windows\\"},
      {L"\\SDMMC\\Recovery\\Recovery.exe", TRUE, L"\\SDMMC\\Recovery\\"},
      {L"\\x.exe", TRUE, L"\\"},
      {L"x.exe", TRUE, L""},
      {L"", FALSE, L"before"},
      {L"\\" + std::wstring(MAX_PATH, L'a'), FALSE, L"before"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.strModule));
    m_device.SetModuleFileName(c.strModule);
    WCHAR szDir[MAX_PATH] = L"before";
    EXPECT_EQ(CRecoveryDlg::GetModuleDirectory(szDir), c.bResult);
    EXPECT_EQ(std::wstring(szDir), c.strDir);
    CString strDir = L"before";
    EXPECT_EQ(CRecoveryDlg::GetModuleDirectory(strDir), c.bResult);
    EXPECT_EQ(strDir.Str(), c.strDir);
  }
}

}  // namespace
