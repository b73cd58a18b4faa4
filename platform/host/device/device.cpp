#include "platform/host/device/device.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "platform/cstring.h"
#include "platform/host/device/errors.h"
#include "platform/host/device/listing.h"
#include "platform/host/device/name_case.h"
#include "platform/host/device/processes.h"

namespace {

BOOL Fail(DWORD dwError) {
  SetLastError(dwError);
  return FALSE;
}

}  // namespace

CHostDevice::CHostDevice(const std::string& strRoot, std::vector<std::string> volumes)
    : m_pImage(std::make_shared<const CDeviceImage>(strRoot, std::move(volumes))),
      m_nFactsOwner(HostFacts::NewOwner()) {}

std::string CHostDevice::RootFromEnvironment() {
  const char* root = std::getenv("ORVANE_DEVICE_ROOT");
  return root && *root ? std::string(root) : std::string("/");
}

bool CHostDevice::IsProgramPath(const std::wstring& strPath) {
  return strPath.size() >= 2 && strPath.size() < MAX_PATH && strPath[0] == L'\\' &&
         strPath.back() != L'\\';
}

bool CHostDevice::ProgramFromEnvironment(std::wstring& strPath, std::string& strError) {
  const char* psz = std::getenv("ORVANE_PROGRAM");
  strPath = psz ? Utf8ToWide(psz) : std::wstring();
  if (strPath.empty() || IsProgramPath(strPath)) return true;
  strError = std::string("ORVANE_PROGRAM is not a device path such as ") +
             WideToUtf8(kDefaultProgram) + ": '" + psz + "'";
  return false;
}

void CHostDevice::SetModuleFileName(const std::wstring& strPath) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_strModule = strPath;
}

std::wstring CHostDevice::ModuleFileName() {
  HostFacts::NextCall();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_strModule.empty()) return m_strModule;
  }
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::wstring strOwn;
  if (n > 0) strOwn = m_pImage->DevicePathOf(std::string(buf, static_cast<size_t>(n)));
  return strOwn.empty() ? std::wstring(kDefaultProgram) : strOwn;
}

