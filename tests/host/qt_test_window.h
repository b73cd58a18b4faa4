// A program window for the host tests: records every message that reaches it, with the thread it
// arrived on, and lets a test answer chosen messages itself.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "platform/afxwin.h"
#include "platform/kernel.h"

constexpr UINT WM_TEST_PING = 0x0400 + 77;  // a message of the test's own

struct CSeenMessage {
  UINT nMsg;
  WPARAM wParam;
  LPARAM lParam;
  DWORD dwThread;
};

class CTestWnd : public CWnd {
 public:
  // Answers nMsg with fn instead of the default processing.
  void Answer(UINT nMsg, std::function<LRESULT(WPARAM, LPARAM)> fn) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers.push_back({nMsg, std::move(fn)});
  }
  std::vector<CSeenMessage> Seen(UINT nMsg) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<CSeenMessage> out;
    for (const auto& m : m_seen)
      if (m.nMsg == nMsg) out.push_back(m);
    return out;
  }
  int Count(UINT nMsg) const { return static_cast<int>(Seen(nMsg).size()); }

  LRESULT WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) override {
    std::function<LRESULT(WPARAM, LPARAM)> fn;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_seen.push_back({nMsg, wParam, lParam, GetCurrentThreadId()});
      for (const auto& [n, f] : m_answers)
        if (n == nMsg) fn = f;
    }
    if (fn) return fn(wParam, lParam);
    return CWnd::WindowProc(nMsg, wParam, lParam);
  }

 private:
  mutable std::mutex m_mutex;
  std::vector<CSeenMessage> m_seen;
  std::vector<std::pair<UINT, std::function<LRESULT(WPARAM, LPARAM)>>> m_answers;
};
