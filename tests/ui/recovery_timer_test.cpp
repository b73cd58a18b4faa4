// The refresh and restart timers of the recovery dialog against the recording fake: the
// countdown, the end of the run handled once, the failure box and default processing.
#include "engine/copy_error.h"
#include "tests/ui/screen_fixture.h"

namespace {

using Lines = std::vector<std::string>;

const Lines kRestart = {
    "CreateFileW(\"PWR1:\", 0xc0000000, 0x3, null, 4, 0x0, null) -> PWR1:",
    "DeviceIoControl(PWR1:, 7, {1}, 4, null, 0, out, null)",
    "CloseHandle(PWR1:)",
    "KernelIoControl(IOCTL_HAL_REBOOT, null, 0, null, 0, null)",
};

Lines Join(std::initializer_list<Lines> parts) {
  Lines out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace

class TimerTest : public CScreenFixture {
 protected:
  void SetUp() override {
    CScreenFixture::SetUp();
    g_dwLastCopyError = 0;
  }
  void TearDown() override {
    g_dwLastCopyError = 0;
    CScreenFixture::TearDown();
  }
  // The timers as the dialog and the job start them.
  void StartTimers(bool bRestart) {
    ::SetTimer(m_hDlg, IDT_PROGRESS, 200, nullptr);
    if (bRestart) ::SetTimer(m_hDlg, IDT_RESTART, 1000, nullptr);
    Fake().ClearCalls();
  }
};

TEST_F(TimerTest, CountdownShowsFiveToZeroAndRestartsOnTheSixthTick) {
  SetProgress(TRUE, 7, 7, 5);
  StartTimers(true);
  const Lines kTickOnly = {"> WM_TIMER(dlg102, 16)", "InvalidateRect(dlg102, null, 1)"};
  std::vector<LONG> shown;
  for (int nTick = 1; nTick <= 5; ++nTick) {
    EXPECT_EQ(Tick(IDT_RESTART), kTickOnly) << "tick " << nTick;
    Paint();
    shown.push_back(m_pDlg->m_nCountdown);
    EXPECT_EQ(Fake().Frames().back().texts,
              (std::vector<std::wstring>{L"Recovery completed!",
                                         L"Restart in " + std::to_wstring(5 - nTick) + L" s"}));
    EXPECT_EQ(Fake().RestartRequests(), 0) << "tick " << nTick;
  }
  EXPECT_EQ(shown, (std::vector<LONG>{4, 3, 2, 1, 0}));
  // The sixth tick stops the timer, then asks for the restart; no default processing either way.
  EXPECT_EQ(
      Tick(IDT_RESTART),
      Join({{"> WM_TIMER(dlg102, 16)", "InvalidateRect(dlg102, null, 1)", "KillTimer(dlg102, 16)"},
            kRestart}));
  EXPECT_EQ(Fake().RestartRequests(), 1);
  EXPECT_FALSE(Fake().HasTimer(m_hDlg, IDT_RESTART));
  // A restart that returns leaves the screen on 0; the refresh goes on repainting it.
  Tick(IDT_PROGRESS);
  Paint();
  EXPECT_EQ(Fake().Frames().back().texts,
            (std::vector<std::wstring>{L"Recovery completed!", L"Restart in 0 s"}));
  EXPECT_EQ(Fake().Violations(), Lines{});
}

TEST_F(TimerTest, OnlyTheRefreshTickReachesDefaultProcessing) {
  struct {
    UINT_PTR nId;
    LONG nState, nCountdown;
    Lines calls;
  } cases[] = {
      {IDT_PROGRESS,
       WORKER_IDLE,
       5,
       {"> WM_TIMER(dlg102, 10)", "InvalidateRect(dlg102, null, 1)",
        "DefWindowProcW(dlg102, WM_TIMER, 10, 0)"}},
      {IDT_PROGRESS,
       WORKER_RUNNING,
       5,
       {"> WM_TIMER(dlg102, 10)", "InvalidateRect(dlg102, null, 1)",
        "DefWindowProcW(dlg102, WM_TIMER, 10, 0)"}},
      // A successful run's end only resets the state: the countdown already runs.
      {IDT_PROGRESS,
       WORKER_FINISHED,
       5,
       {"> WM_TIMER(dlg102, 10)", "InvalidateRect(dlg102, null, 1)",
        "DefWindowProcW(dlg102, WM_TIMER, 10, 0)"}},
      {IDT_RESTART, WORKER_IDLE, 3, {"> WM_TIMER(dlg102, 16)", "InvalidateRect(dlg102, null, 1)"}},
      {IDT_RESTART, WORKER_FINISHED, 0,
       Join({{"> WM_TIMER(dlg102, 16)", "InvalidateRect(dlg102, null, 1)", "KillTimer(dlg102, 16)"},
             kRestart})},
  };
  for (const auto& c : cases) {
    Fresh();
    SetProgress(TRUE, 7, 7, c.nCountdown);
    m_pDlg->m_nWorkerState = c.nState;
    StartTimers(true);
    EXPECT_EQ(Tick(c.nId), c.calls) << c.nId << " in state " << c.nState;
    // The restart tick does not touch the run's state; the refresh hands a finished run over.
    EXPECT_EQ(m_pDlg->m_nWorkerState.load(),
              c.nId == IDT_PROGRESS && c.nState == WORKER_FINISHED ? WORKER_IDLE : c.nState);
    EXPECT_EQ(Fake().Violations(), Lines{});
  }
}

TEST_F(TimerTest, FailedRunShowsTheBoxOnceThenRestarts) {
  struct {
    DWORD dwError;
    int nDismiss;  // IDOK taps the button, IDCANCEL is the cancel command
    const char* pszText;
  } cases[] = {
      {0, IDOK, "Recover failed(0)!Press OK to reboot."},
      {ERROR_DISK_FULL, IDOK, "Recover failed(112)!Press OK to reboot."},
      {ERROR_DISK_FULL, IDCANCEL, "Recover failed(112)!Press OK to reboot."},
      // The code is shown signed.
      {0xFFFFFFFF, IDOK, "Recover failed(-1)!Press OK to reboot."},
  };
  for (const auto& c : cases) {
    Fresh();
    SetProgress(FALSE, 3, 7);
    g_dwLastCopyError = c.dwError;
    m_pDlg->m_nWorkerState = WORKER_FINISHED;
    StartTimers(false);
    // While the box runs, the dialog's own refresh keeps ticking and only repaints.
    Fake().Script({CFakeAction::Repaint(), CFakeAction::Timer(IDT_PROGRESS),
                   c.nDismiss == IDOK ? CFakeAction::Tap(IDOK) : CFakeAction::Command(IDCANCEL)});
    Lines calls = Canonical(Tick(IDT_PROGRESS));
    const std::string strText = c.pszText;
    const Lines expected = Join({
        {"> WM_TIMER(dlg102, 10)",
         "InvalidateRect(dlg102, null, 1)",
         "RunModalDialog(130, null) -> dlg130",
         "> WM_INITDIALOG(dlg130)",
         "GetDC(null) -> dc1",
         "GetDeviceCaps(dc1, LOGPIXELSY) -> 96",
         "ReleaseDC(null, dc1)",
         "CreateFontIndirectW(\"宋体\" -26 0 charset=1) -> font1",
         "GetDlgItem(dlg130, 1018) -> dlg130/1018",
         "SendMessageW(dlg130/1018, WM_SETFONT, font1, 1)",
         "GetDlgItem(dlg130, 1) -> dlg130/1",
         "SendMessageW(dlg130/1, WM_SETFONT, font1, 1)",
         "> WM_PAINT(dlg130)",
         "DefWindowProcW(dlg130, WM_PAINT, 0, 0)",
         "> WM_ERASEBKGND(dlg130, dc2)",
         "SetWindowTextW(dlg130, \"Recover\")",
         "GetDlgItem(dlg130, 1018) -> dlg130/1018",
         "SetWindowTextW(dlg130/1018, \"" + strText + "\")",
         "DefWindowProcW(dlg130, WM_ERASEBKGND, dc2, 0)",
         "> WM_TIMER(dlg102, 10)",
         "InvalidateRect(dlg102, null, 1)",
         "DefWindowProcW(dlg102, WM_TIMER, 10, 0)",
         c.nDismiss == IDOK ? "> WM_COMMAND(dlg130, 1, BN_CLICKED)"
                            : "> WM_COMMAND(dlg130, 2, BN_CLICKED)",
         "EndDialog(dlg130, " + std::to_string(c.nDismiss) + ")",
         "DestroyWindow(dlg130)"},
        kRestart,
        {"DeleteObject(font1)", "DefWindowProcW(dlg102, WM_TIMER, 10, 0)"},
    });
    EXPECT_EQ(calls, expected) << c.pszText;
    EXPECT_EQ(m_pDlg->m_strMessage.ToUtf8(), strText);
    EXPECT_EQ(m_pDlg->m_nWorkerState.load(), WORKER_IDLE);
    // Later ticks find the run handled: no second box, no second restart.
    EXPECT_EQ(Tick(IDT_PROGRESS),
              (Lines{"> WM_TIMER(dlg102, 10)", "InvalidateRect(dlg102, null, 1)",
                     "DefWindowProcW(dlg102, WM_TIMER, 10, 0)"}));
    EXPECT_EQ(Fake().RestartRequests(), 1);
    EXPECT_EQ(Fake().Violations(), Lines{});
    EXPECT_EQ(Fake().AliveObjects(), Lines{});
  }
}

TEST_F(TimerTest, FailureScreenStaysBehindTheBox) {
  // After the box the dialog is left on the copying screen; its refresh keeps drawing it.
  SetProgress(FALSE, 3, 7);
  m_pDlg->m_nWorkerState = WORKER_FINISHED;
  StartTimers(false);
  Fake().Script({CFakeAction::Tap(IDOK)});
  Tick(IDT_PROGRESS);
  Paint();
  EXPECT_EQ(Fake().Frames().back().texts, std::vector<std::wstring>{L"Recovering Orvane...42%"});
  EXPECT_EQ(Fake().RestartRequests(), 1);
}
