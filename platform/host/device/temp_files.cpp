#include "platform/host/device/temp_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <map>
#include <mutex>
#include <string_view>

namespace {

std::mutex g_mutex;
std::map<std::string, int> g_live;  // our temporary files, each with its folder (a duplicate)
bool g_bEnding = false;
std::atomic<unsigned> g_nSeq{0};

// The pid in a temporary file's name (digits only); 0 for any other name.
pid_t PidOf(std::string_view name) {
  constexpr std::string_view kHead = ".orvane-", kTail = ".tmp";
  if (!name.starts_with(kHead) || !name.ends_with(kTail)) return 0;
  name = name.substr(kHead.size(), name.size() - kHead.size() - kTail.size());
  const size_t nDash = name.find('-');
  const auto Digits = [](std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
  };
  pid_t nPid = 0;
  if (nDash == std::string_view::npos || !Digits(name.substr(0, nDash)) ||
      !Digits(name.substr(nDash + 1)) ||
      std::from_chars(name.data(), name.data() + nDash, nPid).ec != std::errc())
    return 0;
  return nPid;
}

// Under g_mutex. Ours only while known; another's while its process lives.
bool Stale(const std::string& strName, pid_t nPid) {
  if (nPid == ::getpid()) return !g_live.contains(strName);
  return ::kill(nPid, 0) != 0 && errno == ESRCH;
}

}  // namespace

void TempFiles::Sweep(int fdFolder) {
  std::lock_guard<std::mutex> lock(g_mutex);
  // Opened afresh: the folder's own descriptor may be a path only.
  const int fdStream = ::openat(fdFolder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = fdStream >= 0 ? ::fdopendir(fdStream) : nullptr;
  if (!dir) {
    if (fdStream >= 0) ::close(fdStream);
    return;
  }
  while (struct dirent* ent = ::readdir(dir))
    if (const pid_t nPid = PidOf(ent->d_name); nPid && Stale(ent->d_name, nPid))
      ::unlinkat(fdFolder, ent->d_name, 0);
  ::closedir(dir);
}

int TempFiles::Create(int fdFolder, std::string& strName) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_bEnding) {
    errno = ECANCELED;
    return -1;
  }
  for (int nTry = 0; nTry < 100; ++nTry) {
    char name[64];
    std::snprintf(name, sizeof name, ".orvane-%d-%u.tmp", static_cast<int>(::getpid()), g_nSeq++);
    const int fd = ::openat(fdFolder, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return -1;
    const int fdKept = ::fcntl(fdFolder, F_DUPFD_CLOEXEC, 0);
    if (fdKept < 0) {
      const int nErrno = errno;
      ::unlinkat(fdFolder, name, 0);
      ::close(fd);
      errno = nErrno;
      return -1;
    }
    strName = name;
    g_live.emplace(strName, fdKept);
    return fd;
  }
  return -1;
}

void TempFiles::Forget(const std::string& strName) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (auto it = g_live.find(strName); it != g_live.end()) {
    ::close(it->second);
    g_live.erase(it);
  }
}

void TempFiles::RemoveAll() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_bEnding = true;
  for (const auto& [strName, fdFolder] : g_live) ::unlinkat(fdFolder, strName.c_str(), 0);
}

bool TempFiles::Skip(int fdFolder, const std::string& strName) {
  const pid_t nPid = PidOf(strName);
  if (!nPid) return false;
  const int nSavedErrno = errno;  // the listing reads its own errors from errno
  std::lock_guard<std::mutex> lock(g_mutex);
  if (Stale(strName, nPid)) ::unlinkat(fdFolder, strName.c_str(), 0);
  errno = nSavedErrno;
  return true;
}
