// Forced deletion of folder trees and files; mounted volumes' root folders are emptied, not
// removed.
#pragma once

#include "platform/cstring.h"

// The first entry a deletion could not remove: its code and path (dwError 0: none).
struct CDeleteFailure {
  DWORD dwError = 0;
  CString strPath;
};

// Removes the folder tree or the file at strPath, depth first in listing order. TRUE when
// nothing stayed (a path already gone included); FALSE with the first entry that could not be
// removed in *pFailure.
BOOL DeleteTree(const CString& strPath, CDeleteFailure* pFailure = nullptr);
// Empties and removes strFolder; writes "dele null:%s\r\n" when it lists nothing, else
// "dele main:%s\r\n", after the removal whatever its outcome. A stop request ends it at the next
// entry at every level, leaving the rest without a line. What cannot be examined or removed
// stays, with a line on standard error naming it; the first such entry goes to *pFailure when
// that holds none yet.
void DeleteDirTree(const CString& strFolder, CDeleteFailure* pFailure = nullptr);
// Clears read-only and hidden, deletes; on failure terminates the program of that file name
// and tries once more. TRUE when this call deleted the file.
BOOL ForceDeleteFile(const CString& strPath);
// Removes strFolder unless it reads exactly 0x110 (a volume root: "ignore dir:%s\r\n"). FALSE
// with the last error set when a folder stays that is not a volume root.
BOOL RemoveDir(const CString& strFolder);
