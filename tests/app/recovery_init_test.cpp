// The recovery dialog's initialisation: the order of its steps and its layout.
#include "platform/kernel.h"
#include "tests/app/app_fixture.h"

namespace {

using Lines = std::vector<std::string>;

std::string ShortState(const CRecoveryDlg& dlg, const CFakeDevice& device) {
  bool bXmlWritten = false;
  for (const auto& op : device.Operations())
    bXmlWritten = bXmlWritten || op.rfind(L"ReplaceFileContents", 0) == 0;
  return "lists=" + std::to_string(dlg.m_arrSrcPaths.size()) +
         " ask=" + std::to_string(dlg.m_bAskMode) + " xml=" + std::to_string(bXmlWritten) +
         " mutex=" + std::to_string(dlg.m_hMutex != nullptr) +
         " worker=" + std::to_string(dlg.m_pWorker != nullptr);
}

TEST_F(AppTest, InitialisationRunsItsStepsInOrder) {
  PutPathXml(PathXml({{"\\SDMMC\\Backup", "\\ResidentFlash"}}));
  m_windows.CaptureDiagnostics(true);
  CRecoveryDlg dlg;
  Annotate([&] { return ShortState(dlg, m_device); });
  Lines atIdle;
  EXPECT_EQ(RunDialog(dlg, {CFakeAction::Call([&] { atIdle = Annotated(); }), CFakeAction::End()}),
            -1);

  const std::string s0 = " | lists=0 ask=0 xml=0 mutex=0 worker=0";
  const std::string s1 = " | lists=1 ask=0 xml=1 mutex=0 worker=0";
  const std::string s2 = " | lists=1 ask=1 xml=1 mutex=0 worker=0";
  const std::string s3 = " | lists=1 ask=1 xml=1 mutex=1 worker=0";
  const Lines expected = {
      "RunModalDialog(102, null) -> dlg102" + s0,
      "> WM_INITDIALOG(dlg102)" + s0,
      // 1: the base class binds the progress bar.
      "GetDlgItem(dlg102, 1010) -> dlg102/1010" + s0,
      // The work area kept for the way back, before the turn lays it out anew.
      "SystemParametersInfoW(SPI_GETWORKAREA, 0, out, 0) -> (0,0,320,214)" + s0,
      // 2: the display turned.
      "ChangeDisplaySettingsEx(null, {dmSize=192 dmFields=0x1000000}, null, CDS_TEST, null) -> 0" +
          s0,
      "ChangeDisplaySettingsEx(null, {dmSize=192 dmFields=0x800000 dmDisplayOrientation=1}, null, "
      "CDS_RESET, null) -> 0" +
          s0,
      // 3: big icon, then small.
      "SendMessageW(dlg102, WM_SETICON, ICON_BIG, icon128)" + s0,
      "SendMessageW(dlg102, WM_SETICON, ICON_SMALL, icon128)" + s0,
      // 4: full screen.
      "FindWindowW(\"HHTaskBar\", null) -> HHTaskBar" + s0,
      "ShowWindow(HHTaskBar, SW_HIDE)" + s0,
      "GetSystemMetrics(SM_CXSCREEN) -> 240" + s0,
      "GetSystemMetrics(SM_CYSCREEN) -> 320" + s0,
      "SystemParametersInfoW(SPI_SETWORKAREA, 0, (0,0,240,320), SPIF_SENDCHANGE)" + s0,
      "MoveWindow(dlg102, 0, 0, 240, 320, 1)" + s0,
      // 5: the client area, before the lists are read (6) and written back (8).
      "GetClientRect(dlg102) -> (0,0,240,320)" + s0,
      // 9: the progress bar.
      "GetWindowRect(dlg102/1010) -> (147,79,360,101)" + s1,
      "MoveWindow(dlg102/1010, 10, 170, 220, 22, 1)" + s1,
      "SendMessageW(dlg102/1010, PBM_SETRANGE, 0, 0..100)" + s1,
      "SendMessageW(dlg102/1010, PBM_SETSTEP, 1, 0)" + s1,
      "ShowWindow(dlg102/1010, SW_HIDE)" + s1,
      // 10, 11: question screen, then NO and YES.
      "GetDlgItem(dlg102, 1018) -> dlg102/1018" + s2,
      "MoveWindow(dlg102/1018, 30, 140, 75, 50, 1)" + s2,
      "GetDlgItem(dlg102, 1017) -> dlg102/1017" + s2,
      "MoveWindow(dlg102/1017, 135, 140, 75, 50, 1)" + s2,
      // 13, 14, 15: the mutex, the refresh timer, the worker.
      "SetTimer(dlg102, 10, 200, null) -> 10" + s3,
      // 15: the worker's first line comes from inside its construction.
      "diag: [Start Thread]" + s3,
  };
  EXPECT_EQ(atIdle, expected);
  EXPECT_EQ(ShortState(dlg, m_device), "lists=1 ask=1 xml=1 mutex=0 worker=0");  // torn down

  // What the initialisation left behind.
  EXPECT_EQ(dlg.m_arrSrcPaths, CStringArray{L"\\SDMMC\\Backup"});
  EXPECT_EQ(dlg.m_arrDstPaths, CStringArray{L"\\ResidentFlash"});
  EXPECT_EQ(m_windows.Timers(), Lines{});  // killed by DestroyWindow after the loop
  EXPECT_EQ(m_windows.Orientation(), DMDO_90);
  EXPECT_FALSE(m_windows.TaskBarVisible());
  EXPECT_EQ(FakeRectText(m_windows.WorkArea()), "(0,0,240,320)");
  CFakeProgress progress =
      m_windows.Window(m_windows.Control(m_windows.Dialog(102), 1010)).progress;
  EXPECT_EQ(progress.nLower, 0);
  EXPECT_EQ(progress.nUpper, 100);
  EXPECT_EQ(progress.nStep, 1);
  EXPECT_EQ(m_device.Operations(),
            (std::vector<std::wstring>{L"ReadWholeFile \\SDMMC\\Recovery\\Path.xml",
                                       L"ReplaceFileContents \\SDMMC\\Recovery\\Path.xml"}));
  EXPECT_EQ(m_windows.Violations(), Lines{});
}

TEST_F(AppTest, LayoutFollowsTheClientArea) {
  struct Case {
    int cxNormal, cyNormal;  // the display in its normal orientation; the dialog gets it turned
    std::string strNo, strYes, strProgress;
  };
  const Case cases[] = {
      // 240 x 320: buttons 75 wide, 30-pixel margins and gap; the bar keeps the template's 22.
      {320, 240, "(30,140,105,190)", "(135,140,210,190)", "(10,170,230,192)"},
      // An odd width: (241 - 90) / 2 = 75.
      {320, 241, "(30,140,105,190)", "(135,140,210,190)", "(10,170,231,192)"},
      {640, 480, "(30,140,225,190)", "(255,140,450,190)", "(10,330,470,352)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.cxNormal) + "x" + std::to_string(c.cyNormal));
    CFakeWindows windows;
    CFakeWindowsScope scope(windows);
    windows.SetScreenSize(c.cxNormal, c.cyNormal);
    PutPathXml(PathXml({{"\\SDMMC\\Backup", "\\ResidentFlash"}}));
    CRecoveryDlg dlg;
    windows.Script({CFakeAction::End()});
    dlg.DoModal();
    HWND hDlg = windows.Dialog(IDD_RECOVERY);
    auto rect = [&](int nId) {
      return FakeRectText(windows.Window(windows.Control(hDlg, nId)).rc);
    };
    EXPECT_EQ(rect(IDC_NO), c.strNo);
    EXPECT_EQ(rect(IDC_YES), c.strYes);
    EXPECT_EQ(rect(IDC_PROGRESS), c.strProgress);
    EXPECT_EQ(windows.Violations(), Lines{});
  }
}

TEST_F(AppTest, TearDownStopsTheWorkerBeforeItClosesTheMutex) {
  PutPathXml(PathXml({{"\\SDMMC\\Backup", "\\ResidentFlash"}}));
  m_windows.CaptureDiagnostics(true);
  CRecoveryDlg dlg;
  HANDLE hMutex = nullptr;
  m_windows.Script({CFakeAction::Call([&] {
                      hMutex = dlg.m_hMutex;
                      Annotate([&] {
                        return "worker=" + std::to_string(dlg.m_pWorker != nullptr) +
                               " mutex=" + std::to_string(LookupHandle(hMutex) != nullptr);
                      });
                    }),
                    CFakeAction::End()});
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(Annotated(), (Lines{
                             "> End(dlg102, 2) | worker=1 mutex=1",
                             "diag: [End Thread] | worker=1 mutex=1",
                             "KillTimer(dlg102, 10) | worker=0 mutex=1",
                             "DestroyWindow(dlg102) | worker=0 mutex=0",
                         }));
  EXPECT_EQ(dlg.m_hMutex, nullptr);
  EXPECT_EQ(dlg.m_pWorker, nullptr);
  EXPECT_EQ(m_windows.Timers(), Lines{});
  EXPECT_TRUE(m_windows.Window(m_windows.Dialog(IDD_RECOVERY)).bDestroyed);
}

}  // namespace
