#include "platform/files.h"

#include <atomic>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "platform/cstring.h"
#include "platform/device_backend.h"

namespace {

std::atomic<IDeviceBackend*> g_pDevice{nullptr};

class CFindObject : public CKernelObject {
 public:
  explicit CFindObject(std::unique_ptr<IFolderListing> listing) : m_listing(std::move(listing)) {}
  DWORD Wait(DWORD) override { return WAIT_FAILED; }
  bool Next(WIN32_FIND_DATAW* pData) { return m_listing->Next(*pData); }

 private:
  std::unique_ptr<IFolderListing> m_listing;
};

class CListedEntries : public IFolderListing {
 public:
  explicit CListedEntries(std::vector<WIN32_FIND_DATAW> entries) : m_entries(std::move(entries)) {}
  bool Next(WIN32_FIND_DATAW& data) override {
    if (m_nNext >= m_entries.size()) return false;
    data = m_entries[m_nNext++];
    return true;
  }

 private:
  std::vector<WIN32_FIND_DATAW> m_entries;
  size_t m_nNext = 0;
};

// A path as the device takes it. The walks make these calls once per file: each thread reuses one
// buffer per argument rather than making a string each time, unless a device calls back in while
// the buffer is taken.
class CPathArg {
 public:
  CPathArg(LPCWSTR pszPath, int nArg) {
    CSlot& slot = t_slots[nArg];
    if (slot.bTaken) {
      m_strOwn.assign(pszPath);
      m_pPath = &m_strOwn;
      return;
    }
    slot.bTaken = true;
    slot.str.assign(pszPath);
    m_pSlot = &slot;
    m_pPath = &slot.str;
  }
  ~CPathArg() {
    if (m_pSlot) m_pSlot->bTaken = false;
  }
  CPathArg(const CPathArg&) = delete;
  CPathArg& operator=(const CPathArg&) = delete;
  operator const std::wstring&() const { return *m_pPath; }

