#include "platform/kernel.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace {

thread_local DWORD t_dwLastError = 0;

using Clock = std::chrono::steady_clock;

// Waits on cv until pred holds or the time is up; INFINITE waits for ever.
template <class Pred>
bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, DWORD ms, Pred pred) {
  if (ms == INFINITE) {
    cv.wait(lock, pred);
    return true;
  }
  return cv.wait_for(lock, std::chrono::milliseconds(ms), pred);
}

struct CThreadState {
  std::mutex mutex;
  std::condition_variable cv;
  bool bDone = false;
  std::atomic<bool> bStopRequested{false};
  std::atomic<DWORD> dwTid{0};
};

thread_local CThreadState* t_pThreadState = nullptr;

class CThreadObject : public CKernelObject {
 public:
  CThreadObject(LPTHREAD_START_ROUTINE pfn, LPVOID pParam) : m_state(std::make_shared<CThreadState>()) {
    auto state = m_state;
    std::mutex started;
    std::condition_variable startedCv;
    bool bHaveTid = false;
    m_thread = std::thread([state, pfn, pParam, &started, &startedCv, &bHaveTid] {
      t_pThreadState = state.get();
      state->dwTid = static_cast<DWORD>(::syscall(SYS_gettid));
      {
        // Notified under the lock: the creator may return, ending these locals, once it sees
        // the flag.
        std::lock_guard<std::mutex> lock(started);
        bHaveTid = true;
        startedCv.notify_one();
      }
      pfn(pParam);
      std::lock_guard<std::mutex> lock(state->mutex);
      state->bDone = true;
      state->cv.notify_all();
    });
    std::unique_lock<std::mutex> lock(started);
    startedCv.wait(lock, [&] { return bHaveTid; });
  }
  ~CThreadObject() override {
    if (!m_thread.joinable()) return;
    if (m_thread.get_id() == std::this_thread::get_id()) {
      m_thread.detach();
      return;
    }
    std::unique_lock<std::mutex> lock(m_state->mutex);
    bool bDone = m_state->bDone;
    lock.unlock();
    // A running thread whose last handle is closed keeps running on its own state.
    if (bDone)
      m_thread.join();
    else
      m_thread.detach();
  }
  DWORD Wait(DWORD ms) override {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    return WaitFor(m_state->cv, lock, ms, [&] { return m_state->bDone; }) ? WAIT_OBJECT_0
                                                                            : WAIT_TIMEOUT;
  }
  DWORD Tid() const { return m_state->dwTid; }
  BOOL RequestStop() {
    if (m_thread.get_id() == std::this_thread::get_id()) return FALSE;
    m_state->bStopRequested = true;
    return TRUE;
  }
  BOOL StopAndJoin() {
    if (!RequestStop()) return FALSE;
    if (m_thread.joinable()) m_thread.join();
    return TRUE;
  }

 private:
  std::shared_ptr<CThreadState> m_state;
  std::thread m_thread;
};

class CEventObject : public CKernelObject {
 public:
  explicit CEventObject(bool bSignalled) : m_bSignalled(bSignalled) {}
  DWORD Wait(DWORD ms) override {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!WaitFor(m_cv, lock, ms, [&] { return m_bSignalled; })) return WAIT_TIMEOUT;
    m_bSignalled = false;  // auto-reset: one waiter takes the signal
    return WAIT_OBJECT_0;
  }
  void Set() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bSignalled = true;
    m_cv.notify_one();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_bSignalled;
};

class CMutexObject : public CKernelObject {
 public:
  DWORD Wait(DWORD ms) override {
    DWORD self = GetCurrentThreadId();
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_dwOwner == self) {
      ++m_nCount;
      return WAIT_OBJECT_0;
    }
    if (!WaitFor(m_cv, lock, ms, [&] { return m_nCount == 0; })) return WAIT_TIMEOUT;
    m_dwOwner = self;
    m_nCount = 1;
    return WAIT_OBJECT_0;
  }
  BOOL Release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_nCount == 0 || m_dwOwner != GetCurrentThreadId()) return FALSE;
    if (--m_nCount == 0) {
      m_dwOwner = 0;
      m_cv.notify_one();
    }
    return TRUE;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  DWORD m_dwOwner = 0;
  int m_nCount = 0;
};

struct CHandleTable {
  std::mutex mutex;
  std::map<UINT_PTR, std::shared_ptr<CKernelObject>> objects;
  std::map<std::wstring, std::weak_ptr<CKernelObject>> names;
  UINT_PTR nNext = 4;
};

CHandleTable& Table() {
  static CHandleTable table;
  return table;
}

std::atomic<PFN_CROSS_THREAD_PUMP> g_pfnPump{nullptr};
std::atomic<DWORD> g_dwUiThread{0};

