// Whole-file work on the host: copy, read and replace. A copy to a new name is written under that
// name, as the device writes it; replacing a file goes through a temporary file renamed over it,
// so the old contents stay whole until the new ones are. A failure leaves the destination as it
// was and nothing behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/host/device/device.h"
#include "platform/host/device/errors.h"
#include "platform/host/device/name_case.h"
#include "platform/host/device/temp_files.h"

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

// Permission bits where the file system holds them; where it holds none, the file as it is.
bool SetMode(int fd, mode_t mode) { return ::fchmod(fd, mode) == 0 || ModeNotHeld(errno); }

// What this thread learnt of the folder (of a device, as CDevicePath) where it last made files:
// whether its file system holds permission bits at all (FAT through FUSE holds none, and asks its
// daemon in vain each time), and a mode that a file made there comes out with as asked, neither
// the creation mask nor a default access list taking any away. Files made next to the first are
// not given their bits again where those are known to stand; a folder changed since (moved,
// removed, made again) is learnt afresh.
struct CModesLearnt {
  std::uint64_t nOwner = 0;
  std::string strFolder;
  std::uint64_t nFolderChanges = 0;
  bool bNoneHeld = false;
  mode_t exact = static_cast<mode_t>(-1);
};
thread_local CModesLearnt t_modes;

// The bits of a file just made with mode in the folder.
bool SetNewMode(std::uint64_t nOwner, const std::string& strFolder, int fd, mode_t mode) {
  const std::uint64_t nFolderChanges = HostFacts::FolderChanges();
  if (nOwner != t_modes.nOwner || strFolder != t_modes.strFolder ||
      nFolderChanges != t_modes.nFolderChanges)
    t_modes = CModesLearnt{nOwner, strFolder, nFolderChanges};
  if (t_modes.bNoneHeld || mode == t_modes.exact) return true;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && (st.st_mode & 07777) == mode) {
    t_modes.exact = mode;
    return true;
  }
  if (::fchmod(fd, mode) == 0) return true;
  t_modes.bNoneHeld = errno == ENOSYS || errno == EOPNOTSUPP;
  return ModeNotHeld(errno);
}

// The code of a failed read of a source: a medium that cannot deliver its bytes is the read's
// own fault (30), not the flash's.
DWORD ReadError(int nErrno) {
  if (nErrno == EIO || nErrno == EBADMSG || nErrno == EPERM || nErrno == EACCES)
    return ERROR_READ_FAULT;
  return Win32FromErrno(nErrno);
}

constexpr off_t kHoleWorthAsking = 1 << 16;

// Copies nLength bytes at nAt of fdIn to the same place in fdOut, in the kernel; by reading and
// writing once the kernel fails (which then tells the side that failed). 0 or the code; a
// source that ends early read short (30).
DWORD CopyRange(int fdIn, int fdOut, off_t nAt, off_t nLength, bool& bKernel) {
  loff_t nIn = nAt, nOut = nAt;
  while (bKernel && nLength > 0) {
    const ssize_t n = ::copy_file_range(fdIn, &nIn, fdOut, &nOut, static_cast<size_t>(nLength), 0);
    if (n > 0) nLength -= n;
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) bKernel = false;
  }
  std::vector<char> buf(nLength > 0 ? 1 << 16 : 0);
  while (nLength > 0) {
    const ssize_t n = ::pread(fdIn, buf.data(), std::min<off_t>(nLength, 1 << 16), nIn);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ReadError(errno);
    if (n == 0) return ERROR_READ_FAULT;
    for (ssize_t nDone = 0; nDone < n;) {
      const ssize_t w = ::pwrite(fdOut, buf.data() + nDone, static_cast<size_t>(n - nDone), nOut);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return Win32FromErrno(w < 0 ? errno : ENOSPC);
      nDone += w;
      nOut += w;
    }
    nIn += n;
    nLength -= n;
  }
  return ERROR_SUCCESS;
}

