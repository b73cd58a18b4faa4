// The timers after YES: the screen refresh, which also notices the end of the run, and the
// restart countdown.
#include "app/recovery_dlg.h"
#include "device/device_control.h"
#include "engine/copy_error.h"
#include "platform/run_log.h"
#include "ui/msg_box.h"

namespace {
constexpr LPCWSTR kFailedFormat = L"Recover failed(%d)!Press OK to reboot.";
constexpr LPCWSTR kFailedCaption = L"Recover";
}  // namespace

void CRecoveryDlg::OnTimer(UINT_PTR nIDEvent) {
  // The repaint runs after this handler returns, so it shows the values left here.
  Invalidate(TRUE);

  if (nIDEvent == IDT_RESTART) {
    // Five ticks show 5 down to 0; the sixth finds 0 and restarts.
    if (m_nCountdown.load() > 0) {
      m_nCountdown.fetch_sub(1);
      return;
    }
    KillTimer(IDT_RESTART);
    SetRunOutcome("restored");
    RebootDevice();
    return;
  }

  // Taking the finished state in one step hands the run's result to exactly one tick; the ticks
  // that arrive while the box below runs its own loop find it handled.
  LONG nFinished = WORKER_FINISHED;
  if (m_nWorkerState.compare_exchange_strong(nFinished, WORKER_IDLE) && !m_bSuccess.load()) {
    // The code is shown signed, as the device's own printf shows it.
    const int nCode = static_cast<int>(g_dwLastCopyError.load());
    SetRunOutcome("failed with code %d", nCode);
    m_strMessage.Format(kFailedFormat, nCode);
    CMsgBox box(m_strMessage, kFailedCaption, nullptr);
    box.DoModal();
    RebootDevice();
  }
  CWnd::OnTimer(nIDEvent);
}