template <class T, class... Args>
HANDLE CreateNamed(LPCWSTR pszName, Args... args) {
  auto& table = Table();
  std::shared_ptr<CKernelObject> obj;
  bool bExisted = false;
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    if (pszName && *pszName) {
      auto it = table.names.find(pszName);
      if (it != table.names.end()) obj = it->second.lock();
      bExisted = obj != nullptr;
      if (!obj) {
        obj = std::make_shared<T>(args...);
        table.names[pszName] = obj;
      }
    } else {
      obj = std::make_shared<T>(args...);
    }
  }
  if (bExisted && !std::dynamic_pointer_cast<T>(obj)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  HANDLE h = RegisterHandle(obj);
  SetLastError(bExisted ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

}  // namespace

DWORD GetLastError() { return t_dwLastError; }
void SetLastError(DWORD dwErr) { t_dwLastError = dwErr; }

DWORD GetCurrentThreadId() {
  thread_local DWORD tid = static_cast<DWORD>(::syscall(SYS_gettid));
  return tid;
}

HANDLE RegisterHandle(std::shared_ptr<CKernelObject> pObject) {
  auto& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  UINT_PTR h = table.nNext;
  table.nNext += 4;
  table.objects[h] = std::move(pObject);
  return reinterpret_cast<HANDLE>(h);
}

std::shared_ptr<CKernelObject> LookupHandle(HANDLE h) {
  auto& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.objects.find(reinterpret_cast<UINT_PTR>(h));
  return it == table.objects.end() ? nullptr : it->second;
}

HANDLE CreateThread(void*, size_t, LPTHREAD_START_ROUTINE pfn, LPVOID pParam, DWORD,
                    DWORD* pdwThreadId) {
  if (!pfn) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto obj = std::make_shared<CThreadObject>(pfn, pParam);
  if (pdwThreadId) *pdwThreadId = obj->Tid();
  return RegisterHandle(obj);
}

BOOL TerminateThread(HANDLE hThread, DWORD) {
  auto obj = std::dynamic_pointer_cast<CThreadObject>(LookupHandle(hThread));
  if (!obj) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!obj->RequestStop()) return FALSE;
  // A pumping wait first: on the user-interface thread the worker's pending sends still run, so
  // the join below cannot deadlock against them.
  WaitForSingleObject(hThread, INFINITE);
  return obj->StopAndJoin();
}

bool ThreadStopRequested() { return t_pThreadState && t_pThreadState->bStopRequested; }

HANDLE CreateEventW(void*, BOOL bManualReset, BOOL bInitialState, LPCWSTR pszName) {
  if (bManualReset) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return CreateNamed<CEventObject>(pszName, bInitialState != FALSE);
}

BOOL SetEvent(HANDLE hEvent) {
  auto obj = std::dynamic_pointer_cast<CEventObject>(LookupHandle(hEvent));
  if (!obj) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  obj->Set();
  return TRUE;
}

HANDLE CreateMutexW(void*, BOOL bInitialOwner, LPCWSTR pszName) {
  HANDLE h = CreateNamed<CMutexObject>(pszName);
  DWORD dwErr = GetLastError();
  if (h && bInitialOwner) WaitForSingleObject(h, INFINITE);
  SetLastError(dwErr);
  return h;
}

BOOL ReleaseMutex(HANDLE hMutex) {
  auto obj = std::dynamic_pointer_cast<CMutexObject>(LookupHandle(hMutex));
  if (!obj || !obj->Release()) {
    SetLastError(obj ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE h, DWORD dwMilliseconds) {
  auto obj = LookupHandle(h);
  if (!obj) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  PFN_CROSS_THREAD_PUMP pump = g_pfnPump.load();
  if (!pump || !IsUserInterfaceThread()) return obj->Wait(dwMilliseconds);
  // On the user-interface thread: wait in short slices and run the worker's sends in between.
  const DWORD kSlice = 2;
  auto deadline = Clock::now() + std::chrono::milliseconds(dwMilliseconds);
  for (;;) {
    pump();
    DWORD slice = kSlice;
    if (dwMilliseconds != INFINITE) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return obj->Wait(0);
      slice = std::min<DWORD>(kSlice, static_cast<DWORD>(left.count()));
    }
    DWORD r = obj->Wait(slice);
    if (r != WAIT_TIMEOUT) return r;
  }
}

BOOL CloseHandle(HANDLE h) {
  std::shared_ptr<CKernelObject> obj;
  auto& table = Table();
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.objects.find(reinterpret_cast<UINT_PTR>(h));
    if (it == table.objects.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    obj = std::move(it->second);
    table.objects.erase(it);
  }
  obj.reset();  // outside the table lock: a thread object may join here
  return TRUE;
}

void Sleep(DWORD dwMilliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

void SetCrossThreadPump(PFN_CROSS_THREAD_PUMP pfnPump) { g_pfnPump = pfnPump; }
void MarkUserInterfaceThread() { g_dwUiThread = GetCurrentThreadId(); }
bool IsUserInterfaceThread() { return g_dwUiThread.load() == GetCurrentThreadId(); }
