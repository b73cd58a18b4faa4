#include "tests/fakes/fake_device.h"

#include <algorithm>

namespace {

bool IsFileOp(EFakeOp eOp) { return eOp <= EFakeOp::kReplaceFileContents; }

bool IsChangeOp(EFakeOp eOp) {
  switch (eOp) {
    case EFakeOp::kSetAttributes:
    case EFakeOp::kCreateFolder:
    case EFakeOp::kCopyFile:
    case EFakeOp::kDeleteFile:
    case EFakeOp::kRemoveFolder:
    case EFakeOp::kReplaceFileContents:
    case EFakeOp::kTerminateProcess:
      return true;
    default:
      return false;
  }
}

bool RuleCovers(EFakeOp eRule, EFakeOp eOp) {
  if (eRule == eOp) return true;
  if (eRule == EFakeOp::kAnyFile) return IsFileOp(eOp);
  if (eRule == EFakeOp::kAnyChange) return IsFileOp(eOp) && IsChangeOp(eOp);
  return false;
}

}  // namespace

CFakeDevice::CFakeDevice(bool bVolumes) : m_pAnchor(std::make_shared<CFakeDevice*>(this)) {
  CNode& root = m_mapNodes[L"\\"];
  root.bFolder = true;
  root.dwAttributes = FILE_ATTRIBUTE_DIRECTORY;
  if (bVolumes) {
    AddVolumeRoot(L"\\ResidentFlash");
    AddVolumeRoot(L"\\SDMMC");
  }
}

CFakeDevice::~CFakeDevice() = default;

bool CFakeDevice::Normalize(const std::wstring& strPath, std::wstring& strOut) {
  std::vector<std::wstring> parts;
  std::wstring part;
  auto flush = [&]() -> bool {
    if (part.empty() || part == L".") {
    } else if (part == L"..") {
      if (parts.empty()) return false;
      parts.pop_back();
    } else {
      parts.push_back(part);
    }
    part.clear();
    return true;
  };
  for (wchar_t ch : strPath) {
    if (ch == L'\\' || ch == L'/') {
      if (!flush()) return false;
    } else {
      part += ch;
    }
  }
  if (!flush()) return false;
  strOut.clear();
  for (const auto& p : parts) strOut += L"\\" + p;
  if (strOut.empty()) strOut = L"\\";
  return true;
}

std::wstring CFakeDevice::ParentOf(const std::wstring& strNorm) {
  size_t pos = strNorm.rfind(L'\\');
  return pos == 0 ? std::wstring(L"\\") : strNorm.substr(0, pos);
}

std::wstring CFakeDevice::NameOf(const std::wstring& strNorm) {
  return strNorm.substr(strNorm.rfind(L'\\') + 1);
}

DWORD CFakeDevice::ReadWord(const CNode& node) {
  if (node.bVolumeRoot) return FILE_ATTRIBUTE_VOLUME_ROOT;
  if (node.bFolder) return node.dwAttributes | FILE_ATTRIBUTE_DIRECTORY;
  DWORD w = node.dwAttributes & ~FILE_ATTRIBUTE_DIRECTORY;
  // As on the device: "normal" stands alone, and a file with no bit reads as normal.
  if (w & ~FILE_ATTRIBUTE_NORMAL) return w & ~FILE_ATTRIBUTE_NORMAL;
  return FILE_ATTRIBUTE_NORMAL;
}

CFakeDevice::CNode* CFakeDevice::Find(const std::wstring& strNorm) {
  auto it = m_mapNodes.find(strNorm);
  return it == m_mapNodes.end() ? nullptr : &it->second;
}

const CFakeDevice::CNode* CFakeDevice::Find(const std::wstring& strNorm) const {
  auto it = m_mapNodes.find(strNorm);
  return it == m_mapNodes.end() ? nullptr : &it->second;
}

CFakeDevice::CNode* CFakeDevice::Lookup(const std::wstring& strNorm, DWORD& dwError) {
  if (CNode* node = Find(strNorm)) return node;
  const CNode* parent = Find(ParentOf(strNorm));
  dwError = parent && parent->bFolder ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
  return nullptr;
}

