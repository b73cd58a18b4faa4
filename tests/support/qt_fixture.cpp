#include "tests/support/qt_fixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <string>

#include "platform/host/install.h"
#include "res/resource.h"

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
  if (s_pApp || QApplication::instance()) return;
  static CQtEnvironment s_environment;
  std::string strError;
  ASSERT_TRUE(s_environment.Prepare(true, 320, 240, strError)) << strError;
  static int s_argc = 1;
  static char s_name[] = "orvane-tests";
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

std::wstring WindowText(HWND hWnd) {
  WCHAR buf[1024] = {};
  int n = hWnd ? ::GetWindowTextW(hWnd, buf, 1024) : 0;
  return std::wstring(buf, static_cast<size_t>(n));
}

CBoxAnswerer::CBoxAnswerer(CQtWindowBackend& backend, std::function<bool()> fnReady)
    : m_backend(backend), m_fnReady(std::move(fnReady)) {
  m_backend.SetObserver(this);
}

CBoxAnswerer::~CBoxAnswerer() { m_backend.SetObserver(nullptr); }

void CBoxAnswerer::OnWindowPainted(HWND hWnd) {
  if (m_backend.TemplateOf(hWnd) == IDD_MSGBOX) Answer(hWnd, ::GetDlgItem(hWnd, IDC_MSG_TEXT));
}

void CBoxAnswerer::OnMessageBoxShown(HWND hBox) { Answer(hBox, ::GetDlgItem(hBox, 0xFFFF)); }

void CBoxAnswerer::Answer(HWND hBox, HWND hText) {
  if (!m_seen.insert(hBox).second) return;
  m_boxes.push_back({WindowText(hBox), WindowText(hText)});
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [this, poll, hBox] {
    if (m_fnReady && !m_fnReady()) return;
    poll->stop();
    poll->deleteLater();
    m_backend.ClickButton(::GetDlgItem(hBox, IDOK));
  });
  poll->start(1);
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
