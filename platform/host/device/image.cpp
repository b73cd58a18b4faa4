#include "platform/host/device/image.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>

#include "platform/cstring.h"
#include "platform/host/device/errors.h"
#include "platform/host/device/facts.h"

namespace {

// Components of a device path, by the rules of Split. Split before the names become host bytes:
// a "\" inside a name (U+DC5C) is a byte of that name there, never a separator.
bool SplitViews(std::wstring_view path, std::vector<std::wstring_view>& parts) {
  parts.clear();
  size_t nStart = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != L'\\' && path[i] != L'/') continue;
    std::wstring_view part = path.substr(nStart, i - nStart);
    nStart = i + 1;
    if (part == L"..") {
      if (parts.empty()) return false;
      parts.pop_back();
    } else if (!part.empty() && part != L".") {
      parts.push_back(part);
    }
  }
  return true;
}

void AppendPart(std::string& out, const std::string& part) { out += part; }
void AppendPart(std::string& out, std::wstring_view part) { out += WideToUtf8(part); }

// Host path, relative to the root, of the first n components.
template <class Part>
std::string Join(const std::vector<Part>& parts, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    if (i) out += '/';
    AppendPart(out, parts[i]);
  }
  return out.empty() ? std::string(".") : out;
}

// A confinement refusal reads as access denied; a missing or non-folder step as path not found.
DWORD ParentError(int nErrno) {
  return nErrno == ENOENT ? ERROR_PATH_NOT_FOUND : Win32FromErrno(nErrno, true);
}

}  // namespace

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

bool CDeviceImage::Split(const std::wstring& strPath, std::vector<std::string>& parts) {
  std::vector<std::wstring_view> views;
  if (!SplitViews(strPath, views)) return false;
  parts.clear();
  for (std::wstring_view view : views) parts.push_back(WideToUtf8(view));
  return true;
}

