#include "engine/delete_tree.h"

#include "engine/kill_process.h"
#include "platform/files.h"
#include "platform/kernel.h"
#include "platform/runtime.h"

namespace {

constexpr DWORD kClearableBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;

// The device cannot name such a path; a cut one would name another file.
bool TooLong(const CString& strPath) { return strPath.GetLength() >= MAX_PATH; }

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
  WIN32_FIND_DATAW data;
  HANDLE hFind = FindFirstFileW(strFolder + L"\\*", &data);
  if (hFind == INVALID_HANDLE_VALUE) {
    RemoveDir(strFolder);
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
    if (bFolder) {
      if (!TooLong(strChild + L"\\*")) DeleteDirTree(strChild);
    } else if (!TooLong(strChild)) {
      ForceDeleteFile(strChild);
    }
  } while (FindNextFileW(hFind, &data));
  FindClose(hFind);
  RemoveDir(strFolder);
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

void RemoveDir(const CString& strFolder) {
  if (GetFileAttributesW(strFolder) == FILE_ATTRIBUTE_VOLUME_ROOT) {
    DiagPrintW(L"ignore dir:%s\r\n", strFolder.GetString());
    return;
  }
  RemoveDirectoryW(strFolder);
}
