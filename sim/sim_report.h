// What the simulator saw of a run, gathered from the user-interface thread and read by whichever
// thread ends the run; turned into the JSON report (its schema is in the README) and the summary
// line.
#pragma once

#include <mutex>
#include <string>
#include <vector>

enum class EOutcome { Exit, Restart, Timeout, Interrupted };

struct CSimEnd {
  EOutcome eOutcome = EOutcome::Exit;
  int nExitCode = 0;          // when the program exited
  int nSignal = 0;            // when the run was interrupted: SIGTERM or SIGINT
  unsigned nOrientation = 0;  // DMDO_0 or DMDO_90, at the end
  bool bTaskBarVisible = true;
  int workArea[4] = {0, 0, 0, 0};
  bool bRestartRequested = false;
  bool bPowerDriverCalled = false;  // "PWR1:" got its control call
  long long nDurationMs = 0;        // from the simulator's start to the end
  std::string strImage;             // the image's host folder
  std::wstring strProgram;          // the program's device path
};

class CSimReport {
 public:
  // One distinct frame: the texts drawn on it in drawing order, and its screenshot's file name
  // ("" when none was saved).
  void AddScreen(const std::vector<std::wstring>& texts, const std::string& strShot);
  void AddMessageBox(const std::wstring& strCaption, const std::wstring& strText,
                     const std::string& strShot);
  // The next screenshot's number, from 1.
  int NextShotNumber();

  // The report as JSON text.
  std::string ToJson(const CSimEnd& end) const;
  // One line for standard error.
  std::string Summary(const CSimEnd& end) const;

 private:
  struct CBox {
    std::wstring strCaption;
    std::wstring strText;
    std::string strShot;
  };
  mutable std::mutex m_mutex;
  std::vector<std::vector<std::wstring>> m_screens;
  std::vector<std::string> m_screenShots;
  std::vector<CBox> m_boxes;
  int m_nShots = 0;
};

// Writes the whole file under a temporary name and renames it into place; false with the reason.
bool WriteFileAtomically(const std::string& strPath, const std::string& strContents,
                         std::string& strError);
