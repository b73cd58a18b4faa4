// Threads, named events and mutexes, waits, handles and the last error: the kernel services the
// logic calls. One implementation on the standard library serves every backend; process handles
// come from the device backend and share the same handle table.
#pragma once

#include <memory>

#include "platform/wintypes.h"

// Per-thread last error, as the device keeps it.
DWORD GetLastError();
void SetLastError(DWORD dwErr);

// Thread started at once; the handle is a small integer, the id the kernel's thread id.
HANDLE CreateThread(void* lpSecurity, size_t dwStackSize, LPTHREAD_START_ROUTINE pfn, LPVOID pParam,
                    DWORD dwFlags, DWORD* pdwThreadId);
// No thread can be killed safely here: asks the thread to stop at its next check
// (ThreadStopRequested) and joins it. Never call it on the calling thread.
BOOL TerminateThread(HANDLE hThread, DWORD dwExitCode);
// True on a thread that TerminateThread has asked to stop; long jobs check it between files.
bool ThreadStopRequested();
DWORD GetCurrentThreadId();

// Named auto-reset event (bManualReset must be FALSE); the same name gives the same event.
HANDLE CreateEventW(void* lpSecurity, BOOL bManualReset, BOOL bInitialState, LPCWSTR pszName);
BOOL SetEvent(HANDLE hEvent);

// Named mutex, owned per thread and recursive, like the device's.
HANDLE CreateMutexW(void* lpSecurity, BOOL bInitialOwner, LPCWSTR pszName);
BOOL ReleaseMutex(HANDLE hMutex);

// WAIT_OBJECT_0 when signalled (thread ended, process gone, event set, mutex owned);
// WAIT_TIMEOUT after dwMilliseconds; WAIT_FAILED for a bad handle.
DWORD WaitForSingleObject(HANDLE h, DWORD dwMilliseconds);
BOOL CloseHandle(HANDLE h);
void Sleep(DWORD dwMilliseconds);

// Kernel objects behind handles. Backends derive process objects from it.
class CKernelObject {
 public:
  virtual ~CKernelObject() = default;
  // WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
  virtual DWORD Wait(DWORD dwMilliseconds) = 0;
};

// Registers an object in the handle table; the handle stays valid until CloseHandle.
HANDLE RegisterHandle(std::shared_ptr<CKernelObject> pObject);
// The object behind a handle, or null.
std::shared_ptr<CKernelObject> LookupHandle(HANDLE h);

// While the user-interface thread waits on a kernel object it keeps running what the worker sends
// to its windows, so a join can never deadlock against a pending send. The window backend
// installs the pump and marks its thread; nullptr removes it.
using PFN_CROSS_THREAD_PUMP = void (*)();
void SetCrossThreadPump(PFN_CROSS_THREAD_PUMP pfnPump);
void MarkUserInterfaceThread();
bool IsUserInterfaceThread();
