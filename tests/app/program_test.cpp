// The recovery program on the host backends: its start-up and layout, every end without a restart,
// a complete recovery with its countdown and restart, a failed one with its box, and its tear-down.
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QIcon>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <atomic>
#include <filesystem>
#include <optional>

#include "app/recovery_app.h"
#include "tests/app/program_fixture.h"

namespace {

using Texts = std::vector<std::wstring>;
const Texts kQuestion = {L"Orvane Emergency Recovery",
                         L"All user's settings will be lost, continue?"};
const std::string kNavi = PathXml({{"\\SDMMC\\Backup\\Navi", "\\ResidentFlash\\Navi"}});
// The shell and the dialog as the program lays them out on every panel: the device's turned
// 240 x 320, buttons of (240 - 90) / 2 with 30-pixel margins and gap, the bar the template's 22
// high, hidden.
const std::string kDesign =
    "turned, no task bar, work area 0,0,240,320; dialog 0,0,240,320; NO 30,140,105,190; "
    "YES 135,140,210,190; bar 10,170,230,192 hidden";

// Counts the paints of every widget while it lives.
struct CPaintCount : QObject {
  CPaintCount() { QCoreApplication::instance()->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* pEvent) override {
    m_nPaints += pEvent->type() == QEvent::Paint;
    return false;
  }
  int m_nPaints = 0;
};

TEST_F(ProgramTest, StartUpTurnsTheDisplayFillsTheScreenAndAsksTheQuestion) {
  // Panels in their own orientation.
  for (const auto& [cx, cy] : {std::pair{320, 240}, {320, 241}, {640, 480}, {272, 480}}) {
    SCOPED_TRACE(testing::Message() << cx << " x " << cy);
    m_image.Lay("SDMMC/Backup/Navi/a.txt=a");
    m_image.File("SDMMC/Recovery/Path.xml", kNavi);
    const CTree before = m_image.Snapshot();
    CDiagCapture diag;
    Start(kNavi, cx, cy);
    EXPECT_EQ(diag.Lines().size(), 1u);  // the worker's start line
    EXPECT_EQ(State(), kDesign);
    auto* bar = qobject_cast<QProgressBar*>(Windows().WidgetOf(Item(IDC_PROGRESS)));
    EXPECT_EQ(std::make_pair(bar->minimum(), bar->maximum()), std::make_pair(0, 100));
    EXPECT_EQ(::SendMessageW(Item(IDC_PROGRESS), PBM_SETSTEP, 1, 0), 1);
    EXPECT_FALSE(Windows().WidgetOf(Hwnd())->window()->windowIcon().isNull());
    EXPECT_EQ(m_nRefreshPeriod, 200u);
    EXPECT_EQ(Dlg().m_arrSrcPaths, CStringArray{L"\\SDMMC\\Backup\\Navi"});
    EXPECT_EQ(Dlg().m_arrDstPaths, CStringArray{L"\\ResidentFlash\\Navi"});
    // A refresh tick on the question screen repaints it and nothing more.
    EXPECT_EQ(Shown(), kQuestion);
    EXPECT_EQ(Tick(IDT_PROGRESS), -1);
    EXPECT_EQ(Shown(), kQuestion);
    EXPECT_EQ(m_pUser->m_boxes.size() + m_nRestarts, 0u);
    // Path.xml read and written back as it was; nothing else touched.
    EXPECT_EQ(m_image.Snapshot(), before);
    TearDown();
    SetUp();
  }
}

// On the system's own screen (Qt's offscreen one here, 400 x 300): one window covering it, no task
// bar, the device's turned 240 x 320 drawn scaled to fit, turned a quarter anticlockwise and back
// (and further as the panel is mounted), and a tap where YES is drawn turned back onto YES.
TEST_F(ProgramTest, OnTheSystemsScreenTheDialogIsDrawnTurnedAndTapsAreTurnedBack) {
  // ORVANE_PANEL_ROTATION, the clockwise quarter turns it adds, and YES's centre (172, 165) on
  // the screen: scaled by 1.25 and at (206, 300 - 215) turned anticlockwise; upright at 0.9375
  // and centred (87 + 162, 155); turned clockwise (400 - 206, 215).
  const std::tuple<const char*, int, QPointF> cases[] = {
      {"", 0, {206, 85}}, {"90", 1, {249, 155}}, {"180", 2, {194, 215}}};
  for (const auto& [pszMount, nMount, ptYes] : cases) {
    SCOPED_TRACE(pszMount);
    ::setenv("ORVANE_PANEL_ROTATION", pszMount, 1);
    m_image.Lay("SDMMC/Backup/Navi/a.txt=a");
    Start(kNavi, 0, 0, true);
    ::unsetenv("ORVANE_PANEL_ROTATION");
    CQtScreen* pScreen = Windows().Screen();
    EXPECT_EQ(pScreen->geometry(), QGuiApplication::primaryScreen()->geometry());
    EXPECT_EQ(State(), kDesign);
    EXPECT_EQ(::FindWindowW(L"HHTaskBar", nullptr), nullptr);
    m_pRig->Repaint();
    DEVMODEW dm{};
    dm.dmSize = sizeof dm;
    dm.dmFields = DM_DISPLAYORIENTATION;
    for (DWORD dwTurn : {DMDO_90, DMDO_0, DMDO_90}) {
      dm.dmDisplayOrientation = dwTurn;
      ASSERT_EQ(::ChangeDisplaySettingsEx(nullptr, &dm, nullptr, 0, nullptr),
                DISP_CHANGE_SUCCESSFUL);
      const int nTurns = ((dwTurn == DMDO_90 ? 3 : 0) + nMount) % 4;
      EXPECT_EQ(pScreen->Grab(),
                Windows().RenderDisplay().transformed(QTransform().rotate(90 * nTurns)));
    }
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      QMouseEvent tap(type, ptYes, pScreen->viewport()->mapToGlobal(ptYes), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                      Qt::NoModifier);
      QApplication::sendEvent(pScreen->viewport(), &tap);
    }
    EXPECT_FALSE(::IsWindowVisible(Item(IDC_YES)));  // the run has started
    WaitForRun();
    TearDown();
    SetUp();
  }
}

