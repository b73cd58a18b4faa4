// The XML document service: a DOM that loads a file synchronously, gives the document element,
// its child nodes in document order (white-space-only text left out; comments and processing
// instructions are nodes), a node's attributes in file order, and saves to a path. A document
// that is not well-formed XML 1.0 does not parse; entities declared in the document's own DTD
// are expanded; no external entity or DTD is ever resolved. The host implements it on libxml2.
#pragma once

#include <memory>
#include <string>

#include "platform/wintypes.h"

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

class IXmlNode {
 public:
  virtual ~IXmlNode() = default;
  // False for comments, text and processing instructions: they have no attribute map.
  virtual bool IsElement() const = 0;
  virtual int AttributeCount() const = 0;
  // Value of the attribute at the position in file order; empty past the end.
  virtual std::wstring AttributeValue(int nIndex) const = 0;
};

// Why a document did not parse: the parser's own words and the byte of the file where it stopped.
struct CXmlParseError {
  std::wstring strReason;  // empty: the last load parsed, or could not read the file at all
  long nFilePos = -1;      // bytes from the start of the file
};

class IXmlDocument {
 public:
  virtual ~IXmlDocument() = default;
  // Loads a device path. A failure code when the file cannot be read at all; S_OK with
  // *pbParsed false when it was read but is not a well-formed document.
  virtual HRESULT Load(const std::wstring& strPath, bool* pbParsed) = 0;
  // Why the last Load did not parse; no reason after any other outcome.
  virtual CXmlParseError ParseError() const = 0;
  // Null when the document has no root element.
  virtual const IXmlNode* DocumentElement() const = 0;
  virtual int ChildCount() const = 0;                   // children of the document element
  virtual const IXmlNode* Child(int nIndex) const = 0;  // null past the end
  // Writes the document (declaration, comments and processing instructions kept) to a device path.
  virtual HRESULT Save(const std::wstring& strPath) = 0;
};

// A new, empty document from the installed factory; null when none can be made.
std::unique_ptr<IXmlDocument> CreateXmlDocument();
using PFN_XML_FACTORY = std::unique_ptr<IXmlDocument> (*)();
void SetXmlDocumentFactory(PFN_XML_FACTORY pfnFactory);
