#include "config/wince_xml_doc.h"

#include <string>

#include "platform/winuser.h"

namespace {

constexpr wchar_t kCaption[] = L"Error Loading XML";

}  // namespace

WinceXmlDoc::WinceXmlDoc() = default;

WinceXmlDoc::~WinceXmlDoc() {
  m_pChildren = nullptr;
  m_pDoc.reset();
}

int WinceXmlDoc::Load(const wchar_t* pszPath) {
  m_pChildren = nullptr;
  // A document that cannot be made at all is a failed load without a notice of its own.
  m_pDoc = CreateXmlDocument();
  if (!m_pDoc) return 0;
  // The device's DOM had its safety options switched off here; this one resolves nothing
  // outside the file, so there is nothing to switch.
  bool bParsed = false;
  HRESULT hr = m_pDoc->Load(std::wstring(pszPath ? pszPath : L""), &bParsed);
  if (FAILED(hr)) {
    MessageBoxW(nullptr, L"Cannot load XML file", kCaption, MB_ICONHAND | MB_OK);
    return 0;
  }
  if (!bParsed) return 0;
  if (!m_pDoc->DocumentElement()) {
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
