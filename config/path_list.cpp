#include "config/path_list.h"

#include <algorithm>
#include <memory>

#include "config/wince_xml_ex.h"
#include "platform/runtime.h"

namespace {

// Entries beyond the pairs in the file only repeat the last attribute; a count above this bound
// is read as the bound, so that a corrupt count cannot exhaust memory.
constexpr int kMaxPathEntries = 4096;
// Surplus entries copy the last attribute, however long it is: the lists' text is bounded too,
// to what 4,096 entries of full-length paths would hold. Entries past it are not made.
constexpr size_t kMaxPathListChars = size_t{kMaxPathEntries} * 2 * MAX_PATH;

}  // namespace

void ReadPathList(const CString& strFile, CStringArray& arrSrc, CStringArray& arrDst) {
  std::unique_ptr<WinceXmlEx> pXml(new WinceXmlEx(strFile));
  const int nCount = std::min(_wtoi(pXml->GetAttribute(0, 0)), kMaxPathEntries);
  size_t nChars = 0;
  for (int i = 0; i < nCount; ++i) {
    CString strSrc = pXml->GetAttribute(0, 2 * i + 1);
    CString strDst = pXml->GetAttribute(0, 2 * i + 2);
    nChars += static_cast<size_t>(strSrc.GetLength() + strDst.GetLength());
    if (nChars > kMaxPathListChars) break;
    arrSrc.push_back(strSrc);
    arrDst.push_back(strDst);
  }
  pXml.reset();  // writes Path.xml back
}
