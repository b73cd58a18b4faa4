// The XML document service on libxml2, a conforming XML 1.0 parser: a document that is not
// well-formed is refused, entities declared in its own DTD are expanded within libxml2's bounds,
// and nothing outside the file (external entity, external DTD, network) is ever loaded. Files are
// read and written through the installed device backend, so the same document serves the device
// image and the tests' devices.
#pragma once

#include <libxml/tree.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/host/xml/node.h"
#include "platform/xmldom.h"

class CHostXmlDocument : public IXmlDocument {
 public:
  // A failure code when the file cannot be read or the parser runs out of memory; S_FALSE with
  // *pbParsed false when it is not a well-formed document libxml2 read without a warning (or it
  // asks for an external entity); S_OK with *pbParsed true otherwise, also for a document without
  // a root element (DocumentElement() is then null).
  HRESULT Load(const std::wstring& strPath, bool* pbParsed) override;
  // libxml2's message and the byte where it stopped, or the reason it was refused.
  CXmlParseError ParseError() const override { return m_parseError; }
  const IXmlNode* DocumentElement() const override;
  int ChildCount() const override;
  const IXmlNode* Child(int nIndex) const override;
  // Writes the document as libxml2 serialises it, in the encoding its declaration names (UTF-8
  // without one; CR LF line ends kept in an encoding that is ASCII's), replacing the file in one
  // step; a file that already holds exactly these bytes
  // is left alone. E_FAIL without writing when no document with a root element is loaded.
  HRESULT Save(const std::wstring& strPath) override;

 private:
  struct CFreeDoc {
    void operator()(xmlDoc* pDoc) const { xmlFreeDoc(pDoc); }
  };
  void Clear();
  // The document's bytes; false when libxml2 cannot write it.
  bool Serialise(std::string& bytes) const;

  std::unique_ptr<xmlDoc, CFreeDoc> m_pDoc;
  std::unique_ptr<CHostXmlNode> m_pElement;  // null without a root element
  std::vector<CHostXmlNode> m_arrChildren;   // root's children without white-space-only text
  CXmlParseError m_parseError;
  bool m_bCrLf = false;  // the file's lines end in CR LF
};
