#include "platform/host/device/processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>

#include "platform/cstring.h"
#include "platform/host/device/errors.h"
#include "platform/host/device/kernel_fallback.h"
#include "platform/host/device/unique_fd.h"

namespace {

// Program file of a process (its /proc folder open as fdProc, or by pid); empty for kernel
// threads, zombies and what we may not read.
std::string ProgramFileOf(pid_t pid, int fdProc = -1) {
  std::string link = fdProc >= 0 ? "exe" : "/proc/" + std::to_string(pid) + "/exe";
  char buf[PATH_MAX];
  ssize_t n = ::readlinkat(fdProc >= 0 ? fdProc : AT_FDCWD, link.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string path(buf, static_cast<size_t>(n));
  // A program file replaced or deleted while it runs is still the process's program file; a file
  // really named so is the one the link names.
  const std::string kDeleted = " (deleted)";
  if (path.size() > kDeleted.size() &&
      path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0) {
    struct stat exe {};
    struct stat named {};
    const bool bNamedSo = ::fstatat(fdProc >= 0 ? fdProc : AT_FDCWD, link.c_str(), &exe, 0) == 0 &&
                          ::stat(path.c_str(), &named) == 0 && exe.st_dev == named.st_dev &&
                          exe.st_ino == named.st_ino;
    if (!bNamedSo) path.resize(path.size() - kDeleted.size());
  }
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

// The last look at the running programs: the processes /proc listed then and their program
// files. Looking up every process's program file for each file asked about would cost a deletion
// one look-up per process and file where every file reads as a program (FAT); the look stands
// while /proc lists the same processes and no wait from here saw one end (an ended child stays
// listed until it is reaped), and /proc is listed again only when the system's task counts moved.
// A process that starts another program in its place is seen at the next change of the list.
std::mutex g_scanMutex;
std::vector<pid_t> g_scanPids;
std::vector<std::pair<dev_t, ino_t>> g_scanFiles;
std::atomic<bool> g_bScanStale{true};
std::string g_scanTasks;

// The system's count of tasks and the last pid given out, as /proc/loadavg tells them: both stay
// as they are while no process or thread starts or is reaped, and reading them costs far less
// than listing /proc. Empty where they cannot tell: unreadable, not the kernel's own (LXCFS serves
// it from a daemon), all zeros (gVisor), or /proc of another pid namespace than this process's.
std::string TaskCounts() {
  static const bool bOwnProc = [] {
    char buf[32];
    const ssize_t n = ::readlink("/proc/self", buf, sizeof buf);
    return n > 0 && std::string(buf, static_cast<size_t>(n)) == std::to_string(::getpid());
  }();
  if (!bOwnProc) return {};
  CUniqueFd fd(::open("/proc/loadavg", O_RDONLY | O_CLOEXEC));
  struct statfs fs {};
  if (!fd.IsValid() || ::fstatfs(fd.Get(), &fs) != 0 || fs.f_type != PROC_SUPER_MAGIC) return {};
  char buf[128];
  const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
  if (n <= 0) return {};
  // "0.08 0.03 0.01 2/131 4567": what runs now, before the slash, changes all the time.
  const std::string_view line(buf, static_cast<size_t>(n));
  const size_t nSlash = line.find('/');
  if (nSlash == std::string_view::npos) return {};
  std::string strCounts(line.substr(nSlash + 1));
  return std::atol(strCounts.c_str()) > 0 ? strCounts : std::string();
}

// A process ended from here: the next look at the running programs is made afresh.
DWORD Ended() {
  g_bScanStale = true;
  return WAIT_OBJECT_0;
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

// True when the process whose /proc folder is open as fdProc has ended: the folder stays with
// that process, so a later process given the same pid does not read as it.
bool HasEnded(int fdProc) {
  CUniqueFd fd(::openat(fdProc, "stat", O_RDONLY | O_CLOEXEC));
  char buf[512];
  const ssize_t n = fd.IsValid() ? ::read(fd.Get(), buf, sizeof buf - 1) : -1;
  if (n <= 0) return true;
  // The name in parentheses may hold anything; the state follows it: zombie or dead.
  const std::string_view stat(buf, static_cast<size_t>(n));
  const size_t nParen = stat.rfind(')');
  return nParen == std::string_view::npos || nParen + 2 >= stat.size() || stat[nParen + 2] == 'Z' ||
         stat[nParen + 2] == 'X';
}

// Without pidfds: the process held by its /proc folder, signalled with kill only while that
// folder says it runs, its end seen by polling the folder.
class CPolledProcessObject : public CProcessObject {
 public:
  CPolledProcessObject(pid_t pid, CUniqueFd fdProc) : m_pid(pid), m_fdProc(std::move(fdProc)) {}
  BOOL Terminate(UINT) override {
    if (HasEnded(m_fdProc.Get()) || ::kill(m_pid, SIGKILL) == 0 || errno == ESRCH) return TRUE;
    SetLastError(Win32FromErrno(errno));
    return FALSE;
  }
  DWORD Wait(DWORD dwMilliseconds) override {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(dwMilliseconds);
    for (;;) {
      if (HasEnded(m_fdProc.Get())) return Ended();
      const auto now = Clock::now();
      if (dwMilliseconds != INFINITE && now >= deadline) return WAIT_TIMEOUT;
      Clock::duration pause = std::chrono::milliseconds(2);
      if (dwMilliseconds != INFINITE) pause = std::min(pause, deadline - now);
      std::this_thread::sleep_for(pause);
    }
  }

 private:
  pid_t m_pid;
  CUniqueFd m_fdProc;
};

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
      if (r > 0) return Ended();
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
  const pid_t pid = static_cast<pid_t>(dwPid);
  if (UseKernelFallback(EKernelCall::Pidfd)) {
    // The /proc folder pins the process as a pidfd would: its program file is its own.
    CUniqueFd fdProc(
        ::open(("/proc/" + std::to_string(pid)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const std::string program = fdProc.IsValid() ? ProgramFileOf(pid, fdProc.Get()) : "";
    if (!fdProc.IsValid() || (program.empty() && HasEnded(fdProc.Get()))) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    if (image.DevicePathOf(program).empty()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    return std::make_shared<CPolledProcessObject>(pid, std::move(fdProc));
  }
  CUniqueFd fdPid(PidfdOpen(pid));
  if (!fdPid.IsValid()) {
    SetLastError(errno == ESRCH ? ERROR_INVALID_PARAMETER : Win32FromErrno(errno));
    return nullptr;
  }
  // Checked after the pidfd pins the process: a reused pid cannot slip in between.
  std::string program = ProgramFileOf(pid);
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
  const std::string strTasks = TaskCounts();
  std::lock_guard<std::mutex> lock(g_scanMutex);
  bool bStale = g_bScanStale.exchange(false);
  if (strTasks.empty() || strTasks != g_scanTasks) {
    std::vector<pid_t> pids;
    ForEachPid([&](pid_t pid) { pids.push_back(pid); });
    if (pids != g_scanPids) {
      g_scanPids = std::move(pids);
      bStale = true;
    }
    g_scanTasks = strTasks;
  }
  if (bStale) {
    g_scanFiles.clear();
    for (const pid_t pid : g_scanPids) {
      struct stat st {};
      const std::string link = "/proc/" + std::to_string(pid) + "/exe";
      if (::stat(link.c_str(), &st) == 0) g_scanFiles.emplace_back(st.st_dev, st.st_ino);
    }
  }
  return std::find(g_scanFiles.begin(), g_scanFiles.end(), std::make_pair(dev, ino)) !=
         g_scanFiles.end();
}
