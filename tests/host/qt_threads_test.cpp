// Sends from the worker thread: they run on the user-interface thread, and a user-interface
// thread that waits for the worker never deadlocks against them.
#include <QProgressBar>
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

TEST_F(QtThreads, SendFromWorkerCompletesOnUiThreadWhileWorkerWaits) {
  m_wnd.Answer(WM_TEST_PING, [](WPARAM wParam, LPARAM) -> LRESULT { return 1000 + wParam; });
  HWND hDlg = m_hDlg;
  HWND hBar = ::GetDlgItem(m_hDlg, IDC_PROGRESS);
  std::atomic<bool> bDone{false};
  LRESULT rPing = 0, rRange = 0, rPos = 0, rPos2 = 0;
  std::thread worker([&] {
    rPing = ::SendMessageW(hDlg, WM_TEST_PING, 5, 0);
    rRange = ::SendMessageW(hBar, PBM_SETRANGE, 0, MAKELPARAM(0, 50));
    rPos = ::SendMessageW(hBar, PBM_SETPOS, 20, 0);
    rPos2 = ::SendMessageW(hBar, PBM_SETPOS, 80, 0);  // beyond the range: held at its end
    bDone = true;
  });
  // The worker's sends are served by the event loop here, not by a wait.
  bool bServed = PumpUntil([&] { return bDone.load(); });
  worker.join();
  ASSERT_TRUE(bServed);

  auto* bar = static_cast<QProgressBar*>(Backend().WidgetOf(hBar));
  std::vector<CSeenMessage> pings = m_wnd.Seen(WM_TEST_PING);
  ASSERT_EQ(pings.size(), 1u);
  EXPECT_EQ(pings[0].dwThread, m_dwUiThread);
  EXPECT_EQ(rPing, 1005);
  EXPECT_EQ(rRange, MAKELPARAM(0, 100));  // the control's initial range
  EXPECT_EQ(rPos, 0);
  EXPECT_EQ(rPos2, 20);
  EXPECT_EQ(bar->maximum(), 50);
  EXPECT_EQ(bar->value(), 50);
  EXPECT_EQ(::SendMessageW(hBar, PBM_GETPOS, 0, 0), 50);
}

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