TEST_F(ProgramTest, EveryEndWithoutRestartPutsTheShellBackAndExitsWithZero) {
  const std::tuple<const char*, std::string, int> cases[] = {
      {"NO", kNavi, IDC_NO},
      {"YES, first source missing",
       PathXml({{"\\SDMMC\\Missing", "\\ResidentFlash"}, {"\\SDMMC\\Backup\\Navi", "\\x"}}),
       IDC_YES},
      // No entry to read: ends as a missing source does, instead of reading past the lists.
      {"YES, empty lists", PathXml({}), IDC_YES},
      // An empty source names no folder (it would read as the device's root).
      {"YES, empty source text", PathXml({{"", "\\ResidentFlash"}}), IDC_YES},
  };
  for (const auto& [pszName, strXml, nButton] : cases) {
    SCOPED_TRACE(pszName);
    m_image.Lay("SDMMC/Backup/Navi/a.txt=a ResidentFlash/Navi/old.txt=o");
    m_image.File("SDMMC/Recovery/Path.xml", strXml);
    const CTree before = m_image.Snapshot();
    Start(strXml);
    EXPECT_EQ(Click(nButton), 0);
    EXPECT_EQ(State().substr(0, 40), "normal, task bar, work area 0,0,320,214;");
    EXPECT_EQ(m_nRestarts, 0);
    EXPECT_FALSE(Dlg().m_bStart.load());
    EXPECT_EQ(m_image.Snapshot(), before);
    TearDown();
    SetUp();
  }
}

