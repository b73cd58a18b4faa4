// Threads, named auto-reset events, recursive mutexes owned per thread, waits with time-outs, the
// last error per thread, and the join of a stopped thread that keeps serving its sends.
#include "platform/kernel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <sstream>
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

std::wstring Err() { return L"error " + std::to_wstring(GetLastError()); }
std::wstring Ok(BOOL b) { return b ? L"ok" : Err(); }
std::wstring Waited(DWORD r) {
  return r == WAIT_OBJECT_0  ? L"signalled"
         : r == WAIT_TIMEOUT ? L"timeout"
         : r == WAIT_FAILED  ? L"failed " + std::to_wstring(GetLastError())
                             : std::to_wstring(r);
}

// Handles by the names a script gives them; "null" and "bad" are never valid.
struct CScript {
  std::map<std::wstring, HANDLE> handles = {{L"null", nullptr},
                                            {L"bad", reinterpret_cast<HANDLE>(0x7770)}};
  std::map<std::wstring, std::pair<std::unique_ptr<CWaitArgs>, DWORD>> waits;  // by thread

  // One call "op name [arg...]" and what it answers. "other CALL" makes the call on a new thread;
  // "start t h" starts thread t waiting for ever on h, "result t" tells what that wait gave.
  std::wstring Do(const std::wstring& strCall) {
    std::wistringstream in(strCall);
    std::wstring op, a, b, c;
    in >> op >> a >> b >> c;
    if (op == L"other") {
      std::wstring out;
      std::thread([&] { out = Do(strCall.substr(6)); }).join();
      return out;
    }
    auto created = [&](HANDLE h) -> std::wstring {
      if (!h) return Err();
      handles[a] = h;
      return GetLastError() == ERROR_ALREADY_EXISTS ? L"exists" : L"new";
    };
    const LPCWSTR pszName = b == L"-" ? nullptr : b.c_str();
    if (op == L"event") return created(CreateEventW(nullptr, FALSE, c == L"1", pszName));
    if (op == L"manual") return created(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (op == L"mutex") return created(CreateMutexW(nullptr, c == L"1", pszName));
    if (op == L"set") return Ok(SetEvent(handles.at(a)));
    if (op == L"release") return Ok(ReleaseMutex(handles.at(a)));
    if (op == L"close") return Ok(CloseHandle(handles.at(a)));
    if (op == L"wait")
      return Waited(WaitForSingleObject(handles.at(a), b == L"inf" ? INFINITE : std::stoul(b)));
    if (op == L"late") {  // a wait that must last at least its time
      auto start = std::chrono::steady_clock::now();
      std::wstring out = Waited(WaitForSingleObject(handles.at(a), std::stoul(b)));
      bool bEarly =
          std::chrono::steady_clock::now() - start < std::chrono::milliseconds(std::stoul(b));
      return out + (bEarly ? L" early" : L"");
    }
    if (op == L"start") {
      auto& [args, tid] = waits[a];
      args = std::make_unique<CWaitArgs>(handles.at(b), INFINITE);
      handles[a] = CreateThread(nullptr, 0, WaitProc, args.get(), 0, &tid);
      return handles[a] ? L"started" : Err();
    }
    if (op == L"result") {
      auto& [args, tid] = waits.at(a);
      bool bOwnId = args->tid == tid && tid != GetCurrentThreadId();
      return Waited(args->result) + (bOwnId ? L"" : L" wrong id");
    }
    if (op == L"nothread")
      return Ok(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr) != nullptr);
    if (op == L"seterr") return SetLastError(std::stoul(a)), L"ok";
    if (op == L"err") return Err();
    return L"no such op " + op;
  }
};

TEST(Kernel, EventsMutexesThreadsAndWaitsAsScripts) {
  struct CCase {
    const char* name;
    std::wstring script, expected;  // calls and their outcomes, separated by "; "
  };
  const CCase cases[] = {
      {"a named auto-reset event gives one signal to one wait",
       L"event e EventThread_1a2b_c0 0; event same EventThread_1a2b_c0 0; wait e 0; set same; "
       L"set e; wait e 0; wait same 0; set e; other wait e inf; other wait e 0; start t e; "
       L"wait t 0; set same; wait t inf; wait t 0; result t; close t; close e; close same; "
       L"event i - 1; wait i 0; wait i 0; close i; manual m x",
       L"new; exists; timeout; ok; ok; signalled; timeout; ok; signalled; timeout; started; "
       L"timeout; "
       L"ok; signalled; signalled; signalled; ok; ok; ok; new; signalled; timeout; ok; error 87"},
      {"a mutex is recursive and owned per thread",
       L"mutex m MUTEX_FOR_COPY_test 0; mutex same MUTEX_FOR_COPY_test 0; wait m 0; wait same 0; "
       L"other wait m 20; other release m; release m; other wait m 0; release same; release m; "
       L"other wait m 0; close m; close same; mutex o - 1; other wait o 0; release o; "
       L"other wait o 0; close o",
       L"new; exists; signalled; signalled; timeout; error 5; ok; timeout; ok; error 5; "
       L"signalled; ok; ok; new; timeout; ok; signalled; ok"},
      {"waits time out after their time and fail on bad handles",
       L"event k orvane_test_kind 0; late k 50; mutex x orvane_test_kind 0; close k; wait k 0; "
       L"close k; wait bad 0; set null; release null",
       L"new; timeout; error 6; ok; failed 6; error 6; failed 6; error 6; error 6"},
      {"the last error is each thread's own",
       L"seterr 112; other err; other seterr 5; err; nothread; err",
       L"ok; error 0; ok; error 112; error 87; error 87"},
  };
  for (const CCase& c : cases) {
    SCOPED_TRACE(c.name);
    CScript script;
    std::wstring strGot;
    for (size_t nFrom = 0, nEnd; nFrom < c.script.size(); nFrom = nEnd + 2) {
      nEnd = std::min(c.script.find(L"; ", nFrom), c.script.size());
      strGot += (strGot.empty() ? L"" : L"; ") + script.Do(c.script.substr(nFrom, nEnd - nFrom));
    }
    EXPECT_EQ(strGot, c.expected);
  }
}

// A stop is a request the thread sees and a join; the join of a worker that is about to send to
// the user-interface thread keeps running the sends (the window backend's pump), so it never
// deadlocks against them.
TEST(Kernel, AForcedStopRunsTheWorkersSendsWhileItJoins) {
  static std::atomic<bool> s_bSendPending{false}, s_bSendDone{false}, s_bEnded{false};
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
        s_bEnded = true;
        return 0;
      },
      nullptr, 0, nullptr);
  EXPECT_EQ(TerminateThread(hThread, 0), TRUE);
  EXPECT_TRUE(s_bSendDone.load());
  EXPECT_TRUE(s_bEnded.load());  // joined: nothing runs after TerminateThread returned
  EXPECT_EQ(WaitForSingleObject(hThread, 0), WAIT_OBJECT_0);
  EXPECT_FALSE(ThreadStopRequested());  // only the stopped thread sees the request
  CloseHandle(hThread);
  SetCrossThreadPump(nullptr);
  EXPECT_FALSE(TerminateThread(nullptr, 0));
}

}  // namespace
