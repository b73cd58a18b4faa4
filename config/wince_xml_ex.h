// The XML file access that callers create: loads the file or throws, answers attribute queries,
// and writes the document back to the file when destroyed.
#pragma once

#include <memory>

#include "config/wince_xml_attr_reader.h"
#include "platform/cstring.h"

class WinceXmlEx {
 public:
  // Loads the file; throws CXmlLoadError ("Failed to WinceXmlEx!", with the reason the load
  // gives) when it was not loaded, after the notices of the load and without writing anything.
  explicit WinceXmlEx(CString strPath);
  // Writes the document back to the same path (the outcome is not examined), then ends the reader.
  virtual ~WinceXmlEx();
  WinceXmlEx(const WinceXmlEx&) = delete;
  WinceXmlEx& operator=(const WinceXmlEx&) = delete;

  // Text of attribute nAttr of root child nChild, as the reader gives it; empty without a reader.
  CString GetAttribute(int nChild, int nAttr);

 private:
  std::unique_ptr<WinceXmlAttrReader> m_pReader;
  IXmlDocument* m_pDoc = nullptr;  // the reader's document, not owned: only saved from here
  CString m_strPath;               // loaded from and saved to
};
