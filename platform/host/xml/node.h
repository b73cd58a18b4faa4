// One node of a loaded pugixml document, as the XML document service shows it.
#pragma once

#include <pugixml.hpp>
#include <string>
#include <vector>

#include "platform/xmldom.h"

class CHostXmlNode : public IXmlNode {
 public:
  // Views the node of a document that outlives this object.
  explicit CHostXmlNode(pugi::xml_node node);

  bool IsElement() const override;
  int AttributeCount() const override;
  // Value of the attribute at the position in file order, decoded from UTF-8; empty past the end.
  std::wstring AttributeValue(int nIndex) const override;

 private:
  pugi::xml_node m_node;
  std::vector<pugi::xml_attribute> m_arrAttrs;  // file order, so a position is one look-up
};