DWORD CHostDevice::RefusalFor(int fdParent, const std::string& strName,
                              const struct statx& st) const {
  if (m_pImage->WordOf(fdParent, strName, st) & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
  if (S_ISREG(st.stx_mode) && (st.stx_mode & 0111) &&
      IsRunningProgramFile(makedev(st.stx_dev_major, st.stx_dev_minor), st.stx_ino))
    return ERROR_SHARING_VIOLATION;
  return 0;
}

const CFact* CHostDevice::Lookup(const CDevicePath& path, DWORD& dwError) {
  if (const CFact* fact = HostFacts::Find(m_nFactsOwner, path)) return fact;
  CFact fact;
  // A name next to one just looked up sits in the folder already found for it.
  if (const CFact* sibling = HostFacts::FindFolder(m_nFactsOwner, path.strFolder)) {
    fact.pFolder = sibling->pFolder;
    fact.fdParent = sibling->fdParent;
  } else {
    fact.fdParent = m_pImage->OpenParent(path, EResolve::Read, dwError);
    if (!fact.fdParent) return nullptr;
    fact.pFolder = std::make_shared<const std::string>(path.strFolder);
  }
  fact.strName = path.strName;
  // In a folder a copy is filling, a name it holds in no case is known missing without a look.
  if (!fact.IsRoot() && KnownAbsent(fact.Parent(), fact.strName))
    return &HostFacts::Keep(m_nFactsOwner, std::move(fact));
  // Missing as written: the entry the device would take for it.
  fact.bExists = m_pImage->StatAnyCase(fact.Parent(), fact.strName, fact.st, dwError);
  if (fact.strName != path.strName) fact.strWritten = path.strName;
  if (!fact.bExists && dwError != ERROR_FILE_NOT_FOUND) return nullptr;
  return &HostFacts::Keep(m_nFactsOwner, std::move(fact));
}

std::unique_ptr<IFolderListing> CHostDevice::OpenListing(const std::wstring& strFolder) {
  HostFacts::NextCall();
  DWORD dwError = 0;
  std::unique_ptr<CHostListing> listing =
      CHostListing::Open(m_pImage, m_nFactsOwner, strFolder, dwError);
  if (!listing) SetLastError(dwError);
  return listing;
}

BOOL CHostDevice::ListFolder(const std::wstring& strFolder,
                             std::vector<WIN32_FIND_DATAW>& entries) {
  HostFacts::NextCall();
  std::unique_ptr<IFolderListing> listing = OpenListing(strFolder);
  if (!listing) return FALSE;
  entries.clear();
  WIN32_FIND_DATAW data;
  SetLastError(ERROR_NO_MORE_FILES);
  while (listing->Next(data)) entries.push_back(data);
  return GetLastError() == ERROR_NO_MORE_FILES;
}

DWORD CHostDevice::GetAttributes(const std::wstring& strPath) {
  HostFacts::NextCall();
  CDevicePath path;
  DWORD dwError = ERROR_ACCESS_DENIED;
  const CFact* fact = CDeviceImage::Split(strPath, path) ? Lookup(path, dwError) : nullptr;
  if (!fact || !fact->bExists) {
    SetLastError(fact ? ERROR_FILE_NOT_FOUND : dwError);
    return INVALID_FILE_ATTRIBUTES;
  }
  return m_pImage->WordOf(fact->Parent(), fact->strName, fact->st);
}

BOOL CHostDevice::SetAttributes(const std::wstring& strPath, DWORD dwAttributes) {
  HostFacts::NextCall();
  CDevicePath path;
  DWORD dwError = ERROR_ACCESS_DENIED;
  const CFact* fact = CDeviceImage::Split(strPath, path) ? Lookup(path, dwError) : nullptr;
  if (!fact) return Fail(dwError);
  if (!fact->bExists) return Fail(ERROR_FILE_NOT_FOUND);
  // A link has no attributes of its own, and a volume root's word is fixed.
  if (fact->IsRoot() || S_ISLNK(fact->st.stx_mode) ||
      m_pImage->WordOf(fact->Parent(), fact->strName, fact->st) == FILE_ATTRIBUTE_VOLUME_ROOT)
    return TRUE;
  mode_t mode = fact->st.stx_mode & 07777;
  mode_t wanted = (dwAttributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~0222) : (mode | S_IWUSR);
  if (wanted == mode) return TRUE;
  CFact changed = *fact;
  const auto fdParent = m_pImage->OpenParent(path, EResolve::Change, dwError);
  if (!fdParent) return Fail(dwError);
  // Never through a link that took the name's place meanwhile.
  // On media without permission bits the word stays as the medium holds it.
  if (::fchmodat(fdParent->Get(), changed.strName.c_str(), wanted, AT_SYMLINK_NOFOLLOW) != 0)
    return ModeNotHeld(errno) ? TRUE : Fail(Win32FromErrno(errno));
  changed.st.stx_mode = static_cast<__u16>((changed.st.stx_mode & ~07777) | wanted);
  if (S_ISREG(changed.st.stx_mode))
    HostFacts::FileChanged();
  else
    HostFacts::Changed();
  HostFacts::Keep(m_nFactsOwner, std::move(changed));
  return TRUE;
}

BOOL CHostDevice::CreateFolder(const std::wstring& strPath) {
  HostFacts::NextCall();
  CDevicePath path;
  if (!CDeviceImage::Split(strPath, path)) return Fail(ERROR_ACCESS_DENIED);
  DWORD dwError = 0;
  const auto fdParent = m_pImage->OpenParent(path, EResolve::Change, dwError);
  if (!fdParent) return Fail(dwError);
  if (path.IsRoot()) return Fail(ERROR_ALREADY_EXISTS);
  // The device has the folder already when its name is there in another case.
  std::string strName = path.strName;
  struct statx st {};
  if (m_pImage->StatAnyCase(fdParent->Get(), strName, st, dwError))
    return Fail(ERROR_ALREADY_EXISTS);
  if (dwError == ERROR_PATH_NOT_FOUND) return Fail(dwError);
  if (::mkdirat(fdParent->Get(), path.strName.c_str(), 0777) != 0) {
    // In a folder still there, a name not made is one the file system refuses.
    struct stat folder {};
    const bool bRefused =
        errno == EINVAL ||
        (errno == ENOENT && ::fstat(fdParent->Get(), &folder) == 0 && folder.st_nlink > 0);
    return Fail(bRefused ? ERROR_INVALID_NAME : Win32FromErrno(errno, true));
  }
  NoteNameMade(path.strName);
  HostFacts::Changed();
  return TRUE;
}

BOOL CHostDevice::DeleteFile(const std::wstring& strPath) {
  HostFacts::NextCall();
  CDevicePath path;
  DWORD dwError = ERROR_ACCESS_DENIED;
  const CFact* fact = CDeviceImage::Split(strPath, path) ? Lookup(path, dwError) : nullptr;
  if (!fact) return Fail(dwError);
  if (fact->IsRoot()) return Fail(ERROR_ACCESS_DENIED);
  if (!fact->bExists) return Fail(ERROR_FILE_NOT_FOUND);
  if (S_ISDIR(fact->st.stx_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (DWORD dwRefusal = RefusalFor(fact->Parent(), fact->strName, fact->st)) return Fail(dwRefusal);
  const bool bPlain = S_ISREG(fact->st.stx_mode);
  const std::string strName = fact->strName;
  const auto fdParent = m_pImage->OpenParent(path, EResolve::Change, dwError);
  if (!fdParent) return Fail(dwError);
  if (::unlinkat(fdParent->Get(), strName.c_str(), 0) != 0) return Fail(Win32FromErrno(errno));
  // A link gone may have led to folders.
  if (bPlain)
    HostFacts::FileChanged();
  else
    HostFacts::Changed();
  return TRUE;
}

BOOL CHostDevice::RemoveFolder(const std::wstring& strPath) {
  HostFacts::NextCall();
  CDevicePath path;
  if (!CDeviceImage::Split(strPath, path)) return Fail(ERROR_ACCESS_DENIED);
  DWORD dwError = 0;
  struct statx st {};
  const auto fdParent = m_pImage->OpenParent(path, EResolve::Change, dwError);
  if (!fdParent) return Fail(dwError);
  std::string strName = path.strName;
  if (!m_pImage->StatAnyCase(fdParent->Get(), strName, st, dwError)) return Fail(dwError);
  if (!S_ISDIR(st.stx_mode)) return Fail(ERROR_DIRECTORY);
  DWORD dwWord = m_pImage->WordOf(fdParent->Get(), strName, st);
  if (path.IsRoot() || dwWord == FILE_ATTRIBUTE_VOLUME_ROOT || (dwWord & FILE_ATTRIBUTE_READONLY))
    return Fail(ERROR_ACCESS_DENIED);
  if (::unlinkat(fdParent->Get(), strName.c_str(), AT_REMOVEDIR) != 0)
    return Fail(errno == EEXIST ? ERROR_DIR_NOT_EMPTY : Win32FromErrno(errno));
  HostFacts::Changed();
  return TRUE;
}

std::vector<CProcessInfo> CHostDevice::SnapshotProcesses() {
  HostFacts::NextCall();
  return SnapshotHostProcesses(*m_pImage);
}

std::shared_ptr<CProcessObject> CHostDevice::OpenProcess(DWORD dwPid) {
  HostFacts::NextCall();
  return OpenHostProcess(*m_pImage, dwPid);
}

DWORD CHostDevice::CurrentProcessId() { return static_cast<DWORD>(::getpid()); }
