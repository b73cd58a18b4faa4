// The XML file access under the path list: attribute queries by position, the walk over the root
// element's children, a construction that fails by value, and the write-back at the end.
#include <string>
#include <vector>

#include "config/wince_xml_ex.h"
#include "config/xml_load_error.h"
#include "tests/config/config_fixture.h"

namespace {

struct CQuery {
  int nChild;
  int nAttr;
  std::wstring strExpected;
};

// Records what the walk hands to the hook: "element <first attribute>" or "other".
class CWalkRecorder : public WinceXmlDoc {
 public:
  std::vector<std::wstring> m_arrSeen;
  int m_nVerdict = 1;

 protected:
  int OnNode(const IXmlNode* pNode) override {
    m_arrSeen.push_back(pNode->IsElement() ? L"element " + pNode->AttributeValue(0) : L"other");
    return m_nVerdict;
  }
};

using WinceXmlTest = ConfigTest;

TEST_F(WinceXmlTest, AnswersAttributeQueriesByPositionWithClamping) {
  const std::vector<std::pair<std::string, std::vector<CQuery>>> cases = {
      {R"(<R><E a="x" b="y" c="z"/></R>)",
       {{0, 0, L"x"},
        {0, 1, L"y"},
        {0, 2, L"z"},
        {0, 3, L"z"},
        {0, 7, L"z"},
        {0, -1, L"x"},
        {0, -100, L"x"},
        {1, 0, L""},
        {5, 1, L""},
        {-1, 0, L""},
        {0, 1, L"y"}}},
      {R"(<R><E only="v"/></R>)", {{0, 0, L"v"}, {0, 1, L"v"}, {0, 9, L"v"}, {0, -3, L"v"}}},
      {R"(<R/>)", {{0, 0, L""}, {1, 0, L""}}},
      {R"(<R><E/><F a="f"/></R>)", {{0, 0, L""}, {1, 0, L"f"}, {1, 4, L"f"}}},
      {R"(<R><!-- c --><E a="x"/></R>)", {{0, 0, L""}, {0, 3, L""}, {1, 0, L"x"}}},
      {R"(<R><?pi a="p"?><E a="x"/></R>)", {{0, 0, L""}, {1, 0, L"x"}}},
      {R"(<R>t<E a="x"/><![CDATA[c]]><G a="g"/></R>)",
       {{0, 0, L""}, {1, 0, L"x"}, {2, 0, L""}, {3, 0, L"g"}}},
      {"<R>\r\n\t<E a=\"x\"/>\r\n\t\r\n<F a=\"f\"/>\n</R>",
       {{0, 0, L"x"}, {1, 0, L"f"}, {2, 0, L""}}},
      {R"(<R><E a="" b="y"/></R>)", {{0, 0, L""}, {0, 1, L"y"}}},
      {R"(<R><E a="&lt;&#x5BFC;&#33322;&gt;" b="t&#9;n&#10;" c="A&#0;B"/></R>)",
       {{0, 0, L"<\u5BFC\u822A>"}, {0, 1, L"t\tn\n"}, {0, 2, L"A"}}},
      {"<R><E a=\"\xE5\xAF\xBC\xE8\x88\xAA\"/></R>", {{0, 0, L"\u5BFC\u822A"}}},
  };
  for (const auto& [strXml, queries] : cases) {
    SCOPED_TRACE(strXml);
    Put(strXml);
    WinceXmlEx xml(kPathXml);
    std::vector<std::wstring> arrGot, arrExpected;
    for (const CQuery& q : queries) {
      arrGot.push_back(xml.GetAttribute(q.nChild, q.nAttr).Str());
      arrExpected.push_back(q.strExpected);
    }
    EXPECT_EQ(arrGot, arrExpected);
  }
  EXPECT_EQ(Boxes(), CBoxes{});
}

TEST_F(WinceXmlTest, WalkVisitsTheRootsChildrenFromAPositionAndNoneBelow) {
  Put(R"(<R><E a="1"><In a="deep"/></E><!-- c --><E a="3"/></R>)");
  struct CWalk {
    int nFirst;
    int nCount;
    std::vector<std::wstring> arrSeen;
  };
  const std::vector<CWalk> walks = {
      {0, 1, {L"element 1"}},
      {0, 3, {L"element 1", L"other", L"element 3"}},
      {0, 10, {L"element 1", L"other", L"element 3"}},
      {1, 2, {L"other", L"element 3"}},
      {2, 1, {L"element 3"}},
      {3, 1, {}},
      {0, 0, {}},
      {-1, 2, {L"element 1"}},  // a position before the first is no node
  };
  for (int nVerdict : {1, 0}) {
    for (const CWalk& w : walks) {
      SCOPED_TRACE(testing::Message() << w.nFirst << "," << w.nCount << " verdict " << nVerdict);
      CWalkRecorder doc;
      doc.m_nVerdict = nVerdict;
      doc.WalkChildren(w.nFirst, w.nCount);
      EXPECT_EQ(doc.m_arrSeen, std::vector<std::wstring>{});  // nothing before Load
      ASSERT_EQ(doc.Load(kPathXml), 1);
      doc.WalkChildren(w.nFirst, w.nCount);
      EXPECT_EQ(doc.m_arrSeen, w.arrSeen);
    }
  }
  CWalkRecorder doc;
  EXPECT_EQ(doc.Walk(nullptr), 0);
  doc.m_nVerdict = 0;
  ASSERT_EQ(doc.Load(kPathXml), 1);
  EXPECT_EQ(doc.Walk(doc.Document()->Child(0)), 0);
  EXPECT_EQ(doc.Walk(nullptr), 0);
}

TEST_F(WinceXmlTest, AFailedConstructionThrowsByValueWithItsTextAndSavesNothing) {
  for (bool bService : {true, false}) {
    SCOPED_TRACE(bService ? "not well-formed" : "no document service: no notice either");
    Put(bService ? "<R><E></R>" : "<R/>");
    const ino_t nInode = Inode();
    if (!bService) SetXmlDocumentFactory(nullptr);
    std::string strWhat;
    try {
      WinceXmlEx xml(kPathXml);
    } catch (const CXmlLoadError& e) {
      strWhat = e.what();
    }
    InstallXmlDocumentFactory();
    EXPECT_EQ(strWhat, "Failed to WinceXmlEx!");
    EXPECT_EQ(Inode(), nInode);
    EXPECT_EQ(Boxes(), CBoxes{});
  }
}

TEST_F(WinceXmlTest, DestructionWritesTheDocumentBackAsLoaded) {
  const std::string strXml = "<R>\n\t<E a=\"x\"/>\n</R>\n";
  Put(strXml);
  {
    WinceXmlEx xml(kPathXml);
    Put("changed meanwhile");
    EXPECT_EQ(Bytes(), "changed meanwhile");
  }
  EXPECT_EQ(Bytes(), strXml);
}

}  // namespace
