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

enum EScreen { kQuestion, kRunning, kCompleted };
constexpr int kStillShown = 42;
CHostBackends* g_pBackends = nullptr;
CRecoveryDlg* g_pDlg = nullptr;
QTemporaryDir* g_pImage = nullptr;  // no destructor runs in the child: removed before it ends

// What the person sees now, in one line, then the process ends with nStatus.
[[noreturn]] void TellAndEnd(int nStatus) {
  CHostDisplay& display = g_pBackends->Display();
  const RECT rc = display.WorkArea();
  std::fprintf(stderr, "%d: asking %d, orientation %u, task bar %d, work area %d %d %d %d\n",
               nStatus, g_pDlg->m_bAskMode, display.Orientation(), display.TaskBarVisible(),
               rc.left, rc.top, rc.right, rc.bottom);
  std::fflush(stderr);
  g_pImage->remove();
  std::_Exit(nStatus);
}

// Qt::Key_Escape or Qt::Key_Return to the focused control (YES on the question, as the modal run
// leaves it), or 0 for a close request to the window.
void Send(HWND hDlg, int nKey) {
  QWidget* pClient = g_pBackends->Windows().WidgetOf(hDlg);
  QWidget* pFrame = pClient->window();
  QCloseEvent close;
  if (!nKey) QApplication::sendEvent(pFrame, &close);
  for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
    QKeyEvent key(type, nKey, {});
    QWidget* pFocus = pFrame->focusWidget();
    if (nKey) QApplication::sendEvent(pFocus && pFocus->isVisible() ? pFocus : pClient, &key);
  }
}

[[noreturn]] void RunCase(EScreen eScreen, int nKey) {
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
  g_pImage = &image;
  SetExitHook(&TellAndEnd);
  QTimer::singleShot(0, [&] {
    if (eScreen != kQuestion) backends.Windows().ClickButton(::GetDlgItem(dlg.m_hWnd, IDC_YES));
    if (eScreen == kCompleted) PumpUntil([&] { return dlg.m_bSuccess.load() != FALSE; });
    Send(dlg.m_hWnd, nKey);
    // Whatever the input set off has run once the queue comes round.
    QTimer::singleShot(0, [] { TellAndEnd(kStillShown); });
  });
  dlg.DoModal();
  TellAndEnd(1);
}

TEST(RecoveryKeys, OnlyTheCloseOnTheQuestionEndsTheProgramAsNoDoes) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const char* pszAsking = "42: asking 1, orientation 1, task bar 0, work area 0 0 240 320";
  const char* pszRunning = "42: asking 0, orientation 1, task bar 0, work area 0 0 240 320";
  const char* pszAsNo = "0: asking 1, orientation 0, task bar 1, work area 0 0 320 214";
  // Every key and the close request on every screen; only the close on the question ends the
  // program, as NO does: display, task bar and work area put back as they were.
  for (EScreen eScreen : {kQuestion, kRunning, kCompleted}) {
    for (int nKey : {static_cast<int>(Qt::Key_Escape), static_cast<int>(Qt::Key_Return), 0}) {
      SCOPED_TRACE(testing::Message() << "screen " << eScreen << ", key " << nKey);
      const bool bAsNo = eScreen == kQuestion && nKey == 0;
      EXPECT_EXIT(RunCase(eScreen, nKey), testing::ExitedWithCode(bAsNo ? 0 : kStillShown),
                  bAsNo ? pszAsNo : (eScreen == kQuestion ? pszAsking : pszRunning));
    }
  }
}

}  // namespace
