// Counting and copying of folder trees file by file, with the files-copied counter under a lock.
#pragma once

#include <atomic>

#include "platform/cstring.h"

// Adds to nFiles the number of files (entries without the folder bit) anywhere under strFolder,
// listed with strFolder + pszSuffix ("\*") at every level. FALSE at the first folder that cannot
// be listed (an empty one can), or that holds two names equal without regard to case (183), with
// its code in g_dwLastCopyError and a line saying it.
BOOL CountTree(LPCWSTR pszSuffix, const CString& strFolder, std::atomic<DWORD>& nFiles);

// Copies the tree under strSource into strDest, creating folders and replacing files (read-only
// and hidden cleared first), and adds 1 to nFiles under hLock after each file. FALSE at the
// first file that cannot be copied, folder that cannot be made (one already there can) or folder
// that cannot be listed (an empty one can), with its
// code in g_dwLastCopyError (206 for a path the device cannot name) and a line naming both paths,
// the reason and the code on standard error, or when the thread is asked to stop; TRUE otherwise.
BOOL CopyTree(LPCWSTR pszSuffix, const CString& strSource, const CString& strDest, HANDLE& hLock,
              std::atomic<DWORD>& nFiles);

// Where a listing of strFolder stopped (data: the last entry it handed out): TRUE at its end;
// FALSE when the folder could not be listed or an entry in it could not be examined, with the
// last error kept in g_dwLastCopyError and a line naming the folder or the entry.
BOOL ListingEnd(const CString& strFolder, const WIN32_FIND_DATAW& data);

// Terminates the running program of that name when strName ends in ".exe" in any case, writing
// "dest:%s\r\n" with the upper-cased name first.
void KillRunningExe(const CString& strName);
