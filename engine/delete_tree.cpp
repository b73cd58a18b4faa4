#include "engine/delete_tree.h"

#include "engine/copy_error.h"
#include "engine/kill_process.h"
#include "platform/files.h"
#include "platform/kernel.h"
#include "platform/runtime.h"

namespace {

constexpr DWORD kClearableBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;

// The device cannot name such a path; a cut one would name another file.
bool TooLong(const CString& strPath) { return Utf16Length(strPath) >= MAX_PATH; }

// What is missing is already gone.
bool Gone(DWORD dwError) {
  return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
}

// Keeps the first entry that stayed, unless the last error says it is gone.
void Stayed(const CString& strPath, DWORD dwError, CDeleteFailure* pFailure) {
  if (!pFailure || pFailure->dwError || Gone(dwError)) return;
  pFailure->dwError = dwError;
  pFailure->strPath = strPath;
}

// The deletion goes on past what it cannot examine or remove, silent in the box as the device's
// is, but what stays behind is said, once, where it was met.
void SayLeft(DWORD dwError, LPCWSTR pszWhat, const CString& strPath) {
  if (Gone(dwError)) return;
  SayError(dwError, CString(L"cannot ") + pszWhat + L" " + strPath);
  SetLastError(dwError);  // the caller keeps it as the first that stayed
}

// A listing that did not end at its last entry: the entry or folder it stopped at is said and
// kept.
void SayListingEnd(const CString& strFolder, const WIN32_FIND_DATAW& data,
                   CDeleteFailure* pFailure) {
  const DWORD dwError = GetLastError();
  if (dwError == ERROR_NO_MORE_FILES) return;
  const CString strWhere = data.cFileName[0] ? strFolder + L"\\" + data.cFileName : strFolder;
  SayLeft(dwError, data.cFileName[0] ? L"examine" : L"list", strWhere);
  Stayed(strWhere, dwError, pFailure);
}

}  // namespace

BOOL DeleteTree(const CString& strPath, CDeleteFailure* pFailure) {
  CDeleteFailure failure;
  // A missing path reads all bits set, the folder bit included: it takes the folder branch.
  if (GetFileAttributesW(strPath) & FILE_ATTRIBUTE_DIRECTORY)
    DeleteDirTree(strPath, &failure);
  else if (!ForceDeleteFile(strPath))
    Stayed(strPath, GetLastError(), &failure);
  if (pFailure) *pFailure = failure;
  return failure.dwError == 0;
}

void DeleteDirTree(const CString& strFolder, CDeleteFailure* pFailure) {
  WIN32_FIND_DATAW data{};
  HANDLE hFind = FindFirstFileW(strFolder + L"\\*", &data);
  if (hFind == INVALID_HANDLE_VALUE) {
    SayListingEnd(strFolder, data, pFailure);
    if (!RemoveDir(strFolder)) Stayed(strFolder, GetLastError(), pFailure);
    DiagPrintW(L"dele null:%s\r\n", strFolder.GetString());
    return;
  }
  do {
    if (ThreadStopRequested()) break;
    const bool bFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const CString strName(data.cFileName);
    if (bFolder && (strName == L"." || strName == L"..")) continue;
    const CString strChild = strFolder + L"\\" + strName;
    if (TooLong(bFolder ? strChild + L"\\*" : strChild)) {
      SayLeft(ERROR_FILENAME_EXCED_RANGE, L"delete", strChild);
      Stayed(strChild, ERROR_FILENAME_EXCED_RANGE, pFailure);
    } else if (bFolder) {
      DeleteDirTree(strChild, pFailure);
    } else if (!ForceDeleteFile(strChild)) {
      Stayed(strChild, GetLastError(), pFailure);
    }
  } while (FindNextFileW(hFind, &data));
  // A stop request ends the walk at the next entry, at every level: what is left stays.
  const bool bStopped = ThreadStopRequested();
  if (!bStopped) SayListingEnd(strFolder, data, pFailure);
  FindClose(hFind);
  if (bStopped) {
    Stayed(strFolder, ERROR_DIR_NOT_EMPTY, pFailure);  // not said: the run is being stopped
    return;
  }
  if (!RemoveDir(strFolder)) Stayed(strFolder, GetLastError(), pFailure);
  DiagPrintW(L"dele main:%s\r\n", strFolder.GetString());
}

BOOL ForceDeleteFile(const CString& strPath) {
  DWORD dwAttr = GetFileAttributesW(strPath);
  if (dwAttr != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(strPath, dwAttr & ~kClearableBits);
  if (DeleteFileW(strPath)) return TRUE;
  // The file may be the image of a running program: end it and try once more.
  KillProcessByName(strPath.Mid(strPath.ReverseFind(L'\\') + 1));
  if (DeleteFileW(strPath)) return TRUE;
  SayLeft(GetLastError(), L"delete", strPath);
  return FALSE;
}

BOOL RemoveDir(const CString& strFolder) {
  if (GetFileAttributesW(strFolder) == FILE_ATTRIBUTE_VOLUME_ROOT) {
    DiagPrintW(L"ignore dir:%s\r\n", strFolder.GetString());
    return TRUE;
  }
  if (RemoveDirectoryW(strFolder)) return TRUE;
  // A folder left full was said at what stays in it.
  const DWORD dwError = GetLastError();
  if (dwError != ERROR_DIR_NOT_EMPTY) SayLeft(dwError, L"remove", strFolder);
  SetLastError(dwError);
  return FALSE;
}
