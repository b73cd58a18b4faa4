// Whole-file work on the host: copy, read and replace. A copy to a new name is written under that
// name, as the device writes it; replacing a file goes through a temporary file renamed over it,
// so the old contents stay whole until the new ones are. A failure leaves the destination as it
// was and nothing behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/host/device/device.h"
#include "platform/host/device/errors.h"

namespace {

BOOL Fail(DWORD dwError) {
  SetLastError(dwError);
  return FALSE;
}

bool WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Copies fdIn from its start to fdOut, in the kernel; by reading and writing where the kernel
// cannot. A file that was nSize bytes long when opened is done after that many (no call to find
// its end), even should it grow meanwhile. From the start, whatever was read from fdIn before: a
// copy tried again begins afresh.
bool CopyContents(int fdIn, int fdOut, off_t nSize) {
  loff_t nDone = 0;
  for (;;) {
    ssize_t n = ::copy_file_range(fdIn, &nDone, fdOut, nullptr, 1 << 30, 0);
    if (n == 0) return true;
    if (n > 0) {
      if (nDone == nSize) return true;
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
    break;
  }
  std::vector<char> buf(1 << 16);
  for (;;) {
    ssize_t n = ::pread(fdIn, buf.data(), buf.size(), nDone);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!WriteAll(fdOut, buf.data(), static_cast<size_t>(n))) return false;
    nDone += n;
    if (nDone == nSize) return true;
  }
}

// Removes the temporary file of a failed write and reports the code of the failure.
BOOL Abandon(int fdParent, const std::string& strTemp, DWORD dwError) {
  ::unlinkat(fdParent, strTemp.c_str(), 0);
  return Fail(dwError);
}

}  // namespace

int CHostDevice::CreateTemp(int fdParent, std::string& strTemp, DWORD& dwError) {
  for (int nTry = 0; nTry < 100; ++nTry) {
    char name[64];
    std::snprintf(name, sizeof name, ".orvane-%d-%u.tmp", static_cast<int>(m_nPid), m_nTempSeq++);
    int fd = ::openat(fdParent, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      strTemp = name;
      return fd;
    }
    if (errno != EEXIST) break;
  }
  dwError = Win32FromErrno(errno);
  return -1;
}

int CHostDevice::OpenSource(const CDevicePath& source, struct stat& st, DWORD& dwError) {
  // Always through its path from the image root, never in the folder where it was listed: that
  // folder may have left the image since, and reads are confined as writes are. Judged by its
  // type before it is opened: opening a device node or a FIFO can block or act.
  CUniqueFd fdPath(m_pImage->Open(source, O_PATH, 0, EResolve::Read, dwError));
  if (!fdPath.IsValid()) return -1;
  if (::fstat(fdPath.Get(), &st) != 0) {
    dwError = Win32FromErrno(errno);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    dwError = ERROR_ACCESS_DENIED;
    return -1;
  }
  const std::string strReopen = "/proc/self/fd/" + std::to_string(fdPath.Get());
  const int fd = ::open(strReopen.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) dwError = Win32FromErrno(errno);
  return fd;
}

BOOL CHostDevice::CopyFile(const std::wstring& strSource, const std::wstring& strDest,
                           BOOL bFailIfExists) {
  HostFacts::NextCall();
  CDevicePath source, dest;
  if (!CDeviceImage::Split(strSource, source) || !CDeviceImage::Split(strDest, dest))
    return Fail(ERROR_ACCESS_DENIED);
  DWORD dwError = 0;
  struct stat src {};
  CUniqueFd fdSrc(OpenSource(source, src, dwError));
  if (!fdSrc.IsValid()) return Fail(dwError);

  for (int nTry = 0;; ++nTry) {
    const CFact* dst = Lookup(dest, dwError);
    if (!dst) return Fail(dwError);
    if (dst->IsRoot()) return Fail(ERROR_ACCESS_DENIED);
    if (!dst->bExists) {
      bool bAppeared = false;
      const BOOL bOk = CopyToNew(fdSrc.Get(), src, dest, bFailIfExists, bAppeared);
      // Made by someone else meanwhile: treated as it now stands, once.
      if (bAppeared && nTry == 0) continue;
      return bOk;
    }
    const struct statx& st = dst->st;
    if (makedev(st.stx_dev_major, st.stx_dev_minor) == src.st_dev && st.stx_ino == src.st_ino)
      return Fail(ERROR_SHARING_VIOLATION);
    if (S_ISDIR(st.stx_mode)) return Fail(ERROR_ACCESS_DENIED);
    if (bFailIfExists) return Fail(ERROR_FILE_EXISTS);
    if (DWORD dwRefusal = RefusalFor(dst->Parent(), dst->strName, st)) return Fail(dwRefusal);
    const auto fdParent = m_pImage->OpenParent(dest, EResolve::Change, dwError);
    if (!fdParent) return Fail(dwError);
    return CopyOver(fdSrc.Get(), src, fdParent->Get(), dest.strName);
  }
}

