#include "platform/host/qt/cross_thread.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cstdint>

#include "platform/kernel.h"

namespace {

std::atomic<CQtCrossThreadCalls*> g_pActive{nullptr};

}  // namespace

CQtCrossThreadCalls::CQtCrossThreadCalls() {
  m_fdWake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  m_pNotifier = new QSocketNotifier(static_cast<qintptr>(m_fdWake), QSocketNotifier::Read, this);
  QObject::connect(m_pNotifier, &QSocketNotifier::activated, this, [this] {
    std::uint64_t nCount = 0;
    while (::read(m_fdWake, &nCount, sizeof nCount) > 0) {
    }
    // Run from a posted call, not from the notifier: a nested loop inside one of the calls must
    // still see the next wake-up.
    QMetaObject::invokeMethod(
        this, [this] { Drain(); }, Qt::QueuedConnection);
  });
  MarkUserInterfaceThread();
  g_pActive = this;
  SetCrossThreadPump(&CQtCrossThreadCalls::Pump);
}

CQtCrossThreadCalls::~CQtCrossThreadCalls() {
  CQtCrossThreadCalls* pSelf = this;
  if (g_pActive.compare_exchange_strong(pSelf, nullptr)) SetCrossThreadPump(nullptr);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bClosed = true;
    for (auto& p : m_queue) p->bDone = true;
    m_queue.clear();
  }
  m_cvDone.notify_all();
  delete m_pNotifier;
  m_pNotifier = nullptr;
  if (m_fdWake >= 0) ::close(m_fdWake);
}

bool CQtCrossThreadCalls::Call(std::function<void()> fn) {
  auto pCall = std::make_shared<CPending>();
  pCall->fn = std::move(fn);
  std::unique_lock<std::mutex> lock(m_mutex);
  if (m_bClosed) return false;
  m_queue.push_back(pCall);
  std::uint64_t nOne = 1;
  [[maybe_unused]] ssize_t n = ::write(m_fdWake, &nOne, sizeof nOne);
  m_cvDone.wait(lock, [&] { return pCall->bDone; });
  if (pCall->error) std::rethrow_exception(pCall->error);
  return pCall->bRan;
}

void CQtCrossThreadCalls::Drain() {
  for (;;) {
    std::shared_ptr<CPending> pCall;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_queue.empty()) return;
      pCall = m_queue.front();
      m_queue.pop_front();
    }
    std::exception_ptr error;
    try {
      pCall->fn();
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      pCall->error = error;
      pCall->bRan = true;
      pCall->bDone = true;
    }
    m_cvDone.notify_all();
  }
}

int CQtCrossThreadCalls::PendingCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return static_cast<int>(m_queue.size());
}

void CQtCrossThreadCalls::Pump() {
  if (CQtCrossThreadCalls* p = g_pActive.load()) p->Drain();
}
