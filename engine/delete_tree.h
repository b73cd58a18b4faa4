// Forced deletion of folder trees and files; mounted volumes' root folders are emptied, not
// removed.
#pragma once

#include "platform/cstring.h"

// Removes the folder tree or the file at strPath, depth first in listing order. Always TRUE.
BOOL DeleteTree(const CString& strPath);
// Empties and removes strFolder; writes "dele null:%s\r\n" when it lists nothing, else
// "dele main:%s\r\n", after the removal whatever its outcome. A stop request ends it at the next
// entry at every level, leaving the rest without a line. What cannot be examined or removed
// stays, with a line on standard error naming it.
void DeleteDirTree(const CString& strFolder);
// Clears read-only and hidden, deletes; on failure terminates the program of that file name
// and tries once more. TRUE when this call deleted the file.
BOOL ForceDeleteFile(const CString& strPath);
// Removes strFolder unless it reads exactly 0x110 (a volume root: "ignore dir:%s\r\n").
void RemoveDir(const CString& strFolder);
