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
#include "platform/host/device/processes.h"

namespace {

BOOL Fail(DWORD dwError) {
  SetLastError(dwError);
  return FALSE;
}

}  // namespace

CHostDevice::CHostDevice(const std::string& strRoot, std::vector<std::string> volumes)
    : m_pImage(std::make_shared<const CDeviceImage>(strRoot, std::move(volumes))),
      m_nFactsOwner(HostFacts::NewOwner()),
      m_nPid(::getpid()) {}

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

const CFact* CHostDevice::Lookup(const std::wstring& strPath, DWORD& dwError) {
  if (const CFact* fact = HostFacts::Find(m_nFactsOwner, strPath)) return fact;
  CFact fact;
  const size_t nLeaf = HostFacts::LeafOf(strPath);
  if (nLeaf != std::wstring::npos) {
    // A name next to one just looked up sits in the folder already found for it.
    if (const CFact* sibling = HostFacts::FindSibling(m_nFactsOwner, strPath, nLeaf)) {
      fact.pFolderPart = sibling->pFolderPart;
      fact.fdParent = sibling->fdParent;
      fact.strLeaf = strPath.substr(nLeaf);
      fact.strName = WideToUtf8(fact.strLeaf);
    }
  }
  if (!fact.fdParent) {
    CResolvedPath path;
    if (!m_pImage->Resolve(strPath, path, dwError)) return nullptr;
    fact.fdParent = std::move(path.fdParent);
    fact.strName = std::move(path.strName);
    if (nLeaf != std::wstring::npos) {
      fact.pFolderPart = std::make_shared<const std::wstring>(strPath, 0, nLeaf);
      fact.strLeaf = strPath.substr(nLeaf);
    } else {
      fact.strLeaf = strPath;
    }
  }
  fact.bExists = m_pImage->Stat(fact.Parent(), fact.strName, fact.st, dwError);
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
  while (listing->Next(data)) entries.push_back(data);
  return TRUE;
}

DWORD CHostDevice::GetAttributes(const std::wstring& strPath) {
  HostFacts::NextCall();
  DWORD dwError = 0;
  const CFact* fact = Lookup(strPath, dwError);
  if (!fact || !fact->bExists) {
    SetLastError(fact ? ERROR_FILE_NOT_FOUND : dwError);
    return INVALID_FILE_ATTRIBUTES;
  }
  return m_pImage->WordOf(fact->Parent(), fact->strName, fact->st);
}

BOOL CHostDevice::SetAttributes(const std::wstring& strPath, DWORD dwAttributes) {
  HostFacts::NextCall();
  DWORD dwError = 0;
  const CFact* fact = Lookup(strPath, dwError);
  if (!fact) return Fail(dwError);
  if (!fact->bExists) return Fail(ERROR_FILE_NOT_FOUND);
  // A link has no attributes of its own, and a volume root's word is fixed.
  if (fact->IsRoot() || S_ISLNK(fact->st.stx_mode) ||
      m_pImage->WordOf(fact->Parent(), fact->strName, fact->st) == FILE_ATTRIBUTE_VOLUME_ROOT)
    return TRUE;
  mode_t mode = fact->st.stx_mode & 07777;
  mode_t wanted = (dwAttributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~0222) : (mode | S_IWUSR);
  if (wanted == mode) return TRUE;
  if (::fchmodat(fact->Parent(), fact->strName.c_str(), wanted, 0) != 0)
    return Fail(Win32FromErrno(errno));
  CFact changed = *fact;
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
  CResolvedPath path;
  DWORD dwError = 0;
  if (!m_pImage->Resolve(strPath, path, dwError)) return Fail(dwError);
  if (path.IsRoot()) return Fail(ERROR_ALREADY_EXISTS);
  if (::mkdirat(path.Parent(), path.strName.c_str(), 0777) != 0)
    return Fail(Win32FromErrno(errno, true));
  HostFacts::Changed();
  m_pImage->ForgetFolder(strPath);
  return TRUE;
}

BOOL CHostDevice::DeleteFile(const std::wstring& strPath) {
  HostFacts::NextCall();
  DWORD dwError = 0;
  const CFact* fact = Lookup(strPath, dwError);
  if (!fact) return Fail(dwError);
  if (fact->IsRoot()) return Fail(ERROR_ACCESS_DENIED);
  if (!fact->bExists) return Fail(ERROR_FILE_NOT_FOUND);
  if (S_ISDIR(fact->st.stx_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (DWORD dwRefusal = RefusalFor(fact->Parent(), fact->strName, fact->st)) return Fail(dwRefusal);
  const bool bPlain = S_ISREG(fact->st.stx_mode);
  if (::unlinkat(fact->Parent(), fact->strName.c_str(), 0) != 0) return Fail(Win32FromErrno(errno));
  // No remembered folder is forgotten: one of this name is no folder now, which its check on use
  // sees. A link gone may have led to folders.
  if (bPlain)
    HostFacts::FileChanged();
  else
    HostFacts::Changed();
  return TRUE;
}

BOOL CHostDevice::RemoveFolder(const std::wstring& strPath) {
  HostFacts::NextCall();
  CResolvedPath path;
  DWORD dwError = 0;
  struct statx st {};
  if (!m_pImage->Resolve(strPath, path, dwError)) return Fail(dwError);
  if (!m_pImage->Stat(path.Parent(), path.strName, st, dwError)) return Fail(dwError);
  if (!S_ISDIR(st.stx_mode)) return Fail(ERROR_DIRECTORY);
  DWORD dwWord = m_pImage->WordOf(path.Parent(), path.strName, st);
  if (path.IsRoot() || dwWord == FILE_ATTRIBUTE_VOLUME_ROOT || (dwWord & FILE_ATTRIBUTE_READONLY))
    return Fail(ERROR_ACCESS_DENIED);
  if (::unlinkat(path.Parent(), path.strName.c_str(), AT_REMOVEDIR) != 0)
    return Fail(errno == EEXIST ? ERROR_DIR_NOT_EMPTY : Win32FromErrno(errno));
  HostFacts::Changed();
  m_pImage->ForgetFolder(strPath);
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