CFakeDevice::CNode* CFakeDevice::ParentFolder(const std::wstring& strNorm) {
  CNode* parent = strNorm == L"\\" ? nullptr : Find(ParentOf(strNorm));
  return parent && parent->bFolder ? parent : nullptr;
}

CFakeDevice::CNode& CFakeDevice::Insert(const std::wstring& strNorm, bool bFolder) {
  CNode& node = m_mapNodes[strNorm];
  if (node.nSeq == 0) {
    node.nSeq = m_nNextSeq++;
    m_mapNodes[ParentOf(strNorm)].mapChildren[node.nSeq] = NameOf(strNorm);
  }
  node.bFolder = bFolder;
  return node;
}

void CFakeDevice::EnsureFolders(const std::wstring& strNorm) {
  if (strNorm == L"\\") return;
  std::wstring parent = ParentOf(strNorm);
  EnsureFolders(parent);
  CNode* node = Find(parent);
  if (!node || !node->bFolder) {
    if (node) Erase(parent);
    Insert(parent, true).dwAttributes = FILE_ATTRIBUTE_DIRECTORY;
  }
}

void CFakeDevice::Erase(const std::wstring& strNorm) {
  auto it = m_mapNodes.find(strNorm);
  if (it == m_mapNodes.end() || strNorm == L"\\") return;
  std::vector<std::wstring> children;
  for (const auto& [seq, name] : it->second.mapChildren) children.push_back(strNorm + L"\\" + name);
  for (const auto& child : children) Erase(child);
  m_mapNodes[ParentOf(strNorm)].mapChildren.erase(it->second.nSeq);
  m_mapNodes.erase(strNorm);
}

bool CFakeDevice::IsHeld(const std::wstring& strNorm) const {
  for (const auto& [pid, proc] : m_mapProcs) {
    if (!proc.bRunning) continue;
    if (std::find(proc.arrHeld.begin(), proc.arrHeld.end(), strNorm) != proc.arrHeld.end())
      return true;
  }
  return false;
}

void CFakeDevice::AddFolder(const std::wstring& strPath, DWORD dwAttributes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::wstring norm;
  if (!Normalize(strPath, norm) || norm == L"\\") return;
  EnsureFolders(norm);
  CNode* old = Find(norm);
  if (old && !old->bFolder) Erase(norm);
  CNode& node = Insert(norm, true);
  node.bVolumeRoot = false;
  node.strContents.clear();
  node.dwAttributes = dwAttributes | FILE_ATTRIBUTE_DIRECTORY;
}

void CFakeDevice::AddVolumeRoot(const std::wstring& strPath) {
  AddFolder(strPath, FILE_ATTRIBUTE_VOLUME_ROOT);
  std::lock_guard<std::mutex> lock(m_mutex);
  std::wstring norm;
  if (Normalize(strPath, norm) && Find(norm)) Find(norm)->bVolumeRoot = true;
}

void CFakeDevice::AddFile(const std::wstring& strPath, const std::string& strContents,
                          DWORD dwAttributes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::wstring norm;
  if (!Normalize(strPath, norm) || norm == L"\\") return;
  EnsureFolders(norm);
  CNode* old = Find(norm);
  if (old && old->bFolder) Erase(norm);
  CNode& node = Insert(norm, false);
  node.bVolumeRoot = false;
  node.strContents = strContents;
  node.dwAttributes = dwAttributes & ~FILE_ATTRIBUTE_DIRECTORY;
}

void CFakeDevice::RemoveEntry(const std::wstring& strPath) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::wstring norm;
  if (Normalize(strPath, norm)) Erase(norm);
}

bool CFakeDevice::Exists(const std::wstring& strPath) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::wstring norm;
  return Normalize(strPath, norm) && Find(norm) != nullptr;
}

std::map<std::wstring, CFakeEntry> CFakeDevice::Snapshot() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::map<std::wstring, CFakeEntry> out;
  for (const auto& [path, node] : m_mapNodes)
    if (path != L"\\") out[path] = CFakeEntry{ReadWord(node), node.strContents};
  return out;
}

