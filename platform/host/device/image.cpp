#include "platform/host/device/image.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <linux/openat2.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string_view>

#include "platform/cstring.h"
#include "platform/host/device/errors.h"
#include "platform/host/device/kernel_fallback.h"
#include "platform/host/device/name_case.h"
#include "platform/runtime.h"

namespace {

// The device's separators; a "\\" inside a host name never reads as one (it is U+DC5C).
bool IsSeparator(wchar_t ch) { return ch == L'\\' || ch == L'/'; }

// A missing or non-folder step reads as path not found; a link a change may not follow and a way
// out of the image as access denied.
DWORD ResolveError(int nErrno, EResolve eResolve) {
  if (nErrno == ENOENT) return ERROR_PATH_NOT_FOUND;
  if (nErrno == ELOOP && eResolve == EResolve::Change) return ERROR_ACCESS_DENIED;
  return Win32FromErrno(nErrno, true);
}

// The names of a relative path, "." and empty ones kept: a trailing one asks for a folder.
void PushNames(std::string_view path, std::deque<std::string>& names) {
  std::deque<std::string> parts;
  for (size_t nStart = 0;;) {
    const size_t nSlash = std::min(path.find('/', nStart), path.size());
    parts.emplace_back(path.substr(nStart, nSlash - nStart));
    if (nSlash == path.size()) break;
    nStart = nSlash + 1;
  }
  names.insert(names.begin(), parts.begin(), parts.end());
}

// A link whose target the kernel jumps to rather than reads (/proc/PID/exe, fd/N, ns/...): one in
// a /proc folder other than /proc itself, whose self and mounts are plain links.
bool IsMagicLinkFolder(int fdFolder) {
  struct statfs fs {};
  struct stat st {};
  return ::fstatfs(fdFolder, &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC &&
         ::fstat(fdFolder, &st) == 0 && st.st_ino != 1;
}

constexpr int kMaxLinks = 40;  // the kernel's own bound on the links of one resolution

}  // namespace

std::string CDevicePath::Rel() const {
  if (strName.empty()) return strFolder;
  return strFolder == "." ? strName : strFolder + '/' + strName;
}

CDeviceImage::CDeviceImage(const std::string& strRoot, std::vector<std::string> volumes)
    : m_strRoot(strRoot.empty() ? std::string("/") : strRoot), m_arrVolumes(std::move(volumes)) {
  char real[PATH_MAX];
  if (::realpath(m_strRoot.c_str(), real)) m_strRealRoot = real;
  m_bWholeHost = m_strRealRoot == "/";
  m_fdRoot =
      std::make_shared<CUniqueFd>(::open(m_strRoot.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct stat st {};
  if (m_fdRoot->IsValid() && ::fstat(m_fdRoot->Get(), &st) == 0) {
    m_rootDev = st.st_dev;
    m_rootIno = st.st_ino;
  }
}

bool CDeviceImage::Split(const std::wstring& strPath, CDevicePath& out) {
  // The whole path is gathered in the folder's string, then its last component taken off. It is
  // split before its names become host bytes: a "\" inside a name is a byte of that name there.
  std::string& rel = out.strFolder;
  rel.clear();
  rel.reserve(strPath.size());
  size_t nStart = 0;
  for (size_t i = 0; i <= strPath.size(); ++i) {
    if (i < strPath.size() && !IsSeparator(strPath[i])) continue;
    const std::wstring_view part(strPath.data() + nStart, i - nStart);
    nStart = i + 1;
    if (part.empty() || part == L".") continue;
    if (part == L"..") {
      if (rel.empty()) return false;
      const size_t nSlash = rel.rfind('/');
      rel.erase(nSlash == std::string::npos ? 0 : nSlash);
      continue;
    }
    if (!rel.empty()) rel += '/';
    AppendWideAsUtf8(rel, part);
  }
  const size_t nSlash = rel.rfind('/');
  out.strName.assign(rel, nSlash == std::string::npos ? 0 : nSlash + 1);
  rel.resize(nSlash == std::string::npos ? 0 : nSlash);
  if (rel.empty()) rel = ".";
  return true;
}

std::string CDeviceImage::HostPathOf(const std::wstring& strPath) const {
  CDevicePath path;
  if (!Split(strPath, path)) return {};
  std::string base = m_strRealRoot.empty() ? m_strRoot : m_strRealRoot;
  if (path.IsRoot()) return base;
  if (base.back() != '/') base += '/';
  return base + path.Rel();
}

std::wstring CDeviceImage::DevicePathOf(const std::string& strHostPath) const {
  if (m_strRealRoot.empty() || strHostPath.empty() || strHostPath[0] != '/') return {};
  std::string rel;
  if (m_bWholeHost) {
    rel = strHostPath;
  } else if (strHostPath == m_strRealRoot) {
    rel = "/";
  } else if (strHostPath.size() > m_strRealRoot.size() &&
             strHostPath.compare(0, m_strRealRoot.size(), m_strRealRoot) == 0 &&
             strHostPath[m_strRealRoot.size()] == '/') {
    rel = strHostPath.substr(m_strRealRoot.size());
  } else {
    return {};
  }
  std::wstring wide = HostNameToWide(rel);
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  return wide;
}

int CDeviceImage::OpenBeneath(const std::string& strRel, int nFlags, mode_t mode,
                              EResolve eResolve) const {
  if (!m_fdRoot->IsValid()) {
    errno = ENOENT;
    return -1;
  }
  struct open_how how {};
  how.flags = static_cast<unsigned long long>(nFlags | O_CLOEXEC);
  how.mode = mode;
  // With the whole host as the image nothing lies outside it.
  how.resolve = RESOLVE_NO_MAGICLINKS;
  if (!m_bWholeHost)
    how.resolve |= RESOLVE_BENEATH | (eResolve == EResolve::Change ? RESOLVE_NO_SYMLINKS : 0);
  const bool bWalk = UseKernelFallback(EKernelCall::Openat2);
  long fd;
  do {
    fd = bWalk ? WalkBeneath(strRel, nFlags, mode, eResolve)
               : ::syscall(SYS_openat2, m_fdRoot->Get(), strRel.c_str(), &how, sizeof how);
  } while (fd < 0 && (errno == EAGAIN || errno == EINTR));
  return static_cast<int>(fd);
}

int CDeviceImage::WalkBeneath(const std::string& strRel, int nFlags, mode_t mode,
                              EResolve eResolve) const {
  if (strRel.size() >= PATH_MAX) {
    errno = ENAMETOOLONG;
    return -1;
  }
  const bool bNoLinks = !m_bWholeHost && eResolve == EResolve::Change;
  std::vector<CUniqueFd> folders;  // walked into below the root; ".." takes one back
  auto current = [&] { return folders.empty() ? m_fdRoot->Get() : folders.back().Get(); };
  std::deque<std::string> names;
  PushNames(strRel, names);
  int nLinks = 0;
  while (!names.empty()) {
    std::string name = std::move(names.front());
    names.pop_front();
    const bool bLast = names.empty();
    if (name.empty() || name == "." || name == "..") {
      if (name == "..") {
        if (!folders.empty()) {
          folders.pop_back();
        } else if (!m_bWholeHost) {
          errno = EXDEV;
          return -1;
        }
      }
      if (bLast) return ::openat(current(), ".", nFlags | O_CLOEXEC, mode);
      continue;
    }
    // Never through a link: one is met as itself, and read here.
    struct stat st {};
    if (!bLast) {
      CUniqueFd fd(::openat(current(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
      if (!fd.IsValid() || ::fstat(fd.Get(), &st) != 0) return -1;
      if (S_ISDIR(st.st_mode)) {
        folders.push_back(std::move(fd));
        continue;
      }
      if (!S_ISLNK(st.st_mode)) {
        errno = ENOTDIR;
        return -1;
      }
    } else {
      const int fd = ::openat(current(), name.c_str(), nFlags | O_NOFOLLOW | O_CLOEXEC, mode);
      const int nErrno = errno;
      const bool bMaybeLink = fd >= 0 ? (nFlags & O_PATH) : (nErrno == ELOOP || nErrno == ENOTDIR);
      if (!bMaybeLink || (nFlags & O_NOFOLLOW) ||
          ::fstatat(current(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
          !S_ISLNK(st.st_mode)) {
        errno = nErrno;
        return fd;
      }
      if (fd >= 0) ::close(fd);
    }
    if (bNoLinks || ++nLinks > kMaxLinks || IsMagicLinkFolder(current())) {
      errno = ELOOP;
      return -1;
    }
    char target[PATH_MAX];
    const ssize_t n = ::readlinkat(current(), name.c_str(), target, sizeof target);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof target)) {
      errno = n < 0 ? errno : n == 0 ? ENOENT : ENAMETOOLONG;
      return -1;
    }
    std::string_view strTarget(target, static_cast<size_t>(n));
    if (strTarget[0] == '/') {
      // Under openat2's confinement an absolute link is refused even when it lands inside.
      if (!m_bWholeHost) {
        errno = EXDEV;
        return -1;
      }
      folders.clear();
      strTarget.remove_prefix(1);
    }
    PushNames(strTarget, names);
  }
  return ::openat(current(), ".", nFlags | O_CLOEXEC, mode);
}

bool CDeviceImage::FoldCase(const std::string& strRel, bool bLastMayBeMissing, EResolve eResolve,
                            std::string& strReal, DWORD& dwError) const {
  strReal = ".";
  for (size_t nStart = 0; nStart < strRel.size();) {
    const size_t nSlash = std::min(strRel.find('/', nStart), strRel.size());
    std::string name = strRel.substr(nStart, nSlash - nStart);
    const bool bLast = nSlash == strRel.size();
    nStart = nSlash + 1;
    if (name == ".") continue;
    const std::string strAt = strReal;
    auto append = [&](const std::string& strName) {
      strReal = strAt == "." ? strName : strAt + '/' + strName;
    };
    append(name);
    CUniqueFd fd(OpenBeneath(strReal, O_PATH, 0, eResolve));
    if (fd.IsValid()) continue;
    if (errno != ENOENT) {
      dwError = ResolveError(errno, eResolve);
      return false;
    }
    CUniqueFd fdFolder(OpenBeneath(strAt, O_PATH | O_DIRECTORY, 0, eResolve));
    if (!fdFolder.IsValid()) {
      dwError = ResolveError(errno, eResolve);
      return false;
    }
    if (MatchCase(fdFolder.Get(), name, dwError)) {
      append(name);
    } else if (dwError != ERROR_FILE_NOT_FOUND) {
      return false;
    } else if (!bLast || !bLastMayBeMissing) {
      dwError = bLast ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
      return false;
    }
  }
  return true;
}

BOOL CDeviceImage::MatchCase(int fdFolder, std::string& strName, DWORD& dwError) const {
  std::vector<std::string> found;
  if (!NamesEqualNoCase(fdFolder, strName, found)) {
    dwError = Win32FromErrno(errno, true);
    return FALSE;
  }
  // Made as written meanwhile: that one wins.
  if (found.size() == 1 || std::find(found.begin(), found.end(), strName) != found.end()) {
    if (found.size() == 1) strName = found[0];
    return TRUE;
  }
  if (found.empty()) {
    dwError = ERROR_FILE_NOT_FOUND;
    return FALSE;
  }
  std::wstring strFolder;
  char link[64];
  char host[PATH_MAX];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fdFolder);
  const ssize_t n = ::readlink(link, host, sizeof host);
  if (n > 0) strFolder = DevicePathOf(std::string(host, static_cast<size_t>(n)));
  std::wstring strNames;
  for (const std::string& name : found)
    strNames += (strNames.empty() ? L"'" : L", '") + HostNameToWide(name) + L"'";
  ErrorPrintW(L"orvane-recovery: '%ls' in '%ls' is ambiguous: the folder holds %ls, which differ "
              L"only in case",
              HostNameToWide(strName).c_str(), strFolder.c_str(), strNames.c_str());
  dwError = ERROR_PATH_NOT_FOUND;
  return FALSE;
}

std::shared_ptr<const CUniqueFd> CDeviceImage::OpenParent(const CDevicePath& path,
                                                          EResolve eResolve, DWORD& dwError) const {
  int fd = OpenBeneath(path.strFolder, O_PATH | O_DIRECTORY, 0, eResolve);
  if (fd < 0 && errno == ENOENT) {
    std::string strReal;
    if (!FoldCase(path.strFolder, false, eResolve, strReal, dwError)) {
      if (dwError == ERROR_FILE_NOT_FOUND) dwError = ERROR_PATH_NOT_FOUND;
      return nullptr;
    }
    fd = OpenBeneath(strReal, O_PATH | O_DIRECTORY, 0, eResolve);
  }
  if (fd < 0) {
    dwError = ResolveError(errno, eResolve);
    return nullptr;
  }
  return std::make_shared<const CUniqueFd>(fd);
}

int CDeviceImage::Open(const CDevicePath& path, int nFlags, mode_t mode, EResolve eResolve,
                       DWORD& dwError) const {
  int fd = OpenBeneath(path.Rel(), nFlags, mode, eResolve);
  if (fd >= 0) return fd;
  int nErrno = errno;
  if (nErrno == ENOENT) {
    std::string strReal;
    if (!FoldCase(path.Rel(), nFlags & O_CREAT, eResolve, strReal, dwError)) return -1;
    fd = OpenBeneath(strReal, nFlags, mode, eResolve);
    if (fd >= 0) return fd;
    nErrno = errno;
  }
  if (nErrno == ENOENT) {
    // The last component or a folder on the way: the folder tells.
    dwError = OpenParent(path, eResolve, dwError) ? ERROR_FILE_NOT_FOUND : dwError;
  } else {
    dwError = ResolveError(nErrno, eResolve);
  }
  return -1;
}

BOOL CDeviceImage::Stat(int fdParent, const std::string& strName, struct statx& st,
                        DWORD& dwError) const {
  int nFlags = AT_SYMLINK_NOFOLLOW | (strName.empty() ? AT_EMPTY_PATH : 0);
  unsigned mask = STATX_TYPE | STATX_MODE | STATX_INO | STATX_SIZE | STATX_ATIME | STATX_MTIME;
  if (::statx(fdParent, strName.c_str(), nFlags, mask, &st) == 0) return TRUE;
  dwError = Win32FromErrno(errno);
  return FALSE;
}

BOOL CDeviceImage::StatAnyCase(int fdParent, std::string& strName, struct statx& st,
                               DWORD& dwError) const {
  if (Stat(fdParent, strName, st, dwError)) return TRUE;
  if (dwError != ERROR_FILE_NOT_FOUND || strName.empty() || !MatchCase(fdParent, strName, dwError))
    return FALSE;
  return Stat(fdParent, strName, st, dwError);
}

DWORD CDeviceImage::WordOf(int fdParent, const std::string& strName, const struct statx& st) const {
  if (!S_ISDIR(st.stx_mode))
    return (st.stx_mode & S_IWUSR) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
  if (strName.empty()) return FILE_ATTRIBUTE_DIRECTORY;
  if ((st.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
      (st.stx_attributes & STATX_ATTR_MOUNT_ROOT))
    return FILE_ATTRIBUTE_VOLUME_ROOT;
  const auto sameName = [&](const std::string& strVolume) {
    return strName == strVolume || CaseKey(strName) == CaseKey(strVolume);
  };
  if (std::find_if(m_arrVolumes.begin(), m_arrVolumes.end(), sameName) != m_arrVolumes.end()) {
    struct stat parent {};
    if (::fstat(fdParent, &parent) == 0 && parent.st_dev == m_rootDev && parent.st_ino == m_rootIno)
      return FILE_ATTRIBUTE_VOLUME_ROOT;
  }
  return FILE_ATTRIBUTE_DIRECTORY | ((st.stx_mode & S_IWUSR) ? 0 : FILE_ATTRIBUTE_READONLY);
}
