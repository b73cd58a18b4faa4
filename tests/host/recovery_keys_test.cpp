// Keys and the window manager's close on each screen of the recovery dialog, sent as the window
// system sends them. Each case runs in a child process on a device image: its exit status and last
// line tell whether the program ended and what it left of the display.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <fstream>

#include "app/recovery_dlg.h"
#include "platform/host/install.h"
#include "platform/runtime.h"
#include "tests/host/qt_fixture.h"

namespace {

enum class EScreen { Question, Running, Completed };
enum class EInput { Escape, Enter, Close };
constexpr int kStillShown = 42;

CHostBackends* g_pBackends = nullptr;
CRecoveryDlg* g_pDlg = nullptr;

// What the person sees now, in one line, then the process ends with nStatus.
[[noreturn]] void TellAndEnd(const char* pszWhat, int nStatus) {
  CHostDisplay& display = g_pBackends->Display();
  const RECT rc = display.WorkArea();
  std::fprintf(stderr, "%s %d: asking %d, orientation %u, task bar %d, work area %d %d %d %d\n",
               pszWhat, nStatus, g_pDlg->m_bAskMode, display.Orientation(),
               display.TaskBarVisible(), rc.left, rc.top, rc.right, rc.bottom);
  std::fflush(stderr);
  std::_Exit(nStatus);
}

void Send(HWND hDlg, EInput eInput) {
  QWidget* pClient = g_pBackends->Windows().WidgetOf(hDlg);
  QWidget* pFrame = pClient->window();
  if (eInput == EInput::Close) {
    QCloseEvent close;
    QApplication::sendEvent(pFrame, &close);
    return;
  }
  // Keys go to the focused control: YES on the question, as the modal run leaves it.
  QWidget* pFocus = pFrame->focusWidget() ? pFrame->focusWidget() : pClient;
  for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
    QKeyEvent key(type, eInput == EInput::Escape ? Qt::Key_Escape : Qt::Key_Return, {});
    QApplication::sendEvent(pFocus, &key);
  }
}

[[noreturn]] void RunCase(EScreen eScreen, EInput eInput) {
  EnsureQtApplication();
  QTemporaryDir image("/dev/shm/orvane-keys-XXXXXX");
  for (const char* pszFolder : {"ResidentFlash", "SDMMC/Recovery", "SDMMC/Backup"})
    QDir(image.path()).mkpath(pszFolder);
  std::ofstream(image.filePath("SDMMC/Recovery/Path.xml").toStdString())
      << R"(<R><P Count="1" Src1="\SDMMC\Backup" Dst1="\ResidentFlash"/></R>)";
  std::ofstream(image.filePath("SDMMC/Backup/a.txt").toStdString()) << "a";
  CHostOptions options;
  options.strImageRoot = image.path().toStdString();
  options.strProgramPath = L"\\SDMMC\\Recovery\\Recovery.exe";
  options.fnRestart = [] { return FALSE; };  // the countdown's end changes nothing
  CHostBackends backends(options);
  CRecoveryDlg dlg;
  g_pBackends = &backends;
  g_pDlg = &dlg;
  SetExitHook([](int nCode) { TellAndEnd("exit", nCode); });
  QTimer::singleShot(0, [&] {
    if (eScreen != EScreen::Question)
      backends.Windows().ClickButton(::GetDlgItem(dlg.m_hWnd, IDC_YES));
    if (eScreen == EScreen::Completed) PumpUntil([&] { return dlg.m_bSuccess.load() != FALSE; });
    Send(dlg.m_hWnd, eInput);
    // Whatever the input set off has run once the queue comes round.
    QTimer::singleShot(0, [] { TellAndEnd("shown", kStillShown); });
  });
  dlg.DoModal();
  TellAndEnd("ended", 1);
}

TEST(RecoveryKeys, OnlyTheCloseOnTheQuestionEndsTheProgramAsNoDoes) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const char* kAsking = "shown 42: asking 1, orientation 1, task bar 0, work area 0 0 240 320";
  const char* kRunning = "shown 42: asking 0, orientation 1, task bar 0, work area 0 0 240 320";
  const char* kAsNo = "exit 0: asking 1, orientation 0, task bar 1, work area 0 0 320 214";
  struct CCase {
    EScreen eScreen;
    EInput eInput;
    int nStatus;
    const char* pszLine;
  };
  const CCase cases[] = {
      {EScreen::Question, EInput::Escape, kStillShown, kAsking},
      {EScreen::Question, EInput::Enter, kStillShown, kAsking},
      {EScreen::Question, EInput::Close, 0, kAsNo},
      {EScreen::Running, EInput::Escape, kStillShown, kRunning},
      {EScreen::Running, EInput::Enter, kStillShown, kRunning},
      {EScreen::Running, EInput::Close, kStillShown, kRunning},
      {EScreen::Completed, EInput::Escape, kStillShown, kRunning},
      {EScreen::Completed, EInput::Enter, kStillShown, kRunning},
      {EScreen::Completed, EInput::Close, kStillShown, kRunning},
  };
  for (const CCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "screen " << static_cast<int>(c.eScreen) << ", input "
                                    << static_cast<int>(c.eInput));
    EXPECT_EXIT(RunCase(c.eScreen, c.eInput), testing::ExitedWithCode(c.nStatus), c.pszLine);
  }
}

}  // namespace
