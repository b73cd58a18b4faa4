#include "platform/host/device/kernel_fallback.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <string>

#include "platform/runtime.h"

namespace {

// A call the kernel answers ENOSYS, or EPERM where a seccomp filter stands in for it, is missing.
bool Refused(long nResult) {
  if (nResult >= 0) ::close(static_cast<int>(nResult));
  return nResult < 0 && (errno == ENOSYS || errno == EPERM);
}

bool Openat2Missing() {
  struct open_how how {};
  how.flags = O_PATH | O_CLOEXEC;
  return Refused(::syscall(SYS_openat2, AT_FDCWD, "/", &how, sizeof how));
}

bool PidfdMissing() {
  const long fd = ::syscall(SYS_pidfd_open, ::getpid(), 0);
  if (fd < 0) return Refused(fd);
  const bool bMissing =
      ::syscall(SYS_pidfd_send_signal, static_cast<int>(fd), 0, nullptr, 0) != 0 &&
      (errno == ENOSYS || errno == EPERM);
  ::close(static_cast<int>(fd));
  return bMissing;
}

struct CFallbacks {
  bool bOpenat2 = false;
  bool bPidfd = false;
  CFallbacks() {
    const char* psz = std::getenv("ORVANE_KERNEL_FALLBACK");
    std::istringstream words(psz ? psz : "");
    for (std::string word; std::getline(words, word, ',');) {
      if (word == "openat2")
        bOpenat2 = true;
      else if (word == "pidfd")
        bPidfd = true;
      else if (!word.empty())
        ErrorPrintA("orvane-recovery: ORVANE_KERNEL_FALLBACK: '%s' ignored (known: openat2, pidfd)",
                    word.c_str());
    }
    bOpenat2 = bOpenat2 || Openat2Missing();
    bPidfd = bPidfd || PidfdMissing();
  }
};

}  // namespace

bool UseKernelFallback(EKernelCall eCall) {
  static const CFallbacks fallbacks;
  return eCall == EKernelCall::Openat2 ? fallbacks.bOpenat2 : fallbacks.bPidfd;
}
