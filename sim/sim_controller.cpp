#include "sim/sim_controller.h"

#include <unistd.h>

#include <QProgressBar>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/cstring.h"
#include "platform/host/device/temp_files.h"
#include "platform/host/device/termination.h"
#include "platform/run_log.h"
#include "platform/runtime.h"
#include "res/resource.h"

namespace {

constexpr int kBoxTextId = 0xFFFF;
constexpr DWORD kPowerCode = 7;

CSimController* g_pController = nullptr;

std::wstring TextOf(HWND hWnd) {
  if (!hWnd) return L"";
  WCHAR buf[1024];
  int n = ::GetWindowTextW(hWnd, buf, 1024);
  return std::wstring(buf, static_cast<size_t>(n));
}

void Say(const std::string& s) { ErrorPrintA("orvane-sim: %s", s.c_str()); }

constexpr size_t kProgressTextChars = 60;

}  // namespace

CSimController::CSimController(const CSimOptions& options, CHostBackends& backends)
    : m_options(options), m_backends(backends) {}

void CSimController::Start() {
  g_pController = this;
  m_bProgressLine = ::isatty(STDERR_FILENO) == 1;
  OnTerminationSignal([this](int nSignal) { Finish(EOutcome::Interrupted, nSignal); });
  SetExitHook(&CSimController::OnProgramExit);
  m_backends.Power().SetRestartHandler([this]() -> BOOL { Finish(EOutcome::Restart, 0); });
  m_backends.Windows().SetObserver(this);
  std::thread([this] {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(m_options.dTimeoutSeconds);
    std::unique_lock<std::mutex> lock(m_clockMutex);
    while (m_clockCv.wait_until(lock, deadline) != std::cv_status::timeout) {
    }
    lock.unlock();
    Finish(EOutcome::Timeout, 0);
  }).detach();
}

void CSimController::OnProgramExit(int nCode) { g_pController->Finish(EOutcome::Exit, nCode); }

CSimEnd CSimController::CollectEnd(EOutcome eOutcome, int nCode) {
  CSimEnd end;
  end.eOutcome = eOutcome;
  (eOutcome == EOutcome::Interrupted ? end.nSignal : end.nExitCode) = nCode;
  end.nDurationMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - m_start)
                        .count();
  end.strImage = m_options.strImage;
  end.strProgram = m_options.strProgram;
  end.nOrientation = m_backends.Display().Orientation();
  end.bTaskBarVisible = m_backends.Display().TaskBarVisible();
  RECT rc = m_backends.Display().WorkArea();
  end.workArea[0] = rc.left;
  end.workArea[1] = rc.top;
  end.workArea[2] = rc.right;
  end.workArea[3] = rc.bottom;
  end.bRestartRequested = m_backends.Power().RestartRequests() > 0;
  for (const auto& call : m_backends.Power().DriverCalls())
    if (call.dwCode == kPowerCode) end.bPowerDriverCalled = true;
  return end;
}

void CSimController::Finish(EOutcome eOutcome, int nCode) {
  if (m_bFinishing.exchange(true)) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));  // the first way out ends us
  }
  std::fflush(stdout);
  TempFiles::RemoveAll();  // whatever the way out, no replace in progress leaves its file
  SetStatusLine("");
  CSimEnd end = CollectEnd(eOutcome, nCode);
  int nStatus = 1;
  std::string strHow;
  switch (eOutcome) {
    case EOutcome::Exit:
      nStatus = nCode == 0 ? 0 : 1;
      strHow = "the program exited with code " + std::to_string(nCode);
      break;
    case EOutcome::Restart:
      nStatus = 3;
      strHow = "the device restarted";
      break;
    case EOutcome::Timeout:
      nStatus = 124;
      strHow = "timed out";
      break;
    case EOutcome::Interrupted:
      nStatus = 128 + nCode;
      strHow = "interrupted by signal " + std::to_string(nCode);
      break;
  }
  if (!m_options.strReport.empty()) {
    std::string strError;
    if (WriteFileAtomically(m_options.strReport, m_report.ToJson(end), strError)) {
      Say("report in " + m_options.strReport);
    } else {
      Say(strError);
      nStatus = 1;
    }
  }
  if (!m_options.strScreenshots.empty()) Say("screenshots in " + m_options.strScreenshots);
  Say(m_report.Summary(end));
  CloseRunLog(nStatus, strHow);
  std::fflush(stderr);
  if (eOutcome == EOutcome::Interrupted) DieOfSignal(nCode);
  // Like the device going down: nothing more runs, no destructor races the worker.
  std::_Exit(nStatus);
}