// Copies the nSize bytes fdIn had when opened to fdOut, its holes left holes where the source
// tells them (a backup that fits stays one that fits). Whole or failed: a source that read
// short fails with 30, one whose size changed meanwhile with 32. From the start, whatever was
// read from fdIn before: a copy tried again begins afresh.
DWORD CopyContents(int fdIn, int fdOut, off_t nSize) {
  bool bKernel = true;
  off_t nAt = 0, nEnd = 0;
  DWORD dwError = ERROR_SUCCESS;
  while (nAt < nSize && !dwError) {
    // Holes asked for only where one can save a block.
    off_t nData = nSize > kHoleWorthAsking ? ::lseek(fdIn, nAt, SEEK_DATA) : nAt;
    if (nData < 0 && errno == ENXIO) break;  // a hole to the end
    if (nData < 0) nData = nAt;              // no holes told: all data
    if (nData >= nSize) break;
    off_t nHole = nSize > kHoleWorthAsking ? ::lseek(fdIn, nData, SEEK_HOLE) : nSize;
    if (nHole <= nData || nHole > nSize) nHole = nSize;
    dwError = CopyRange(fdIn, fdOut, nData, nHole - nData, bKernel);
    nAt = nEnd = nHole;
  }
  if (dwError && dwError != ERROR_READ_FAULT) return dwError;
  // A source whose size is no longer the one it was opened with changed meanwhile.
  // Only the size asked for: FUSE answers it from what it holds, the times it would ask again.
  // After a short read it holds the size the read ended at: the medium is asked then.
  struct statx now {};
  const int nSync = dwError ? AT_STATX_FORCE_SYNC : AT_STATX_SYNC_AS_STAT;
  if (::statx(fdIn, "", AT_EMPTY_PATH | nSync, STATX_SIZE, &now) != 0) return ReadError(errno);
  if (static_cast<off_t>(now.stx_size) != nSize) return ERROR_SHARING_VIOLATION;
  if (dwError) return dwError;
  // A hole at the end is the size given.
  if (nEnd < nSize && ::ftruncate(fdOut, nSize) != 0) return Win32FromErrno(errno);
  return ERROR_SUCCESS;
}

// Removes the temporary file of a failed write and reports the code of the failure.
BOOL Abandon(int fdParent, const std::string& strTemp, DWORD dwError) {
  ::unlinkat(fdParent, strTemp.c_str(), 0);
  TempFiles::Forget(strTemp);
  return Fail(dwError);
}

}  // namespace

int CHostDevice::CreateTemp(int fdParent, std::string& strTemp, DWORD& dwError) {
  struct stat st {};
  if (::fstat(fdParent, &st) == 0) {
    std::lock_guard<std::mutex> lock(m_sweptMutex);
    if (m_swept.emplace(st.st_dev, st.st_ino).second) TempFiles::Sweep(fdParent);
  }
  const int fd = TempFiles::Create(fdParent, strTemp);
  if (fd < 0) dwError = Win32FromErrno(errno);
  return fd;
}

