#include "platform/host/xml/node.h"

#include <climits>

CHostXmlNode::CHostXmlNode(pugi::xml_node node) : m_node(node) {
  for (pugi::xml_attribute attr : m_node.attributes()) m_arrAttrs.push_back(attr);
}

bool CHostXmlNode::IsElement() const { return m_node.type() == pugi::node_element; }

int CHostXmlNode::AttributeCount() const {
  return m_arrAttrs.size() > INT_MAX ? INT_MAX : static_cast<int>(m_arrAttrs.size());
}

std::wstring CHostXmlNode::AttributeValue(int nIndex) const {
  if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_arrAttrs.size()) return std::wstring();
  return pugi::as_wide(m_arrAttrs[static_cast<size_t>(nIndex)].value());
}
