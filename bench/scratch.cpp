#include "bench/scratch.h"

#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

volatile pid_t g_nChild = 0;

// To the child's whole group: the tools it runs let go of the volumes too.
void PassOn(int nSignal) {
  if (g_nChild > 0) ::kill(-g_nChild, nSignal);
}

// Detaches every mount below strRoot, the deepest first.
void UnmountBelow(const std::string& strRoot) {
  std::ifstream mounts("/proc/self/mounts");
  std::vector<std::string> points;
  for (std::string line; std::getline(mounts, line);) {
    std::istringstream fields(line);
    std::string strDevice, strPoint;
    fields >> strDevice >> strPoint;
    if (strPoint.rfind(strRoot + "/", 0) == 0) points.push_back(strPoint);
  }
  std::sort(points.rbegin(), points.rend());
  for (const std::string& strPoint : points) ::umount2(strPoint.c_str(), MNT_DETACH);
}

}  // namespace

int RunWithScratch(const std::string& strRoot, const std::function<int()>& fnWork) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    const int nStatus = fnWork();
    std::fflush(nullptr);
    ::_exit(nStatus);
  }
  if (pid < 0) {
    std::perror("bench_engine: fork");
    return 1;
  }
  ::setpgid(pid, pid);
  g_nChild = pid;
  struct sigaction action {};
  action.sa_handler = PassOn;
  for (int nSignal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::sigaction(nSignal, &action, nullptr);
  int nStatus = 0;
  while (::waitpid(pid, &nStatus, 0) < 0 && errno == EINTR) {
  }
  UnmountBelow(strRoot);
  std::error_code ec;
  std::filesystem::remove_all(strRoot, ec);
  if (WIFSIGNALED(nStatus)) {
    const int nSignal = WTERMSIG(nStatus);
    std::fprintf(stderr, "bench_engine: ended by signal %d; its trees removed\n", nSignal);
    std::signal(nSignal, SIG_DFL);
    ::raise(nSignal);
    return 128 + nSignal;
  }
  return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 1;
}

bool MountScratchVolume(const std::string& strKind, const std::string& strImage,
                        const std::string& strDir, std::string& strWhy) {
  if (::geteuid() != 0) {
    strWhy = "mounting needs root";
    return false;
  }
  const std::string strMake =
      strKind == "ext4"
          ? "truncate -s 1G " + strImage + " && mkfs.ext4 -q -F " + strImage +
                " && mount -o loop " + strImage + " " + strDir
          : "truncate -s 256M " + strImage + " && mkfs.vfat -F 32 " + strImage +
                " && fusefat -o rw+ " + strImage + " " + strDir;
  if (std::system(("(" + strMake + ") >/dev/null 2>&1").c_str()) == 0) return true;
  strWhy = "cannot make and mount it (" + strMake + ")";
  return false;
}
