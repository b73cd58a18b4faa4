#include "platform/host/xml/document.h"

#include <cstring>

#include "platform/cstring.h"
#include "platform/device_backend.h"
#include "platform/kernel.h"

namespace {

constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);

// Comments, processing instructions, the declaration and the doctype are kept so that the
// write-back keeps them. White-space-only text is kept too, but never shown as a child: the file
// is written back in its own layout, and the size of what is written stays that of what was
// read (re-indenting a deeply nested file would grow it without bound). No end-of-line
// conversion, so CR LF files stay CR LF. pugixml expands only the predefined entities and
// character references: no DTD and no external entity is ever read.
constexpr unsigned kParseFlags =
    pugi::parse_cdata | pugi::parse_escapes | pugi::parse_wconv_attribute | pugi::parse_comments |
    pugi::parse_pi | pugi::parse_declaration | pugi::parse_doctype | pugi::parse_ws_pcdata;

HRESULT HResultFromLastError() {
  DWORD dwErr = GetLastError();
  return dwErr == ERROR_SUCCESS ? E_FAIL : static_cast<HRESULT>(0x80070000u | (dwErr & 0xFFFFu));
}

bool IsBlankText(pugi::xml_node node) {
  if (node.type() != pugi::node_pcdata) return false;
  for (const char* p = node.value(); *p; ++p)
    if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') return false;
  return true;
}

// The second top-level element, which no XML document has; null when there is none.
pugi::xml_node SecondTopLevelElement(const pugi::xml_document& doc) {
  int n = 0;
  for (pugi::xml_node node : doc.children())
    if (node.type() == pugi::node_element && ++n == 2) return node;
  return {};
}

bool IsWriteEncoding(pugi::xml_encoding encoding) {
  switch (encoding) {
    case pugi::encoding_utf8:
    case pugi::encoding_utf16_le:
    case pugi::encoding_utf16_be:
    case pugi::encoding_utf32_le:
    case pugi::encoding_utf32_be:
    case pugi::encoding_latin1:
      return true;
    default:
      return false;
  }
}

// ASCII text in the file's encoding.
std::string Encoded(const char* pszAscii, pugi::xml_encoding encoding) {
  std::string out;
  for (const char* p = pszAscii; *p; ++p) {
    switch (encoding) {
      case pugi::encoding_utf16_le:
        out += {*p, '\0'};
        break;
      case pugi::encoding_utf16_be:
        out += {'\0', *p};
        break;
      case pugi::encoding_utf32_le:
        out += {*p, '\0', '\0', '\0'};
        break;
      case pugi::encoding_utf32_be:
        out += {'\0', '\0', '\0', *p};
        break;
      default:
        out += *p;
    }
  }
  return out;
}

std::string ByteOrderMark(pugi::xml_encoding encoding) {
  switch (encoding) {
    case pugi::encoding_utf8:
      return "\xEF\xBB\xBF";
    case pugi::encoding_utf16_le:
      return "\xFF\xFE";
    case pugi::encoding_utf16_be:
      return "\xFE\xFF";
    case pugi::encoding_utf32_le:
      return std::string("\xFF\xFE\0\0", 4);
    case pugi::encoding_utf32_be:
      return std::string("\0\0\xFE\xFF", 4);
    default:
      return std::string();
  }
}

bool SameNode(pugi::xml_node a, pugi::xml_node b) {
  if (a.type() != b.type() || std::strcmp(a.name(), b.name()) != 0 ||
      std::strcmp(a.value(), b.value()) != 0)
    return false;
  pugi::xml_attribute x = a.first_attribute();
  pugi::xml_attribute y = b.first_attribute();
  for (; x && y; x = x.next_attribute(), y = y.next_attribute())
    if (std::strcmp(x.name(), y.name()) != 0 || std::strcmp(x.value(), y.value()) != 0)
      return false;
  return !x && !y;
}

// Node by node in document order, without recursion (a file may nest deeply). Equal nodes
// with the same "has a first child" and "has a next sibling" at every step make equal trees.
bool SameTree(pugi::xml_node a, pugi::xml_node b) {
  const pugi::xml_node rootA = a;
  while (a && b) {
    if (!SameNode(a, b) || !a.first_child() != !b.first_child() ||
        !a.next_sibling() != !b.next_sibling())
      return false;
    if (a.first_child()) {
      a = a.first_child();
      b = b.first_child();
      continue;
    }
    while (a != rootA && !a.next_sibling()) {
      a = a.parent();
      b = b.parent();
    }
    if (a == rootA) return true;
    a = a.next_sibling();
    b = b.next_sibling();
  }
  return !a && !b;
}

class CStringWriter : public pugi::xml_writer {
 public:
  explicit CStringWriter(std::string& bytes) : m_bytes(bytes) {}
  void write(const void* pData, size_t nSize) override {
    m_bytes.append(static_cast<const char*>(pData), nSize);
  }