void CFakeDevice::SetListing(EFakeListing eListing) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_eListing = eListing;
}

void CFakeDevice::SetListingOrder(const std::wstring& strFolder, std::vector<std::wstring> names) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::wstring norm;
  if (Normalize(strFolder, norm)) m_mapOrders[norm] = std::move(names);
}

void CFakeDevice::SetCurrentProcessId(DWORD dwPid) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_dwCurrentPid = dwPid;
}

void CFakeDevice::SetModuleFileName(const std::wstring& strPath) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_strModule = strPath;
}

std::wstring CFakeDevice::ModuleFileName() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_strModule;
}

DWORD CFakeDevice::CurrentProcessId() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_dwCurrentPid;
}

void CFakeDevice::FailOnce(EFakeOp eOp, DWORD dwError) { FailAt(eOp, 1, dwError); }

void CFakeDevice::FailFrom(EFakeOp eOp, int nCall, DWORD dwError) {
  std::lock_guard<std::mutex> lock(m_mutex);
  CRule rule;
  rule.eOp = eOp;
  rule.dwError = dwError;
  rule.nFirst = std::max(nCall, 1);
  rule.nLast = -1;
  m_arrRules.push_back(rule);
}

void CFakeDevice::FailAt(EFakeOp eOp, int nCall, DWORD dwError) {
  std::lock_guard<std::mutex> lock(m_mutex);
  CRule rule;
  rule.eOp = eOp;
  rule.dwError = dwError;
  rule.nFirst = rule.nLast = std::max(nCall, 1);
  m_arrRules.push_back(rule);
}

void CFakeDevice::FailPath(EFakeOp eOp, const std::wstring& strPath, DWORD dwError, int nTimes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  CRule rule;
  rule.eOp = eOp;
  rule.dwError = dwError;
  Normalize(strPath, rule.strPath);
  rule.nTimesLeft = nTimes;
  m_arrRules.push_back(rule);
}

void CFakeDevice::ClearFailures() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_arrRules.clear();
}

int CFakeDevice::CallCount(EFakeOp eOp) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  int n = 0;
  for (const auto& [op, count] : m_mapCounts)
    if (RuleCovers(eOp, op)) n += count;
  return n;
}

std::vector<std::wstring> CFakeDevice::Operations() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<std::wstring> out;
  for (const auto& [line, change] : m_arrRecord) out.push_back(line);
  return out;
}

std::vector<std::wstring> CFakeDevice::Changes() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<std::wstring> out;
  for (const auto& [line, change] : m_arrRecord)
    if (change) out.push_back(line);
  return out;
}

void CFakeDevice::ClearRecord() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_arrRecord.clear();
}

DWORD CFakeDevice::Begin(EFakeOp eOp, const std::wstring& strRecord,
                         std::initializer_list<const std::wstring*> paths) {
  ++m_mapCounts[eOp];
  m_nCurrentRecord = m_arrRecord.size();
  m_arrRecord.emplace_back(strRecord, IsChangeOp(eOp));
  DWORD dwInjected = 0;
  for (auto& rule : m_arrRules) {
    if (!RuleCovers(rule.eOp, eOp)) continue;
    if (!rule.strPath.empty()) {
      bool bNamed = false;
      for (const std::wstring* p : paths) {
        std::wstring norm;
        if (p && Normalize(*p, norm) && norm == rule.strPath) bNamed = true;
      }
      if (!bNamed || rule.nTimesLeft == 0) continue;
      if (rule.nTimesLeft > 0) --rule.nTimesLeft;
      if (!dwInjected) dwInjected = rule.dwError;
      continue;
    }
    int n = ++rule.nSeen;
    if (n >= rule.nFirst && (rule.nLast < 0 || n <= rule.nLast) && !dwInjected)
      dwInjected = rule.dwError;
  }
  return dwInjected;
}

BOOL CFakeDevice::Fail(DWORD dwError) {
  m_arrRecord[m_nCurrentRecord].first += L" = " + std::to_wstring(dwError);
  SetLastError(dwError);
  return FALSE;
}
