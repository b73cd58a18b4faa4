#include "engine/event_thread.h"

#include <cwchar>

#include "app/recovery_dlg.h"
#include "engine/recovery_run.h"
#include "platform/kernel.h"
#include "platform/runtime.h"

namespace {

constexpr DWORD kStopWaitMs = 3000;
constexpr DWORD kPollMs = 500;

unsigned HandleValue(HANDLE h) { return static_cast<unsigned>(reinterpret_cast<UINT_PTR>(h)); }

}  // namespace

CEventThread::CEventThread(std::atomic<HANDLE>* phEventOut, LPTHREAD_START_ROUTINE pfnThreadProc,
                           LPVOID pParam) {
  m_hThread = CreateThread(nullptr, 0, pfnThreadProc, pParam, 0, &m_dwThreadId);
  WCHAR szName[MAX_PATH];
  std::swprintf(szName, MAX_PATH, L"EventThread_%x_%0x", HandleValue(m_hThread), m_dwThreadId);
  m_hEvent = CreateEventW(nullptr, FALSE, FALSE, szName);
  *phEventOut = m_hEvent;
  DiagPrintA("[Start Thread] HANDLE->%x ID->%0x\n", HandleValue(m_hThread), m_dwThreadId);
}

CEventThread::~CEventThread() {
  SetEvent(m_hEvent);
  if (WaitForSingleObject(m_hThread, kStopWaitMs) == WAIT_TIMEOUT) {
    DiagPrintA("~Thread WAIT_TIMEOUT\n");
    // Stops the job at its next file and joins it: the thread never outlives its dialog.
    TerminateThread(m_hThread, 0);
  }
  CloseHandle(m_hEvent);
  DiagPrintA("[End Thread] HANDLE->%x ID->%0x\n", HandleValue(m_hThread), m_dwThreadId);
  CloseHandle(m_hThread);
  m_hThread = nullptr;
}

DWORD RecoveryThreadProc(LPVOID pParam) {
  CRecoveryDlg& dlg = *static_cast<CRecoveryDlg*>(pParam);
  for (;;) {
    // A wait that fails (no event yet) counts as a time-out.
    if (WaitForSingleObject(dlg.m_hStopEvent, kPollMs) == WAIT_OBJECT_0) return 0;
    if (ThreadStopRequested()) return 0;
    if (!dlg.m_bStart) continue;
    dlg.m_nWorkerState = WORKER_RUNNING;
    RunRecovery(dlg);
    // The finished state first: the timer acts on it and reads the outcome only after it.
    dlg.m_nWorkerState = WORKER_FINISHED;
    dlg.m_bStart = false;
  }
}
