#include "platform/host/host_device.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cwchar>

#include "platform/cstring.h"
#include "platform/host/host_errors.h"
#include "platform/host/host_processes.h"

namespace {

BOOL Fail(DWORD dwError) {
  SetLastError(dwError);
  return FALSE;
}

FILETIME FileTimeOf(const struct statx_timestamp& ts) {
  // 100 ns steps since 1601-01-01, as the device counts.
  constexpr long long kEpochDiff = 11644473600LL;
  unsigned long long v =
      static_cast<unsigned long long>(ts.tv_sec + kEpochDiff) * 10000000ULL + ts.tv_nsec / 100;
  return FILETIME{static_cast<DWORD>(v & 0xFFFFFFFF), static_cast<DWORD>(v >> 32)};
}

}  // namespace

CHostDevice::CHostDevice(const std::string& strRoot, std::vector<std::string> volumes)
    : m_image(strRoot, std::move(volumes)), m_nPid(::getpid()) {}

std::string CHostDevice::RootFromEnvironment() {
  const char* root = std::getenv("ORVANE_DEVICE_ROOT");
  return root && *root ? std::string(root) : std::string("/");
}

void CHostDevice::SetModuleFileName(const std::wstring& strPath) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_strModule = strPath;
}

std::wstring CHostDevice::ModuleFileName() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_strModule.empty()) return m_strModule;
  }
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return m_image.DevicePathOf(std::string(buf, static_cast<size_t>(n)));
}

