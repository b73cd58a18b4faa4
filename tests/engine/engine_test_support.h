// Helpers shared by the engine tests: handle accounting and readable comparisons.
#pragma once

#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/cstring.h"
#include "platform/kernel.h"
#include "tests/fakes/fake_device.h"

// Notes the handle table's next handle; Leaked() lists the handles opened since and still open.
class COldHandleWatch {
 public:
  COldHandleWatch() : m_nFirst(Probe()) {}
  std::vector<UINT_PTR> Leaked() const {
    std::vector<UINT_PTR> open;
    const UINT_PTR nEnd = Probe();
    for (UINT_PTR h = m_nFirst + 4; h < nEnd; h += 4)
      if (LookupHandle(reinterpret_cast<HANDLE>(h))) open.push_back(h);
    return open;
  }

 private:
  class CProbe : public CKernelObject {
   public:
    DWORD Wait(DWORD) override { return WAIT_FAILED; }
  };
  static UINT_PTR Probe() {
    HANDLE h = RegisterHandle(std::make_shared<CProbe>());
    CloseHandle(h);
    return reinterpret_cast<UINT_PTR>(h);
  }
  UINT_PTR m_nFirst;
};

using CTree = std::map<std::wstring, CFakeEntry>;

// Readable failure output for tree comparisons.
inline void PrintTo(const CFakeEntry& entry, std::ostream* os) {
  *os << "{0x" << std::hex << entry.dwAttributes << std::dec << " \"" << entry.strContents << "\"}";
}

inline CFakeEntry File(const std::string& strContents, DWORD dwAttributes = FILE_ATTRIBUTE_NORMAL) {
  return CFakeEntry{dwAttributes, strContents};
}
inline CFakeEntry Folder(DWORD dwAttributes = FILE_ATTRIBUTE_DIRECTORY) {
  return CFakeEntry{dwAttributes, {}};
}

// Builds the tree on the fake: folders (volume roots when 0x110) and files, in map order unless
// the caller adds them itself.
inline void Populate(CFakeDevice& dev, const CTree& tree) {
  for (const auto& [path, entry] : tree) {
    if (entry.dwAttributes == FILE_ATTRIBUTE_VOLUME_ROOT)
      dev.AddVolumeRoot(path);
    else if (entry.dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
      dev.AddFolder(path, entry.dwAttributes);
    else
      dev.AddFile(path, entry.strContents, entry.dwAttributes);
  }
}

// Narrow text for readable failure output.
inline std::vector<std::string> Narrow(const std::vector<std::wstring>& lines) {
  std::vector<std::string> out;
  for (const auto& line : lines) out.push_back(WideToUtf8(line));
  return out;
}