 private:
  std::string& m_bytes;
};

}  // namespace

void CHostXmlDocument::Clear() {
  m_arrChildren.clear();
  m_pElement.reset();
  m_doc.reset();
  m_encoding = pugi::encoding_utf8;
  m_bBom = false;
  m_bCrLf = false;
  m_parseError = {};
}

// How pugixml's outcome maps onto the device DOM's:
// - the file cannot be read (missing, a folder, unreadable): the load call fails, with the
//   device error as the code; so does a parse that runs out of memory (status_out_of_memory,
//   status_internal_error; the file statuses cannot occur, the bytes come from the device);
// - status_no_document_element (an empty file, only a declaration or comments): the file loads
//   and parses but the document has no root element;
// - every syntax status (status_bad_*, status_end_element_mismatch, status_unrecognized_tag),
//   and a second top-level element, which pugixml lets pass: the file loads but does not parse
//   (S_FALSE, *pbParsed false); the partial tree is dropped.
HRESULT CHostXmlDocument::Load(const std::wstring& strPath, bool* pbParsed) {
  Clear();
  if (pbParsed) *pbParsed = false;
  IDeviceBackend* pDevice = DeviceBackend();
  if (!pDevice) return E_FAIL;
  std::string bytes;
  if (!pDevice->ReadWholeFile(strPath, bytes)) return HResultFromLastError();

  pugi::xml_parse_result result = m_doc.load_buffer(bytes.data(), bytes.size(), kParseFlags);
  switch (result.status) {
    case pugi::status_ok:
    case pugi::status_no_document_element:
      break;
    case pugi::status_out_of_memory:
    case pugi::status_internal_error:
    case pugi::status_file_not_found:
    case pugi::status_io_error:
      Clear();
      return result.status == pugi::status_out_of_memory ? E_OUTOFMEMORY : E_FAIL;
    default:
      Clear();
      m_parseError = {Utf8ToWide(result.description()), static_cast<long>(result.offset)};
      return S_FALSE;
  }
  // pugixml accepts a second top-level element; no XML document has one.
  if (pugi::xml_node second = SecondTopLevelElement(m_doc)) {
    const long nFilePos = static_cast<long>(second.offset_debug());
    Clear();
    m_parseError = {L"a second root element", nFilePos};
    return S_FALSE;
  }
  if (pbParsed) *pbParsed = true;

  m_encoding = IsWriteEncoding(result.encoding) ? result.encoding : pugi::encoding_utf8;
  const std::string strBom = ByteOrderMark(m_encoding);
  m_bBom = !strBom.empty() && bytes.compare(0, strBom.size(), strBom) == 0;
  m_bCrLf = bytes.find(Encoded("\r\n", m_encoding)) != std::string::npos;

  pugi::xml_node root = m_doc.document_element();
  if (!root) return S_OK;
  m_pElement = std::make_unique<CHostXmlNode>(root);
  for (pugi::xml_node child : root.children())
    if (!IsBlankText(child)) m_arrChildren.emplace_back(child);
  return S_OK;
}

const IXmlNode* CHostXmlDocument::DocumentElement() const { return m_pElement.get(); }

int CHostXmlDocument::ChildCount() const { return static_cast<int>(m_arrChildren.size()); }

const IXmlNode* CHostXmlDocument::Child(int nIndex) const {
  if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_arrChildren.size()) return nullptr;
  return &m_arrChildren[static_cast<size_t>(nIndex)];
}

void CHostXmlDocument::Serialise(std::string& bytes) const {
  CStringWriter writer(bytes);
  if (m_bBom) bytes += ByteOrderMark(m_encoding);
  // The parser keeps no text outside the root element: each top-level node gets a line.
  const std::string strEol = Encoded(m_bCrLf ? "\r\n" : "\n", m_encoding);
  for (pugi::xml_node node : m_doc.children()) {
    node.print(writer, PUGIXML_TEXT(""), pugi::format_raw, m_encoding);
    bytes += strEol;
  }
}

HRESULT CHostXmlDocument::Save(const std::wstring& strPath) {
  if (!m_pElement) return E_FAIL;
  IDeviceBackend* pDevice = DeviceBackend();
  if (!pDevice) return E_FAIL;
  std::string bytes;
  Serialise(bytes);
  // What pugixml accepted it cannot always write back: text that the file's encoding cannot
  // hold becomes '?', a name made of an invalid character comes out empty. Such bytes would
  // replace a file that loads with one that loads differently or not at all: not written.
  pugi::xml_document check;
  if (check.load_buffer(bytes.data(), bytes.size(), kParseFlags).status != pugi::status_ok ||
      !SameTree(m_doc, check))
    return E_FAIL;
  return pDevice->ReplaceFileContents(strPath, bytes) ? S_OK : HResultFromLastError();
}
