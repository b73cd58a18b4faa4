#include "engine/copy_tree.h"

#include <unordered_map>

#include "engine/copy_error.h"
#include "engine/kill_process.h"
#include "platform/files.h"
#include "platform/kernel.h"
#include "platform/runtime.h"

namespace {

constexpr DWORD kClearableBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;

bool IsDotEntry(const WIN32_FIND_DATAW& data) {
  const CString strName(data.cFileName);
  return strName == L"." || strName == L"..";
}

bool IsFolder(const WIN32_FIND_DATAW& data) {
  return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The code the failure box will show, and the line that tells the person what it was about.
void KeepCopyError(DWORD dwError, const CString& strSource, const CString& strDest) {
  KeepCopyError(dwError, L"cannot copy " + strSource + L" to " + strDest);
}

// One file: FALSE (with the code kept) when it cannot be copied.
BOOL CopyOneFile(const CString& strName, const CString& strSource, const CString& strDest,
                 HANDLE& hLock, std::atomic<DWORD>& nFiles) {
  KillRunningExe(strName);
  const CString strSrcFile = strSource + L"\\" + strName;
  const CString strDstFile = strDest + L"\\" + strName;
  DWORD dwAttr = GetFileAttributesW(strDstFile);
  if (dwAttr != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(strDstFile, dwAttr & ~kClearableBits);
  // The device refuses a path of MAX_PATH characters or more with 206; it is never cut short.
  if (!CopyFileW(strSrcFile, strDstFile, FALSE)) {
    KeepCopyError(GetLastError(), strSrcFile, strDstFile);
    return FALSE;
  }
  if (WaitForSingleObject(hLock, INFINITE) == WAIT_OBJECT_0) {
    nFiles.fetch_add(1);
    ReleaseMutex(hLock);
  }
  return TRUE;
}

// TRUE with the next entry; FALSE at the end of the listing, with bOk cleared when it did not end
// well.
bool NextEntry(HANDLE hFind, WIN32_FIND_DATAW& data, const CString& strFolder, BOOL& bOk) {
  if (FindNextFileW(hFind, &data)) return true;
  bOk = ListingEnd(strFolder, data);
  return false;
}

// The device's file system ignores case: of two names equal without regard to case, a copy
// would keep one. FALSE, with 183 kept and both named, when strName meets such an earlier name.
BOOL HeldApart(const CString& strFolder, const CString& strName,
               std::unordered_map<std::wstring, CString>& names) {
  CString strKey = strName;
  const auto [it, bNew] = names.emplace(strKey.MakeUpper().Str(), strName);
  if (bNew) return TRUE;
  KeepCopyError(ERROR_ALREADY_EXISTS, strFolder + L"\\" + it->second + L" and " + strFolder +
                                          L"\\" + strName + L" differ only in case");
  return FALSE;
}

}  // namespace

BOOL CountTree(LPCWSTR pszSuffix, const CString& strFolder, std::atomic<DWORD>& nFiles) {
  WIN32_FIND_DATAW data{};
  // Only which entries are folders: most need no look-up beyond the listing.
  HANDLE hFind = FindFirstFileTypesW(strFolder + pszSuffix, &data);
  if (hFind == INVALID_HANDLE_VALUE) return ListingEnd(strFolder, data);
  std::unordered_map<std::wstring, CString> names;
  BOOL bOk = TRUE;
  do {
    if (ThreadStopRequested()) break;
    if (IsDotEntry(data)) continue;
    if (!(bOk = HeldApart(strFolder, data.cFileName, names))) break;
    if (IsFolder(data))
      bOk = CountTree(pszSuffix, strFolder + L"\\" + data.cFileName, nFiles);
    else
      nFiles.fetch_add(1);
  } while (bOk && NextEntry(hFind, data, strFolder, bOk));
  FindClose(hFind);
  return bOk;
}

BOOL CopyTree(LPCWSTR pszSuffix, const CString& strSource, const CString& strDest, HANDLE& hLock,
              std::atomic<DWORD>& nFiles) {
  const CString strSearch = strSource + pszSuffix;
  // A folder whose listing or copy the device cannot name holds only files it cannot name
  // either: fail rather than pass over them as an empty folder.
  if (Utf16Length(strSearch) >= MAX_PATH || Utf16Length(strDest) >= MAX_PATH) {
    KeepCopyError(ERROR_FILENAME_EXCED_RANGE, strSource, strDest);
    return FALSE;
  }
  // A folder that cannot be made says why (write protection, a full volume), not its files.
  if (!CreateDirectoryW(strDest, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    KeepCopyError(GetLastError(), strSource, strDest);
    return FALSE;
  }
  WIN32_FIND_DATAW data{};
  HANDLE hFind = FindFirstFileW(strSearch, &data);
  if (hFind == INVALID_HANDLE_VALUE) return ListingEnd(strSource, data);
  BOOL bOk = TRUE;
  do {
    if (ThreadStopRequested()) {
      bOk = FALSE;
    } else if (IsFolder(data)) {
      if (!IsDotEntry(data))
        bOk = CopyTree(pszSuffix, strSource + L"\\" + data.cFileName,
                       strDest + L"\\" + data.cFileName, hLock, nFiles);
    } else {
      bOk = CopyOneFile(data.cFileName, strSource, strDest, hLock, nFiles);
    }
  } while (bOk && NextEntry(hFind, data, strSource, bOk));
  FindClose(hFind);
  return bOk;
}

// A folder that cannot be listed or an entry that cannot be examined would pass their files over
// as missing.
BOOL ListingEnd(const CString& strFolder, const WIN32_FIND_DATAW& data) {
  const DWORD dwError = GetLastError();
  if (dwError == ERROR_NO_MORE_FILES) return TRUE;
  if (data.cFileName[0])
    KeepCopyError(dwError, L"cannot examine " + strFolder + L"\\" + data.cFileName);
  else
    KeepCopyError(dwError, L"cannot list " + strFolder);
  return FALSE;
}

void KillRunningExe(const CString& strName) {
  // Told by the last four characters before the whole name is upper-cased: this runs per file.
  const int n = strName.GetLength();
  if (n < 4 || strName.Mid(n - 4).MakeUpper() != CString(L".EXE")) return;
  CString strUpper = strName;
  strUpper.MakeUpper();
  DiagPrintW(L"dest:%s\r\n", strUpper.GetString());
  KillProcessByName(strUpper);
}
