// YES and NO, and every end of the program without a restart.
#include "tests/app/app_fixture.h"

namespace {

using Lines = std::vector<std::string>;
using WLines = std::vector<std::wstring>;

// The shell as the program found it, put back in this order.
const Lines kShellBack = {
    "ChangeDisplaySettingsEx(null, {dmSize=192 dmFields=0x1000000}, null, CDS_TEST, null) -> 0",
    "ChangeDisplaySettingsEx(null, {dmSize=192 dmFields=0x800000}, null, CDS_RESET, null) -> 0",
    "FindWindowW(\"HHTaskBar\", null) -> HHTaskBar",
    "ShowWindow(HHTaskBar, SW_SHOW)",
    "SystemParametersInfoW(SPI_SETWORKAREA, 0, (0,0,320,214), SPIF_SENDCHANGE)",
};

template <class T>
std::vector<T> Then(std::vector<T> head, const std::vector<T>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

TEST_F(AppTest, EveryEndWithoutRestartPutsTheShellBackAndExitsWithZero) {
  const WLines kXmlOps = {L"ReadWholeFile \\SDMMC\\Recovery\\Path.xml",
                          L"ReplaceFileContents \\SDMMC\\Recovery\\Path.xml"};
  const std::string kNo = "> WM_COMMAND(dlg102, 1018, BN_CLICKED)";
  const std::string kYes = "> WM_COMMAND(dlg102, 1017, BN_CLICKED)";
  const std::string kXmlError = "MessageBoxW(dlg102, \"XML ERROR!\", \"\", 0x40000) -> 1";
  struct Case {
    const char* name;
    bool bPathXml;
    std::string strXml;
    std::vector<CFakeAction> script;
    Lines tail;  // the record from its first line on
    WLines ops;  // the device's record
    bool bInitialised;
  };
  const Case cases[] = {
      {"NO",
       true,
       PathXml({{"\\SDMMC\\Backup", "\\ResidentFlash"}}),
       {CFakeAction::Tap(IDC_NO)},
       Then(Lines{kNo}, kShellBack),
       kXmlOps,
       true},
      {"YES, first source missing",
       true,
       PathXml({{"\\SDMMC\\Missing", "\\ResidentFlash"}}),
       {CFakeAction::Tap(IDC_YES)},
       Then(Lines{kYes}, kShellBack),
       Then(kXmlOps, WLines{L"GetAttributes \\SDMMC\\Missing = 2"}),
       true},
      // No entry to read: ends as a missing source does, instead of reading past the lists.
      {"YES, empty lists",
       true,
       PathXml({}),
       {CFakeAction::Tap(IDC_YES)},
       Then(Lines{kYes}, kShellBack),
       kXmlOps,
       true},
      // An empty source names no folder (it would read as the device's root).
      {"YES, empty source text",
       true,
       PathXml({{"", "\\ResidentFlash"}}),
       {CFakeAction::Tap(IDC_YES)},
       Then(Lines{kYes}, kShellBack),
       kXmlOps,
       true},
      // Nothing of the initialisation after the lists runs.
      {"no Path.xml",
       false,
       "",
       {},
       Then(Lines{kXmlError}, kShellBack),
       {L"ReadWholeFile \\SDMMC\\Recovery\\Path.xml = 2"},
       false},
      {"Path.xml not well-formed",
       true,
       "<Paths><Entry Count=\"1\"></Paths>",
       {},
       Then(Lines{kXmlError}, kShellBack),
       {L"ReadWholeFile \\SDMMC\\Recovery\\Path.xml"},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CFakeDevice device;
    CFakeDeviceScope deviceScope(device);
    device.SetModuleFileName(kProgram);
    device.AddFile(kProgram, "MZ");
    device.AddFile(L"\\SDMMC\\Backup\\Navi\\Navi.exe", "navi");
    device.AddFile(L"\\ResidentFlash\\Navi\\Navi.exe", "old navi");
    if (c.bPathXml) device.AddFile(kPathXmlFile, c.strXml);
    auto before = device.Snapshot();
    before.erase(kPathXmlFile);
    CFakeWindows windows;
    CFakeWindowsScope windowsScope(windows);

    CRecoveryDlg dlg;
    windows.Script(c.script);
    int nExit = -1;
    try {
      dlg.DoModal();
    } catch (const CFakeExit& e) {
      nExit = e.nCode;
    }
    EXPECT_EQ(nExit, 0);

    Lines all = windows.Calls(), tail;
    for (const auto& line : all)
      if (!tail.empty() || line == c.tail.front()) tail.push_back(line);
    EXPECT_EQ(tail, c.tail);
    EXPECT_EQ(device.Operations(), c.ops);
    auto after = device.Snapshot();
    after.erase(kPathXmlFile);
    EXPECT_EQ(after, before);
    // The shell as it was found: normal orientation, task bar, work area.
    EXPECT_EQ(windows.Orientation(), DMDO_0);
    EXPECT_TRUE(windows.TaskBarVisible());
    EXPECT_EQ(FakeRectText(windows.WorkArea()), "(0,0,320,214)");
    EXPECT_EQ(windows.RestartRequests(), 0);
    EXPECT_EQ(dlg.m_bStart.load(), false);
    EXPECT_EQ(dlg.m_hMutex != nullptr, c.bInitialised);
    EXPECT_EQ(dlg.m_pWorker != nullptr, c.bInitialised);
    EXPECT_EQ(windows.Violations(), Lines{});
  }
}

TEST_F(AppTest, YesWithTheFirstSourcePresentSwitchesToTheProgressScreen) {
  // The dialog on a window without its initialisation: no worker takes the start request.
  CRecoveryDlg dlg;
  HWND hDlg = m_windows.CreateDialogWindow(IDD_RECOVERY);
  dlg.Attach(hDlg);
  dlg.m_progress.Attach(m_windows.Control(hDlg, IDC_PROGRESS));
  ::ShowWindow(dlg.m_progress.m_hWnd, SW_HIDE);
  dlg.m_bAskMode = TRUE;
  dlg.m_arrSrcPaths = {kBackup, L"\\SDMMC\\Missing"};
  dlg.m_arrDstPaths = {L"\\ResidentFlash", L"\\ResidentFlash"};
  m_windows.ClearCalls();
  Annotate([&] {
    return "ask=" + std::to_string(dlg.m_bAskMode) + " start=" + std::to_string(dlg.m_bStart);
  });

  EXPECT_TRUE(m_windows.Tap(IDC_YES));
  EXPECT_EQ(Annotated(), (Lines{
                             "> WM_COMMAND(dlg102, 1017, BN_CLICKED) | ask=1 start=0",
                             "ShowWindow(dlg102/1010, SW_SHOW) | ask=0 start=0",
                             "GetDlgItem(dlg102, 1018) -> dlg102/1018 | ask=0 start=0",
                             "ShowWindow(dlg102/1018, SW_HIDE) | ask=0 start=0",
                             "GetDlgItem(dlg102, 1017) -> dlg102/1017 | ask=0 start=0",
                             "ShowWindow(dlg102/1017, SW_HIDE) | ask=0 start=0",
                             "InvalidateRect(dlg102, null, 1) | ask=0 start=0",
                         }));
  EXPECT_TRUE(dlg.m_bStart.load());
  EXPECT_EQ(m_device.Operations(), WLines{L"GetAttributes \\SDMMC\\Backup"});
  EXPECT_TRUE(m_windows.Window(m_windows.Control(hDlg, IDC_PROGRESS)).bVisible);
  EXPECT_FALSE(m_windows.Window(m_windows.Control(hDlg, IDC_YES)).bVisible);
  EXPECT_FALSE(m_windows.Window(m_windows.Control(hDlg, IDC_NO)).bVisible);
  EXPECT_EQ(m_windows.Violations(), Lines{});
}

TEST_F(AppTest, TapsOnTheDialogNeverReachTheDefaultProcessing) {
  PutPathXml(PathXml({{"\\SDMMC\\Backup", "\\ResidentFlash"}}));
  CRecoveryDlg dlg;
  EXPECT_EQ(
      RunDialog(dlg, {CFakeAction::Click(5, 7), CFakeAction::Click(200, 300), CFakeAction::End()}),
      -1);
  EXPECT_EQ(CallsFrom("> WM_LBUTTONDOWN"), (Lines{
                                               "> WM_LBUTTONDOWN(dlg102, 5, 7)",
                                               "> WM_LBUTTONDOWN(dlg102, 200, 300)",
                                               "> End(dlg102, 2)",
                                               "KillTimer(dlg102, 10)",
                                               "DestroyWindow(dlg102)",
                                           }));
}

}  // namespace
