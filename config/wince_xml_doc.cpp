#include "config/wince_xml_doc.h"

#include <cwchar>
#include <string>

#include "platform/error_text.h"
#include "platform/winuser.h"

namespace {

constexpr wchar_t kCaption[] = L"Error Loading XML";

// A load's failure code in words: the system's text for a Win32 code, the code itself otherwise.
std::wstring ReasonOf(HRESULT hr) {
  const auto uCode = static_cast<DWORD>(hr);
  if ((uCode & 0xFFFF0000u) == 0x80070000u)
    return ErrorText(uCode & 0xFFFFu) + L" (code " + std::to_wstring(uCode & 0xFFFFu) + L")";
  wchar_t szCode[16];
  std::swprintf(szCode, 16, L"0x%08X", uCode);
  return std::wstring(L"error ") + szCode;
}

}  // namespace

WinceXmlDoc::WinceXmlDoc() = default;

WinceXmlDoc::~WinceXmlDoc() {
  m_pChildren = nullptr;
  m_pDoc.reset();
}

int WinceXmlDoc::Load(const wchar_t* pszPath) {
  m_pChildren = nullptr;
  m_strLoadError.clear();
  // A document that cannot be made at all is a failed load without a notice of its own.
  m_pDoc = CreateXmlDocument();
  if (!m_pDoc) {
    m_strLoadError = L"no XML document service";
    return 0;
  }
  // The device's DOM had its safety options switched off here; this one resolves nothing
  // outside the file, so there is nothing to switch.
  bool bParsed = false;
  HRESULT hr = m_pDoc->Load(std::wstring(pszPath ? pszPath : L""), &bParsed);
  if (FAILED(hr)) {
    m_strLoadError = ReasonOf(hr);
    MessageBoxW(nullptr, L"Cannot load XML file", kCaption, MB_ICONHAND | MB_OK);
    return 0;
  }
  if (!bParsed) {
    const CXmlParseError error = m_pDoc->ParseError();
    m_strLoadError =
        L"not well-formed XML: " + error.strReason + L" at byte " + std::to_wstring(error.nFilePos);
    return 0;
  }
  if (!m_pDoc->DocumentElement()) {
    m_strLoadError = L"no root element";
    MessageBoxW(nullptr, L"Empty document!", kCaption, MB_ICONHAND | MB_OK);
    return 0;
  }
  m_pChildren = m_pDoc.get();
  return 1;
}

void WinceXmlDoc::WalkChildren(int nFirst, int nCount) {
  if (!m_pChildren) return;
  const int n = m_pChildren->ChildCount();
  int nVisited = 0;
  for (int i = nFirst; i < n && nVisited < nCount; ++i, ++nVisited) Walk(m_pChildren->Child(i));
}

int WinceXmlDoc::Walk(const IXmlNode* pNode) { return pNode ? OnNode(pNode) : 0; }
