#include "config/wince_xml_attr_reader.h"

#include <string>

WinceXmlAttrReader::WinceXmlAttrReader(const wchar_t* pszPath) { m_bLoaded = Load(pszPath); }

WinceXmlAttrReader::~WinceXmlAttrReader() = default;

CString WinceXmlAttrReader::GetAttribute(int nChild, int nAttr) {
  m_strValue.Empty();
  m_nAttrIndex = nAttr;
  WalkChildren(nChild, 1);
  return m_strValue;
}

int WinceXmlAttrReader::OnNode(const IXmlNode* pNode) {
  ReadAttribute(pNode);
  return 1;
}

void WinceXmlAttrReader::ReadAttribute(const IXmlNode* pNode) {
  if (!pNode->IsElement()) return;
  const int n = pNode->AttributeCount();
  if (n <= 0) return;
  int nIndex = m_nAttrIndex;
  if (nIndex >= n) nIndex = n - 1;
  if (nIndex < 0) nIndex = 0;
  m_strValue = pNode->AttributeValue(nIndex);
}
