#include "platform/host/xml/document.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>

#include <climits>
#include <mutex>

#include "platform/cstring.h"
#include "platform/device_backend.h"
#include "platform/kernel.h"

namespace {

constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);

// Entities declared in the document are expanded; no DTD is loaded, nothing from the network,
// and libxml2's limits on entity expansion and depth stay on (no XML_PARSE_HUGE). Without
// XML_PARSE_RECOVER the first well-formedness error ends the parse without a document.
constexpr int kParseOptions = XML_PARSE_NOENT | XML_PARSE_NONET;

// What went wrong in the parse running on this thread: the first warning or error.
struct CParseTrouble {
  bool bSeen = false;
  std::wstring strReason;
  long nFilePos = -1;
};
thread_local CParseTrouble* t_pTrouble = nullptr;

void Note(const char* pszReason, xmlParserCtxt* pCtxt) {
  if (!t_pTrouble || t_pTrouble->bSeen) return;
  std::string strReason = pszReason ? pszReason : "error";
  while (!strReason.empty() && (strReason.back() == '\n' || strReason.back() == ' '))
    strReason.pop_back();
  t_pTrouble->bSeen = true;
  t_pTrouble->strReason = Utf8ToWide(strReason);
  t_pTrouble->nFilePos = pCtxt ? xmlByteConsumed(pCtxt) : -1;
}

// Every warning and error of the parser counts: a warning is how libxml2 tells of an entity it
// did not define or an external one it did not load, and either would read the file differently
// from what it says. Namespaces are not XML 1.0 and are not judged.
void OnError(void* pData, xmlError* pError) {
  if (!pError || pError->domain == XML_FROM_NAMESPACE) return;
  Note(pError->message, static_cast<xmlParserCtxt*>(pData));
}

// The only loader of external entities and DTDs: it loads none, and the document asking is refused.
xmlParserInput* NoExternalEntity(const char* pszUrl, const char*, xmlParserCtxt* pCtxt) {
  Note(("an external entity (" + std::string(pszUrl ? pszUrl : "") + ")").c_str(), pCtxt);
  return nullptr;
}

void InitLibxml2() {
  static std::once_flag s_once;
  std::call_once(s_once, [] {
    xmlInitParser();
    xmlSetExternalEntityLoader(&NoExternalEntity);
  });
}

HRESULT HResultFromLastError() {
  DWORD dwErr = GetLastError();
  return dwErr == ERROR_SUCCESS ? E_FAIL : static_cast<HRESULT>(0x80070000u | (dwErr & 0xFFFFu));
}

bool IsBlankText(const xmlNode* pNode) {
  if (pNode->type != XML_TEXT_NODE || !pNode->content) return false;
  for (const xmlChar* p = pNode->content; *p; ++p)
    if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') return false;
  return true;
}

}  // namespace

void CHostXmlDocument::Clear() {
  m_arrChildren.clear();
  m_pElement.reset();
  m_pDoc.reset();
  m_parseError = {};
  m_bCrLf = false;
}

