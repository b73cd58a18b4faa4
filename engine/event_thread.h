// The worker thread wrapper and the worker's procedure.
#pragma once

#include <atomic>

#include "platform/wintypes.h"

// Owns the worker thread and its named auto-reset stop event.
class CEventThread {
 public:
  // Starts pfnThreadProc(pParam) at once, creates the stop event "EventThread_%x_%0x" and stores
  // it in *phEventOut too (atomic: the worker may already be polling it).
  CEventThread(std::atomic<HANDLE>* phEventOut, LPTHREAD_START_ROUTINE pfnThreadProc,
               LPVOID pParam);
  CEventThread(const CEventThread&) = delete;
  CEventThread& operator=(const CEventThread&) = delete;
  // Signals, waits 3000 ms, and on time-out stops the job at its next file and joins it; a
  // thread is never left running against what it was given.
  ~CEventThread();

  HANDLE m_hThread = nullptr;
  DWORD m_dwThreadId = 0;
  HANDLE m_hEvent = nullptr;
};

// The worker: polls the dialog's start request every 500 ms and runs every entry; pParam is
// the CRecoveryDlg. Returns 0 when the stop event is signalled.
DWORD RecoveryThreadProc(LPVOID pParam);