TEST_F(ProgramTest, YesRestoresTheDeviceAndRestartsAfterTheCountdown) {
  m_image.Lay(
      "SDMMC/Backup/Navi/NAVI.EXE=v2 SDMMC/Backup/Navi/data/map.dat=m "
      "ResidentFlash/Navi/old.txt=o SDMMC/OrvaneData/AppData/state.dat=s");
  m_image.File("SDMMC/Recovery/Path.xml", kNavi);
  CTree expected = m_image.Snapshot();
  for (const wchar_t* psz : {L"\\ResidentFlash\\Navi\\old.txt", L"\\SDMMC\\OrvaneData\\AppData",
                             L"\\SDMMC\\OrvaneData\\AppData\\state.dat"})
    expected.erase(psz);
  expected.merge(
      Entries("ResidentFlash/Navi/NAVI.EXE=v2 ResidentFlash/Navi/data/ "
              "ResidentFlash/Navi/data/map.dat=m"));
  Start(kNavi);
  // The worker's first listing waits until the progress screen has been seen.
  std::atomic<bool> bSeen{false};
  m_pFaults->OnCall([&](const std::wstring& strCall) {
    if (strCall.starts_with(L"List ")) bSeen.wait(false);
  });
  // A tap on YES: the progress screen, the buttons gone.
  ASSERT_TRUE(Windows().ClickButton(Item(IDC_YES)));
  EXPECT_EQ(State().substr(State().find("; NO")),
            "; NO 30,140,105,190 hidden; YES 135,140,210,190 hidden; bar 10,170,230,192");
  EXPECT_EQ(Shown(), Texts{L"Recovering...."});
  bSeen = true;
  bSeen.notify_all();
  WaitForRun();
  m_pFaults->OnCall(nullptr);
  EXPECT_EQ(m_image.Snapshot(), expected);
  // The worker's range for the bar reached it: two files.
  EXPECT_EQ(qobject_cast<QProgressBar*>(Windows().WidgetOf(Item(IDC_PROGRESS)))->maximum(), 2);
  // The refresh tick takes the run's end; a complete run needs nothing more from it.
  EXPECT_EQ(Tick(IDT_PROGRESS), -1);
  EXPECT_EQ(Dlg().m_nWorkerState.load(), WORKER_IDLE);
  // The countdown shows 5 down to 0 and restarts on the sixth tick, once, its timer stopped.
  for (int n = 5; n >= 0; --n) {
    EXPECT_EQ(Shown(),
              (Texts{L"Recovery completed!", L"Restart in " + std::to_wstring(n) + L" s"}));
    EXPECT_EQ(m_nRestarts, 0);
    EXPECT_EQ(Tick(IDT_RESTART), -1);
  }
  EXPECT_EQ(m_nRestarts, 1);
  EXPECT_EQ(Windows().TimerPeriod(Hwnd(), IDT_RESTART), 0u);
  const auto calls = Windows().Power().DriverCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(std::make_pair(calls[0].dwCode, calls[0].dwInput), std::make_pair(7u, 1u));
  // A restart that returns leaves the screen on 0; the refresh goes on repainting it.
  EXPECT_EQ(Tick(IDT_PROGRESS), -1);
  EXPECT_EQ(Shown(), (Texts{L"Recovery completed!", L"Restart in 0 s"}));
  EXPECT_EQ(m_pUser->m_boxes.size(), 0u);
}

