// Threads, named auto-reset events, recursive mutexes owned per thread, waits with time-outs, the
// last error per thread, and the join of a stopped thread that keeps serving its sends.
#include "platform/kernel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

struct CWaitArgs {
  HANDLE h;
  DWORD ms;
  std::atomic<DWORD> result{0xDEAD};
  std::atomic<DWORD> tid{0};
};

DWORD WaitProc(LPVOID p) {
  auto* args = static_cast<CWaitArgs*>(p);
  args->tid = GetCurrentThreadId();
  args->result = WaitForSingleObject(args->h, args->ms);
  return 0;
}

// Runs a wait on another thread and returns its result once the thread has ended.
DWORD WaitOnOtherThread(HANDLE h, DWORD ms) {
  CWaitArgs args{h, ms};
  HANDLE t = CreateThread(nullptr, 0, WaitProc, &args, 0, nullptr);
  EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  CloseHandle(t);
  return args.result;
}

TEST(Kernel, NamedAutoResetEventGivesOneSignalToOneWait) {
  HANDLE e = CreateEventW(nullptr, FALSE, FALSE, L"EventThread_1a2b_c0");
  HANDLE same = CreateEventW(nullptr, FALSE, FALSE, L"EventThread_1a2b_c0");
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  std::vector<DWORD> seen;
  seen.push_back(WaitForSingleObject(e, 0));
  SetEvent(same);
  SetEvent(e);  // not counted: still one signal
  seen.push_back(WaitForSingleObject(e, 0));
  seen.push_back(WaitForSingleObject(same, 0));
  SetEvent(e);
  seen.push_back(WaitOnOtherThread(e, INFINITE));
  seen.push_back(WaitOnOtherThread(e, 0));
  // A wait for ever, woken by a set from this thread once it is waiting.
  CWaitArgs args{e, INFINITE};
  HANDLE t = CreateThread(nullptr, 0, WaitProc, &args, 0, nullptr);
  seen.push_back(WaitForSingleObject(t, 0));
  SetEvent(same);
  seen.push_back(WaitForSingleObject(t, INFINITE));
  seen.push_back(args.result);
  EXPECT_EQ(seen, (std::vector<DWORD>{WAIT_TIMEOUT, WAIT_OBJECT_0, WAIT_TIMEOUT, WAIT_OBJECT_0,
                                      WAIT_TIMEOUT, WAIT_TIMEOUT, WAIT_OBJECT_0, WAIT_OBJECT_0}));
  for (HANDLE h : {t, e, same}) EXPECT_TRUE(CloseHandle(h));

  HANDLE initially = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(initially, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(initially, 0), WAIT_TIMEOUT);
  CloseHandle(initially);
  EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Kernel, MutexIsRecursiveAndOwnedPerThread) {
  HANDLE m = CreateMutexW(nullptr, FALSE, L"MUTEX_FOR_COPY_test");
  HANDLE same = CreateMutexW(nullptr, FALSE, L"MUTEX_FOR_COPY_test");
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  std::vector<DWORD> seen;
  seen.push_back(WaitForSingleObject(m, 0));
  seen.push_back(WaitForSingleObject(same, 0));  // the same mutex, taken again by its owner
  seen.push_back(WaitOnOtherThread(m, 20));
  std::atomic<BOOL> bReleased{TRUE};
  std::atomic<DWORD> dwError{0};
  std::thread([&] {
    bReleased = ReleaseMutex(m);  // not the owner
    dwError = GetLastError();
  }).join();
  EXPECT_FALSE(bReleased);
  EXPECT_EQ(dwError, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(ReleaseMutex(m));
  seen.push_back(WaitOnOtherThread(m, 0));  // still owned once
  EXPECT_TRUE(ReleaseMutex(same));
  EXPECT_FALSE(ReleaseMutex(m));            // no longer owned
  seen.push_back(WaitOnOtherThread(m, 0));  // free: that thread owned it and ended
  EXPECT_EQ(seen, (std::vector<DWORD>{WAIT_OBJECT_0, WAIT_OBJECT_0, WAIT_TIMEOUT, WAIT_TIMEOUT,
                                      WAIT_OBJECT_0}));
  CloseHandle(m);
  CloseHandle(same);
  HANDLE owned = CreateMutexW(nullptr, TRUE, nullptr);
  EXPECT_EQ(WaitOnOtherThread(owned, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(ReleaseMutex(owned));
  EXPECT_EQ(WaitOnOtherThread(owned, 0), WAIT_OBJECT_0);
  CloseHandle(owned);
}

TEST(Kernel, WaitsTimeOutAfterTheTimeAndFailOnBadHandles) {
  HANDLE e = CreateEventW(nullptr, FALSE, FALSE, L"orvane_test_kind");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(e, 50), WAIT_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  EXPECT_EQ(CreateMutexW(nullptr, FALSE, L"orvane_test_kind"), nullptr);  // a name of another kind
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  CloseHandle(e);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_FAILED);  // closed
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(CloseHandle(e));
  EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(0x7770), 0), WAIT_FAILED);
  EXPECT_FALSE(SetEvent(nullptr));
  EXPECT_FALSE(ReleaseMutex(nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Kernel, ThreadsReportTheirIdAndLastErrorAndEndAWaitWhenTheyReturn) {
  SetLastError(ERROR_DISK_FULL);
  HANDLE gate = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  CWaitArgs args{gate, INFINITE};
  DWORD tid = 0;
  HANDLE t = CreateThread(nullptr, 0, WaitProc, &args, 0, &tid);
  EXPECT_EQ(WaitForSingleObject(t, 10), WAIT_TIMEOUT);
  SetEvent(gate);
  EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);  // stays signalled
  EXPECT_EQ(args.tid.load(), tid);
  EXPECT_NE(tid, GetCurrentThreadId());
  CloseHandle(t);
  CloseHandle(gate);
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  // The last error is each thread's own.
  std::atomic<DWORD> before{1}, after{1};
  std::thread([&] {
    before = GetLastError();
    SetLastError(ERROR_ACCESS_DENIED);
    after = GetLastError();
  }).join();
  EXPECT_EQ(before, 0u);
  EXPECT_EQ(after, ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);  // from the refused CreateThread
}

TEST(Kernel, TerminateAsksTheThreadToStopAndJoinsIt) {
  struct CLoop {
    std::atomic<bool> running{false};
    std::atomic<bool> ended{false};
  } loop;
  HANDLE t = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        auto* l = static_cast<CLoop*>(p);
        l->running = true;
        while (!ThreadStopRequested()) std::this_thread::yield();
        l->ended = true;
        return 0;
      },
      &loop, 0, nullptr);
  while (!loop.running) std::this_thread::yield();
  EXPECT_TRUE(TerminateThread(t, 0));
  EXPECT_TRUE(loop.ended);  // joined: nothing runs after TerminateThread returned
  EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);
  EXPECT_FALSE(ThreadStopRequested());  // only the stopped thread sees the request
  CloseHandle(t);
  EXPECT_FALSE(TerminateThread(nullptr, 0));
}

// The join of a worker that is about to send to the user-interface thread keeps running the
// sends (the window backend's pump), so it never deadlocks against them.
TEST(Kernel, AForcedStopRunsTheWorkersSendsWhileItJoins) {
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
