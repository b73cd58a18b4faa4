// One node of a loaded libxml2 document, as the XML document service shows it.
#pragma once

#include <libxml/tree.h>

#include <string>
#include <vector>

#include "platform/xmldom.h"

class CHostXmlNode : public IXmlNode {
 public:
  // Views the node of a document that outlives this object.
  explicit CHostXmlNode(xmlNode* pNode);

  bool IsElement() const override;
  int AttributeCount() const override;
  // Value of the attribute at the position in file order, entities expanded; empty past the end.
  std::wstring AttributeValue(int nIndex) const override;

 private:
  xmlNode* m_pNode;
  std::vector<xmlAttr*> m_arrAttrs;  // file order, so a position is one look-up
};
