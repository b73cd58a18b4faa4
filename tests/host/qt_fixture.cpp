#include "tests/host/qt_fixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <string>

#include "platform/host/install.h"

// fontconfig keeps its configuration for the life of the process, unreachable by design; under
// LeakSanitizer that would fail every Qt test at exit.
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

// Qt hands some image work to a thread pool of its own and synchronises it inside its own,
// uninstrumented code: the memory calls Qt makes there look racy to ThreadSanitizer. Our threads
// never share a Qt object, so nothing of ours is hidden by this.
extern "C" __attribute__((used)) const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so.6\ncalled_from_lib:libQt6Gui.so.6\n"
         "called_from_lib:libQt6Widgets.so.6\n";
}

void EnsureQtApplication() {
  static QApplication* s_pApp = nullptr;
  if (s_pApp) return;
  static CQtEnvironment s_environment;
  std::string strError;
  ASSERT_TRUE(s_environment.Prepare(true, 320, 240, strError)) << strError;
  static int s_argc = 1;
  static char s_name[] = "test_host";
  static char* s_argv[] = {s_name, nullptr};
  s_pApp = new QApplication(s_argc, s_argv);  // lives as long as the process
  s_environment.Release();
}

bool PumpUntil(const std::function<bool()>& done, int nLimitMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > nLimitMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QThread::msleep(1);
  }
  return true;
}

void CQtBackendTest::SetUp() {
  EnsureQtApplication();
  m_pBackend = std::make_unique<CQtWindowBackend>(&m_display, &m_power, true);
  m_pPrevious = InstallWindowBackend(m_pBackend.get());
}

void CQtBackendTest::TearDown() {
  InstallWindowBackend(m_pPrevious);
  m_pBackend.reset();
  // Deferred deletions of the test's windows happen here, not in the next test.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
