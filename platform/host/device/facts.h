// What the device learnt about one name a moment ago. A walk over a folder asks about the entry
// it was just handed several times in a row (its attributes, clearing its bits, deleting or
// copying it, the destination of a copy); these calls answer from the look-up already made
// instead of making it again.
//
// A look-up serves the caller's next two calls on the same thread, and each call that uses it
// passes it on to the two after it. The same holds for the folders the image resolved (see
// CDeviceImage). Anything changed through any device makes every fact stale at once. So what a
// call relies on is never older than the caller's two calls before it: a change made by others
// in between may be missed, as it may be missed between a look-up and its use within one call.
// Facts are kept two at a time (a copy's source and destination).
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/host/device/unique_fd.h"

struct CFact {
  // The device path exactly as the caller spelt it: the part up to and with its last separator,
  // shared by the facts about names in one folder, and the rest. A path whose last component is
  // no plain name ("." or "..", or with a "/") has no folder part: it is all in strLeaf.
  std::shared_ptr<const std::wstring> pFolderPart;
  std::wstring strLeaf;
  std::shared_ptr<const CUniqueFd> fdParent;  // the folder holding the name
  std::string strName;                        // empty for "\" itself
  bool bExists = false;
  struct statx st {};
  int Parent() const { return fdParent->Get(); }
  bool IsRoot() const { return strName.empty(); }
  bool Names(const std::wstring& strPath) const;
};

namespace HostFacts {

// How many calls a look-up serves after the one that made or last used it.
constexpr unsigned kServedCalls = 2;

// A number for a new device, never given before: the owner of the facts it keeps.
std::uint64_t NewOwner();
// A call of this thread into the device begins: older look-ups age by one call.
void NextCall();
// The current call, numbered across all threads' calls: a look-up made or used in call N serves
// while the same thread's current call is at most N + kServedCalls.
struct CCall {
  std::uint64_t nThread;  // never 0
  std::uint64_t nCall;
};
CCall CurrentCall();
// Remembers the fact for this thread and returns where it is kept (valid until the next Keep).
const CFact& Keep(std::uint64_t nOwner, CFact fact);
// This thread's fact about the path when it still serves, passed on to the next call; null
// otherwise.
const CFact* Find(std::uint64_t nOwner, const std::wstring& strPath);
// Where a path's plain last component starts (after its last "\\"); npos when it has none.
size_t LeafOf(const std::wstring& strPath);
// This thread's fact, still serving, about another name in the folder a path names by the same
// folder part (nLeaf from LeafOf); passed on to the next call like a fact about the path itself.
// Only its folder is to be used: a change to a file since has made the rest stale.
const CFact* FindSibling(std::uint64_t nOwner, const std::wstring& strPath, size_t nLeaf);
// Something was changed: every thread's facts are stale from now on.
void Changed();
// A plain file was made, changed or removed: every thread's facts are stale, but the folders they
// name stay where they were found.
void FileChanged();

}  // namespace HostFacts
