// The rules an entry of the path list must keep before a run may touch anything: a run with one
// entry that breaks them could destroy its own source or what it just restored.
#pragma once

#include "platform/cstring.h"

// Empty when the entry may be restored; otherwise the rule it breaks, for the error line. Paths
// are compared by whole components without regard to ASCII case, with "/" read as "\" and "."
// components and doubled separators dropped; a ".." component is refused, not resolved. Then the
// same rules hold for the folders the paths lead to (the source as a read resolves it, the
// destination's nearest existing folder as a change does), compared by device and inode, and the
// destination must lie in \ResidentFlash or \SDMMC.
CString EntryRuleBroken(const CString& strSource, const CString& strDest);

// Checks every entry in order; FALSE at the first one that breaks a rule, after writing one
// error line that names it (its index, its paths) and the rule.
BOOL EntriesAllowed(const CStringArray& arrSources, const CStringArray& arrDests);
