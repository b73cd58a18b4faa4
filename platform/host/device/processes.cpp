#include "platform/host/device/processes.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>

#include "platform/cstring.h"
#include "platform/host/device/errors.h"
#include "platform/host/device/unique_fd.h"

namespace {

// Program file of a process; empty for kernel threads, zombies and what we may not read.
std::string ProgramFileOf(pid_t pid) {
  std::string link = "/proc/" + std::to_string(pid) + "/exe";
  char buf[PATH_MAX];
  ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string path(buf, static_cast<size_t>(n));
  // A program file replaced or deleted while it runs is still the process's program file.
  const std::string kDeleted = " (deleted)";
  if (path.size() > kDeleted.size() &&
      path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
    path.resize(path.size() - kDeleted.size());
  return path;
}

template <class Fn>
void ForEachPid(Fn fn) {
  DIR* dir = ::opendir("/proc");
  if (!dir) return;
  while (struct dirent* ent = ::readdir(dir)) {
    char* end = nullptr;
    long pid = std::strtol(ent->d_name, &end, 10);
    if (pid > 0 && end && *end == '\0') fn(static_cast<pid_t>(pid));
  }
  ::closedir(dir);
}

// By system call: glibc 2.36's <sys/pidfd.h> lacks C linkage for C++.
int PidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }
int PidfdKill(int fdPid) {
  return static_cast<int>(::syscall(SYS_pidfd_send_signal, fdPid, SIGKILL, nullptr, 0));
}

bool HasExited(int fdPid) {
  struct pollfd pfd {
    fdPid, POLLIN, 0
  };
  return ::poll(&pfd, 1, 0) > 0;
}

class CHostProcessObject : public CProcessObject {
 public:
  explicit CHostProcessObject(CUniqueFd fdPid) : m_fdPid(std::move(fdPid)) {}
  BOOL Terminate(UINT) override {
    if (PidfdKill(m_fdPid.Get()) == 0 || errno == ESRCH) return TRUE;
    SetLastError(Win32FromErrno(errno));
    return FALSE;
  }
  DWORD Wait(DWORD dwMilliseconds) override {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(dwMilliseconds);
    for (;;) {
      int nTimeout = -1;
      if (dwMilliseconds != INFINITE) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        nTimeout = static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
      }
      struct pollfd pfd {
        m_fdPid.Get(), POLLIN, 0
      };
      int r = ::poll(&pfd, 1, nTimeout);
      if (r > 0) return WAIT_OBJECT_0;
      if (r == 0) return WAIT_TIMEOUT;
      if (errno != EINTR) {
        SetLastError(Win32FromErrno(errno));
        return WAIT_FAILED;
      }
    }
  }

 private:
  CUniqueFd m_fdPid;
};

}  // namespace

std::vector<CProcessInfo> SnapshotHostProcesses(const CDeviceImage& image) {
  std::vector<CProcessInfo> out;
  ForEachPid([&](pid_t pid) {
    std::string program = ProgramFileOf(pid);
    if (program.empty() || image.DevicePathOf(program).empty()) return;
    std::string name = program.substr(program.rfind('/') + 1);
    out.push_back(CProcessInfo{static_cast<DWORD>(pid), HostNameToWide(name)});
  });
  std::sort(out.begin(), out.end(),
            [](const CProcessInfo& a, const CProcessInfo& b) { return a.dwPid < b.dwPid; });
  return out;
}

std::shared_ptr<CProcessObject> OpenHostProcess(const CDeviceImage& image, DWORD dwPid) {
  if (dwPid == static_cast<DWORD>(::getpid())) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (dwPid == 0 || dwPid > static_cast<DWORD>(INT_MAX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  CUniqueFd fdPid(PidfdOpen(static_cast<pid_t>(dwPid)));
  if (!fdPid.IsValid()) {
    SetLastError(errno == ESRCH ? ERROR_INVALID_PARAMETER : Win32FromErrno(errno));
    return nullptr;
  }
  // Checked after the pidfd pins the process: a reused pid cannot slip in between.
  std::string program = ProgramFileOf(static_cast<pid_t>(dwPid));
  if (program.empty() && HasExited(fdPid.Get())) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (program.empty() || image.DevicePathOf(program).empty()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return std::make_shared<CHostProcessObject>(std::move(fdPid));
}

bool IsRunningProgramFile(dev_t dev, ino_t ino) {
  bool bFound = false;
  ForEachPid([&](pid_t pid) {
    if (bFound) return;
    struct stat st {};
    std::string link = "/proc/" + std::to_string(pid) + "/exe";
    if (::stat(link.c_str(), &st) == 0 && st.st_dev == dev && st.st_ino == ino) bFound = true;
  });
  return bFound;
}
