// The XML document on pugixml: what a load tells, a write-back that keeps layout, encoding and
// markup, UTF-16 files, deep nesting, and a write-back that would not read the same refused.
#include <filesystem>
#include <string>
#include <vector>

#include "platform/host/xml/document.h"
#include "tests/config/config_fixture.h"

namespace {

std::string Utf16Le(const std::u16string& s, bool bBom) {
  std::string out = bBom ? "\xFF\xFE" : "";
  for (char16_t ch : s) out += {static_cast<char>(ch & 0xFF), static_cast<char>(ch >> 8)};
  return out;
}

std::string Utf16Be(const std::u16string& s) {
  std::string out;
  for (char16_t ch : s) out += {static_cast<char>(ch >> 8), static_cast<char>(ch & 0xFF)};
  return out;
}

using XmlDocumentTest = ConfigTest;

TEST_F(XmlDocumentTest, LoadTellsUnreadableFromUnparsedFromRootless) {
  struct CLoadCase {
    const char* pszName;
    const char* pszXml;  // null: no file; "/": a folder in its place; "!": unreadable
    bool bFailed;        // the load call fails
    bool bParsed;        // the success flag
    bool bElement;       // a root element
  };
  const std::vector<CLoadCase> cases = {
      {"missing", nullptr, true, false, false},
      {"folder", "/", true, false, false},
      {"unreadable", "!", true, false, false},
      {"empty", "", false, true, false},
      {"declaration only", "<?xml version=\"1.0\"?>", false, true, false},
      {"mismatched tag", "<R><E></R>", false, false, false},
      {"bad attribute", "<R a=1/>", false, false, false},
      {"unclosed comment", "<R/><!-- x", false, false, false},
      {"two root elements", "<R/><!-- c --><R/>", false, false, false},
      {"well-formed", "<R/>", false, true, true},
  };
  for (const CLoadCase& c : cases) {
    SCOPED_TRACE(c.pszName);
    std::filesystem::remove_all(m_image.Host("ResidentFlash/Path.xml"));
    CFaultDevice dev(m_host);
    if (c.pszXml && std::string(c.pszXml) == "/")
      m_image.Folder("ResidentFlash/Path.xml");
    else if (c.pszXml)
      Put(c.pszXml);
    if (c.pszXml && std::string(c.pszXml) == "!") dev.Fail(EOp::kReadFile, ERROR_ACCESS_DENIED);
    CHostXmlDocument doc;
    bool bParsed = !c.bParsed;
    HRESULT hr = doc.Load(kPathXml, &bParsed);
    EXPECT_EQ(FAILED(hr), c.bFailed);
    EXPECT_EQ(bParsed, c.bParsed);
    EXPECT_EQ(doc.DocumentElement() != nullptr, c.bElement);
    EXPECT_EQ(doc.ChildCount(), 0);
    // Only a document with a root element is ever written.
    EXPECT_EQ(SUCCEEDED(doc.Save(kPathXml)), c.bElement);
  }
}

TEST_F(XmlDocumentTest, WriteBackKeepsLayoutEncodingAndMarkup) {
  struct CSaveCase {
    const char* pszName;
    std::string strIn;
    std::string strOut;
  };
  const std::u16string strDoc16 =
      u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<R>\r\n  <E "
      u"a=\"\u5BFC\u822A\"/>\r\n</R>\r\n";
  const std::vector<CSaveCase> cases = {
      {"LF, declaration, comments, instructions, doctype",
       "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\n<!DOCTYPE R [ <!ENTITY e "
       "\"v\"> ]>\n<!-- top -->\n<?app one?>\n<R>\n\t<!-- in -->\n\t<E a=\"1\" b=\"&lt;&amp;>\"/>"
       "\n\t<?app two?>\n\t<F>text <![CDATA[<raw>]]></F>\n</R>\n<!-- after -->\n",
       ""},
      {"CR LF", "<R>\r\n  <E a=\"1\"/>\r\n</R>\r\n", ""},
      {"UTF-8 byte order mark", "\xEF\xBB\xBF<R>\n <E a=\"\xE5\xAF\xBC\"/>\n</R>\n", ""},
      {"UTF-16 LE with byte order mark", Utf16Le(strDoc16, true), ""},
      {"UTF-16 BE without byte order mark", Utf16Be(strDoc16), ""},
      {"Latin-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<R a=\"\xE9\"/>\n", ""},
      {"spelling normalised once", "<R\n  ><E a='1'\tb = \"2\"/><F></F></R>",
       "<R><E a=\"1\" b=\"2\"/><F/></R>\n"},
      {"missing final line end", "<R>\n</R>", "<R>\n</R>\n"},
  };
  for (const CSaveCase& c : cases) {
    SCOPED_TRACE(c.pszName);
    const std::string strOut = c.strOut.empty() ? c.strIn : c.strOut;
    Put(c.strIn);
    CHostXmlDocument doc;
    bool bParsed = false;
    ASSERT_EQ(doc.Load(kPathXml, &bParsed), S_OK);
    ASSERT_TRUE(bParsed);
    ASSERT_EQ(doc.Save(kPathXml), S_OK);
    EXPECT_EQ(Bytes(), strOut);
    // And from then on a fixed point.
    ASSERT_EQ(doc.Load(kPathXml, &bParsed), S_OK);
    ASSERT_EQ(doc.Save(kPathXml), S_OK);
    EXPECT_EQ(Bytes(), strOut);
  }
}

TEST_F(XmlDocumentTest, UtfSixteenFilesReadAsTheSameText) {
  const std::u16string strDoc16 = u"<R><E a=\"\\SDMMC\\\u5BFC\u822A\" b=\"x\"/></R>";
  for (const std::string& strBytes :
       {Utf16Le(strDoc16, true), Utf16Le(strDoc16, false), Utf16Be(strDoc16)}) {
    Put(strBytes);
    CHostXmlDocument doc;
    bool bParsed = false;
    ASSERT_EQ(doc.Load(kPathXml, &bParsed), S_OK);
    ASSERT_EQ(doc.ChildCount(), 1);
    EXPECT_EQ(doc.Child(0)->AttributeValue(0), L"\\SDMMC\\\u5BFC\u822A");
    EXPECT_EQ(doc.Child(0)->AttributeValue(1), L"x");
    EXPECT_EQ(doc.Child(0)->AttributeValue(2), L"");
    EXPECT_EQ(doc.Child(-1), nullptr);
    EXPECT_EQ(doc.Child(1), nullptr);
  }
}

TEST_F(XmlDocumentTest, DeepNestingLoadsAndWritesBackInItsOwnSize) {
  const int nDepth = 200000;
  std::string strXml;
  for (int i = 0; i < nDepth; ++i) strXml += "<a>";
  for (int i = 0; i < nDepth; ++i) strXml += "</a>";
  Put(strXml);
  CHostXmlDocument doc;
  bool bParsed = false;
  ASSERT_EQ(doc.Load(kPathXml, &bParsed), S_OK);
  ASSERT_TRUE(bParsed);
  EXPECT_EQ(doc.ChildCount(), 1);
  ASSERT_EQ(doc.Save(kPathXml), S_OK);
  // The innermost element becomes "<a/>"; nothing is indented.
  EXPECT_EQ(Bytes(), strXml.replace(3 * (nDepth - 1), 7, "<a/>") + "\n");
}

TEST_F(XmlDocumentTest, AWriteBackThatWouldNotReadTheSameIsNotMade) {
  std::string strUtf32 = "\xFF\xFE";
  strUtf32 += std::string("\0\0", 2);
  // An attribute name whose second character is no code point at all (0x00FC006E).
  for (unsigned char ch : std::string("<R><E n\x01=\"1\"/></R>")) {
    if (ch == 1)
      strUtf32 += std::string("\x6E\x00\xFC\x00", 4);
    else
      strUtf32 += std::string({static_cast<char>(ch), '\0', '\0', '\0'});
  }
  struct CRefusedCase {
    const char* pszName;
    std::string strXml;
  };
  const std::vector<CRefusedCase> cases = {
      {"Latin-1 cannot hold a character reference",
       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<R><E a=\"\xE9&#x5BFC;\"/></R>\n"},
      {"UTF-32 with an invalid code point in a name", strUtf32},
  };
  for (const CRefusedCase& c : cases) {
    SCOPED_TRACE(c.pszName);
    Put(c.strXml);
    CHostXmlDocument doc;
    bool bParsed = false;
    ASSERT_EQ(doc.Load(kPathXml, &bParsed), S_OK);
    ASSERT_TRUE(bParsed);
    EXPECT_TRUE(FAILED(doc.Save(kPathXml)));
    EXPECT_EQ(Bytes(), c.strXml);
  }
}

}  // namespace
