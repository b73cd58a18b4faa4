// The simulator's side of a run: watches what the program draws, plays the user (taps on the
// first frame, acknowledges message boxes), saves screenshots, shows a progress line on a
// terminal, and ends the run on whichever way out comes first (program exit, device restart,
// time-out, SIGTERM or SIGINT) with the report, the log's closing line and the exit status.
#pragma once

#include <QImage>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>

#include "platform/host/install.h"
#include "sim/sim_options.h"
#include "sim/sim_report.h"

class CSimController : public IQtWindowObserver {
 public:
  CSimController(const CSimOptions& options, CHostBackends& backends);
  // Takes over the program's exit, the restart, the clock and the termination signals. Once per
  // process.
  void Start();
  // Ends the run: report, summary on standard error, exit status (nCode: the program's exit
  // code, or the signal that interrupted the run); never returns. The first way out wins; any
  // later caller waits for the process to end.
  [[noreturn]] void Finish(EOutcome eOutcome, int nCode);

  // IQtWindowObserver.
  void OnWindowPainted(HWND hWnd) override;
  void OnMessageBoxShown(HWND hBox) override;

 private:
  static void OnProgramExit(int nCode);
  void OnBox(HWND hBox, HWND hText);
  // Saves the display as the next screenshot; its file name, or "" when none is kept.
  std::string SaveShot(const char* pszKind);
  void ShowProgress(HWND hDlg, const std::vector<std::wstring>& texts);
  void Tap(HWND hDlg);
  CSimEnd CollectEnd(EOutcome eOutcome, int nCode);

  const CSimOptions& m_options;
  CHostBackends& m_backends;
  const std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
  bool m_bProgressLine = false;  // standard error is a terminal
  CSimReport m_report;
  QImage m_lastFrame;
  bool m_bTapped = false;
  std::set<HWND> m_seenBoxes;
  std::atomic<bool> m_bFinishing{false};
  std::mutex m_clockMutex;
  std::condition_variable m_clockCv;
};
