// The XML document on libxml2: a write-back that keeps layout, encoding and markup. (What a load
// tells, and a write-back that would not read the same, show in the path list's tests and the
// corpus.)
#include <filesystem>
#include <string>
#include <vector>

#include "platform/host/xml/document.h"
#include "tests/config/config_fixture.h"

namespace {

// Little-endian with its byte order mark, or big-endian without one.
std::string Utf16(const std::u16string& s, bool bLittle) {
  std::string out = bLittle ? "\xFF\xFE" : "";
  for (char16_t ch : s)
    out += {static_cast<char>(bLittle ? ch : ch >> 8), static_cast<char>(bLittle ? ch >> 8 : ch)};
  return out;
}

using XmlDocumentTest = ConfigTest;

TEST_F(XmlDocumentTest, WriteBackKeepsLayoutEncodingAndMarkup) {
  struct CSaveCase {
    const char* pszName;
    std::string strIn;
    std::string strOut;
  };
  const std::u16string strDoc16 =
      u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<R>\r\n  <E "
      u"a=\"\u5BFC\u822A\"/>\r\n</R>\r\n";
  std::u16string strDoc16Lf = strDoc16;
  std::erase(strDoc16Lf, u'\r');
  const std::vector<CSaveCase> cases = {
      {"LF, declaration, comments, instructions, doctype",
       "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\n<!DOCTYPE R [\n<!ENTITY e "
       "\"v\">\n]>\n<!-- top -->\n<?app one?>\n<R>\n\t<!-- in -->\n\t<E a=\"1\" "
       "b=\"&lt;&amp;&gt;\"/>"
       "\n\t<?app two?>\n\t<F>text <![CDATA[<raw>]]></F>\n</R>\n<!-- after -->\n",
       ""},
      {"CR LF", "<R>\r\n  <E a=\"1\"/>\r\n</R>\r\n", ""},
      {"UTF-8 byte order mark dropped", "\xEF\xBB\xBF<R>\n <E a=\"\xE5\xAF\xBC\"/>\n</R>\n",
       "<R>\n <E a=\"\xE5\xAF\xBC\"/>\n</R>\n"},
      {"UTF-16 LE with byte order mark", Utf16(strDoc16, true), Utf16(strDoc16Lf, true)},
      {"UTF-16 BE without byte order mark", Utf16(strDoc16, false), Utf16(strDoc16Lf, true)},
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

}  // namespace
