#include "engine/entry_check.h"

#include <optional>
#include <vector>

#include "engine/recovery_run.h"
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
  return CString();
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
