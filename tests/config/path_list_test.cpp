#include "config/path_list.h"

#include <exception>
#include <string>
#include <vector>

#include "tests/config/config_fixture.h"

namespace {

struct CListCase {
  const char* pszName;
  std::string strXml;  // written as the document service writes it, so the write-back is equal
  std::vector<std::wstring> arrSrc;
  std::vector<std::wstring> arrDst;
};

std::vector<std::wstring> Wide(const CStringArray& arr) {
  std::vector<std::wstring> out;
  for (const CString& s : arr) out.push_back(s.Str());
  return out;
}

std::string Doc(const std::string& strBody) { return "<Paths>" + strBody + "</Paths>\n"; }

using PathListTest = ConfigTest;

TEST_F(PathListTest, ReadsPairsByAttributePositionAndWritesTheSameDocumentBack) {
  const std::vector<CListCase> cases = {
      {"count 2", Doc(R"(<E n="2" a="A" b="B" c="C" d="D"/>)"), {L"A", L"C"}, {L"B", L"D"}},
      {"surplus entry repeats the last attribute",
       Doc(R"(<E n="3" a="A" b="B" c="C" d="D"/>)"),
       {L"A", L"C", L"D"},
       {L"B", L"D", L"D"}},
      {"count 1 alone", Doc(R"(<E n="1"/>)"), {L"1"}, {L"1"}},
      {"count 0", Doc(R"(<E n="0" a="A" b="B"/>)"), {}, {}},
      {"negative count", Doc(R"(<E n="-2" a="A" b="B"/>)"), {}, {}},
      {"letters", Doc(R"(<E n="two" a="A" b="B"/>)"), {}, {}},
      {"empty count", Doc(R"(<E n="" a="A" b="B"/>)"), {}, {}},
      {"no attributes", Doc(R"(<E/>)"), {}, {}},
      {"leading blank", Doc(R"(<E n=" 2" a="A" b="B" c="C" d="D"/>)"), {L"A", L"C"}, {L"B", L"D"}},
      {"digit then letter",
       Doc(R"(<E n="2x" a="A" b="B" c="C" d="D"/>)"),
       {L"A", L"C"},
       {L"B", L"D"}},
      {"comment first", Doc(R"(<!-- paths --><E n="1" a="A" b="B"/>)"), {}, {}},
      {"processing instruction first", Doc(R"(<?app x?><E n="1" a="A" b="B"/>)"), {}, {}},
      {"text first", Doc(R"(text<E n="1" a="A" b="B"/>)"), {}, {}},
      {"root without children", "<Paths/>\n", {}, {}},
      {"second element ignored",
       Doc(R"(<E n="1" a="A" b="B"/><E n="2" a="X" b="Y" c="Z" d="W"/>)"),
       {L"A"},
       {L"B"}},
      {"children of the entry ignored",
       Doc(R"(<E n="1" a="A" b="B"><F n="2" a="X"/></E>)"),
       {L"A"},
       {L"B"}},
      {"names not examined", Doc(R"(<Q zz="1" dst="A" src="B"/>)"), {L"A"}, {L"B"}},
      {"swapped attributes", Doc(R"(<E n="1" b="B" a="A"/>)"), {L"B"}, {L"A"}},
      {"attributes past 2N not read", Doc(R"(<E n="1" a="A" b="B" c="C"/>)"), {L"A"}, {L"B"}},
      {"empty values kept", Doc(R"(<E n="2" a="" b="B" c="C" d=""/>)"), {L"", L"C"}, {L"B", L""}},
      {"values as written",
       Doc(R"(<E n="1" a=" \ResidentFlash\x\ " b="\SDMMC\A &amp; B"/>)"),
       {L" \\ResidentFlash\\x\\ "},
       {L"\\SDMMC\\A & B"}},
      {"indented CR LF file",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Paths>\r\n\t<E n=\"1\" a=\"A\" "
       "b=\"B\"/>\r\n</Paths>\r\n",
       {L"A"},
       {L"B"}},
      {"indented with a comment after the entry",
       "<Paths>\n  <E n=\"1\" a=\"A\" b=\"B\"/>\n  <!-- note -->\n</Paths>\n",
       {L"A"},
       {L"B"}},
      {"Chinese folder names",
       Doc("<E n=\"1\" a=\"\\ResidentFlash\\\xE5\xAF\xBC\xE8\x88\xAA\" "
           "b=\"\\SDMMC\\\xE5\xAF\xBC\xE8\x88\xAA\xE6\x95\xB0\xE6\x8D\xAE\"/>"),
       {L"\\ResidentFlash\\\u5BFC\u822A"},
       {L"\\SDMMC\\\u5BFC\u822A\u6570\u636E"}},
  };
  for (const CListCase& c : cases) {
    SCOPED_TRACE(c.pszName);
    CFakeDevice device;
    CFakeDeviceScope scope(device);
    device.AddFile(kPathXml, c.strXml);
    const auto before = device.Snapshot();
    device.ClearRecord();
    m_windows.ClearCalls();

    CStringArray arrSrc, arrDst;
    ReadPathList(kPathXml, arrSrc, arrDst);

    EXPECT_EQ(Wide(arrSrc), c.arrSrc);
    EXPECT_EQ(Wide(arrDst), c.arrDst);
    EXPECT_EQ(device.Operations(),
              (std::vector<std::wstring>{L"ReadWholeFile \\ResidentFlash\\Path.xml",
                                         L"ReplaceFileContents \\ResidentFlash\\Path.xml"}));
    EXPECT_EQ(device.Snapshot().at(kPathXml).strContents, c.strXml);
    EXPECT_EQ(device.Snapshot(), before);
    EXPECT_EQ(m_windows.Calls(), std::vector<std::string>{});
  }
}

TEST_F(PathListTest, ACountBeyondTheBoundMakesAtMost4096Entries) {
  const std::vector<std::pair<std::string, size_t>> cases = {
      {"4095", 4095}, {"4096", 4096}, {"4097", 4096}, {"100000", 4096}, {"99999999999999", 4096}};
  for (const auto& [strCount, nExpected] : cases) {
    SCOPED_TRACE(strCount);
    PutPathXml(Doc("<E n=\"" + strCount + "\" a=\"A\" b=\"B\"/>"));
    CStringArray arrSrc, arrDst;
    ReadPathList(kPathXml, arrSrc, arrDst);
    std::vector<std::wstring> src(nExpected, L"B"), dst(nExpected, L"B");
    src[0] = L"A";
    EXPECT_EQ(Wide(arrSrc), src);
    EXPECT_EQ(Wide(arrDst), dst);
  }
}

TEST_F(PathListTest, AHugeLastAttributeRepeatedByTheCountIsBoundedInText) {
  // 4,096 copies of a 100,000-character value would take gigabytes; the lists stop short.
  const std::string strLong(100000, 'x');
  PutPathXml(Doc("<E n=\"4096\" a=\"" + strLong + "\"/>"));
  CStringArray arrSrc, arrDst;
  ReadPathList(kPathXml, arrSrc, arrDst);
  ASSERT_EQ(arrSrc.size(), arrDst.size());
  EXPECT_EQ(arrSrc.size(), 10u);  // 4096 * 2 * 260 characters hold ten pairs of 200,000
  for (size_t i = 0; i < arrSrc.size(); ++i) {
    EXPECT_EQ(arrSrc[i].GetLength(), 100000);
    EXPECT_EQ(arrDst[i].GetLength(), 100000);
  }
}

TEST_F(PathListTest, AFileThatCannotBeLoadedThrowsAfterItsNoticeAndChangesNothing) {
  struct CFailCase {
    const char* pszName;
    std::vector<std::string> arrBoxes;
    void (*pfnSetUp)(CFakeDevice&);
  };
  const std::vector<CFailCase> cases = {
      {"missing", {kCannotLoadBox}, [](CFakeDevice&) {}},
      {"missing folder",
       {kCannotLoadBox},
       [](CFakeDevice& d) { d.RemoveEntry(L"\\ResidentFlash"); }},
      {"a folder in its place", {kCannotLoadBox}, [](CFakeDevice& d) { d.AddFolder(kPathXml); }},
      {"unreadable",
       {kCannotLoadBox},
       [](CFakeDevice& d) {
         d.AddFile(kPathXml, Doc(R"(<E n="1" a="A" b="B"/>)"));
         d.FailPath(EFakeOp::kReadWholeFile, kPathXml, ERROR_ACCESS_DENIED);
       }},
      {"empty", {kEmptyDocumentBox}, [](CFakeDevice& d) { d.AddFile(kPathXml, ""); }},
      {"white space only",
       {kEmptyDocumentBox},
       [](CFakeDevice& d) { d.AddFile(kPathXml, " \r\n\t\r\n"); }},
      {"no root element",
       {kEmptyDocumentBox},
       [](CFakeDevice& d) {
         d.AddFile(kPathXml, "<?xml version=\"1.0\"?>\n<!-- <Paths><E n=\"1\"/></Paths> -->\n");
       }},
      {"not well-formed",
       {},
       [](CFakeDevice& d) { d.AddFile(kPathXml, "<Paths><E n=\"1\" a=\"A\" b=\"B\"></Paths>\n"); }},
      {"unclosed root",
       {},
       [](CFakeDevice& d) { d.AddFile(kPathXml, "<Paths><E n=\"1\" a=\"A\" b=\"B\"/>"); }},
      {"two roots", {}, [](CFakeDevice& d) { d.AddFile(kPathXml, "<Paths/><Paths/>"); }},
  };
  for (const CFailCase& c : cases) {
    SCOPED_TRACE(c.pszName);
    CFakeDevice device;
    CFakeDeviceScope scope(device);
    device.AddFile(L"\\SDMMC\\keep.txt", "keep");
    c.pfnSetUp(device);
    const auto before = device.Snapshot();
    m_windows.ClearCalls();

    CStringArray arrSrc{L"old"}, arrDst{L"old"};
    std::string strWhat = "(nothing thrown)";
    try {
      ReadPathList(kPathXml, arrSrc, arrDst);
    } catch (const std::exception& e) {
      strWhat = e.what();
    }

    EXPECT_EQ(strWhat, "Failed to WinceXmlEx!");
    EXPECT_EQ(m_windows.Calls(), c.arrBoxes);
    EXPECT_EQ(device.Changes(), std::vector<std::wstring>{});
    EXPECT_EQ(device.Snapshot(), before);
    EXPECT_EQ(Wide(arrSrc), std::vector<std::wstring>{L"old"});
    EXPECT_EQ(Wide(arrDst), std::vector<std::wstring>{L"old"});
  }
}

TEST_F(PathListTest, AFailedWriteBackKeepsTheOriginalAndIsNotReported) {
  const std::string strXml = "<Paths>\n<E n=\"1\" a=\"A\" b=\"B\"/>\n</Paths>";
  for (DWORD dwError : {ERROR_DISK_FULL, ERROR_ACCESS_DENIED, ERROR_WRITE_PROTECT}) {
    SCOPED_TRACE(dwError);
    PutPathXml(strXml);
    m_device.FailOnce(EFakeOp::kReplaceFileContents, dwError);
    m_windows.ClearCalls();
    CStringArray arrSrc, arrDst;
    ReadPathList(kPathXml, arrSrc, arrDst);
    EXPECT_EQ(Wide(arrSrc), std::vector<std::wstring>{L"A"});
    EXPECT_EQ(Wide(arrDst), std::vector<std::wstring>{L"B"});
    EXPECT_EQ(m_device.Changes(), std::vector<std::wstring>{L"ReplaceFileContents "
                                                            L"\\ResidentFlash\\Path.xml = " +
                                                            std::to_wstring(dwError)});
    EXPECT_EQ(PathXmlBytes(), strXml);
    EXPECT_EQ(m_windows.Calls(), std::vector<std::string>{});
  }
}

TEST_F(PathListTest, EveryStartRewritesTheFileWithTheSameContent) {
  // Written by hand: the first write-back gives the document service's spelling, and from then
  // on every start writes exactly what it read.
  PutPathXml(
      "<?xml version='1.0'?>\n<!-- recovery -->\n<Paths>\n  <E n='1' a='A' b=\"B\"/>\n  "
      "<Other><![CDATA[x]]></Other>\n</Paths>");
  const std::string strFirst =
      "<?xml version=\"1.0\"?>\n<!-- recovery -->\n<Paths>\n  <E n=\"1\" a=\"A\" b=\"B\"/>\n  "
      "<Other><![CDATA[x]]></Other>\n</Paths>\n";
  for (int nStart = 1; nStart <= 3; ++nStart) {
    SCOPED_TRACE(nStart);
    m_device.ClearRecord();
    CStringArray arrSrc, arrDst;
    ReadPathList(kPathXml, arrSrc, arrDst);
    EXPECT_EQ(Wide(arrSrc), std::vector<std::wstring>{L"A"});
    EXPECT_EQ(Wide(arrDst), std::vector<std::wstring>{L"B"});
    EXPECT_EQ(m_device.Changes(),
              std::vector<std::wstring>{L"ReplaceFileContents \\ResidentFlash\\Path.xml"});
    EXPECT_EQ(PathXmlBytes(), strFirst);
  }
}

TEST_F(PathListTest, EntitiesAndDtdsNeverReachOutsideTheFile) {
  m_device.AddFile(L"\\Outside\\secret.txt", "TOPSECRET");
  m_device.AddFile(L"\\Outside\\paths.dtd",
                   "<!ENTITY src \"TOPSECRET\"><!ATTLIST E n CDATA \"1\" a CDATA \"TOPSECRET\">");
  const std::string strXml =
      "<?xml version=\"1.0\"?>\n"
      "<!DOCTYPE Paths SYSTEM \"\\Outside\\paths.dtd\" [\n"
      "  <!ENTITY secret SYSTEM \"\\Outside\\secret.txt\">\n"
      "  <!ENTITY local SYSTEM \"file:///etc/hostname\">\n"
      "  <!ENTITY % ext SYSTEM \"\\Outside\\paths.dtd\"> %ext;\n"
      "  <!ATTLIST E z CDATA \"TOPSECRET\">\n"
      "]>\n"
      "<Paths><E n=\"3\" a=\"&secret;\" b=\"&local;\" c=\"&src;\" d=\"A&amp;\"/></Paths>\n";
  PutPathXml(strXml);
  CStringArray arrSrc, arrDst;
  ReadPathList(kPathXml, arrSrc, arrDst);
  // Only the predefined entities and character references are expanded, and no default
  // attribute of a DTD is added: the third entry repeats the file's own last attribute.
  EXPECT_EQ(Wide(arrSrc), (std::vector<std::wstring>{L"&secret;", L"&src;", L"A&"}));
  EXPECT_EQ(Wide(arrDst), (std::vector<std::wstring>{L"&local;", L"A&", L"A&"}));
  EXPECT_EQ(m_device.Operations(),
            (std::vector<std::wstring>{L"ReadWholeFile \\ResidentFlash\\Path.xml",
                                       L"ReplaceFileContents \\ResidentFlash\\Path.xml"}));
  // Written back as read: the references are now plain text, the doctype stays as it was.
  std::string strWritten = strXml;
  for (const char* pszName : {"&secret;", "&local;", "&src;"})
    strWritten.replace(strWritten.find(pszName), 1, "&amp;");
  EXPECT_EQ(PathXmlBytes(), strWritten);
}

}  // namespace
