#include "engine/delete_tree.h"

#include "engine/kill_process.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "platform/kernel.h"
#include "platform/runtime.h"

namespace {

constexpr DWORD kClearableBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;

// The device cannot name such a path; a cut one would name another file.
bool TooLong(const CString& strPath) { return strPath.GetLength() >= MAX_PATH; }

// The deletion goes on past what it cannot examine or remove, silent in the box as the device's
// is, but what stays behind is said, once, where it was met. What is missing is already gone.
void SayLeft(DWORD dwError, LPCWSTR pszWhat, const CString& strPath) {
  if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND) return;
  ErrorPrintW(L"orvane-recovery: cannot %s %s: %s (code %u)", pszWhat, strPath.GetString(),
              ErrorText(dwError).c_str(), static_cast<unsigned>(dwError));
}

// A listing that did not end at its last entry: the entry or folder it stopped at is said.
void SayListingEnd(const CString& strFolder, const WIN32_FIND_DATAW& data) {
  const DWORD dwError = GetLastError();
  if (dwError == ERROR_NO_MORE_FILES) return;
  if (data.cFileName[0])
    SayLeft(dwError, L"examine", strFolder + L"\\" + data.cFileName);
  else
    SayLeft(dwError, L"list", strFolder);
}

}  // namespace

BOOL DeleteTree(const CString& strPath) {
  // A missing path reads all bits set, the folder bit included: it takes the folder branch.
  if (GetFileAttributesW(strPath) & FILE_ATTRIBUTE_DIRECTORY)
    DeleteDirTree(strPath);
  else
    ForceDeleteFile(strPath);
  return TRUE;
}

void DeleteDirTree(const CString& strFolder) {
  WIN32_FIND_DATAW data{};
  HANDLE hFind = FindFirstFileW(strFolder + L"\\*", &data);
  if (hFind == INVALID_HANDLE_VALUE) {
    SayListingEnd(strFolder, data);
    RemoveDir(strFolder);
    DiagPrintW(L"dele null:%s\r\n", strFolder.GetString());
    return;
  }
  do {
    if (ThreadStopRequested()) break;
    const bool bFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const CString strName(data.cFileName);
    if (bFolder && (strName == L"." || strName == L"..")) continue;
    const CString strChild = strFolder + L"\\" + strName;
    if (TooLong(bFolder ? strChild + L"\\*" : strChild))
      SayLeft(ERROR_FILENAME_EXCED_RANGE, L"delete", strChild);
    else if (bFolder)
      DeleteDirTree(strChild);
    else
      ForceDeleteFile(strChild);
  } while (FindNextFileW(hFind, &data));
  // A stop request ends the walk at the next entry, at every level: what is left stays.
  const bool bStopped = ThreadStopRequested();
  if (!bStopped) SayListingEnd(strFolder, data);
  FindClose(hFind);
  if (bStopped) return;
  RemoveDir(strFolder);
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

void RemoveDir(const CString& strFolder) {
  if (GetFileAttributesW(strFolder) == FILE_ATTRIBUTE_VOLUME_ROOT) {
    DiagPrintW(L"ignore dir:%s\r\n", strFolder.GetString());
    return;
  }
  if (RemoveDirectoryW(strFolder)) return;
  // A folder left full was said at what stays in it.
  const DWORD dwError = GetLastError();
  if (dwError != ERROR_DIR_NOT_EMPTY) SayLeft(dwError, L"remove", strFolder);
}
