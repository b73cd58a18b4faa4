// Sends from the worker thread: they run on the user-interface thread, and a user-interface
// thread that waits for the worker never deadlocks against them.
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/kernel.h"
#include "res/resource.h"
#include "tests/host/qt_test_window.h"
#include "tests/support/qt_fixture.h"

namespace {

class QtThreads : public CQtBackendTest {
 protected:
  void SetUp() override {
    CQtBackendTest::SetUp();
    m_hDlg = Backend().CreateDialogFromTemplate(IDD_RECOVERY, nullptr);
    ASSERT_NE(m_hDlg, nullptr);
    m_wnd.Attach(m_hDlg);
    m_dwUiThread = GetCurrentThreadId();
  }
  void TearDown() override {
    m_wnd.Detach();
    Backend().DestroyWindow(m_hDlg);
    CQtBackendTest::TearDown();
  }
  HWND m_hDlg = nullptr;
  CTestWnd m_wnd;
  DWORD m_dwUiThread = 0;
};

TEST_F(QtThreads, JoiningWorkerBlockedInSendDoesNotDeadlock) {
  m_wnd.Answer(WM_TEST_PING, [](WPARAM, LPARAM) -> LRESULT { return 77; });
  struct CShared {
    HWND hDlg;
    std::atomic<LRESULT> r{0};
  } shared{m_hDlg};
  HANDLE h = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        auto* s = static_cast<CShared*>(p);
        s->r = ::SendMessageW(s->hDlg, WM_TEST_PING, 0, 0);
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
  std::vector<CSeenMessage> pings = m_wnd.Seen(WM_TEST_PING);
  ASSERT_EQ(pings.size(), 1u);
  EXPECT_EQ(pings[0].dwThread, m_dwUiThread);
}

}  // namespace
