#include "platform/host/xml/node.h"

#include <climits>

#include "platform/cstring.h"

CHostXmlNode::CHostXmlNode(xmlNode* pNode) : m_pNode(pNode) {
  if (m_pNode->type != XML_ELEMENT_NODE) return;
  for (xmlAttr* pAttr = m_pNode->properties; pAttr; pAttr = pAttr->next)
    m_arrAttrs.push_back(pAttr);
}

bool CHostXmlNode::IsElement() const { return m_pNode->type == XML_ELEMENT_NODE; }

int CHostXmlNode::AttributeCount() const {
  return m_arrAttrs.size() > INT_MAX ? INT_MAX : static_cast<int>(m_arrAttrs.size());
}

std::wstring CHostXmlNode::AttributeValue(int nIndex) const {
  if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_arrAttrs.size()) return std::wstring();
  const xmlAttr* pAttr = m_arrAttrs[static_cast<size_t>(nIndex)];
  xmlChar* pValue = xmlNodeListGetString(m_pNode->doc, pAttr->children, 1);
  if (!pValue) return std::wstring();
  std::wstring strValue = Utf8ToWide(reinterpret_cast<const char*>(pValue));
  xmlFree(pValue);
  return strValue;
}