int CHostDevice::OpenSource(const CDevicePath& source, struct stat& st, DWORD& dwError) {
  // Always through its path from the image root, never in the folder where it was listed: that
  // folder may have left the image since, and reads are confined as writes are. Judged by its
  // type before it is opened: opening a device node or a FIFO can block or act. A plain file, as
  // its look-up (most often the listing's) found it, is opened at once, never through a link that
  // took its place; anything else is opened as a path and judged first.
  const CFact* fact = Lookup(source, dwError);
  if (!fact) return -1;
  if (!fact->bExists) {
    dwError = ERROR_FILE_NOT_FOUND;
    return -1;
  }
  if (S_ISREG(fact->st.stx_mode)) {
    CDevicePath real = source;
    real.strName = fact->strName;  // as its folder has it
    DWORD dwIgnored = 0;
    CUniqueFd fd(m_pImage->Open(real, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0,
                                EResolve::Read, dwIgnored));
    if (fd.IsValid() && ::fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode)) return fd.Release();
  }
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
    // Over the name the folder has, whatever its case.
    const std::string strName = dst->strName;
    const auto fdParent = m_pImage->OpenParent(dest, EResolve::Change, dwError);
    if (!fdParent) return Fail(dwError);
    return CopyOver(fdSrc.Get(), src, fdParent->Get(), strName);
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
    // Its folder there, a name not made is one the file system refuses (exFAT's "a:b").
    if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_INVALID_PARAMETER)
      return Fail(ERROR_INVALID_NAME);
    if (dwError != ERROR_ALREADY_EXISTS) return Fail(dwError);
    // Made by others meanwhile: what was looked up about it is stale.
    HostFacts::FileChanged();
    NoteNameFound(dst.strName);
    bAppeared = !bFailIfExists;
    return Fail(ERROR_FILE_EXISTS);
  }
  HostFacts::FileChanged();
  NoteNameMade(dst.strName);
  const struct timespec times[2] = {src.st_atim, src.st_mtim};
  // The permission bits set again where the file creation mask or a folder's default access list
  // took some away.
  struct stat made {};
  DWORD dwCopy = CopyContents(fdSrc, fdOut.Get(), src.st_size);
  if (!dwCopy && (!SetNewMode(m_nFactsOwner, dst.strFolder, fdOut.Get(), mode) ||
                  ::futimens(fdOut.Get(), times) != 0))
    dwCopy = Win32FromErrno(errno);
  if (dwCopy) {
    ::fstat(fdOut.Get(), &made);
    RemoveMade(dst, made);
    return Fail(dwCopy);
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
  if (DWORD dwCopy = CopyContents(fdSrc, fdTemp.Get(), src.st_size))
    return Abandon(fdParent, strTemp, dwCopy);
  if (!SetMode(fdTemp.Get(), src.st_mode & 0777) || ::futimens(fdTemp.Get(), times) != 0)
    return Abandon(fdParent, strTemp, Win32FromErrno(errno));
  if (::close(fdTemp.Release()) != 0) return Abandon(fdParent, strTemp, Win32FromErrno(errno));
  if (::renameat(fdParent, strTemp.c_str(), fdParent, strName.c_str()) != 0)
    return Abandon(fdParent, strTemp, Win32FromErrno(errno));
  TempFiles::Forget(strTemp);
  // FAT through FUSE stamps a file renamed over another with the time of the rename: the times
  // given again (the contents are whole whatever this answers).
  ::utimensat(fdParent, strName.c_str(), times, AT_SYMLINK_NOFOLLOW);
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
    if (n < 0) return Fail(ReadError(errno));
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
  // Missing as written: the name the folder has in another case is replaced.
  std::string strName = path.strName;
  bool bExists = m_pImage->StatAnyCase(fdParent, strName, st, dwError);
  if (bExists) {
    // A link is left as it is: renaming a new file over it would replace the link, not its file.
    if (S_ISDIR(st.stx_mode) || S_ISLNK(st.stx_mode)) return Fail(ERROR_ACCESS_DENIED);
    if (DWORD dwRefusal = RefusalFor(fdParent, strName, st)) return Fail(dwRefusal);
  } else if (dwError != ERROR_FILE_NOT_FOUND) {
    return Fail(dwError);
  }

  std::string strTemp;
  CUniqueFd fdTemp(CreateTemp(fdParent, strTemp, dwError));
  if (!fdTemp.IsValid()) return Fail(dwError);
  mode_t mode = bExists ? (st.stx_mode & 07777) : 0644;
  if (!WriteAll(fdTemp.Get(), bytes.data(), bytes.size()) || ::fsync(fdTemp.Get()) != 0 ||
      !SetMode(fdTemp.Get(), mode))
    return Abandon(fdParent, strTemp, Win32FromErrno(errno));
  if (::close(fdTemp.Release()) != 0) return Abandon(fdParent, strTemp, Win32FromErrno(errno));
  if (::renameat(fdParent, strTemp.c_str(), fdParent, strName.c_str()) != 0)
    return Abandon(fdParent, strTemp, Win32FromErrno(errno));
  TempFiles::Forget(strTemp);
  if (!bExists) NoteNameMade(strName);
  HostFacts::Changed();
  // The rename itself reaches the disk only with its folder.
  CUniqueFd fdDir(::openat(fdParent, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fdDir.IsValid()) ::fsync(fdDir.Get());
  return TRUE;
}
