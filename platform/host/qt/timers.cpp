#include "platform/host/qt/timers.h"

#include <QElapsedTimer>
#include <algorithm>

#include "platform/afxwin.h"

namespace {

constexpr UINT kMinimumElapse = 10;  // the device's shortest period

DWORD TickCount() {
  static QElapsedTimer s_clock = [] {
    QElapsedTimer t;
    t.start();
    return t;
  }();
  return static_cast<DWORD>(s_clock.elapsed());
}

}  // namespace

UINT_PTR CQtTimers::Set(HWND hWnd, UINT_PTR nID, UINT uElapse, TIMERPROC pfnTimer) {
  if (!hWnd || nID == 0) return 0;
  CKey key{hWnd, nID};
  CTimer& timer = m_timers[key];
  if (!timer.pTimer) {
    timer.pTimer = std::make_unique<QTimer>();
    timer.pTimer->setTimerType(Qt::PreciseTimer);
    timer.nGeneration = ++m_nGeneration;
    unsigned nGeneration = timer.nGeneration;
    QObject::connect(timer.pTimer.get(), &QTimer::timeout, this,
                     [this, key, nGeneration] { OnTimeout(key, nGeneration); });
  }
  timer.pfnTimer = pfnTimer;
  timer.pTimer->start(static_cast<int>(std::max(uElapse, kMinimumElapse)));
  return nID;
}

BOOL CQtTimers::Kill(HWND hWnd, UINT_PTR nID) {
  auto it = m_timers.find(CKey{hWnd, nID});
  if (it == m_timers.end()) return FALSE;
  m_timers.erase(it);
  return TRUE;
}

UINT CQtTimers::Period(HWND hWnd, UINT_PTR nID) const {
  auto it = m_timers.find(CKey{hWnd, nID});
  return it == m_timers.end() ? 0 : static_cast<UINT>(it->second.pTimer->interval());
}

void CQtTimers::KillAll(HWND hWnd) {
  for (auto it = m_timers.begin(); it != m_timers.end();)
    it = it->first.first == hWnd ? m_timers.erase(it) : std::next(it);
}

void CQtTimers::OnTimeout(CKey key, unsigned nGeneration) {
  auto it = m_timers.find(key);
  if (it == m_timers.end() || it->second.nGeneration != nGeneration || it->second.bPending) return;
  it->second.bPending = true;
  QMetaObject::invokeMethod(
      this, [this, key, nGeneration] { Deliver(key, nGeneration); }, Qt::QueuedConnection);
}

void CQtTimers::Deliver(CKey key, unsigned nGeneration) {
  auto it = m_timers.find(key);
  if (it == m_timers.end() || it->second.nGeneration != nGeneration) return;
  it->second.bPending = false;
  TIMERPROC pfnTimer = it->second.pfnTimer;
  if (pfnTimer)
    pfnTimer(key.first, WM_TIMER, key.second, TickCount());
  else
    AfxCallWndProc(key.first, WM_TIMER, key.second, 0);
}
