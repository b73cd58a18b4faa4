// Reads one attribute, by position, of one child of the root element of an XML file.
#pragma once

#include "config/wince_xml_doc.h"
#include "platform/cstring.h"

class WinceXmlAttrReader : public WinceXmlDoc {
 public:
  // Loads the file at once; IsLoaded() tells the outcome.
  explicit WinceXmlAttrReader(const wchar_t* pszPath);
  ~WinceXmlAttrReader() override;

  // 1 = the constructor's Load succeeded, 0 = not.
  int IsLoaded() const { return m_bLoaded; }
  // Text of attribute nAttr of root child nChild; a position past the last attribute reads the
  // last, a negative one the first. Empty when there is no such child or it has no attributes.
  CString GetAttribute(int nChild, int nAttr);

 protected:
  // Reads attribute m_nAttrIndex of the node into m_strValue; handles every node (1).
  int OnNode(const IXmlNode* pNode) override;

 private:
  void ReadAttribute(const IXmlNode* pNode);

  int m_bLoaded = 0;
  CString m_strValue;    // found by the current query; empty when it found nothing
  int m_nAttrIndex = 0;  // attribute position the current query asks for
};
