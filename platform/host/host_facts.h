// What the device learnt about one name a moment ago. A walk over a folder asks about the entry
// it was just handed several times in a row (its attributes, clearing its bits, deleting or
// copying it); these calls answer from the look-up already made instead of making it again.
//
// Facts are kept per thread, two at a time (a copy's source and destination). A fact serves only
// the caller's next call, which passes it on when it uses it; one handed out by a listing serves
// the next two (a copy first asks about the destination). Anything changed through any device
// makes every fact stale. So what a fact stands for is never older than the caller's previous
// call: a change made by others between two calls on one name may be missed by the second, as
// it may be missed between a look-up and its use within one call.
#pragma once

#include <sys/stat.h>

#include <memory>
#include <string>

#include "platform/host/host_fd.h"

struct CFact {
  std::wstring strPath;  // the device path exactly as the caller spelt it
  std::shared_ptr<const CUniqueFd> fdParent;  // the folder holding the name
  std::string strName;                        // empty for "\" itself
  bool bExists = false;
  struct statx st {};
  int Parent() const { return fdParent->Get(); }
  bool IsRoot() const { return strName.empty(); }
};

namespace HostFacts {

// A call of this thread into the device begins: older facts age by one call.
void NextCall();
// Remembers the fact for this thread, serving nCalls calls, and returns where it is kept (valid
// until the next Keep).
const CFact& Keep(const void* pOwner, CFact fact, unsigned nCalls = 1);
// This thread's fact about the path when it still serves, passed on to the next call; null
// otherwise.
const CFact* Find(const void* pOwner, const std::wstring& strPath);
// Something was changed: every thread's facts are stale from now on.
void Changed();

}  // namespace HostFacts
