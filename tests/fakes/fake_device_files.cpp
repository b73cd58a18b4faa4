// The fake device's file services: the same rules and codes as the host backend.
#include <algorithm>
#include <cwchar>

#include "tests/fakes/fake_device.h"

namespace {

std::wstring Hex(DWORD v) {
  wchar_t buf[16];
  std::swprintf(buf, 16, L"0x%x", v);
  return buf;
}

}  // namespace

BOOL CFakeDevice::ListFolder(const std::wstring& strFolder,
                             std::vector<WIN32_FIND_DATAW>& entries) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (DWORD e = Begin(EFakeOp::kListFolder, L"ListFolder " + strFolder, {&strFolder}))
    return Fail(e);
  std::wstring norm;
  if (!Normalize(strFolder, norm)) return Fail(ERROR_ACCESS_DENIED);
  const CNode* folder = Find(norm);
  if (!folder || !folder->bFolder) return Fail(ERROR_PATH_NOT_FOUND);

  std::vector<std::wstring> names;
  for (const auto& [seq, name] : folder->mapChildren) names.push_back(name);
  if (m_eListing == EFakeListing::kReverse) std::reverse(names.begin(), names.end());
  if (m_eListing == EFakeListing::kByName) std::sort(names.begin(), names.end());
  auto order = m_mapOrders.find(norm);
  if (order != m_mapOrders.end()) {
    std::vector<std::wstring> ordered;
    for (const auto& name : order->second)
      if (std::find(names.begin(), names.end(), name) != names.end() &&
          std::find(ordered.begin(), ordered.end(), name) == ordered.end())
        ordered.push_back(name);
    for (const auto& name : names)
      if (std::find(ordered.begin(), ordered.end(), name) == ordered.end()) ordered.push_back(name);
    names = std::move(ordered);
  }

  entries.clear();
  for (const auto& name : names) {
    const CNode& node = *Find(norm == L"\\" ? L"\\" + name : norm + L"\\" + name);
    WIN32_FIND_DATAW data{};
    data.dwFileAttributes = ReadWord(node);
    data.nFileSizeLow = static_cast<DWORD>(node.strContents.size());
    size_t n = std::min(name.size(), static_cast<size_t>(MAX_PATH - 1));
    std::wmemcpy(data.cFileName, name.c_str(), n);
    data.cFileName[n] = L'\0';
    entries.push_back(data);
  }
  return TRUE;
}

DWORD CFakeDevice::GetAttributes(const std::wstring& strPath) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (DWORD e = Begin(EFakeOp::kGetAttributes, L"GetAttributes " + strPath, {&strPath})) {
    Fail(e);
    return INVALID_FILE_ATTRIBUTES;
  }
  std::wstring norm;
  DWORD dwError = ERROR_ACCESS_DENIED;
  const CNode* node = Normalize(strPath, norm) ? Lookup(norm, dwError) : nullptr;
  if (!node) {
    Fail(dwError);
    return INVALID_FILE_ATTRIBUTES;
  }
  return ReadWord(*node);
}

BOOL CFakeDevice::SetAttributes(const std::wstring& strPath, DWORD dwAttributes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (DWORD e = Begin(EFakeOp::kSetAttributes,
                      L"SetAttributes " + strPath + L" " + Hex(dwAttributes), {&strPath}))
    return Fail(e);
  std::wstring norm;
  DWORD dwError = ERROR_ACCESS_DENIED;
  CNode* node = Normalize(strPath, norm) ? Lookup(norm, dwError) : nullptr;
  if (!node) return Fail(dwError);
  if (node->bVolumeRoot || norm == L"\\") return TRUE;
  node->dwAttributes = node->bFolder ? (dwAttributes | FILE_ATTRIBUTE_DIRECTORY)
                                     : (dwAttributes & ~FILE_ATTRIBUTE_DIRECTORY);
  return TRUE;
}

BOOL CFakeDevice::CreateFolder(const std::wstring& strPath) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (DWORD e = Begin(EFakeOp::kCreateFolder, L"CreateFolder " + strPath, {&strPath}))
    return Fail(e);
  std::wstring norm;
  if (!Normalize(strPath, norm)) return Fail(ERROR_ACCESS_DENIED);
  if (Find(norm)) return Fail(ERROR_ALREADY_EXISTS);
  if (!ParentFolder(norm)) return Fail(ERROR_PATH_NOT_FOUND);
  Insert(norm, true).dwAttributes = FILE_ATTRIBUTE_DIRECTORY;
  return TRUE;
}

