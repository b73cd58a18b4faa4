#include "platform/host/device/termination.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

#include "platform/host/device/temp_files.h"

namespace {

int g_fdWake[2] = {-1, -1};

// Only what is safe in a handler: one write of the signal's number to the watcher.
void OnSignal(int nSignal) {
  const int nSavedErrno = errno;
  const unsigned char byte = static_cast<unsigned char>(nSignal);
  [[maybe_unused]] ssize_t n = ::write(g_fdWake[1], &byte, 1);
  errno = nSavedErrno;
}

}  // namespace

void OnTerminationSignal(std::function<void(int nSignal)> fnEnd) {
  if (::pipe2(g_fdWake, O_CLOEXEC) != 0) return;
  std::thread([fnEnd = std::move(fnEnd)] {
    unsigned char byte = 0;
    ssize_t n;
    do {
      n = ::read(g_fdWake[0], &byte, 1);
    } while (n < 0 && errno == EINTR);
    if (n != 1) return;
    // A replace cut short leaves nothing behind; the file it would have replaced stays whole.
    TempFiles::RemoveAll();
    fnEnd(byte);
  }).detach();
  struct sigaction action {};
  action.sa_handler = &OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
}

void DieOfSignal(int nSignal) {
  ::signal(nSignal, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, nSignal);
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(nSignal);
  std::_Exit(128 + nSignal);
}