 private:
  struct CSlot {
    std::wstring str;
    bool bTaken = false;
  };
  static thread_local CSlot t_slots[2];
  CSlot* m_pSlot = nullptr;
  const std::wstring* m_pPath = nullptr;
  std::wstring m_strOwn;
};

thread_local CPathArg::CSlot CPathArg::t_slots[2];

// Null with the last error set when there is no device or the path is too long.
IDeviceBackend* Checked(LPCWSTR pszPath) {
  IDeviceBackend* dev = g_pDevice.load();
  if (!dev || !pszPath) {
    SetLastError(dev ? ERROR_INVALID_PARAMETER : ERROR_GEN_FAILURE);
    return nullptr;
  }
  if (Utf16Length(pszPath) >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  return dev;
}

}  // namespace

std::unique_ptr<IFolderListing> IDeviceBackend::OpenListing(const std::wstring& strFolder) {
  std::vector<WIN32_FIND_DATAW> entries;
  if (!ListFolder(strFolder, entries)) return nullptr;
  return std::make_unique<CListedEntries>(std::move(entries));
}

IDeviceBackend* InstallDeviceBackend(IDeviceBackend* pBackend) { return g_pDevice.exchange(pBackend); }
IDeviceBackend* DeviceBackend() { return g_pDevice.load(); }

namespace {

HANDLE FindFirst(LPCWSTR pszPattern, WIN32_FIND_DATAW* pData, bool bTypesOnly) {
  IDeviceBackend* dev = Checked(pszPattern);
  if (!dev || !pData) return INVALID_HANDLE_VALUE;
  std::wstring pattern(pszPattern);
  if (pattern.size() < 2 || pattern.compare(pattern.size() - 2, 2, L"\\*") != 0) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  std::unique_ptr<IFolderListing> listing = dev->OpenListing(pattern.substr(0, pattern.size() - 2));
  if (!listing) return INVALID_HANDLE_VALUE;
  if (bTypesOnly) listing->TypesOnly();
  SetLastError(ERROR_NO_MORE_FILES);
  if (!listing->Next(*pData)) return INVALID_HANDLE_VALUE;
  return RegisterHandle(std::make_shared<CFindObject>(std::move(listing)));
}

}  // namespace

HANDLE FindFirstFileW(LPCWSTR pszPattern, WIN32_FIND_DATAW* pData) {
  return FindFirst(pszPattern, pData, false);
}

HANDLE FindFirstFileTypesW(LPCWSTR pszPattern, WIN32_FIND_DATAW* pData) {
  return FindFirst(pszPattern, pData, true);
}

BOOL FindNextFileW(HANDLE hFind, WIN32_FIND_DATAW* pData) {
  auto find = std::dynamic_pointer_cast<CFindObject>(LookupHandle(hFind));
  if (!find || !pData) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  SetLastError(ERROR_NO_MORE_FILES);  // a listing sets its own code at an entry it cannot examine
  return find->Next(pData) ? TRUE : FALSE;
}

BOOL FindClose(HANDLE hFind) {
  if (!std::dynamic_pointer_cast<CFindObject>(LookupHandle(hFind))) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return CloseHandle(hFind);
}

DWORD GetFileAttributesW(LPCWSTR pszPath) {
  IDeviceBackend* dev = Checked(pszPath);
  return dev ? dev->GetAttributes(CPathArg(pszPath, 0)) : INVALID_FILE_ATTRIBUTES;
}

BOOL SetFileAttributesW(LPCWSTR pszPath, DWORD dwAttributes) {
  IDeviceBackend* dev = Checked(pszPath);
  return dev ? dev->SetAttributes(CPathArg(pszPath, 0), dwAttributes) : FALSE;
}

BOOL CreateDirectoryW(LPCWSTR pszPath, void*) {
  IDeviceBackend* dev = Checked(pszPath);
  return dev ? dev->CreateFolder(pszPath) : FALSE;
}

BOOL CopyFileW(LPCWSTR pszSource, LPCWSTR pszDest, BOOL bFailIfExists) {
  IDeviceBackend* dev = Checked(pszSource);
  if (dev) dev = Checked(pszDest);
  return dev ? dev->CopyFile(CPathArg(pszSource, 0), CPathArg(pszDest, 1), bFailIfExists) : FALSE;
}

BOOL DeleteFileW(LPCWSTR pszPath) {
  IDeviceBackend* dev = Checked(pszPath);
  return dev ? dev->DeleteFile(CPathArg(pszPath, 0)) : FALSE;
}

BOOL RemoveDirectoryW(LPCWSTR pszPath) {
  IDeviceBackend* dev = Checked(pszPath);
  return dev ? dev->RemoveFolder(pszPath) : FALSE;
}

BOOL FlushFileSystemOf(LPCWSTR pszPath) {
  IDeviceBackend* dev = Checked(pszPath);
  return dev ? dev->FlushFileSystem(pszPath) : FALSE;
}

BOOL GetFolderChain(LPCWSTR pszPath, BOOL bChange, std::vector<CFileId>& chain) {
  chain.clear();
  IDeviceBackend* dev = Checked(pszPath);
  return dev ? dev->FolderChain(pszPath, bChange != FALSE, chain) : FALSE;
}

DWORD GetModuleFileNameW(void*, LPWSTR pszBuffer, DWORD nSize) {
  IDeviceBackend* dev = g_pDevice.load();
  std::wstring name = dev ? dev->ModuleFileName() : std::wstring();
  if (name.empty() || !pszBuffer || nSize == 0) {
    SetLastError(ERROR_GEN_FAILURE);
    return 0;
  }
  if (name.size() >= nSize) {
    // Never hand out a cut path: the caller would read a wrong folder.
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  std::wmemcpy(pszBuffer, name.c_str(), name.size() + 1);
  return static_cast<DWORD>(name.size());
}
