// File and folder services of the device, as the logic calls them. Paths are device paths
// ("\ResidentFlash\x"); a path of MAX_PATH (260) characters or more is refused with
// ERROR_FILENAME_EXCED_RANGE and never truncated.
#pragma once

#include <vector>

#include "platform/wintypes.h"

// Which file a path leads to: its file system and the file within it.
struct CFileId {
  unsigned long long nVolume = 0;
  unsigned long long nFile = 0;
  bool operator==(const CFileId&) const = default;
};

// Lists folder + "\*". No entry at all (empty, missing or unlistable folder) is
// INVALID_HANDLE_VALUE; "." and ".." are never listed. The last error after the last entry is 18;
// any other code means the listing stopped at an entry it could not examine, named in pData.
HANDLE FindFirstFileW(LPCWSTR pszPattern, WIN32_FIND_DATAW* pData);
// The same for a walk that asks only which entries are folders: of each entry's word only the
// folder bit is sure, its times and size may read 0.
HANDLE FindFirstFileTypesW(LPCWSTR pszPattern, WIN32_FIND_DATAW* pData);
BOOL FindNextFileW(HANDLE hFind, WIN32_FIND_DATAW* pData);
BOOL FindClose(HANDLE hFind);

// The attribute word; INVALID_FILE_ATTRIBUTES when the path does not exist; exactly 0x110 for
// the root folder of a mounted volume.
DWORD GetFileAttributesW(LPCWSTR pszPath);
BOOL SetFileAttributesW(LPCWSTR pszPath, DWORD dwAttributes);
BOOL CreateDirectoryW(LPCWSTR pszPath, void* lpSecurity);
// Whole-file copy that replaces the destination unless bFailIfExists; FALSE with the code in
// GetLastError. A failed copy leaves the destination as it was.
BOOL CopyFileW(LPCWSTR pszSource, LPCWSTR pszDest, BOOL bFailIfExists);
BOOL DeleteFileW(LPCWSTR pszPath);
// Fails on a folder that still holds entries.
BOOL RemoveDirectoryW(LPCWSTR pszPath);
// The file system holding the path (or the nearest existing folder above it) written to its
// medium: what was written there survives a power cut from now on. FALSE with the code.
BOOL FlushFileSystemOf(LPCWSTR pszPath);
// The folder the path leads to and every folder above it up to "\", the path's own first, by
// what they are (links followed inside the device as a read follows them, or with bChange none,
// as a change resolves); FALSE with the code when the path does not lead to a folder.
BOOL GetFolderChain(LPCWSTR pszPath, BOOL bChange, std::vector<CFileId>& chain);
// Full device path of the program file into a buffer of nSize characters; the length, or 0.
DWORD GetModuleFileNameW(void* hModule, LPWSTR pszBuffer, DWORD nSize);