std::string CSimController::SaveShot(const char* pszKind) {
  int nNumber = m_report.NextShotNumber();
  if (m_options.strScreenshots.empty()) return {};
  char name[64];
  std::snprintf(name, sizeof name, "%03d-%s.png", nNumber, pszKind);
  std::string strPath = m_options.strScreenshots + "/" + name;
  if (m_backends.Windows().RenderDisplay().save(QString::fromStdString(strPath), "PNG"))
    return name;
  Say("cannot write " + strPath);
  return {};
}

void CSimController::ShowProgress(HWND hDlg, const std::vector<std::wstring>& texts) {
  if (!m_bProgressLine) return;
  std::wstring strTexts;
  for (const std::wstring& t : texts) strTexts += (strTexts.empty() ? L"" : L" / ") + t;
  if (strTexts.size() > kProgressTextChars) strTexts = strTexts.substr(0, kProgressTextChars);
  std::string line = "orvane-sim: " + WideToText(strTexts);
  auto* pBar =
      qobject_cast<QProgressBar*>(m_backends.Windows().WidgetOf(::GetDlgItem(hDlg, IDC_PROGRESS)));
  if (pBar && pBar->isVisible() && pBar->maximum() > pBar->minimum())
    line += " [" +
            std::to_string((pBar->value() - pBar->minimum()) * 100 /
                           (pBar->maximum() - pBar->minimum())) +
            "%]";
  SetStatusLine(line);
}

void CSimController::OnWindowPainted(HWND hWnd) {
  CQtWindowBackend& windows = m_backends.Windows();
  UINT nTemplate = windows.TemplateOf(hWnd);
  if (nTemplate == IDD_MSGBOX) {
    OnBox(hWnd, ::GetDlgItem(hWnd, IDC_MSG_TEXT));
    return;
  }
  if (nTemplate != IDD_RECOVERY || !::IsWindowVisible(hWnd)) return;
  QImage frame = windows.RenderWindow(hWnd);
  if (frame == m_lastFrame) return;
  m_lastFrame = frame;
  const std::vector<std::wstring> texts = windows.PaintedTexts(hWnd);
  m_report.AddScreen(texts, SaveShot("screen"));
  ShowProgress(hWnd, texts);
  if (!m_bTapped) {
    m_bTapped = true;
    if (!m_options.bWindow && m_options.eTap != ETap::None)
      QTimer::singleShot(0, [this, hWnd] { Tap(hWnd); });
  }
}

void CSimController::Tap(HWND hDlg) {
  int nID = m_options.eTap == ETap::Yes ? IDC_YES : IDC_NO;
  HWND hButton = ::GetDlgItem(hDlg, nID);
  if (!hButton || !m_backends.Windows().ClickButton(hButton))
    Say(std::string("could not tap ") + (nID == IDC_YES ? "YES" : "NO"));
}

void CSimController::OnMessageBoxShown(HWND hBox) { OnBox(hBox, ::GetDlgItem(hBox, kBoxTextId)); }

void CSimController::OnBox(HWND hBox, HWND hText) {
  if (!m_seenBoxes.insert(hBox).second) return;
  m_report.AddMessageBox(TextOf(hBox), TextOf(hText), SaveShot("message"));
  if (m_options.bWindow) return;
  QTimer::singleShot(0, [this, hBox] {
    HWND hOk = ::GetDlgItem(hBox, IDOK);
    if (hOk && !m_backends.Windows().ClickButton(hOk)) Say("could not acknowledge a message box");
  });
}
