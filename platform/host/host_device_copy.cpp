// Whole-file work on the host: copy, read and replace, each written through a temporary file in
// the destination folder and renamed into place, so the destination's name never shows a
// half-written file and a failure leaves nothing behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/host/host_device.h"
#include "platform/host/host_errors.h"

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

// Copies the rest of fdIn to fdOut in the kernel; read and write where the kernel cannot.
bool CopyContents(int fdIn, int fdOut) {
  for (;;) {
    ssize_t n = ::copy_file_range(fdIn, nullptr, fdOut, nullptr, 1 << 30, 0);
    if (n == 0) return true;
    if (n > 0) continue;
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
    break;
  }
  std::vector<char> buf(1 << 16);
  for (;;) {
    ssize_t n = ::read(fdIn, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!WriteAll(fdOut, buf.data(), static_cast<size_t>(n))) return false;
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

BOOL CHostDevice::CopyFile(const std::wstring& strSource, const std::wstring& strDest,
                           BOOL bFailIfExists) {
  DWORD dwError = 0;
  CUniqueFd fdSrc(m_image.Open(strSource, O_RDONLY | O_NONBLOCK, dwError));
  if (!fdSrc.IsValid()) return Fail(dwError);
  struct stat src {};
  if (::fstat(fdSrc.Get(), &src) != 0) return Fail(Win32FromErrno(errno));
  if (!S_ISREG(src.st_mode)) return Fail(ERROR_ACCESS_DENIED);

  CResolvedPath dst;
  if (!m_image.Resolve(strDest, dst, dwError)) return Fail(dwError);
  if (dst.IsRoot()) return Fail(ERROR_ACCESS_DENIED);
  int fdParent = dst.Parent();
  struct statx st {};
  if (m_image.Stat(fdParent, dst.strName, st, dwError)) {
    if (makedev(st.stx_dev_major, st.stx_dev_minor) == src.st_dev && st.stx_ino == src.st_ino)
      return Fail(ERROR_SHARING_VIOLATION);
    if (S_ISDIR(st.stx_mode)) return Fail(ERROR_ACCESS_DENIED);
    if (bFailIfExists) return Fail(ERROR_FILE_EXISTS);
    if (DWORD dwRefusal = RefusalFor(fdParent, dst.strName, st)) return Fail(dwRefusal);
  } else if (dwError != ERROR_FILE_NOT_FOUND) {
    return Fail(dwError);
  }

  std::string strTemp;
  CUniqueFd fdTemp(CreateTemp(fdParent, strTemp, dwError));
  if (!fdTemp.IsValid()) return Fail(dwError);
  const struct timespec times[2] = {src.st_atim, src.st_mtim};
  if (!CopyContents(fdSrc.Get(), fdTemp.Get()) || ::fchmod(fdTemp.Get(), src.st_mode & 0777) != 0 ||
      ::futimens(fdTemp.Get(), times) != 0)
    return Abandon(fdParent, strTemp, Win32FromErrno(errno));
  if (::close(fdTemp.Release()) != 0) return Abandon(fdParent, strTemp, Win32FromErrno(errno));
  int r = bFailIfExists ? ::renameat2(fdParent, strTemp.c_str(), fdParent, dst.strName.c_str(),
                                      RENAME_NOREPLACE)
                        : ::renameat(fdParent, strTemp.c_str(), fdParent, dst.strName.c_str());
  if (r != 0)
    return Abandon(fdParent, strTemp, errno == EEXIST ? ERROR_FILE_EXISTS : Win32FromErrno(errno));
  m_image.ForgetFolder(strDest);
  return TRUE;
}

BOOL CHostDevice::ReadWholeFile(const std::wstring& strPath, std::string& bytes) {
  DWORD dwError = 0;
  CUniqueFd fd(m_image.Open(strPath, O_RDONLY | O_NONBLOCK, dwError));
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
  CResolvedPath path;
  DWORD dwError = 0;
  if (!m_image.Resolve(strPath, path, dwError)) return Fail(dwError);
  if (path.IsRoot()) return Fail(ERROR_ACCESS_DENIED);
  int fdParent = path.Parent();
  struct statx st {};
  bool bExists = m_image.Stat(fdParent, path.strName, st, dwError);
  if (bExists) {
    if (S_ISDIR(st.stx_mode)) return Fail(ERROR_ACCESS_DENIED);
    if (DWORD dwRefusal = RefusalFor(fdParent, path.strName, st)) return Fail(dwRefusal);
  } else if (dwError != ERROR_FILE_NOT_FOUND) {
    return Fail(dwError);
  }

  std::string strTemp;
  CUniqueFd fdTemp(CreateTemp(fdParent, strTemp, dwError));
  if (!fdTemp.IsValid()) return Fail(dwError);
  mode_t mode = bExists ? (st.stx_mode & 0777) : 0644;
  if (!WriteAll(fdTemp.Get(), bytes.data(), bytes.size()) || ::fsync(fdTemp.Get()) != 0 ||
      ::fchmod(fdTemp.Get(), mode) != 0)
    return Abandon(fdParent, strTemp, Win32FromErrno(errno));
  if (::close(fdTemp.Release()) != 0) return Abandon(fdParent, strTemp, Win32FromErrno(errno));
  if (::renameat(fdParent, strTemp.c_str(), fdParent, path.strName.c_str()) != 0)
    return Abandon(fdParent, strTemp, Win32FromErrno(errno));
  m_image.ForgetFolder(strPath);
  // The rename itself reaches the disk only with its folder.
  CUniqueFd fdDir(::openat(fdParent, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fdDir.IsValid()) ::fsync(fdDir.Get());
  return TRUE;
}
