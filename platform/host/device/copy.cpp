// Whole-file work on the host: copy, read and replace, each finished before it takes the
// destination's name (a file without a name linked in, or a temporary file renamed over the
// old one), so the name never shows a half-written file and the old contents stay whole until
// the new ones are. A failure leaves the destination as it was and nothing behind.
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

// Renames only when the new name is free; -1 with EEXIST when it is not.
int RenameNoReplace(int fdParent, const std::string& strFrom, const std::string& strTo) {
  if (::renameat2(fdParent, strFrom.c_str(), fdParent, strTo.c_str(), RENAME_NOREPLACE) == 0)
    return 0;
  if (errno != EINVAL) return -1;
  // A file system that cannot be asked so: looked at first.
  struct stat st {};
  if (::fstatat(fdParent, strTo.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
    return -1;
  }
  return ::renameat(fdParent, strFrom.c_str(), fdParent, strTo.c_str());
}

// The facts a copy uses, from a look-up made before the file was opened.
struct stat StatOf(const struct statx& st) {
  struct stat out {};
  out.st_mode = st.stx_mode;
  out.st_size = static_cast<off_t>(st.stx_size);
  out.st_dev = makedev(st.stx_dev_major, st.stx_dev_minor);
  out.st_ino = st.stx_ino;
  out.st_atim = {st.stx_atime.tv_sec, st.stx_atime.tv_nsec};
  out.st_mtim = {st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec};
  return out;
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

int CHostDevice::OpenSource(const std::wstring& strSource, struct stat& listed, DWORD& dwError) {
  // A plain file just listed is opened where it was listed; anything else (a link to follow, a
  // name not listed a moment ago) through its path.
  const CFact* fact = HostFacts::Find(m_nFactsOwner, strSource);
  if (fact && fact->bExists && S_ISREG(fact->st.stx_mode)) {
    int fd = ::openat(fact->Parent(), fact->strName.c_str(),
                      O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      listed = StatOf(fact->st);
      return fd;
    }
  }
  listed.st_mode = 0;
  return m_pImage->Open(strSource, O_RDONLY | O_NONBLOCK, dwError);
}

BOOL CHostDevice::CopyFile(const std::wstring& strSource, const std::wstring& strDest,
                           BOOL bFailIfExists) {
  HostFacts::NextCall();
  DWORD dwError = 0;
  struct stat src {};
  CUniqueFd fdSrc(OpenSource(strSource, src, dwError));
  if (!fdSrc.IsValid()) return Fail(dwError);

  for (int nTry = 0;; ++nTry) {
    const CFact* dst = Lookup(strDest, dwError);
    if (!dst) return Fail(dwError);
    if (dst->IsRoot()) return Fail(ERROR_ACCESS_DENIED);
    // A source just listed as a plain file is copied to a new name by what the listing found;
    // otherwise by what was opened, which also tells a copy onto itself.
    if (!S_ISREG(src.st_mode) || dst->bExists) {
      if (::fstat(fdSrc.Get(), &src) != 0) return Fail(Win32FromErrno(errno));
      if (!S_ISREG(src.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    }
    if (!dst->bExists) {
      bool bAppeared = false;
      const BOOL bOk = CopyToNew(fdSrc.Get(), src, *dst, bFailIfExists, bAppeared);
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
    bool bIgnored = false;
    return CopyThroughTemp(fdSrc.Get(), src, *dst, true, bIgnored);
  }
}

BOOL CHostDevice::CopyToNew(int fdSrc, const struct stat& src, const CFact& dst, BOOL bFailIfExists,
                            bool& bAppeared) {
  const mode_t mode = src.st_mode & 0777;
  const int fdParent = dst.Parent();
  // Written as a file without a name and linked under the destination's name once whole: a cut
  // power leaves neither a half-written file there nor a temporary one. A file system that
  // cannot goes through a temporary name, as over an existing file.
  CUniqueFd fdOut(::openat(fdParent, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, mode));
  if (!fdOut.IsValid()) {
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
      return Fail(Win32FromErrno(errno));
    if (CopyThroughTemp(fdSrc, src, dst, false, bAppeared)) return TRUE;
    if (bFailIfExists) bAppeared = false;  // it stays an error 80
    return FALSE;
  }
  const struct timespec times[2] = {src.st_atim, src.st_mtim};
  // The permission bits set again: the file creation mask or a folder's default access list may
  // have taken some away.
  if (!CopyContents(fdSrc, fdOut.Get(), src.st_size) || ::fchmod(fdOut.Get(), mode) != 0 ||
      ::futimens(fdOut.Get(), times) != 0)
    return Fail(Win32FromErrno(errno));
  if (!LinkUnnamed(fdOut.Get(), fdParent, dst.strName)) {
    const int nErrno = errno;
    if (nErrno != EEXIST) return Fail(Win32FromErrno(nErrno));
    // Made by others meanwhile: what was looked up about it is stale.
    HostFacts::FileChanged();
    bAppeared = !bFailIfExists;
    return Fail(ERROR_FILE_EXISTS);
  }
  HostFacts::FileChanged();
  if (::close(fdOut.Release()) == 0) return TRUE;
  // What a failed close may have lost goes again, as long as the name still names the file
  // linked here (by the size and time given to it).
  const int nErrno = errno;
  struct stat now {};
  if (::fstatat(fdParent, dst.strName.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(now.st_mode) && now.st_size == src.st_size &&
      now.st_mtim.tv_sec == src.st_mtim.tv_sec && now.st_mtim.tv_nsec == src.st_mtim.tv_nsec)
    ::unlinkat(fdParent, dst.strName.c_str(), 0);
  return Fail(Win32FromErrno(nErrno));
}

bool CHostDevice::LinkUnnamed(int fd, int fdParent, const std::string& strName) {
  if (::linkat(fd, "", fdParent, strName.c_str(), AT_EMPTY_PATH) == 0) return true;
  // Without the right to link by descriptor, by its name under /proc.
  if (errno != ENOENT && errno != EPERM) return false;
  char proc[64];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
  return ::linkat(AT_FDCWD, proc, fdParent, strName.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

BOOL CHostDevice::CopyThroughTemp(int fdSrc, const struct stat& src, const CFact& dst,
                                  bool bReplace, bool& bAppeared) {
  const int fdParent = dst.Parent();
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
  const int r = bReplace ? ::renameat(fdParent, strTemp.c_str(), fdParent, dst.strName.c_str())
                         : RenameNoReplace(fdParent, strTemp, dst.strName);
  if (r != 0) {
    bAppeared = errno == EEXIST;
    return Abandon(fdParent, strTemp, bAppeared ? ERROR_FILE_EXISTS : Win32FromErrno(errno));
  }
  return TRUE;
}

BOOL CHostDevice::ReadWholeFile(const std::wstring& strPath, std::string& bytes) {
  HostFacts::NextCall();
  DWORD dwError = 0;
  CUniqueFd fd(m_pImage->Open(strPath, O_RDONLY | O_NONBLOCK, dwError));
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
  CResolvedPath path;
  DWORD dwError = 0;
  if (!m_pImage->Resolve(strPath, path, dwError)) return Fail(dwError);
  if (path.IsRoot()) return Fail(ERROR_ACCESS_DENIED);
  int fdParent = path.Parent();
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
  m_pImage->ForgetFolder(strPath);
  // The rename itself reaches the disk only with its folder.
  CUniqueFd fdDir(::openat(fdParent, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fdDir.IsValid()) ::fsync(fdDir.Get());
  return TRUE;
}
