#include "config/wince_xml_ex.h"

#include <utility>

#include "config/xml_load_error.h"

WinceXmlEx::WinceXmlEx(CString strPath) : m_strPath(std::move(strPath)) {
  // A reader that did not load is deleted by the unwinding, and nothing is saved.
  m_pReader = std::make_unique<WinceXmlAttrReader>(m_strPath.GetString());
  if (!m_pReader->IsLoaded()) throw CXmlLoadError(m_pReader->LoadError());
  m_pDoc = m_pReader->Document();
}

WinceXmlEx::~WinceXmlEx() {
  if (m_pDoc) m_pDoc->Save(m_strPath.Str());
  m_pReader.reset();
}

CString WinceXmlEx::GetAttribute(int nChild, int nAttr) {
  return m_pReader ? m_pReader->GetAttribute(nChild, nAttr) : CString();
}
