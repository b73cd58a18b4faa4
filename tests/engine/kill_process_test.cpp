// Termination by image name: the first running program of that name in process id order, in any
// case, and only when it really ended is it told; the snapshot and handles closed on every path.
#include "engine/kill_process.h"

#include "tests/engine/engine_fixture.h"

namespace {

TEST(KillProcessByName, TerminatesOnlyTheFirstMatchAndTellsOnlyAnEnd) {
  struct {
    const char* pszName;
    const wchar_t* pszAsked;
    int nFault;  // 0 none, 1 the first will not die, 2 cannot be opened
    std::vector<std::string> lines;
    std::vector<bool> alive;  // NAVI.EXE, then navi.exe started after it
  } cases[] = {
      {"first of two with the name, in any case",
       L"Navi.exe",
       0,
       {"terminate Navi.exe ok\r\n"},
       {false, true}},
      {"another name, part of the name", L"NAVI", 0, {}, {true, true}},
      {"a library of the same stem", L"navi.dll", 0, {}, {true, true}},
      {"one that will not die: no line, the next left alone", L"NAVI.EXE", 1, {}, {true, true}},
      {"one that cannot be opened", L"NAVI.EXE", 2, {}, {true, true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszName);
    CWorld world;
    CProgram& first = world.Run("ResidentFlash/A/NAVI.EXE");
    CProgram& second = world.Run("SDMMC/B/navi.exe");
    if (c.nFault == 1) world.m_dev.Immortal(first.Pid());
    if (c.nFault == 2) world.m_dev.Fail(EOp::kOpenProcess, ERROR_ACCESS_DENIED);
    CHandleWatch handles;
    CDiagCapture diag;
    KillProcessByName(c.pszAsked);
    EXPECT_EQ(diag.Lines(), c.lines);
    EXPECT_EQ((std::vector<bool>{first.Alive(), second.Alive()}), c.alive);
    EXPECT_EQ(handles.Leaked(), std::vector<UINT_PTR>{});
  }
}

}  // namespace
