// The recovery program in this process, as its modal run starts it: a device image in /dev/shm
// with the program's folder and Path.xml, the host backends, and the recovery dialog made from its
// template and initialised (display turned, full screen, lists read, worker waiting). The ticks
// are the test's to send: the window system's own timers are kept from ticking once seen. An end
// of the program is caught from the message that caused it; a restart is recorded and returns.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/runtime.h"
#include "tests/support/fault_device.h"
#include "tests/support/image.h"
#include "tests/support/qt_fixture.h"
#include "tools/screen_rig.h"

// Path.xml naming the entries (source, destination), count first.
inline std::string PathXml(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string s = "<Paths>\n  <Entry Count=\"" + std::to_string(entries.size()) + "\"";
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    s += " Src" + n + "=\"" + entries[i].first + "\" Dst" + n + "=\"" + entries[i].second + "\"";
  }
  return s + "/>\n</Paths>\n";
}

struct CProgramExit {
  int nCode;
};

class ProgramTest : public ::testing::Test {
 protected:
  static constexpr UINT kNever = 0x7FFFFFFF;  // a period no test outlives

  void SetUp() override {
    SetExitHook([](int nCode) { throw CProgramExit{nCode}; });
    m_nRestarts = 0;
    m_nRefreshPeriod = m_nRestartPeriod = 0;
    m_image.Folder("ResidentFlash");
    m_image.File("SDMMC/Recovery/Recovery.exe", "MZ");
  }
  void TearDown() override {
    // The program's own tear-down first: its worker may still be running on the fault device.
    if (m_pRig) Dlg().DestroyWindow();
    m_pUser.reset();
    m_pFaults.reset();
    m_pRig.reset();
    SetExitHook(nullptr);
  }

  // Starts the program with this Path.xml on a display of cx x cy in its normal orientation.
  void Start(const std::string& strPathXml, int cx = 320, int cy = 240, bool bRealScreen = false) {
    m_image.File("SDMMC/Recovery/Path.xml", strPathXml);
    CHostOptions options;
    options.strImageRoot = m_image.Root();
    options.strProgramPath = L"\\SDMMC\\Recovery\\Recovery.exe";
    options.nScreenWidth = cx;
    options.nScreenHeight = cy;
    options.bRealScreen = bRealScreen;
    options.fnRestart = [this] {
      ++m_nRestarts;
      return FALSE;
    };
    // A box at start-up would wait for ever: it is closed, and the test fails.
    ScreenRigApplication();
    QTimer unexpected;
    QObject::connect(&unexpected, &QTimer::timeout, [] {
      if (QWidget* pBox = QApplication::activeModalWidget()) {
        ADD_FAILURE() << "a box at start-up";
        pBox->close();
      }
    });
    unexpected.start(10);
    m_pRig = std::make_unique<CScreenRig>(options, true);
    m_pHost = std::make_unique<CHostDevice>(m_image.Root());
    m_pHost->SetModuleFileName(options.strProgramPath);
    m_pFaults = std::make_unique<CFaultDevice>(*m_pHost);
    m_pUser = std::make_unique<CBoxAnswerer>(Windows());
    m_nRefreshPeriod = Keep(IDT_PROGRESS);
  }

  CQtWindowBackend& Windows() { return m_pRig->Windows(); }
  CRecoveryDlg& Dlg() { return m_pRig->Dialog(); }
  HWND Hwnd() { return m_pRig->DialogWindow(); }
  HWND Item(int nID) { return ::GetDlgItem(Hwnd(), nID); }

  // A message to the dialog as the system sends it; the exit code when the program ended by it,
  // -1 otherwise.
  int Send(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    try {
      AfxCallWndProc(Hwnd(), nMsg, wParam, lParam);
    } catch (const CProgramExit& e) {
      return e.nCode;
    }
    return -1;
  }
  int Click(int nID) {
    return Send(WM_COMMAND, MAKEWPARAM(nID, BN_CLICKED), reinterpret_cast<LPARAM>(Item(nID)));
  }
  int Tick(UINT_PTR nID) { return Send(WM_TIMER, nID, 0); }
  // What a person sees of the shell and the dialog: "turned, no task bar, work area l,t,r,b;
  // dialog l,t,r,b; NO ...; YES ...; bar ...", each window "hidden" when it is.
  std::string State() {
    CHostDisplay& display = Windows().Display();
    auto rect = [](const RECT& rc) {
      return std::to_string(rc.left) + "," + std::to_string(rc.top) + "," +
             std::to_string(rc.right) + "," + std::to_string(rc.bottom);
    };
    std::string str = std::string(display.Orientation() == DMDO_90 ? "turned" : "normal") +
                      (display.TaskBarVisible() ? ", task bar" : ", no task bar") + ", work area " +
                      rect(display.WorkArea());
    for (auto [pszName, hWnd] : {std::pair{"dialog", Hwnd()},
                                 {"NO", Item(IDC_NO)},
                                 {"YES", Item(IDC_YES)},
                                 {"bar", Item(IDC_PROGRESS)}}) {
      RECT rc{};
      ::GetWindowRect(hWnd, &rc);
      str +=
          std::string("; ") + pszName + " " + rect(rc) + (::IsWindowVisible(hWnd) ? "" : " hidden");
    }
    return str;
  }
  // The dialog repainted, as a tick's invalidation brings it about: the texts it drew.
  std::vector<std::wstring> Shown() {
    m_pRig->Repaint();
    return Windows().PaintedTexts(Hwnd());
  }
  // Pumps until the worker has finished its run; the restart countdown's timer, once set, is
  // kept from ticking.
  void WaitForRun() {
    ASSERT_TRUE(PumpUntil([&] {
      if (!m_nRestartPeriod) m_nRestartPeriod = Keep(IDT_RESTART);
      return Dlg().m_nWorkerState == WORKER_FINISHED;
    }));
  }

  CTempImage m_image;
  std::unique_ptr<CScreenRig> m_pRig;
  std::unique_ptr<CHostDevice> m_pHost;
  std::unique_ptr<CFaultDevice> m_pFaults;  // over the program's device
  std::unique_ptr<CBoxAnswerer> m_pUser;
  std::atomic<int> m_nRestarts{0};
  UINT m_nRefreshPeriod = 0;  // as the program set its timers
  UINT m_nRestartPeriod = 0;

 private:
  // The timer's period; the timer itself stays set but never ticks.
  UINT Keep(UINT_PTR nID) {
    const UINT nPeriod = Windows().TimerPeriod(Hwnd(), nID);
    if (nPeriod) ::SetTimer(Hwnd(), nID, kNever, nullptr);
    return nPeriod;
  }
};
