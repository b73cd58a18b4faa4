#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "engine/event_thread.h"
#include "tests/engine/run_harness.h"

namespace {

using namespace std::chrono_literals;

// Waits for a condition that another thread makes true; fails after a generous bound.
template <class Pred>
bool WaitUntil(Pred pred, std::chrono::seconds bound = 30s) {
  auto end = std::chrono::steady_clock::now() + bound;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// The fake device whose file copies wait at a gate until the test opens it.
class CGatedDevice : public CFakeDevice {
 public:
  BOOL CopyFile(const std::wstring& strSource, const std::wstring& strDest,
                BOOL bFailIfExists) override {
    {
      std::unique_lock<std::mutex> lock(m_gate);
      ++m_nArrived;
      m_cv.notify_all();
      m_cv.wait(lock, [&] { return m_bOpen; });
    }
    return CFakeDevice::CopyFile(strSource, strDest, bFailIfExists);
  }
  void WaitArrived(int n) {
    std::unique_lock<std::mutex> lock(m_gate);
    m_cv.wait(lock, [&] { return m_nArrived >= n; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(m_gate);
    m_bOpen = true;
    m_cv.notify_all();
  }

 private:
  std::mutex m_gate;
  std::condition_variable m_cv;
  int m_nArrived = 0;
  bool m_bOpen = false;
};

std::string ThreadLine(const char* pszFormat, const CEventThread& worker) {
  char sz[128];
  std::snprintf(sz, sizeof sz, pszFormat,
                static_cast<unsigned>(reinterpret_cast<UINT_PTR>(worker.m_hThread)),
                worker.m_dwThreadId);
  return sz;
}

CEventThread* StartWorker(CRecoveryDlg& dlg) {
  return new CEventThread(&dlg.m_hStopEvent, RecoveryThreadProc, &dlg);
}

TEST(Worker, StartsNamesItsEventAndStopsWithinOneWaitWhenIdle) {
  CFakeDevice dev;
  CFakeDeviceScope scope(dev);
  WithDialog({}, [&](CTestRecoveryDlg& dlg, CFakeWindows&) {
    COldDiagCapture diag;
    CEventThread* pWorker = StartWorker(dlg);
    const std::string strStart = ThreadLine("[Start Thread] HANDLE->%x ID->%0x\n", *pWorker);
    const std::string strEnd = ThreadLine("[End Thread] HANDLE->%x ID->%0x\n", *pWorker);
    EXPECT_EQ(dlg.m_hStopEvent.load(), pWorker->m_hEvent);
    // The stop event answers to its name: thread handle and id in lower-case hexadecimal.
    wchar_t szName[64];
    std::swprintf(szName, 64, L"EventThread_%x_%x",
                  static_cast<unsigned>(reinterpret_cast<UINT_PTR>(pWorker->m_hThread)),
                  pWorker->m_dwThreadId);
    HANDLE hSame = CreateEventW(nullptr, FALSE, FALSE, szName);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(hSame);
    HANDLE hThread = pWorker->m_hThread;
    // Idle, it ends on the signal itself: no time-out line, and the thread is gone.
    delete pWorker;
    EXPECT_EQ(LookupHandle(hThread), nullptr);
    EXPECT_EQ(diag.Lines(), (std::vector<std::string>{strStart, strEnd}));
    EXPECT_EQ(dlg.m_nWorkerState.load(), WORKER_IDLE);
    EXPECT_EQ(Narrow(dev.Operations()), std::vector<std::string>{});
  });
}

TEST(Worker, AnEmptyListFinishesTheRunAndClearsTheStartRequest) {
  CFakeDevice dev;
  CFakeDeviceScope scope(dev);
  dev.AddFile(L"\\ResidentFlash\\keep.bin", "k");
  const CTree before = dev.Snapshot();
  WithDialog({}, [&](CTestRecoveryDlg& dlg, CFakeWindows& win) {
    win.ClearCalls();
    dlg.m_pWorker = StartWorker(dlg);
    dlg.m_bStart = true;
    EXPECT_TRUE(WaitUntil([&] { return dlg.m_nWorkerState == WORKER_FINISHED; }));
    EXPECT_TRUE(WaitUntil([&] { return !dlg.m_bStart; }));
    EXPECT_EQ(dlg.m_bSuccess.load(), FALSE);
    EXPECT_EQ(win.Calls(), std::vector<std::string>{});
  });
  EXPECT_EQ(Narrow(dev.Changes()), std::vector<std::string>{});
  EXPECT_EQ(dev.Snapshot(), before);
}

// The states go 2, 0 while the job runs, then 1; the start request is cleared after the state.
TEST(Worker, RunsEveryEntryAndReportsTheEndThroughItsState) {
  CGatedDevice dev;
  CFakeDeviceScope scope(dev);
  dev.AddFile(L"\\SDMMC\\Backup\\Navi\\a.txt", "a");
  dev.AddFile(L"\\SDMMC\\Backup\\Voice\\v.txt", "v");
  dev.AddFile(L"\\SDMMC\\OrvaneData\\AppData\\settings.ini", "s");
  const CEntries entries = {{L"\\SDMMC\\Backup\\Navi", L"\\ResidentFlash\\Navi"},
                            {L"\\SDMMC\\Backup\\Voice", L"\\ResidentFlash\\Voice"}};
  WithDialog(entries, [&](CTestRecoveryDlg& dlg, CFakeWindows&) {
    dlg.m_pWorker = StartWorker(dlg);
    EXPECT_EQ(dlg.m_nWorkerState.load(), WORKER_IDLE);
    dlg.m_bStart = true;
    dev.WaitArrived(1);
    EXPECT_EQ(dlg.m_nWorkerState.load(), WORKER_RUNNING);
    EXPECT_EQ(dlg.m_nIndex.load(), 0u);
    EXPECT_TRUE(dlg.m_bStart.load());
    dev.Open();
    EXPECT_TRUE(WaitUntil([&] { return dlg.m_nWorkerState == WORKER_FINISHED; }));
    EXPECT_TRUE(WaitUntil([&] { return !dlg.m_bStart; }));
    EXPECT_EQ(dlg.m_bSuccess.load(), TRUE);
    EXPECT_EQ(dlg.m_nIndex.load(), 1u);
  });
  EXPECT_TRUE(dev.Exists(L"\\ResidentFlash\\Navi\\a.txt"));
  EXPECT_TRUE(dev.Exists(L"\\ResidentFlash\\Voice\\v.txt"));
  EXPECT_FALSE(dev.Exists(L"\\SDMMC\\OrvaneData\\AppData"));
}

// A job that outlasts the 3000 ms wait: the time-out line, then the job stops at its next file
// and the thread is joined before the dialog goes.
TEST(Worker, StopDuringALongJobStopsItAtTheNextFile) {
  CGatedDevice dev;
  CFakeDeviceScope scope(dev);
  dev.AddFile(L"\\SDMMC\\Backup\\Navi\\a.txt", "a");
  dev.AddFile(L"\\SDMMC\\Backup\\Navi\\b.txt", "b");
  dev.AddFile(L"\\SDMMC\\OrvaneData\\AppData\\settings.ini", "s");
  CTree expected = dev.Snapshot();
  WithDialog({{L"\\SDMMC\\Backup\\Navi", L"\\ResidentFlash\\Navi"}}, [&](CTestRecoveryDlg& dlg,
                                                                         CFakeWindows&) {
    COldDiagCapture diag;
    CEventThread* pWorker = StartWorker(dlg);
    const std::string strStart = ThreadLine("[Start Thread] HANDLE->%x ID->%0x\n", *pWorker);
    const std::string strEnd = ThreadLine("[End Thread] HANDLE->%x ID->%0x\n", *pWorker);
    dlg.m_bStart = true;
    dev.WaitArrived(1);
    // Opens the gate only once the wrapper has given up waiting.
    std::thread opener([&] {
      WaitUntil([&] { return diag.Text().find("WAIT_TIMEOUT") != std::string::npos; }, 60s);
      dev.Open();
    });
    delete pWorker;
    opener.join();
    EXPECT_EQ(diag.Lines(), (std::vector<std::string>{strStart, "ignore dir:\\ResidentFlash\r\n",
                                                      "dele null:\\ResidentFlash\r\n",
                                                      "~Thread WAIT_TIMEOUT\n", strEnd}));
    EXPECT_EQ(dlg.m_bSuccess.load(), FALSE);
  });
  expected[L"\\ResidentFlash\\Navi"] = Folder();
  expected[L"\\ResidentFlash\\Navi\\a.txt"] = File("a");
  EXPECT_EQ(dev.Snapshot(), expected);
}

// The forced stop joins a worker that is about to send to the user-interface thread: the join
// keeps running the sends (the window backend's pump), so it never deadlocks against them.
TEST(Worker, AForcedStopRunsTheWorkersSendsWhileItJoins) {
  static std::atomic<bool> s_bSendPending{false}, s_bSendDone{false};
  SetCrossThreadPump([] {
    if (s_bSendPending.exchange(false)) s_bSendDone = true;
  });
  MarkUserInterfaceThread();
  HANDLE hThread = CreateThread(
      nullptr, 0,
      [](LPVOID) -> DWORD {
        while (!ThreadStopRequested()) Sleep(1);  // a job, until it is asked to stop
        s_bSendPending = true;                    // then a send that the other thread runs
        while (!s_bSendDone) Sleep(1);
        return 0;
      },
      nullptr, 0, nullptr);
  EXPECT_EQ(TerminateThread(hThread, 0), TRUE);
  EXPECT_TRUE(s_bSendDone.load());
  EXPECT_EQ(WaitForSingleObject(hThread, 0), WAIT_OBJECT_0);
  CloseHandle(hThread);
  SetCrossThreadPump(nullptr);
}

}  // namespace
