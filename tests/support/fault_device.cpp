#include "tests/support/fault_device.h"

#include <algorithm>

#include "platform/kernel.h"

namespace {

const wchar_t* const kOpNames[] = {L"List",         L"GetAttributes", L"SetAttributes",
                                   L"CreateFolder", L"CopyFile",      L"DeleteFile",
                                   L"RemoveFolder", L"ReadFile",      L"ReplaceFile",
                                   L"OpenProcess",  L"Flush",         L"Examine"};

thread_local size_t t_nLogged = 0;  // this thread's last line in the log

class CImmortalProcess : public CProcessObject {
 public:
  BOOL Terminate(UINT) override {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  DWORD Wait(DWORD dwMilliseconds) override {
    Sleep(dwMilliseconds == INFINITE ? 0 : dwMilliseconds);
    return WAIT_TIMEOUT;
  }
};

// The entries with their hidden bit; an entry whose examination fails (INVALID_FILE_ATTRIBUTES
// for its bit, the last error set) ends the listing there.
class CHidingListing : public IFolderListing {
 public:
  CHidingListing(std::unique_ptr<IFolderListing> inner, std::function<DWORD(const wchar_t*)> bit)
      : m_inner(std::move(inner)), m_fnBit(std::move(bit)) {}
  bool Next(WIN32_FIND_DATAW& data) override {
    if (!m_inner->Next(data)) return false;
    const DWORD dwBit = m_fnBit(data.cFileName);
    data.dwFileAttributes |= dwBit;
    return dwBit != INVALID_FILE_ATTRIBUTES;
  }
  void TypesOnly() override { m_inner->TypesOnly(); }

