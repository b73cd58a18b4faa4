// Termination by image name: the first running program of that name in process id order, in any
// case, never the calling program itself, and only when it really ended is it told; the snapshot
// and handles closed on every path.
#include "engine/kill_process.h"

#include <cstdio>
#include <filesystem>

#include "tests/engine/engine_fixture.h"

namespace {

TEST(KillProcessByName, TerminatesOnlyTheFirstMatchAndTellsOnlyAnEnd) {
  struct {
    const char* pszName;
    const wchar_t* pszAsked;
    int nFault;  // 0 none, 1 the first will not die, 2 cannot be opened, 3 a name with a suffix
    std::vector<std::string> lines;
    std::vector<bool> alive;  // the program of the lower pid, then the other
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
      {"a file really named \"... (deleted)\": by that name",
       L"navi.exe (deleted)",
       3,
       {"terminate navi.exe (deleted) ok\r\n"},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszName);
    CWorld world;
    // Pids wrap, and other tests may set the next one, so the order is read, not assumed.
    CProgram* pFirst = &world.Run("ResidentFlash/A/NAVI.EXE");
    CProgram* pSecond =
        &world.Run(c.nFault == 3 ? "SDMMC/B/navi.exe (deleted)" : "SDMMC/B/navi.exe");
    const CProgram* pNamed = pSecond;
    if (pSecond->Pid() < pFirst->Pid()) std::swap(pFirst, pSecond);
    if (c.nFault == 1) world.m_dev.Immortal(pFirst->Pid());
    if (c.nFault == 2) world.m_dev.Fail(EOp::kOpenProcess, ERROR_ACCESS_DENIED);
    CHandleWatch handles;
    CDiagCapture diag;
    KillProcessByName(c.pszAsked);
    EXPECT_EQ(diag.Lines(), c.lines);
    EXPECT_EQ((std::vector<bool>{pFirst->Alive(), pSecond->Alive()}),
              (c.nFault == 3 ? std::vector<bool>{pFirst != pNamed, pSecond != pNamed} : c.alive));
    EXPECT_EQ(handles.Leaked(), std::vector<UINT_PTR>{});
  }
}

// This test run from inside a device image as its program X.EXE, with another X.EXE started
// after it: asked to end X.EXE it passes over itself and ends the other.
TEST(KillProcessByName, PassesOverTheCallingProgramForTheNextOfItsName) {
  if (const char* pszRoot = std::getenv("ORVANE_TEST_IMAGE")) {  // the program in the image
    CHostDevice dev(pszRoot);
    CDeviceScope scope(dev);
    while (dev.SnapshotProcesses().size() < 2) Sleep(1);  // until the other one runs
    KillProcessByName(L"X.EXE");
    return;
  }
  CTempImage image;
  image.Folder("SDMMC");
  std::filesystem::copy_file("/proc/self/exe", image.Host("SDMMC/X.EXE"));
  // Its output read whole, once the other X.EXE has started.
  FILE* pOut =
      ::popen(("exec env ORVANE_TEST_IMAGE=" + image.Root() + " " + image.Host("SDMMC/X.EXE") +
               " --gtest_filter=KillProcessByName.PassesOverTheCallingProgramForTheNextOfItsName")
                  .c_str(),
              "r");
  ASSERT_NE(pOut, nullptr);
  CProgram other(image.Host("ResidentFlash/X.EXE"));
  std::string strOut;
  for (char buf[256]; ::fgets(buf, sizeof buf, pOut);) strOut += buf;
  EXPECT_EQ(::pclose(pOut), 0);
  EXPECT_NE(strOut.find("terminate X.EXE ok\r\n"), std::string::npos);
  EXPECT_FALSE(other.Alive());
}

}  // namespace
