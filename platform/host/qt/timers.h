// Window timers on QTimers. A tick is delivered as WM_TIMER (or to the timer procedure) from a
// posted call, never from inside the QTimer's own activation: Qt does not re-enter a timer whose
// handler is still running, but the device keeps ticking while a handler runs a modal box. As on
// the device, at most one tick of a timer waits for delivery at a time. User-interface thread
// only.
#pragma once

#include <QObject>
#include <QTimer>
#include <map>
#include <memory>
#include <utility>

#include "platform/winuser.h"

class CQtTimers : public QObject {
 public:
  // Sets or resets timer nID of hWnd; returns nID (0 for id 0 or no window).
  UINT_PTR Set(HWND hWnd, UINT_PTR nID, UINT uElapse, TIMERPROC pfnTimer);
  // FALSE when there is no such timer. A tick waiting for delivery is dropped.
  BOOL Kill(HWND hWnd, UINT_PTR nID);
  // Every timer of the window.
  void KillAll(HWND hWnd);
  int Count() const { return static_cast<int>(m_timers.size()); }
  // Period in milliseconds; 0 when there is no such timer.
  UINT Period(HWND hWnd, UINT_PTR nID) const;

 private:
  struct CTimer {
    std::unique_ptr<QTimer> pTimer;
    TIMERPROC pfnTimer = nullptr;
    bool bPending = false;
    unsigned nGeneration = 0;
  };
  using CKey = std::pair<HWND, UINT_PTR>;
  void OnTimeout(CKey key, unsigned nGeneration);
  void Deliver(CKey key, unsigned nGeneration);

  std::map<CKey, CTimer> m_timers;
  unsigned m_nGeneration = 0;
};
