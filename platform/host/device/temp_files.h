// The temporary files of replaces in progress (".orvane-<pid>-<n>.tmp"), known process-wide: an
// ordered end removes them, and those a run ended otherwise left behind are removed where a later
// run lists or writes. None of them is ever part of a folder's contents.
#pragma once

#include <string>

namespace TempFiles {

// A fresh temporary file opened for writing in the folder, known until Forget; -1 with errno
// (ECANCELED once the process is ending).
int Create(int fdFolder, std::string& strName);
// The temporary file was renamed into place or removed: no longer ours to remove.
void Forget(const std::string& strName);
// Removes the temporary files in the folder that no live run writes.
void Sweep(int fdFolder);
// Removes every temporary file still known, and makes no more. For the end of the process.
void RemoveAll();
// True for a temporary file's name, which a listing never hands out; the file is removed when no
// live run writes it.
bool Skip(int fdFolder, const std::string& strName);

}  // namespace TempFiles