BOOL CFakeDevice::CopyFile(const std::wstring& strSource, const std::wstring& strDest,
                           BOOL bFailIfExists) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::wstring record = L"CopyFile " + strSource + L" -> " + strDest;
  if (bFailIfExists) record += L" (fail if exists)";
  if (DWORD e = Begin(EFakeOp::kCopyFile, record, {&strSource, &strDest})) return Fail(e);
  std::wstring src, dst;
  if (!Normalize(strSource, src) || !Normalize(strDest, dst)) return Fail(ERROR_ACCESS_DENIED);
  DWORD dwError = 0;
  const CNode* source = Lookup(src, dwError);
  if (!source) return Fail(dwError);
  if (source->bFolder || dst == L"\\") return Fail(ERROR_ACCESS_DENIED);
  if (!ParentFolder(dst)) return Fail(ERROR_PATH_NOT_FOUND);
  if (src == dst) return Fail(ERROR_SHARING_VIOLATION);
  if (const CNode* dest = Find(dst)) {
    if (dest->bFolder) return Fail(ERROR_ACCESS_DENIED);
    if (bFailIfExists) return Fail(ERROR_FILE_EXISTS);
    if (ReadWord(*dest) & FILE_ATTRIBUTE_READONLY) return Fail(ERROR_ACCESS_DENIED);
    if (IsHeld(dst)) return Fail(ERROR_SHARING_VIOLATION);
  }
  DWORD dwWord = source->dwAttributes;
  std::string contents = source->strContents;
  CNode& dest = Insert(dst, false);
  dest.dwAttributes = dwWord;
  dest.strContents = std::move(contents);
  return TRUE;
}

BOOL CFakeDevice::DeleteFile(const std::wstring& strPath) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (DWORD e = Begin(EFakeOp::kDeleteFile, L"DeleteFile " + strPath, {&strPath})) return Fail(e);
  std::wstring norm;
  DWORD dwError = ERROR_ACCESS_DENIED;
  const CNode* node = Normalize(strPath, norm) ? Lookup(norm, dwError) : nullptr;
  if (!node) return Fail(dwError);
  if (node->bFolder) return Fail(ERROR_ACCESS_DENIED);
  if (ReadWord(*node) & FILE_ATTRIBUTE_READONLY) return Fail(ERROR_ACCESS_DENIED);
  if (IsHeld(norm)) return Fail(ERROR_SHARING_VIOLATION);
  Erase(norm);
  return TRUE;
}

BOOL CFakeDevice::RemoveFolder(const std::wstring& strPath) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (DWORD e = Begin(EFakeOp::kRemoveFolder, L"RemoveFolder " + strPath, {&strPath}))
    return Fail(e);
  std::wstring norm;
  DWORD dwError = ERROR_ACCESS_DENIED;
  const CNode* node = Normalize(strPath, norm) ? Lookup(norm, dwError) : nullptr;
  if (!node) return Fail(dwError);
  if (!node->bFolder) return Fail(ERROR_DIRECTORY);
  if (norm == L"\\" || node->bVolumeRoot) return Fail(ERROR_ACCESS_DENIED);
  if (ReadWord(*node) & FILE_ATTRIBUTE_READONLY) return Fail(ERROR_ACCESS_DENIED);
  if (!node->mapChildren.empty()) return Fail(ERROR_DIR_NOT_EMPTY);
  Erase(norm);
  return TRUE;
}

BOOL CFakeDevice::ReadWholeFile(const std::wstring& strPath, std::string& bytes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (DWORD e = Begin(EFakeOp::kReadWholeFile, L"ReadWholeFile " + strPath, {&strPath}))
    return Fail(e);
  std::wstring norm;
  DWORD dwError = ERROR_ACCESS_DENIED;
  const CNode* node = Normalize(strPath, norm) ? Lookup(norm, dwError) : nullptr;
  if (!node) return Fail(dwError);
  if (node->bFolder) return Fail(ERROR_ACCESS_DENIED);
  bytes = node->strContents;
  return TRUE;
}

BOOL CFakeDevice::ReplaceFileContents(const std::wstring& strPath, const std::string& bytes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (DWORD e = Begin(EFakeOp::kReplaceFileContents, L"ReplaceFileContents " + strPath, {&strPath}))
    return Fail(e);
  std::wstring norm;
  if (!Normalize(strPath, norm)) return Fail(ERROR_ACCESS_DENIED);
  if (!ParentFolder(norm)) return Fail(norm == L"\\" ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
  if (CNode* node = Find(norm)) {
    if (node->bFolder) return Fail(ERROR_ACCESS_DENIED);
    if (ReadWord(*node) & FILE_ATTRIBUTE_READONLY) return Fail(ERROR_ACCESS_DENIED);
    if (IsHeld(norm)) return Fail(ERROR_SHARING_VIOLATION);
    node->strContents = bytes;
    return TRUE;
  }
  CNode& node = Insert(norm, false);
  node.dwAttributes = FILE_ATTRIBUTE_NORMAL;
  node.strContents = bytes;
  return TRUE;
}
