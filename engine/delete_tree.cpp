#include "engine/delete_tree.h"

#include "engine/kill_process.h"
#include "platform/files.h"
#include "platform/kernel.h"
#include "platform/runtime.h"

namespace {

constexpr DWORD kClearableBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;

// The device cannot name such a path; a cut one would name another file.
bool TooLong(const CString& strPath) { return Utf16Length(strPath) >= MAX_PATH; }

// Keeps the first entry that stayed, unless the last error says it is gone.
void Stayed(const CString& strPath, DWORD dwError, CDeleteFailure* pFailure) {
  if (!pFailure || pFailure->dwError || dwError == ERROR_FILE_NOT_FOUND ||
      dwError == ERROR_PATH_NOT_FOUND)
    return;
  pFailure->dwError = dwError;
  pFailure->strPath = strPath;
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
  WIN32_FIND_DATAW data;
  HANDLE hFind = FindFirstFileW(strFolder + L"\\*", &data);
  if (hFind == INVALID_HANDLE_VALUE) {
    if (!RemoveDir(strFolder)) Stayed(strFolder, GetLastError(), pFailure);
    DiagPrintW(L"dele null:%s\r\n", strFolder.GetString());
    return;
  }
  do {
    // A stop request ends the walk at the next entry; what is left stays.
    if (ThreadStopRequested()) {
      FindClose(hFind);
      return;
    }
    const bool bFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const CString strName(data.cFileName);
    if (bFolder && (strName == L"." || strName == L"..")) continue;
    const CString strChild = strFolder + L"\\" + strName;
    if (bFolder ? TooLong(strChild + L"\\*") : TooLong(strChild))
      Stayed(strChild, ERROR_FILENAME_EXCED_RANGE, pFailure);
    else if (bFolder)
      DeleteDirTree(strChild, pFailure);
    else if (!ForceDeleteFile(strChild))
      Stayed(strChild, GetLastError(), pFailure);
  } while (FindNextFileW(hFind, &data));
  FindClose(hFind);
  if (!RemoveDir(strFolder)) Stayed(strFolder, GetLastError(), pFailure);
  DiagPrintW(L"dele main:%s\r\n", strFolder.GetString());
}

BOOL ForceDeleteFile(const CString& strPath) {
  DWORD dwAttr = GetFileAttributesW(strPath);
  if (dwAttr != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(strPath, dwAttr & ~kClearableBits);
  if (DeleteFileW(strPath)) return TRUE;
  // The file may be the image of a running program: end it and try once more.
  KillProcessByName(strPath.Mid(strPath.ReverseFind(L'\\') + 1));
  return DeleteFileW(strPath);
}

BOOL RemoveDir(const CString& strFolder) {
  if (GetFileAttributesW(strFolder) == FILE_ATTRIBUTE_VOLUME_ROOT) {
    DiagPrintW(L"ignore dir:%s\r\n", strFolder.GetString());
    return TRUE;
  }
  return RemoveDirectoryW(strFolder);
}
