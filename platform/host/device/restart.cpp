// The restart of orvane-recovery on a Linux host.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/host/device/power.h"
#include "platform/kernel.h"
#include "platform/run_log.h"

extern char** environ;

BOOL RestartByCommandOrExit() {
  const char* pszCommand = std::getenv("ORVANE_RESTART_COMMAND");
  if (!pszCommand || !*pszCommand) {
    // Like the device going down: no destructors run against a worker that may still be alive.
    CloseRunLog(3, "restart requested");
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(3);
  }
  const char* argv[] = {"/bin/sh", "-c", pszCommand, nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ) !=
      0) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  int nStatus = 0;
  pid_t r;
  do {
    r = waitpid(pid, &nStatus, 0);
  } while (r < 0 && errno == EINTR);
  if (r == pid && WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0) return TRUE;
  SetLastError(ERROR_GEN_FAILURE);
  return FALSE;
}
