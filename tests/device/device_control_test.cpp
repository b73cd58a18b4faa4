// Display orientation, task bar, full screen and restart against the recording window system.
#include "device/device_control.h"

#include <gtest/gtest.h>

#include "res/resource.h"
#include "tests/fakes/fake_windows.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kQuery =
    "ChangeDisplaySettingsEx(null, {dmSize=192 dmFields=0x1000000}, null, CDS_TEST, null)";
std::string Reset(int nOrientation) {
  return "ChangeDisplaySettingsEx(null, {dmSize=192 dmFields=0x800000" +
         (nOrientation ? " dmDisplayOrientation=" + std::to_string(nOrientation) : "") +
         "}, null, CDS_RESET, null) -> 0";
}

TEST(SetScreenOrientation, QueriesThenResetsOrLeavesARefusingDisplayAlone) {
  struct Case {
    const char* name;
    DWORD dwStart;
    int nOrientation;
    bool bRefuse;
    BOOL bResult;
    DWORD dwEnd;
    Lines calls;
  };
  const Case cases[] = {
      {"turn", DMDO_0, 1, false, TRUE, DMDO_90, {kQuery + " -> 0", Reset(1)}},
      {"turn back", DMDO_90, 0, false, TRUE, DMDO_0, {kQuery + " -> 0", Reset(0)}},
      // Exactly one display call: the query's refusal stops everything.
      {"refused", DMDO_0, 1, true, FALSE, DMDO_0, {kQuery + " -> -2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CFakeWindows fake;
    CFakeWindowsScope scope(fake);
    fake.SetOrientation(c.dwStart);
    fake.RefuseOrientation(c.bRefuse);
    EXPECT_EQ(SetScreenOrientation(c.nOrientation), c.bResult);
    EXPECT_EQ(fake.Calls(), c.calls);
    EXPECT_EQ(fake.Orientation(), c.dwEnd);
    EXPECT_EQ(fake.Violations(), Lines{});
  }
}

TEST(ShowTaskBar, AppliesTheCommandToTheTaskBarWhenThereIsOne) {
  struct Case {
    const char* name;
    bool bPresent;
    int nCmdShow;
    bool bVisible;
    Lines calls;
  };
  const Case cases[] = {
      {"hide",
       true,
       SW_HIDE,
       false,
       {"FindWindowW(\"HHTaskBar\", null) -> HHTaskBar", "ShowWindow(HHTaskBar, SW_HIDE)"}},
      {"show",
       true,
       SW_SHOW,
       true,
       {"FindWindowW(\"HHTaskBar\", null) -> HHTaskBar", "ShowWindow(HHTaskBar, SW_SHOW)"}},
      {"no task bar", false, SW_HIDE, false, {"FindWindowW(\"HHTaskBar\", null) -> null"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CFakeWindows fake;
    CFakeWindowsScope scope(fake);
    fake.SetTaskBarPresent(c.bPresent);
    ShowTaskBar(c.nCmdShow);
    EXPECT_EQ(fake.Calls(), c.calls);
    EXPECT_EQ(fake.TaskBarVisible(), c.bVisible);
  }
}

TEST(SetFullScreen, HidesTheTaskBarSetsTheWorkAreaAndCoversTheScreen) {
  struct Case {
    const char* name;
    bool bTaskBar;
    int nExtraHeight;
    RECT rcWorkArea;
    Lines calls;
  };
  const Lines tail = {"GetSystemMetrics(SM_CXSCREEN) -> 240",
                      "GetSystemMetrics(SM_CYSCREEN) -> 320"};
  const Case cases[] = {
      {"task bar",
       true,
       0,
       {0, 0, 240, 320},
       {"FindWindowW(\"HHTaskBar\", null) -> HHTaskBar", "ShowWindow(HHTaskBar, SW_HIDE)", tail[0],
        tail[1], "SystemParametersInfoW(SPI_SETWORKAREA, 0, (0,0,240,320), SPIF_SENDCHANGE)",
        "MoveWindow(dlg102, 0, 0, 240, 320, 1)"}},
      {"no task bar, extra height",
       false,
       26,
       {0, 0, 240, 346},
       {"FindWindowW(\"HHTaskBar\", null) -> null", tail[0], tail[1],
        "SystemParametersInfoW(SPI_SETWORKAREA, 0, (0,0,240,346), SPIF_SENDCHANGE)",
        "MoveWindow(dlg102, 0, 0, 240, 320, 1)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CFakeWindows fake;
    CFakeWindowsScope scope(fake);
    fake.SetOrientation(DMDO_90);  // 240 x 320 after the turn
    fake.SetTaskBarPresent(c.bTaskBar);
    CWnd wnd;
    wnd.Attach(fake.CreateDialogWindow(IDD_RECOVERY));
    SetFullScreen(&wnd, SW_HIDE, c.nExtraHeight);
    EXPECT_EQ(fake.Calls(), c.calls);
    RECT rcArea = fake.WorkArea();
    EXPECT_EQ(FakeRectText(rcArea), FakeRectText(c.rcWorkArea));
    RECT rcWnd = fake.Window(wnd.m_hWnd).rc;
    EXPECT_EQ(FakeRectText(rcWnd), "(0,0,240,320)");
    EXPECT_FALSE(fake.TaskBarVisible());
  }
}

TEST(RebootDevice, TellsThePowerDriverClosesItThenRequestsTheRestart) {
  const std::string kOpen = "CreateFileW(\"PWR1:\", 0xc0000000, 0x3, null, 4, 0x0, null) -> ";
  const std::string kRestart = "KernelIoControl(IOCTL_HAL_REBOOT, null, 0, null, 0, null)";
  struct Case {
    const char* name;
    bool bDriver;
    BOOL bRestartResult;
    Lines calls;
    int nControls;
  };
  const Case cases[] = {
      {"driver",
       true,
       TRUE,
       {kOpen + "PWR1:", "DeviceIoControl(PWR1:, 7, {1}, 4, null, 0, out, null)",
        "CloseHandle(PWR1:)", kRestart},
       1},
      {"no driver", false, TRUE, {kOpen + "INVALID_HANDLE_VALUE", kRestart}, 0},
      {"restart refused",
       true,
       FALSE,
       {kOpen + "PWR1:", "DeviceIoControl(PWR1:, 7, {1}, 4, null, 0, out, null)",
        "CloseHandle(PWR1:)", kRestart + " -> 0"},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CFakeWindows fake;
    CFakeWindowsScope scope(fake);
    fake.SetPowerDriverPresent(c.bDriver);
    fake.SetRestartResult(c.bRestartResult);
    EXPECT_EQ(RebootDevice(), c.bRestartResult);
    EXPECT_EQ(fake.Calls(), c.calls);
    EXPECT_EQ(fake.PowerDriverControls(), c.nControls);
    EXPECT_EQ(fake.RestartRequests(), 1);
    EXPECT_EQ(fake.Violations(), Lines{});
  }
}

}  // namespace