DWORD CHostDevice::RefusalFor(int fdParent, const std::string& strName,
                              const struct statx& st) const {
  if (m_image.WordOf(fdParent, strName, st) & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
  if (S_ISREG(st.stx_mode) && (st.stx_mode & 0111) &&
      IsRunningProgramFile(makedev(st.stx_dev_major, st.stx_dev_minor), st.stx_ino))
    return ERROR_SHARING_VIOLATION;
  return 0;
}

BOOL CHostDevice::ListFolder(const std::wstring& strFolder,
                             std::vector<WIN32_FIND_DATAW>& entries) {
  DWORD dwError = 0;
  CUniqueFd fd(m_image.Open(strFolder, O_RDONLY | O_DIRECTORY, dwError));
  if (!fd.IsValid()) return Fail(dwError == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : dwError);
  DIR* dir = ::fdopendir(fd.Get());
  if (!dir) return Fail(Win32FromErrno(errno));
  fd.Release();
  entries.clear();
  while (struct dirent* ent = ::readdir(dir)) {
    std::string name = ent->d_name;
    if (name == "." || name == "..") continue;
    struct statx st {};
    DWORD dwIgnored = 0;
    if (!m_image.Stat(::dirfd(dir), name, st, dwIgnored)) continue;  // gone meanwhile
    WIN32_FIND_DATAW data{};
    data.dwFileAttributes = m_image.WordOf(::dirfd(dir), name, st);
    data.ftLastWriteTime = FileTimeOf(st.stx_mtime);
    data.ftLastAccessTime = FileTimeOf(st.stx_atime);
    data.nFileSizeHigh = static_cast<DWORD>(st.stx_size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(st.stx_size & 0xFFFFFFFF);
    std::wstring wide = Utf8ToWide(name);
    size_t n = std::min(wide.size(), static_cast<size_t>(MAX_PATH - 1));
    std::wmemcpy(data.cFileName, wide.c_str(), n);
    data.cFileName[n] = L'\0';
    entries.push_back(data);
  }
  ::closedir(dir);
  return TRUE;
}

DWORD CHostDevice::GetAttributes(const std::wstring& strPath) {
  CResolvedPath path;
  DWORD dwError = 0;
  struct statx st {};
  if (!m_image.Resolve(strPath, path, dwError) ||
      !m_image.Stat(path.Parent(), path.strName, st, dwError)) {
    SetLastError(dwError);
    return INVALID_FILE_ATTRIBUTES;
  }
  return m_image.WordOf(path.Parent(), path.strName, st);
}

BOOL CHostDevice::SetAttributes(const std::wstring& strPath, DWORD dwAttributes) {
  CResolvedPath path;
  DWORD dwError = 0;
  struct statx st {};
  if (!m_image.Resolve(strPath, path, dwError) ||
      !m_image.Stat(path.Parent(), path.strName, st, dwError))
    return Fail(dwError);
  // A link has no attributes of its own, and a volume root's word is fixed.
  if (path.IsRoot() || S_ISLNK(st.stx_mode) ||
      m_image.WordOf(path.Parent(), path.strName, st) == FILE_ATTRIBUTE_VOLUME_ROOT)
    return TRUE;
  mode_t mode = st.stx_mode & 07777;
  mode_t wanted = (dwAttributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~0222) : (mode | S_IWUSR);
  if (wanted != mode && ::fchmodat(path.Parent(), path.strName.c_str(), wanted, 0) != 0)
    return Fail(Win32FromErrno(errno));
  return TRUE;
}

BOOL CHostDevice::CreateFolder(const std::wstring& strPath) {
  CResolvedPath path;
  DWORD dwError = 0;
  if (!m_image.Resolve(strPath, path, dwError)) return Fail(dwError);
  if (path.IsRoot()) return Fail(ERROR_ALREADY_EXISTS);
  if (::mkdirat(path.Parent(), path.strName.c_str(), 0777) != 0)
    return Fail(Win32FromErrno(errno, true));
  m_image.ForgetFolder(strPath);
  return TRUE;
}

BOOL CHostDevice::DeleteFile(const std::wstring& strPath) {
  CResolvedPath path;
  DWORD dwError = 0;
  struct statx st {};
  if (!m_image.Resolve(strPath, path, dwError)) return Fail(dwError);
  if (path.IsRoot()) return Fail(ERROR_ACCESS_DENIED);
  if (!m_image.Stat(path.Parent(), path.strName, st, dwError)) return Fail(dwError);
  if (S_ISDIR(st.stx_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (DWORD dwRefusal = RefusalFor(path.Parent(), path.strName, st)) return Fail(dwRefusal);
  if (::unlinkat(path.Parent(), path.strName.c_str(), 0) != 0) return Fail(Win32FromErrno(errno));
  m_image.ForgetFolder(strPath);
  return TRUE;
}

BOOL CHostDevice::RemoveFolder(const std::wstring& strPath) {
  CResolvedPath path;
  DWORD dwError = 0;
  struct statx st {};
  if (!m_image.Resolve(strPath, path, dwError)) return Fail(dwError);
  if (!m_image.Stat(path.Parent(), path.strName, st, dwError)) return Fail(dwError);
  if (!S_ISDIR(st.stx_mode)) return Fail(ERROR_DIRECTORY);
  DWORD dwWord = m_image.WordOf(path.Parent(), path.strName, st);
  if (path.IsRoot() || dwWord == FILE_ATTRIBUTE_VOLUME_ROOT || (dwWord & FILE_ATTRIBUTE_READONLY))
    return Fail(ERROR_ACCESS_DENIED);
  if (::unlinkat(path.Parent(), path.strName.c_str(), AT_REMOVEDIR) != 0)
    return Fail(errno == EEXIST ? ERROR_DIR_NOT_EMPTY : Win32FromErrno(errno));
  m_image.ForgetFolder(strPath);
  return TRUE;
}

std::vector<CProcessInfo> CHostDevice::SnapshotProcesses() {
  return SnapshotHostProcesses(m_image);
}

std::shared_ptr<CProcessObject> CHostDevice::OpenProcess(DWORD dwPid) {
  return OpenHostProcess(m_image, dwPid);
}

DWORD CHostDevice::CurrentProcessId() { return static_cast<DWORD>(::getpid()); }