BOOL CHostDevice::CopyToNew(int fdSrc, const struct stat& src, const CDevicePath& dst,
                            BOOL bFailIfExists, bool& bAppeared) {
  const mode_t mode = src.st_mode & 0777;
  DWORD dwError = 0;
  // Made in one call that finds its folder from the root.
  CUniqueFd fdOut(
      m_pImage->Open(dst, O_WRONLY | O_CREAT | O_EXCL, mode, EResolve::Change, dwError));
  if (!fdOut.IsValid()) {
    if (dwError != ERROR_ALREADY_EXISTS) return Fail(dwError);
    // Made by others meanwhile: what was looked up about it is stale.
    HostFacts::FileChanged();
    bAppeared = !bFailIfExists;
    return Fail(ERROR_FILE_EXISTS);
  }
  HostFacts::FileChanged();
  const struct timespec times[2] = {src.st_atim, src.st_mtim};
  // The permission bits set again: the file creation mask or a folder's default access list may
  // have taken some away.
  struct stat made {};
  if (!CopyContents(fdSrc, fdOut.Get(), src.st_size) || ::fchmod(fdOut.Get(), mode) != 0 ||
      ::futimens(fdOut.Get(), times) != 0) {
    const int nErrno = errno;
    ::fstat(fdOut.Get(), &made);
    RemoveMade(dst, made);
    return Fail(Win32FromErrno(nErrno));
  }
  if (::close(fdOut.Release()) == 0) return TRUE;
  // What a failed close may have lost: the file goes, known by the size and time given to it.
  const int nErrno = errno;
  made = src;
  made.st_ino = 0;
  RemoveMade(dst, made);
  return Fail(Win32FromErrno(nErrno));
}

void CHostDevice::RemoveMade(const CDevicePath& path, const struct stat& made) {
  DWORD dwIgnored = 0;
  const auto fdParent = m_pImage->OpenParent(path, EResolve::Change, dwIgnored);
  struct stat now {};
  if (!fdParent ||
      ::fstatat(fdParent->Get(), path.strName.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(now.st_mode))
    return;
  const bool bOurs = made.st_ino ? now.st_dev == made.st_dev && now.st_ino == made.st_ino
                                 : now.st_size == made.st_size &&
                                       now.st_mtim.tv_sec == made.st_mtim.tv_sec &&
                                       now.st_mtim.tv_nsec == made.st_mtim.tv_nsec;
  if (bOurs) ::unlinkat(fdParent->Get(), path.strName.c_str(), 0);
}

BOOL CHostDevice::CopyOver(int fdSrc, const struct stat& src, int fdParent,
                           const std::string& strName) {
  DWORD dwError = 0;
  std::string strTemp;
  CUniqueFd fdTemp(CreateTemp(fdParent, strTemp, dwError));
  HostFacts::Changed();
  if (!fdTemp.IsValid()) return Fail(dwError);
  const struct timespec times[2] = {src.st_atim, src.st_mtim};
  if (!CopyContents(fdSrc, fdTemp.Get(), src.st_size) ||
      ::fchmod(fdTemp.Get(), src.st_mode & 0777) != 0 || ::futimens(fdTemp.Get(), times) != 0)
    return Abandon(fdParent, strTemp, Win32FromErrno(errno));
  if (::close(fdTemp.Release()) != 0) return Abandon(fdParent, strTemp, Win32FromErrno(errno));
  if (::renameat(fdParent, strTemp.c_str(), fdParent, strName.c_str()) != 0)
    return Abandon(fdParent, strTemp, Win32FromErrno(errno));
  return TRUE;
}

BOOL CHostDevice::ReadWholeFile(const std::wstring& strPath, std::string& bytes) {
  HostFacts::NextCall();
  CDevicePath path;
  if (!CDeviceImage::Split(strPath, path)) return Fail(ERROR_ACCESS_DENIED);
  DWORD dwError = 0;
  CUniqueFd fd(m_pImage->Open(path, O_RDONLY | O_NONBLOCK, 0, EResolve::Read, dwError));
  if (!fd.IsValid()) return Fail(dwError);
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return Fail(Win32FromErrno(errno));
  if (!S_ISREG(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  std::string out;
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd.Get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(Win32FromErrno(errno));
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  bytes = std::move(out);
  return TRUE;
}

BOOL CHostDevice::ReplaceFileContents(const std::wstring& strPath, const std::string& bytes) {
  HostFacts::NextCall();
  CDevicePath path;
  if (!CDeviceImage::Split(strPath, path)) return Fail(ERROR_ACCESS_DENIED);
  DWORD dwError = 0;
  const auto fdFolder = m_pImage->OpenParent(path, EResolve::Change, dwError);
  if (!fdFolder) return Fail(dwError);
  if (path.IsRoot()) return Fail(ERROR_ACCESS_DENIED);
  const int fdParent = fdFolder->Get();
  struct statx st {};
  bool bExists = m_pImage->Stat(fdParent, path.strName, st, dwError);
  if (bExists) {
    // A link is left as it is: renaming a new file over it would replace the link, not its file.
    if (S_ISDIR(st.stx_mode) || S_ISLNK(st.stx_mode)) return Fail(ERROR_ACCESS_DENIED);
    if (DWORD dwRefusal = RefusalFor(fdParent, path.strName, st)) return Fail(dwRefusal);
  } else if (dwError != ERROR_FILE_NOT_FOUND) {
    return Fail(dwError);
  }

  std::string strTemp;
  CUniqueFd fdTemp(CreateTemp(fdParent, strTemp, dwError));
  if (!fdTemp.IsValid()) return Fail(dwError);
  mode_t mode = bExists ? (st.stx_mode & 07777) : 0644;
  if (!WriteAll(fdTemp.Get(), bytes.data(), bytes.size()) || ::fsync(fdTemp.Get()) != 0 ||
      ::fchmod(fdTemp.Get(), mode) != 0)
    return Abandon(fdParent, strTemp, Win32FromErrno(errno));
  if (::close(fdTemp.Release()) != 0) return Abandon(fdParent, strTemp, Win32FromErrno(errno));
  if (::renameat(fdParent, strTemp.c_str(), fdParent, path.strName.c_str()) != 0)
    return Abandon(fdParent, strTemp, Win32FromErrno(errno));
  HostFacts::Changed();
  // The rename itself reaches the disk only with its folder.
  CUniqueFd fdDir(::openat(fdParent, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fdDir.IsValid()) ::fsync(fdDir.Get());
  return TRUE;
}
