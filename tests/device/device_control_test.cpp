// Display orientation and restart through the host's simulated display and power driver. (The
// full screen and the task bar show in the program's start-up and ends.)
#include "device/device_control.h"

#include <gtest/gtest.h>

#include "res/resource.h"
#include "tests/support/image.h"
#include "tests/support/qt_fixture.h"

namespace {

using DeviceControl = CQtBackendTest;

TEST_F(DeviceControl, OrientationIsQueriedThenSetAndARefusingDisplayIsLeftAlone) {
  struct {
    const char* name;
    DWORD dwStart;
    int nTo;
    bool bRefuse;
    BOOL bResult;
    DWORD dwEnd;
    int nCalls;  // display calls made
  } cases[] = {
      {"turn", DMDO_0, DMDO_90, false, TRUE, DMDO_90, 2},
      {"turn back", DMDO_90, DMDO_0, false, TRUE, DMDO_0, 2},
      {"refused: the query is the only call", DMDO_0, DMDO_90, true, FALSE, DMDO_0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DEVMODEW dm{};
    dm.dmSize = sizeof dm;
    dm.dmFields = DM_DISPLAYORIENTATION;
    dm.dmDisplayOrientation = c.dwStart;
    m_display.ChangeSettings(&dm, CDS_RESET);
    m_display.SetRefusing(c.bRefuse);
    const int nBefore = m_display.SettingsCalls();
    EXPECT_EQ(SetScreenOrientation(c.nTo), c.bResult);
    EXPECT_EQ(m_display.Orientation(), c.dwEnd);
    EXPECT_EQ(m_display.SettingsCalls() - nBefore, c.nCalls);
  }
}

TEST_F(DeviceControl, RestartTellsThePowerDriverClosesItThenAsksForTheRestart) {
  struct {
    const char* name;
    bool bDriver;
    BOOL bRestarted;  // what the restart answers when it returns
    int nDriverCalls;
  } cases[] = {{"driver", true, TRUE, 1},
               {"no driver", false, TRUE, 0},
               {"restart refused", true, FALSE, 1}};
  int nRestarts = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    m_power.SetDriverPresent(c.bDriver);
    const size_t nCallsBefore = m_power.DriverCalls().size();
    CHandleWatch handles;
    m_power.SetRestartHandler([&, c] {
      // The driver has been told and closed by the time the restart is asked for.
      EXPECT_EQ(m_power.DriverCalls().size() - nCallsBefore, static_cast<size_t>(c.nDriverCalls));
      EXPECT_EQ(handles.Leaked(), std::vector<UINT_PTR>{});
      return c.bRestarted;
    });
    EXPECT_EQ(RebootDevice(), c.bRestarted);
    EXPECT_EQ(m_power.RestartRequests(), ++nRestarts);
    std::vector<std::pair<DWORD, DWORD>> calls;
    for (size_t i = nCallsBefore; i < m_power.DriverCalls().size(); ++i)
      calls.push_back({m_power.DriverCalls()[i].dwCode, m_power.DriverCalls()[i].dwInput});
    EXPECT_EQ(calls, (std::vector<std::pair<DWORD, DWORD>>(c.nDriverCalls, {7, 1})));
  }
}

}  // namespace