HRESULT CHostXmlDocument::Load(const std::wstring& strPath, bool* pbParsed) {
  Clear();
  if (pbParsed) *pbParsed = false;
  IDeviceBackend* pDevice = DeviceBackend();
  if (!pDevice) return E_FAIL;
  std::string bytes;
  if (!pDevice->ReadWholeFile(strPath, bytes)) return HResultFromLastError();
  if (bytes.size() > INT_MAX) return E_OUTOFMEMORY;

  InitLibxml2();
  std::unique_ptr<xmlParserCtxt, void (*)(xmlParserCtxt*)> pCtxt(xmlNewParserCtxt(),
                                                                 &xmlFreeParserCtxt);
  if (!pCtxt) return E_OUTOFMEMORY;
  pCtxt->sax->serror = &OnError;  // instead of libxml2's lines on standard error
  CParseTrouble trouble;
  t_pTrouble = &trouble;
  m_pDoc.reset(xmlCtxtReadMemory(pCtxt.get(), bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                 nullptr, kParseOptions));
  t_pTrouble = nullptr;
  const bool bOutOfMemory = pCtxt->errNo == XML_ERR_NO_MEMORY;
  if (!m_pDoc || !pCtxt->wellFormed || trouble.bSeen) {
    Clear();
    if (bOutOfMemory) return E_OUTOFMEMORY;
    // An empty file, or one of comments only, is a document without a root element; libxml2
    // says the same of text before the first tag, which it has not read past.
    if (pCtxt->errNo == XML_ERR_DOCUMENT_EMPTY &&
        trouble.nFilePos == static_cast<long>(bytes.size())) {
      if (pbParsed) *pbParsed = true;
      return S_OK;
    }
    m_parseError = {trouble.bSeen ? trouble.strReason : L"not well-formed", trouble.nFilePos};
    return S_FALSE;
  }
  if (pbParsed) *pbParsed = true;
  m_bCrLf = bytes.find("\r\n") != std::string::npos;

  xmlNode* pRoot = xmlDocGetRootElement(m_pDoc.get());
  if (!pRoot) return S_OK;
  m_pElement = std::make_unique<CHostXmlNode>(pRoot);
  for (xmlNode* pChild = pRoot->children; pChild; pChild = pChild->next)
    if (!IsBlankText(pChild)) m_arrChildren.emplace_back(pChild);
  return S_OK;
}

const IXmlNode* CHostXmlDocument::DocumentElement() const { return m_pElement.get(); }

int CHostXmlDocument::ChildCount() const { return static_cast<int>(m_arrChildren.size()); }

const IXmlNode* CHostXmlDocument::Child(int nIndex) const {
  if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_arrChildren.size()) return nullptr;
  return &m_arrChildren[static_cast<size_t>(nIndex)];
}

bool CHostXmlDocument::Serialise(std::string& bytes) const {
  // A file without a declaration is written without one, and then only UTF-8 needs none; a file
  // whose declaration names no encoding is UTF-8 too, now said (libxml2 would write ASCII).
  const bool bDeclared = m_pDoc->standalone != -1;
  std::unique_ptr<xmlBuffer, void (*)(xmlBuffer*)> pBuffer(xmlBufferCreate(), &xmlBufferFree);
  if (!pBuffer) return false;
  xmlSaveCtxt* pSave =
      xmlSaveToBuffer(pBuffer.get(), bDeclared && m_pDoc->encoding ? nullptr : "UTF-8",
                      XML_SAVE_AS_XML | (bDeclared ? 0 : XML_SAVE_NO_DECL));
  if (!pSave) return false;
  const bool bSaved = xmlSaveDoc(pSave, m_pDoc.get()) >= 0;
  if (xmlSaveClose(pSave) < 0 || !bSaved) return false;
  bytes.assign(reinterpret_cast<const char*>(xmlBufferContent(pBuffer.get())),
               static_cast<size_t>(xmlBufferLength(pBuffer.get())));
  // A raw line feed in what libxml2 writes is a line end or one in text, which a reader takes as
  // the same whether it follows a CR or not (a CR of its own it writes as "&#13;").
  if (m_bCrLf && bytes.find('\0') == std::string::npos) {
    std::string strCrLf;
    strCrLf.reserve(bytes.size() + bytes.size() / 16);
    for (char c : bytes) {
      if (c == '\n') strCrLf += '\r';
      strCrLf += c;
    }
    bytes.swap(strCrLf);
  }
  return true;
}

HRESULT CHostXmlDocument::Save(const std::wstring& strPath) {
  if (!m_pElement) return E_FAIL;
  IDeviceBackend* pDevice = DeviceBackend();
  if (!pDevice) return E_FAIL;
  std::string bytes;
  if (!Serialise(bytes)) return E_FAIL;
  // The same bytes again would only cost the file its inode, owner and links.
  std::string strOnDisk;
  if (pDevice->ReadWholeFile(strPath, strOnDisk) && strOnDisk == bytes) return S_OK;
  return pDevice->ReplaceFileContents(strPath, bytes) ? S_OK : HResultFromLastError();
}
