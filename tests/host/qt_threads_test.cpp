// A send from the worker thread runs on the user-interface thread, and a user-interface thread
// that waits for the worker never deadlocks against it.
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/afxwin.h"
#include "platform/kernel.h"
#include "res/resource.h"
#include "tests/support/qt_fixture.h"

namespace {

constexpr UINT kPing = 0x0400 + 77;  // a message of the test's own

// Answers the ping with 77, noting the thread it ran on.
class CPingWnd : public CWnd {
 public:
  LRESULT WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) override {
    if (nMsg != kPing) return CWnd::WindowProc(nMsg, wParam, lParam);
    m_dwThread = GetCurrentThreadId();
    return 77;
  }
  std::atomic<DWORD> m_dwThread{0};
};

using QtThreads = CQtBackendTest;

TEST_F(QtThreads, JoiningAWorkerBlockedInASendDoesNotDeadlock) {
  CPingWnd wnd;
  wnd.Attach(Backend().CreateDialogFromTemplate(IDD_RECOVERY, nullptr));
  struct CShared {
    HWND hDlg;
    std::atomic<LRESULT> r{0};
  } shared{wnd.m_hWnd};
  HANDLE h = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        auto* s = static_cast<CShared*>(p);
        s->r = ::SendMessageW(s->hDlg, kPing, 0, 0);
        return 0;
      },
      &shared, 0, nullptr);
  // No event loop runs from here on: only the wait itself can serve the send.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (Backend().CrossThreadCalls().PendingCount() == 0 &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  ASSERT_EQ(Backend().CrossThreadCalls().PendingCount(), 1);
  EXPECT_EQ(WaitForSingleObject(h, 20000), WAIT_OBJECT_0);
  CloseHandle(h);
  EXPECT_EQ(shared.r.load(), 77);
  EXPECT_EQ(wnd.m_dwThread.load(), GetCurrentThreadId());
  Backend().DestroyWindow(wnd.Detach());
}

}  // namespace
