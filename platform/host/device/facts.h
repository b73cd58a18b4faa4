// What the device learnt about one name a moment ago. A walk over a folder asks about the entry
// it was just handed several times in a row (its attributes, clearing its bits, deleting or
// copying it, the destination of a copy); these calls answer from the look-up already made
// instead of making it again, and a name next to one just looked up is sought in the folder
// already found for it.
//
// A look-up serves the caller's next two calls on the same thread, and each call that uses it
// passes it on to the two after it. Anything changed through any device makes every fact stale
// at once. So what a call relies on is never older than the caller's two calls before it: a
// change made by others in between may be missed, as it may be missed between a look-up and its
// use within one call. Facts only tell: a change is always made in a folder resolved afresh
// from the image root (see CDeviceImage). Facts are kept two at a time (a copy's source and
// destination).
//
// Why they are kept: on 20,000 small files a deletion without them takes over twice as long and a
// copy about a quarter longer; without a neighbour's folder a copy takes about an eighth longer.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/host/device/image.h"
#include "platform/host/device/unique_fd.h"

struct CFact {
  std::shared_ptr<const std::string> pFolder;  // the folder holding the name, as CDevicePath
  std::string strName;                         // empty for "\" itself
  std::string strWritten;  // the name as asked for, when the folder has it in another case
  std::shared_ptr<const CUniqueFd> fdParent;   // that folder, opened for reading
  bool bExists = false;
  struct statx st {};
  int Parent() const { return fdParent->Get(); }
  bool IsRoot() const { return strName.empty(); }
  bool Names(const CDevicePath& path) const {
    return (strWritten.empty() ? strName : strWritten) == path.strName &&
           *pFolder == path.strFolder;
  }
};

namespace HostFacts {

// How many calls a look-up serves after the one that made or last used it.
constexpr unsigned kServedCalls = 2;

// A number for a new device, never given before: the owner of the facts it keeps.
std::uint64_t NewOwner();
// A call of this thread into the device begins: older look-ups age by one call.
void NextCall();
// Remembers the fact for this thread and returns where it is kept (valid until the next Keep).
const CFact& Keep(std::uint64_t nOwner, CFact fact);
// This thread's fact about the path when it still serves, passed on to the next call; null
// otherwise.
const CFact* Find(std::uint64_t nOwner, const CDevicePath& path);
// This thread's fact, still serving, about any name in the folder (as CDevicePath), passed on to
// the next call like a fact about the path itself. Only its folder is to be used: a change to a
// file since has made the rest stale.
const CFact* FindFolder(std::uint64_t nOwner, const std::string& strFolder);
// Something was changed: every thread's facts are stale from now on.
void Changed();
// A plain file was made, changed or removed: every thread's facts are stale, but the folders they
// name stay where they were found.
void FileChanged();
// How many changes beyond plain files were made through any device so far: what was learnt of a
// folder by its path stands while this stays the same.
std::uint64_t FolderChanges();

}  // namespace HostFacts