TEST_F(ProgramTest, AFailedRunShowsTheBoxOnceThenRestarts) {
  struct {
    const char* name;
    DWORD dwError;  // injected into the second copy; 0: d is lost after counting
    const wchar_t* pszText;
    const wchar_t* pszScreen;  // left behind the box
  } cases[] = {
      {"a folder that cannot be listed: nothing copied", ERROR_ACCESS_DENIED,
       L"Recover failed(5)!Press OK to reboot.", L"Recovering...."},
      {"card full", ERROR_DISK_FULL, L"Recover failed(112)!Press OK to reboot.",
       L"Recovering Orvane...50%"},
      // The code is shown signed.
      {"a code past the signed range", 0xFFFFFFFF, L"Recover failed(-1)!Press OK to reboot.",
       L"Recovering Orvane...50%"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    m_image.Lay(
        "SDMMC/Backup/Navi/a.txt=a SDMMC/Backup/Navi/d/b.txt=b "
        "SDMMC/OrvaneData/AppData/state.dat=s");
    Start(kNavi);
    if (c.dwError != ERROR_ACCESS_DENIED)
      m_pFaults->Fail(EOp::kCopyFile, c.dwError, 2);  // one of the two copied, whichever first
    else
      m_pFaults->Fail(EOp::kList, ERROR_ACCESS_DENIED, 1, false, L"Navi\\d");
    // While the box shows, the dialog's refresh keeps ticking and only repaints; in a second of
    // waiting for OK the box and the screen behind it paint a few times, not in a loop.
    bool bTickedInBox = false;
    std::optional<CPaintCount> paints;
    QElapsedTimer waited;
    m_pUser.reset();
    m_pUser = std::make_unique<CBoxAnswerer>(Windows(), [&] {
      if (!bTickedInBox) bTickedInBox = Tick(IDT_PROGRESS) == -1;
      if (!paints) {
        paints.emplace();
        waited.start();
      }
      return waited.elapsed() >= 1000;
    });
    EXPECT_EQ(Click(IDC_YES), -1);
    WaitForRun();
    EXPECT_EQ(Tick(IDT_PROGRESS), -1);
    EXPECT_TRUE(bTickedInBox);
    EXPECT_LE(paints->m_nPaints, 20);
    EXPECT_EQ(m_pUser->m_boxes, (CBoxes{{L"Recover", c.pszText}}));
    EXPECT_EQ(m_nRestarts, 1);
    EXPECT_EQ(Windows().Power().DriverCalls().size(), 1u);
    // Later ticks find the run handled: no second box, no second restart; the screen stays.
    EXPECT_EQ(Tick(IDT_PROGRESS), -1);
    EXPECT_EQ(m_pUser->m_boxes.size(), 1u);
    EXPECT_EQ(m_nRestarts, 1);
    EXPECT_EQ(Shown(), Texts{c.pszScreen});
    EXPECT_EQ(m_nRestartPeriod, 0u);
    TearDown();
    SetUp();
  }
}

// An end of the program in a child of the test: the child tells what it left, then ends.
std::function<void(int)> g_fnEnding;
[[noreturn]] void EndChild(int nCode) {
  g_fnEnding(nCode);
  std::_Exit(nCode);
}

TEST_F(ProgramTest, KeysChangeNothingAndACloseActsAsNoOnlyOnTheQuestion) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Escape, Enter or the window manager's close (0), as the window system sends them: keys to the
  // focused control, the close to the window; on the question, during the run, after it.
  for (int nScreen : {0, 1, 2}) {
    for (int nKey : {int{Qt::Key_Escape}, int{Qt::Key_Return}, 0}) {
      SCOPED_TRACE(testing::Message() << "screen " << nScreen << ", key " << nKey);
      m_image.Lay("SDMMC/Backup/Navi/a.txt=a");
      Start(kNavi);
      Windows().WidgetOf(Item(IDC_YES))->setFocus();  // as the modal run leaves it
      EXPECT_TRUE(nScreen == 0 || Windows().ClickButton(Item(IDC_YES)));
      if (nScreen > 1) {
        WaitForRun();
        Tick(IDT_PROGRESS);
      }
      QWindow* pWindow = Windows().WidgetOf(Hwnd())->window()->windowHandle();
      auto send = [&] {
        QCloseEvent close;
        QKeyEvent key(QEvent::KeyPress, nKey, Qt::NoModifier);
        QApplication::sendEvent(pWindow, nKey ? static_cast<QEvent*>(&key) : &close);
      };
      // The bar is the worker's to show and hide.
      const std::string strShown = State().substr(0, State().find("; bar"));
      if (nScreen == 0 && nKey == 0) {
        g_fnEnding = [this](int nCode) {
          std::fprintf(stderr, "%d: %s\n", nCode, State().c_str());
          std::filesystem::remove_all(m_image.Root());
        };
        SetExitHook(&EndChild);
        EXPECT_EXIT(send(), testing::ExitedWithCode(0),
                    "0: normal, task bar, work area 0,0,320,214");
      } else {
        send();
        EXPECT_EQ(State().substr(0, State().find("; bar")), strShown);
        EXPECT_EQ(Dlg().m_bAskMode, nScreen == 0);
      }
      TearDown();
      SetUp();
    }
  }
}

