// The simulator's side of a run: watches what the program draws, plays the user (taps on the
// first frame, acknowledges message boxes), saves screenshots, and ends the run on whichever way
// out comes first (program exit, device restart, time-out) with the report and the exit status.
#pragma once

#include <QImage>
#include <atomic>
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
  // Takes over the program's exit, the restart and the clock. Once per process.
  void Start();
  // Ends the run: report, summary on standard error, exit status; never returns. The first way
  // out wins; any later caller waits for the process to end.
  [[noreturn]] void Finish(EOutcome eOutcome, int nExitCode);

  // IQtWindowObserver.
  void OnWindowPainted(HWND hWnd) override;
  void OnMessageBoxShown(HWND hBox) override;

 private:
  static void OnProgramExit(int nCode);
  void OnBox(HWND hBox, HWND hText);
  void SaveShot(const char* pszKind);
  void Tap(HWND hDlg);
  CSimEnd CollectEnd(EOutcome eOutcome, int nExitCode);

  const CSimOptions& m_options;
  CHostBackends& m_backends;
  CSimReport m_report;
  QImage m_lastFrame;
  bool m_bTapped = false;
  std::set<HWND> m_seenBoxes;
  std::atomic<bool> m_bFinishing{false};
  std::mutex m_clockMutex;
  std::condition_variable m_clockCv;
};
