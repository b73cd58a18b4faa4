// The XML file access under the path list: attribute queries by position, a construction that
// fails by value, and the write-back at the end.
#include <string>
#include <vector>

#include "config/wince_xml_ex.h"
#include "config/xml_load_error.h"
#include "tests/config/config_fixture.h"

namespace {

using WinceXmlTest = ConfigTest;

TEST_F(WinceXmlTest, AnswersAttributeQueriesByPositionWithClamping) {
  // Each document with its queries (child, attribute) and the answers, joined by "|".
  const std::vector<std::pair<int, int>> kClamped = {
      {0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 7}, {0, -1}, {0, -100}, {1, 0}, {5, 1}, {-1, 0}, {0, 1}};
  const std::tuple<std::string, std::vector<std::pair<int, int>>, std::wstring> cases[] = {
      {R"(<R><E a="x" b="y" c="z"/></R>)", kClamped, L"x|y|z|z|z|x|x||||y"},
      {R"(<R><E only="v"/></R>)", {{0, 0}, {0, 1}, {0, 9}, {0, -3}}, L"v|v|v|v"},
      {R"(<R/>)", {{0, 0}, {1, 0}}, L"|"},
      {R"(<R><E/><F a="f"/></R>)", {{0, 0}, {1, 0}, {1, 4}}, L"|f|f"},
      {R"(<R><!-- c --><E a="x"/></R>)", {{0, 0}, {0, 3}, {1, 0}}, L"||x"},
      {R"(<R><?pi a="p"?><E a="x"/></R>)", {{0, 0}, {1, 0}}, L"|x"},
      {R"(<R>t<E a="x"/><![CDATA[c]]><G a="g"/></R>)", {{0, 0}, {1, 0}, {2, 0}, {3, 0}}, L"|x||g"},
      {"<R>\r\n\t<E a=\"x\"/>\r\n\t\r\n<F a=\"f\"/>\n</R>", {{0, 0}, {1, 0}, {2, 0}}, L"x|f|"},
      {R"(<R><E a="" b="y"/></R>)", {{0, 0}, {0, 1}}, L"|y"},
      {R"(<R><E a="&lt;&#x5BFC;&#33322;&gt;" b="t&#9;n&#10;" c="A&amp;B"/></R>)",
       {{0, 0}, {0, 1}, {0, 2}},
       L"<\u5BFC\u822A>|t\tn\n|A&B"},
      {"<R><E a=\"\xE5\xAF\xBC\xE8\x88\xAA\"/></R>", {{0, 0}}, L"\u5BFC\u822A"},
  };
  for (const auto& [strXml, queries, strAnswers] : cases) {
    SCOPED_TRACE(strXml);
    Put(strXml);
    WinceXmlEx xml(kPathXml);
    std::wstring strGot;
    for (size_t i = 0; i < queries.size(); ++i)
      strGot += (i ? L"|" : L"") + xml.GetAttribute(queries[i].first, queries[i].second).Str();
    EXPECT_EQ(strGot, strAnswers);
  }
  EXPECT_EQ(Boxes(), CBoxes{});
}

// A file that is not well-formed throws the same way: see the path list's tests.
TEST_F(WinceXmlTest, WithoutADocumentServiceTheConstructionThrowsByValueAndSavesNothing) {
  Put("<R/>");
  const ino_t nInode = Inode();
  SetXmlDocumentFactory(nullptr);
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