TEST_F(ProgramTest, TearDownStopsTheWorkerBeforeItClosesTheMutex) {
  Start(kNavi);
  const HANDLE hMutex = Dlg().m_hMutex;
  std::vector<std::string> seen;
  CDiagCapture diag([&](const std::string& strLine) {
    seen.push_back(strLine.substr(0, strLine.find(']') + 1) +
                   (LookupHandle(hMutex) ? " mutex open" : " mutex closed"));
  });
  const HWND hDlg = Hwnd();
  EXPECT_TRUE(Dlg().DestroyWindow());
  EXPECT_EQ(seen, std::vector<std::string>{"[End Thread] mutex open"});
  EXPECT_EQ(LookupHandle(hMutex), nullptr);
  EXPECT_EQ(Dlg().m_pWorker, nullptr);
  EXPECT_EQ(Windows().WidgetOf(hDlg), nullptr);
}

TEST_F(ProgramTest, TheApplicationRunsTheDialogModallyAndLetsTheProgramEnd) {
  m_image.File("SDMMC/Recovery/Path.xml", kNavi);
  ScreenRigApplication();
  CHostBackends backends({.strImageRoot = m_image.Root(),
                          .strProgramPath = L"\\SDMMC\\Recovery\\Recovery.exe",
                          .fnRestart = [] { return FALSE; }});
  CBoxAnswerer user(backends.Windows());  // none expected; none waits for ever either
  UINT nTemplate = 0;
  QTimer::singleShot(0, [&] {
    const HWND hDlg = AfxGetMainWnd()->m_hWnd;
    nTemplate = backends.Windows().TemplateOf(hDlg);
    ::EndDialog(hDlg, IDCANCEL);  // the loop ends some other way than by the program
  });
  ASSERT_EQ(AfxGetApp(), &theApp);
  EXPECT_EQ(theApp.InitInstance(), FALSE);
  EXPECT_EQ(nTemplate, static_cast<UINT>(IDD_RECOVERY));
  EXPECT_EQ(theApp.m_strRegistryKey, L"Local AppWizard-Generated Applications");
  EXPECT_EQ(AfxGetMainWnd(), nullptr);
  EXPECT_EQ(user.m_boxes.size(), 0u);
}

TEST(ModuleDirectory, KeepsTheTrailingSeparator) {
  CTempImage image;
  CHostDevice dev(image.Root());
  CDeviceScope scope(dev);
  const std::tuple<std::wstring, BOOL, std::wstring> cases[] = {
      {L"\\Windows\\x.exe", TRUE, L"\\Windows\\"},
      {L"\\SDMMC\\Recovery\\Recovery.exe", TRUE, L"\\SDMMC\\Recovery\\"},
      {L"\\x.exe", TRUE, L"\\"},
      {L"x.exe", TRUE, L""},
      // Too long for the buffer: it stays as it was.
      {L"\\" + std::wstring(MAX_PATH, L'a'), FALSE, L"before"},
  };
  for (const auto& [strModule, bResult, strDir] : cases) {
    SCOPED_TRACE(WideToUtf8(strModule));
    dev.SetModuleFileName(strModule);
    WCHAR szDir[MAX_PATH] = L"before";
    EXPECT_EQ(CRecoveryDlg::GetModuleDirectory(szDir), bResult);
    EXPECT_EQ(std::wstring(szDir), strDir);
    CString str = L"before";
    EXPECT_EQ(CRecoveryDlg::GetModuleDirectory(str), bResult);
    EXPECT_EQ(str.Str(), strDir);
  }
}

}  // namespace