std::string CDeviceImage::HostPathOf(const std::wstring& strPath) const {
  std::vector<std::string> parts;
  if (!Split(strPath, parts)) return {};
  std::string base = m_strRealRoot.empty() ? m_strRoot : m_strRealRoot;
  if (parts.empty()) return base;
  if (base.back() != '/') base += '/';
  return base + Join(parts, parts.size());
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

int CDeviceImage::OpenBeneath(int fdDir, const std::string& strRel, int nFlags) const {
  struct open_how how {};
  how.flags = static_cast<unsigned long long>(nFlags | O_CLOEXEC);
  how.resolve = RESOLVE_NO_MAGICLINKS | (m_bWholeHost ? 0 : RESOLVE_BENEATH);
  long fd;
  do {
    fd = ::syscall(SYS_openat2, fdDir, strRel.c_str(), &how, sizeof how);
  } while (fd < 0 && (errno == EAGAIN || errno == EINTR));
  return static_cast<int>(fd);
}

std::shared_ptr<const CUniqueFd> CDeviceImage::OpenFolder(const std::string& strRel) const {
  if (strRel == ".") return m_fdRoot;
  const HostFacts::CCall call = HostFacts::CurrentCall();
  const std::uint64_t nServesUntil = call.nCall + HostFacts::kServedCalls;
  std::shared_ptr<const CUniqueFd> known;
  dev_t dev = 0;
  ino_t ino = 0;
  {
    std::lock_guard<std::mutex> lock(m_knownMutex);
    for (CKnownFolder& k : m_arrKnown) {
      if (k.strRel != strRel) continue;
      if (k.nThread == call.nThread && call.nCall <= k.nServesUntil) {
        k.nServesUntil = nServesUntil;
        return k.fd;
      }
      known = k.fd;
      dev = k.dev;
      ino = k.ino;
      break;
    }
  }
  if (known) {
    // The name must still be the very folder resolved before, itself and not a link: one that was
    // removed, moved away or replaced since (by anyone) is resolved afresh, confined again.
    struct stat st {};
    if (::fstatat(m_fdRoot->Get(), strRel.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(st.st_mode) && st.st_dev == dev && st.st_ino == ino) {
      Remember(CKnownFolder{strRel, known, dev, ino, call.nThread, nServesUntil});
      return known;
    }
  }
  int fdRaw = OpenBeneath(m_fdRoot->Get(), strRel, O_PATH | O_DIRECTORY);
  if (fdRaw < 0) return nullptr;
  auto fd = std::make_shared<const CUniqueFd>(fdRaw);
  struct stat st {};
  if (::fstat(fdRaw, &st) != 0) return fd;
  Remember(CKnownFolder{strRel, fd, st.st_dev, st.st_ino, call.nThread, nServesUntil});
  return fd;
}

void CDeviceImage::Remember(CKnownFolder entry) const {
  std::lock_guard<std::mutex> lock(m_knownMutex);
  for (CKnownFolder& k : m_arrKnown) {
    if (k.strRel == entry.strRel) {
      k = std::move(entry);
      return;
    }
  }
  if (m_arrKnown.size() < kKnownFolders) {
    m_arrKnown.push_back(std::move(entry));
  } else {
    m_arrKnown[m_nNextKnown] = std::move(entry);
    m_nNextKnown = (m_nNextKnown + 1) % kKnownFolders;
  }
}

void CDeviceImage::ForgetFolder(const std::wstring& strPath) const {
  std::vector<std::string> parts;
  std::string rel = Split(strPath, parts) && !parts.empty() ? Join(parts, parts.size()) : ".";
  std::lock_guard<std::mutex> lock(m_knownMutex);
  if (rel == ".") {
    m_arrKnown.clear();
  } else {
    std::erase_if(m_arrKnown, [&](const CKnownFolder& k) {
      return k.strRel == rel ||
             (k.strRel.size() > rel.size() && k.strRel.compare(0, rel.size(), rel) == 0 &&
              k.strRel[rel.size()] == '/');
    });
  }
  m_nNextKnown = 0;
}

BOOL CDeviceImage::Resolve(const std::wstring& strPath, CResolvedPath& out, DWORD& dwError) const {
  std::vector<std::wstring_view> parts;
  if (!SplitViews(strPath, parts)) {
    dwError = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  if (!m_fdRoot->IsValid()) {
    dwError = ERROR_PATH_NOT_FOUND;
    return FALSE;
  }
  out.strName = parts.empty() ? std::string() : WideToUtf8(parts.back());
  size_t nParent = parts.empty() ? 0 : parts.size() - 1;
  out.fdParent = OpenFolder(Join(parts, nParent));
  if (!out.fdParent) {
    dwError = ParentError(errno);
    return FALSE;
  }
  return TRUE;
}

int CDeviceImage::Open(const std::wstring& strPath, int nFlags, DWORD& dwError) const {
  std::vector<std::string> parts;
  if (!Split(strPath, parts)) {
    dwError = ERROR_ACCESS_DENIED;
    return -1;
  }
  if (!m_fdRoot->IsValid()) {
    dwError = ERROR_PATH_NOT_FOUND;
    return -1;
  }
  int fd = OpenBeneath(m_fdRoot->Get(), Join(parts, parts.size()), nFlags);
  if (fd >= 0) return fd;
  int nErrno = errno;
  if (nErrno == ENOENT) {
    CResolvedPath parent;
    DWORD dwParent = 0;
    dwError = Resolve(strPath, parent, dwParent) ? ERROR_FILE_NOT_FOUND : dwParent;
  } else {
    dwError = ParentError(nErrno);
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

DWORD CDeviceImage::WordOf(int fdParent, const std::string& strName, const struct statx& st) const {
  if (!S_ISDIR(st.stx_mode))
    return (st.stx_mode & S_IWUSR) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
  if (strName.empty()) return FILE_ATTRIBUTE_DIRECTORY;
  if ((st.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
      (st.stx_attributes & STATX_ATTR_MOUNT_ROOT))
    return FILE_ATTRIBUTE_VOLUME_ROOT;
  if (std::find(m_arrVolumes.begin(), m_arrVolumes.end(), strName) != m_arrVolumes.end()) {
    struct stat parent {};
    if (::fstat(fdParent, &parent) == 0 && parent.st_dev == m_rootDev && parent.st_ino == m_rootIno)
      return FILE_ATTRIBUTE_VOLUME_ROOT;
  }
  return FILE_ATTRIBUTE_DIRECTORY | ((st.stx_mode & S_IWUSR) ? 0 : FILE_ATTRIBUTE_READONLY);
}
