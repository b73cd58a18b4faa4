#include "engine/kill_process.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/engine/engine_test_support.h"
#include "tests/fakes/diag_capture.h"

namespace {

struct CProc {
  DWORD dwPid;
  std::wstring strImage;
  EFakeDeath eDeath = EFakeDeath::kDies;
};

struct CKillCase {
  const char* pszName;
  std::vector<CProc> procs;
  std::wstring strAsked;
  std::function<void(CFakeDevice&)> fnSetup;
  std::vector<std::wstring> ops;
  std::vector<std::string> lines;
  std::vector<DWORD> running;
};

TEST(KillProcessByName, TerminatesOnlyTheFirstMatchOtherThanItself) {
  const std::vector<CKillCase> cases = {
      {"first of two with the name, in any case",
       {{10, L"NAVI.EXE"}, {20, L"navi.exe"}},
       L"Navi.exe",
       nullptr,
       {L"Snapshot", L"OpenProcess 10", L"TerminateProcess 10", L"WaitProcess 10 2500"},
       {"terminate Navi.exe ok\r\n"},
       {20}},
      {"another name, a part of the name, a library",
       {{10, L"NAVI.EXE"}},
       L"NAVI",
       nullptr,
       {L"Snapshot"},
       {},
       {10}},
      {"a library of the same stem",
       {{10, L"NAVI.EXE"}},
       L"navi.dll",
       nullptr,
       {L"Snapshot"},
       {},
       {10}},
      {"refuses to be terminated",
       {{10, L"NAVI.EXE", EFakeDeath::kRefuses}},
       L"NAVI.EXE",
       nullptr,
       {L"Snapshot", L"OpenProcess 10", L"TerminateProcess 10 = 5",
        L"WaitProcess 10 2500 = timeout"},
       {},
       {10}},
      {"never ends",
       {{10, L"NAVI.EXE", EFakeDeath::kHangs}},
       L"NAVI.EXE",
       nullptr,
       {L"Snapshot", L"OpenProcess 10", L"TerminateProcess 10", L"WaitProcess 10 2500 = timeout"},
       {},
       {10}},
      {"the calling process is passed over for the next match",
       {{1000, L"RECOVERY.EXE"}, {1001, L"Recovery.exe"}},
       L"RECOVERY.EXE",
       nullptr,
       {L"Snapshot", L"OpenProcess 1001", L"TerminateProcess 1001", L"WaitProcess 1001 2500"},
       {"terminate RECOVERY.EXE ok\r\n"},
       {1000}},
      {"only the calling process matches",
       {{1000, L"RECOVERY.EXE"}},
       L"recovery.exe",
       nullptr,
       {L"Snapshot"},
       {},
       {1000}},
      {"no snapshot",
       {{10, L"NAVI.EXE"}},
       L"NAVI.EXE",
       [](CFakeDevice& dev) { dev.FailOnce(EFakeOp::kSnapshot, ERROR_NOT_ENOUGH_MEMORY); },
       {L"Snapshot = 8"},
       {},
       {10}},
      {"cannot be opened",
       {{10, L"NAVI.EXE"}},
       L"NAVI.EXE",
       [](CFakeDevice& dev) { dev.FailOnce(EFakeOp::kOpenProcess, ERROR_ACCESS_DENIED); },
       {L"Snapshot", L"OpenProcess 10 = 5"},
       {},
       {10}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszName);
    CFakeDevice dev;
    CFakeDeviceScope scope(dev);
    for (const auto& p : c.procs) dev.AddProcess(p.dwPid, p.strImage, {}, p.eDeath);
    if (c.fnSetup) c.fnSetup(dev);
    COldDiagCapture diag;
    COldHandleWatch handles;
    KillProcessByName(c.strAsked.c_str());
    EXPECT_EQ(Narrow(dev.Operations()), Narrow(c.ops));
    EXPECT_EQ(diag.Lines(), c.lines);
    EXPECT_EQ(dev.RunningProcesses(), c.running);
    // The snapshot and the process handle are closed on every way out.
    EXPECT_EQ(handles.Leaked(), std::vector<UINT_PTR>{});
  }
}

}  // namespace
