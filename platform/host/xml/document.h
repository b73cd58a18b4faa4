// The XML document service on pugixml. Files are read and written through the installed device
// backend, so the same document serves the device image and the tests' in-memory device.
#pragma once

#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "platform/host/xml/node.h"
#include "platform/xmldom.h"

class CHostXmlDocument : public IXmlDocument {
 public:
  // A failure code when the file cannot be read or the parser runs out of memory; S_FALSE with
  // *pbParsed false when it is not well-formed; S_OK with *pbParsed true otherwise, also for a
  // document without a root element (DocumentElement() is then null).
  HRESULT Load(const std::wstring& strPath, bool* pbParsed) override;
  // pugixml's description and offset of the syntax error, or "a second root element" at it.
  CXmlParseError ParseError() const override { return m_parseError; }
  const IXmlNode* DocumentElement() const override;
  int ChildCount() const override;
  const IXmlNode* Child(int nIndex) const override;
  // Replaces the file in one step with the document in the encoding it was read in; E_FAIL
  // without writing when no document with a root element is loaded, or when the bytes would
  // not read back as the same document.
  HRESULT Save(const std::wstring& strPath) override;

 private:
  void Clear();
  // The document's bytes: the nodes as parsed, so the file keeps its own layout.
  void Serialise(std::string& bytes) const;

  pugi::xml_document m_doc;
  std::unique_ptr<CHostXmlNode> m_pElement;  // null without a root element
  std::vector<CHostXmlNode> m_arrChildren;   // root's children without white-space-only text
  pugi::xml_encoding m_encoding = pugi::encoding_utf8;
  bool m_bBom = false;   // the file began with a byte order mark
  bool m_bCrLf = false;  // the file's lines end in CR LF
  CXmlParseError m_parseError;
};
