// Work that other threads hand to the user-interface thread: the caller waits until it has run
// there. The user-interface thread runs it from its event loop (nested loops included) and from
// the kernel's wait pump, so a wait of its own (joining the worker, taking the copy mutex) never
// deadlocks against a caller. The calling threads never touch Qt: they wake the loop through an
// eventfd, which keeps the hand-over visible to ThreadSanitizer.
#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

class QSocketNotifier;

class CQtCrossThreadCalls : public QObject {
 public:
  // On the user-interface thread: marks it and installs the kernel's wait pump.
  CQtCrossThreadCalls();
  // Completes pending calls without running them; later calls fail.
  ~CQtCrossThreadCalls() override;
  CQtCrossThreadCalls(const CQtCrossThreadCalls&) = delete;
  CQtCrossThreadCalls& operator=(const CQtCrossThreadCalls&) = delete;

  // Runs fn on the user-interface thread while the caller waits; false (fn not run) once the
  // queue is closed. An exception thrown by fn is thrown again in the caller.
  bool Call(std::function<void()> fn);
  // Runs every pending call, in the order they came (user-interface thread only).
  void Drain();
  // Calls waiting to run: lets tests see a worker blocked in a send.
  int PendingCount() const;

 private:
  struct CPending {
    std::function<void()> fn;
    bool bDone = false;
    bool bRan = false;
    std::exception_ptr error;
  };
  static void Pump();

  mutable std::mutex m_mutex;
  std::condition_variable m_cvDone;
  std::deque<std::shared_ptr<CPending>> m_queue;
  bool m_bClosed = false;
  int m_fdWake = -1;
  QSocketNotifier* m_pNotifier = nullptr;
};