 private:
  std::unique_ptr<IFolderListing> m_inner;
  std::function<DWORD(const wchar_t*)> m_fnBit;
};

}  // namespace

CFaultDevice::CFaultDevice(IDeviceBackend& device)
    : m_device(device), m_pPrevious(InstallDeviceBackend(this)) {}

CFaultDevice::~CFaultDevice() { InstallDeviceBackend(m_pPrevious); }

void CFaultDevice::Fail(EOp eOp, DWORD dwError, int nAt, bool bOnward, std::wstring strPathPart) {
  Locked([&] { m_faults.push_back({eOp, dwError, nAt, bOnward, std::move(strPathPart)}); });
}

void CFaultDevice::Hide(const std::wstring& strPath) {
  Locked([&] { m_hidden.insert(strPath); });
}

void CFaultDevice::Immortal(DWORD dwPid) {
  Locked([&] { m_immortal.insert(dwPid); });
}

void CFaultDevice::CutAfter(int nChanges) {
  Locked([&] { m_nCut = nChanges; });
}

int CFaultDevice::Changes() const {
  return Locked([&] { return m_nChanges; });
}

std::vector<std::wstring> CFaultDevice::Log() const {
  return Locked([&] { return m_log; });
}

void CFaultDevice::OnCall(std::function<void(const std::wstring&)> fn) {
  Locked([&] { m_fnOnCall = std::move(fn); });
}

bool CFaultDevice::Injected(EOp eOp, const std::wstring& strLine, const std::wstring& strPath,
                            bool bChange) {
  const std::wstring strCall = std::wstring(kOpNames[static_cast<int>(eOp)]) + L" " + strLine;
  if (auto fn = Locked([&] { return m_fnOnCall; })) fn(strCall);
  std::lock_guard<std::mutex> lock(m_mutex);
  t_nLogged = m_log.size();
  m_log.push_back(strCall);
  DWORD dwError = 0;
  for (CFault& f : m_faults) {
    if (f.eOp != eOp || strPath.find(f.strPathPart) == std::wstring::npos) continue;
    ++f.nCalls;
    if (f.nCalls == f.nAt || (f.bOnward && f.nCalls > f.nAt)) dwError = f.dwError;
  }
  if (bChange && !dwError) {
    if (m_nCut >= 0 && m_nChanges >= m_nCut)
      dwError = ERROR_GEN_FAILURE;
    else
      ++m_nChanges;
  }
  if (!dwError) return false;
  m_log.back() += L" = " + std::to_wstring(dwError);
  SetLastError(dwError);
  return true;
}

BOOL CFaultDevice::Done(BOOL bResult) {
  if (!bResult) {
    const DWORD dwError = GetLastError();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (t_nLogged < m_log.size()) m_log[t_nLogged] += L" = " + std::to_wstring(dwError);
    SetLastError(dwError);
  }
  return bResult;
}

DWORD CFaultDevice::HiddenBit(const std::wstring& strPath) const {
  return Locked([&] { return m_hidden.count(strPath) ? FILE_ATTRIBUTE_HIDDEN : 0; });
}

BOOL CFaultDevice::ListFolder(const std::wstring& strFolder,
                              std::vector<WIN32_FIND_DATAW>& entries) {
  std::unique_ptr<IFolderListing> listing = OpenListing(strFolder);
  entries.clear();
  SetLastError(ERROR_NO_MORE_FILES);
  for (WIN32_FIND_DATAW data; listing && listing->Next(data);) entries.push_back(data);
  return listing && GetLastError() == ERROR_NO_MORE_FILES;
}

std::unique_ptr<IFolderListing> CFaultDevice::OpenListing(const std::wstring& strFolder) {
  if (Injected(EOp::kList, strFolder, strFolder, false)) return nullptr;
  std::unique_ptr<IFolderListing> inner = m_device.OpenListing(strFolder);
  if (!Done(inner != nullptr)) return nullptr;
  return std::make_unique<CHidingListing>(std::move(inner), [this, strFolder](const wchar_t* psz) {
    const std::wstring strPath = strFolder + L"\\" + psz;
    // Logged only where examinations can fail: every listed entry would crowd the log.
    const bool bExamined = Locked([&] {
      return std::any_of(m_faults.begin(), m_faults.end(),
                         [](const CFault& f) { return f.eOp == EOp::kExamine; });
    });
    if (bExamined && Injected(EOp::kExamine, strPath, strPath, false))
      return INVALID_FILE_ATTRIBUTES;
    return HiddenBit(strPath);
  });
}

DWORD CFaultDevice::GetAttributes(const std::wstring& strPath) {
  if (Injected(EOp::kGetAttributes, strPath, strPath, false)) return INVALID_FILE_ATTRIBUTES;
  const DWORD dw = m_device.GetAttributes(strPath);
  if (!Done(dw != INVALID_FILE_ATTRIBUTES)) return dw;
  return dw | HiddenBit(strPath);
}

BOOL CFaultDevice::SetAttributes(const std::wstring& strPath, DWORD dwAttributes) {
  if (Injected(EOp::kSetAttributes, strPath + L" " + std::to_wstring(dwAttributes), strPath, true))
    return FALSE;
  if (!Done(m_device.SetAttributes(strPath, dwAttributes & ~FILE_ATTRIBUTE_HIDDEN))) return FALSE;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (dwAttributes & FILE_ATTRIBUTE_HIDDEN)
    m_hidden.insert(strPath);
  else
    m_hidden.erase(strPath);
  return TRUE;
}

BOOL CFaultDevice::CreateFolder(const std::wstring& strPath) {
  return Forward(EOp::kCreateFolder, strPath, true, [&] { return m_device.CreateFolder(strPath); });
}

BOOL CFaultDevice::CopyFile(const std::wstring& strSource, const std::wstring& strDest,
                            BOOL bFailIfExists) {
  if (Injected(EOp::kCopyFile, strSource + L" -> " + strDest, strSource, true)) return FALSE;
  // The device copies over a hidden file no more than over a read-only one.
  if (HiddenBit(strDest)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return Done(FALSE);
  }
  return Done(m_device.CopyFile(strSource, strDest, bFailIfExists));
}

BOOL CFaultDevice::DeleteFile(const std::wstring& strPath) {
  return Forward(EOp::kDeleteFile, strPath, true, [&] { return m_device.DeleteFile(strPath); });
}

BOOL CFaultDevice::RemoveFolder(const std::wstring& strPath) {
  return Forward(EOp::kRemoveFolder, strPath, true, [&] { return m_device.RemoveFolder(strPath); });
}

BOOL CFaultDevice::ReadWholeFile(const std::wstring& strPath, std::string& bytes) {
  return Forward(EOp::kReadFile, strPath, false,
                 [&] { return m_device.ReadWholeFile(strPath, bytes); });
}

BOOL CFaultDevice::ReplaceFileContents(const std::wstring& strPath, const std::string& bytes) {
  return Forward(EOp::kReplaceFile, strPath, true,
                 [&] { return m_device.ReplaceFileContents(strPath, bytes); });
}

BOOL CFaultDevice::FlushFileSystem(const std::wstring& strPath) {
  return Forward(EOp::kFlush, strPath, false, [&] { return m_device.FlushFileSystem(strPath); });
}

std::vector<CProcessInfo> CFaultDevice::SnapshotProcesses() {
  Locked([&] { m_log.push_back(L"Snapshot"); });
  return m_device.SnapshotProcesses();
}

std::shared_ptr<CProcessObject> CFaultDevice::OpenProcess(DWORD dwPid) {
  const std::wstring strPid = std::to_wstring(dwPid);
  if (Injected(EOp::kOpenProcess, strPid, strPid, false)) return nullptr;
  std::shared_ptr<CProcessObject> process = m_device.OpenProcess(dwPid);
  if (!Done(process != nullptr)) return nullptr;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_immortal.count(dwPid)) return std::make_shared<CImmortalProcess>();
  return process;
}
