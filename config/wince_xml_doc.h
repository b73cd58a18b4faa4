// Read access to one XML file: loads it, holds the child nodes of its root element and visits
// them through a per-node hook. Exists only as a base.
#pragma once

#include <memory>
#include <string>

#include "platform/xmldom.h"

class WinceXmlDoc {
 public:
  // Nothing loaded yet; the document service needs no per-thread set-up.
  WinceXmlDoc();
  // Releases the child list, then the document.
  virtual ~WinceXmlDoc();
  WinceXmlDoc(const WinceXmlDoc&) = delete;
  WinceXmlDoc& operator=(const WinceXmlDoc&) = delete;

  // 1 = loaded and the root's children held; 0 = not, after the notice the case calls for:
  // "Cannot load XML file" when the file cannot be loaded at all, "Empty document!" when it has
  // no root element, none when it does not parse.
  int Load(const wchar_t* pszPath);
  // Why the last Load gave 0, in a few words ("no root element"); empty after a 1.
  const std::wstring& LoadError() const { return m_strLoadError; }
  // Visits up to nCount children of the root from position nFirst; none past the end or before
  // a successful Load.
  void WalkChildren(int nFirst, int nCount);
  // 0 for a null node, otherwise the hook's verdict.
  int Walk(const IXmlNode* pNode);
  // The document, owned here; null before Load.
  IXmlDocument* Document() const { return m_pDoc.get(); }

 protected:
  // Per-node hook: 1 = the node was handled, 0 = not.
  virtual int OnNode(const IXmlNode* pNode) = 0;

 private:
  std::unique_ptr<IXmlDocument> m_pDoc;
  // The document whose root's children are walked; null until a successful Load.
  const IXmlDocument* m_pChildren = nullptr;
  std::wstring m_strLoadError;
};
