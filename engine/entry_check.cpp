#include "engine/entry_check.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "engine/recovery_run.h"
#include "platform/files.h"
#include "platform/kernel.h"
#include "platform/runtime.h"

namespace {

using CParts = std::vector<std::wstring>;

// The components, upper-cased; none when a ".." is among them.
std::optional<CParts> PartsOf(CString strPath) {
  CParts parts;
  std::wstring part;
  const std::wstring& str = strPath.MakeUpper().Str();
  for (size_t i = 0; i <= str.size(); ++i) {
    if (i < str.size() && str[i] != L'\\' && str[i] != L'/') {
      part += str[i];
      continue;
    }
    if (part == L"..") return std::nullopt;
    if (!part.empty() && part != L".") parts.push_back(part);
    part.clear();
  }
  return parts;
}

// The path is the folder or lies below it.
bool AtOrBelow(const CParts& path, const CParts& folder) {
  if (path.size() < folder.size()) return false;
  for (size_t i = 0; i < folder.size(); ++i)
    if (path[i] != folder[i]) return false;
  return true;
}

using CChain = std::vector<CFileId>;

bool Holds(const CChain& chain, const CChain& folder) {
  return !folder.empty() && std::find(chain.begin(), chain.end(), folder.front()) != chain.end();
}

// The chain of the folder itself, or of the nearest one above it that exists, as a change
// reaches it (no link followed); FALSE when it cannot be reached.
BOOL NearestChain(CString strPath, CChain& chain) {
  while (!GetFolderChain(strPath, TRUE, chain)) {
    const DWORD dwError = GetLastError();
    const size_t nSep = strPath.Str().find_last_of(L"\\/");
    if ((dwError != ERROR_FILE_NOT_FOUND && dwError != ERROR_PATH_NOT_FOUND) ||
        nSep == std::wstring::npos || strPath.GetLength() <= 1)
      return FALSE;
    strPath = nSep == 0 ? CString(L"\\") : strPath.Left(static_cast<int>(nSep));
  }
  return TRUE;
}

// The rules again, on the folders the paths lead to: names, case and links cannot hide the
// flash, the data folder or the source behind another path.
CString ResolvedRuleBroken(const CString& strSource, const CString& strDest) {
  CChain src, dst, flash, card, data;
  if (!NearestChain(strDest, dst)) return L"the destination cannot be reached";
  GetFolderChain(kFlashFolder, TRUE, flash);
  GetFolderChain(kCardFolder, TRUE, card);
  if (!Holds(dst, flash) && !Holds(dst, card))
    return L"the destination lies outside \\ResidentFlash and \\SDMMC";
  // A source that cannot be resolved has nothing to copy: the probe says why.
  GetFolderChain(strSource, FALSE, src);
  if (Holds(src, flash)) return L"the source lies in \\ResidentFlash";
  GetFolderChain(kAppDataFolder, FALSE, data);
  if (Holds(src, data) || Holds(dst, data)) return L"a path lies in \\SDMMC\\OrvaneData\\AppData";
  if (Holds(dst, src)) return L"the destination lies in the source";
  return CString();
}

}  // namespace

CString EntryRuleBroken(const CString& strSource, const CString& strDest) {
  if (strSource.IsEmpty() || strDest.IsEmpty()) return L"a path is empty";
  const std::optional<CParts> src = PartsOf(strSource);
  const std::optional<CParts> dst = PartsOf(strDest);
  if (!src || !dst) return L"a path has a \"..\" component";
  if (AtOrBelow(*src, *PartsOf(kFlashFolder))) return L"the source lies in \\ResidentFlash";
  const CParts data = *PartsOf(kAppDataFolder);
  if (AtOrBelow(*src, data) || AtOrBelow(*dst, data))
    return L"a path lies in \\SDMMC\\OrvaneData\\AppData";
  if (AtOrBelow(*dst, *src)) return L"the destination lies in the source";
  return ResolvedRuleBroken(strSource, strDest);
}

BOOL EntriesAllowed(const CStringArray& arrSources, const CStringArray& arrDests) {
  for (size_t i = 0; i < arrSources.size() && i < arrDests.size(); ++i) {
    const CString strRule = EntryRuleBroken(arrSources[i], arrDests[i]);
    if (strRule.IsEmpty()) continue;
    // Numbered as Path.xml's attributes are (Src1, Dst1, ...).
    ErrorPrintW(L"orvane-recovery: recovery refused: entry %u (\"%s\" to \"%s\"): %s",
                static_cast<unsigned>(i + 1), arrSources[i].GetString(), arrDests[i].GetString(),
                strRule.GetString());
    return FALSE;
  }
  return TRUE;
}
