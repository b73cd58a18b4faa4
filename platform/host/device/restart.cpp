// The restart of orvane-recovery on a Linux host.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/host/device/power.h"
#include "platform/run_log.h"
#include "platform/runtime.h"

extern char** environ;

namespace {

constexpr int kDefaultWaitSeconds = 60;

// Like the device going down: no destructors run against a worker that may still be alive.
[[noreturn]] void EndAsRestarted() {
  CloseRunLog(3, "restart requested");
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(3);
}

// How long a restart command that succeeded may take to end the program.
int WaitSeconds() {
  const char* psz = std::getenv("ORVANE_RESTART_WAIT");
  if (!psz || !*psz) return kDefaultWaitSeconds;
  char* pEnd = nullptr;
  const long n = std::strtol(psz, &pEnd, 10);
  return *pEnd == '\0' && n >= 0 && n <= 24 * 3600 ? static_cast<int>(n) : kDefaultWaitSeconds;
}

}  // namespace

BOOL RestartByCommandOrExit() {
  const char* pszCommand = std::getenv("ORVANE_RESTART_COMMAND");
  if (!pszCommand || !*pszCommand) EndAsRestarted();
  const char* argv[] = {"/bin/sh", "-c", pszCommand, nullptr};
  pid_t pid = 0;
  if (const int nError =
          posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ)) {
    ErrorPrintA("orvane-recovery: the restart command '%s' could not start: %s", pszCommand,
                std::strerror(nError));
    EndAsRestarted();
  }
  int nStatus = 0;
  pid_t r;
  do {
    r = waitpid(pid, &nStatus, 0);
  } while (r < 0 && errno == EINTR);
  if (r != pid || !WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0) {
    if (r == pid && WIFSIGNALED(nStatus))
      ErrorPrintA("orvane-recovery: the restart command '%s' was ended by signal %d", pszCommand,
                  WTERMSIG(nStatus));
    else
      ErrorPrintA("orvane-recovery: the restart command '%s' exited with status %d", pszCommand,
                  r == pid ? WEXITSTATUS(nStatus) : -1);
    EndAsRestarted();
  }
  // The restart it asked for ends this process (systemd's SIGTERM, or the power going).
  const int nWait = WaitSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(nWait));
  ErrorPrintA(
      "orvane-recovery: the restart command '%s' exited with status 0, but the device "
      "had not restarted %d s later",
      pszCommand, nWait);
  EndAsRestarted();
}
