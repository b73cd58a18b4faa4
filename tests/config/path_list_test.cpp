// Path.xml's folder lists: pairs read by attribute position, bounded in number and text, the
// document written back as read, a file that cannot be loaded left alone after its notice, and
// nothing outside the file ever read.
#include "config/path_list.h"

#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/config/config_fixture.h"

namespace {

std::vector<std::wstring> Wide(const CStringArray& arr) {
  std::vector<std::wstring> out;
  for (const CString& s : arr) out.push_back(s.Str());
  return out;
}

// The lists as "src>dst|src>dst".
std::wstring Pairs(const CStringArray& arrSrc, const CStringArray& arrDst) {
  std::wstring out;
  for (size_t i = 0; i < arrSrc.size() || i < arrDst.size(); ++i)
    out += (i ? L"|" : L"") + (i < arrSrc.size() ? arrSrc[i].Str() : L"?") + L">" +
           (i < arrDst.size() ? arrDst[i].Str() : L"?");
  return out;
}

std::string Doc(const std::string& strBody) { return "<Paths>" + strBody + "</Paths>\n"; }

using PathListTest = ConfigTest;

TEST_F(PathListTest, ReadsPairsByAttributePositionAndWritesTheSameDocumentBack) {
  // Each written as the document service writes it, so that the write-back is the same.
  const std::tuple<const char*, std::string, std::wstring> cases[] = {
      {"count 2", Doc(R"(<E n="2" a="A" b="B" c="C" d="D"/>)"), L"A>B|C>D"},
      {"surplus entry repeats the last attribute", Doc(R"(<E n="3" a="A" b="B" c="C" d="D"/>)"),
       L"A>B|C>D|D>D"},
      {"count 1 alone", Doc(R"(<E n="1"/>)"), L"1>1"},
      {"count 0", Doc(R"(<E n="0" a="A" b="B"/>)"), L""},
      {"negative count", Doc(R"(<E n="-2" a="A" b="B"/>)"), L""},
      {"letters", Doc(R"(<E n="two" a="A" b="B"/>)"), L""},
      {"empty count", Doc(R"(<E n="" a="A" b="B"/>)"), L""},
      {"no attributes", Doc(R"(<E/>)"), L""},
      {"leading blank", Doc(R"(<E n=" 2" a="A" b="B" c="C" d="D"/>)"), L"A>B|C>D"},
      {"leading blanks and a sign", Doc(R"(<E n="  +2" a="A" b="B" c="C"/>)"), L"A>B|C>C"},
      {"two signs", Doc(R"(<E n="+-1" a="A" b="B"/>)"), L""},
      {"digits of another script", Doc("<E n=\"\xD9\xA1\" a=\"A\" b=\"B\"/>"), L""},
      {"digit then letter", Doc(R"(<E n="2x" a="A" b="B" c="C" d="D"/>)"), L"A>B|C>D"},
      {"comment first", Doc(R"(<!-- paths --><E n="1" a="A" b="B"/>)"), L""},
      {"processing instruction first", Doc(R"(<?app x?><E n="1" a="A" b="B"/>)"), L""},
      {"text first", Doc(R"(text<E n="1" a="A" b="B"/>)"), L""},
      {"root without children", "<Paths/>\n", L""},
      {"second element ignored", Doc(R"(<E n="1" a="A" b="B"/><E n="2" a="X" b="Y"/>)"), L"A>B"},
      {"children of the entry ignored", Doc(R"(<E n="1" a="A" b="B"><F n="2" a="X"/></E>)"),
       L"A>B"},
      {"names not examined", Doc(R"(<Q zz="1" dst="A" src="B"/>)"), L"A>B"},
      {"swapped attributes", Doc(R"(<E n="1" b="B" a="A"/>)"), L"B>A"},
      {"attributes past 2N not read", Doc(R"(<E n="1" a="A" b="B" c="C"/>)"), L"A>B"},
      {"empty values kept", Doc(R"(<E n="2" a="" b="B" c="C" d=""/>)"), L">B|C>"},
      {"values as written", Doc(R"(<E n="1" a=" \ResidentFlash\x\ " b="\SDMMC\A &amp; B"/>)"),
       L" \\ResidentFlash\\x\\ >\\SDMMC\\A & B"},
      {"indented CR LF file",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Paths>\r\n\t<E n=\"1\" a=\"A\" "
       "b=\"B\"/>\r\n</Paths>\r\n",
       L"A>B"},
      {"indented with a comment after the entry",
       "<Paths>\n  <E n=\"1\" a=\"A\" b=\"B\"/>\n  <!-- note -->\n</Paths>\n", L"A>B"},
      {"Chinese folder names",
       Doc("<E n=\"1\" a=\"\\ResidentFlash\\\xE5\xAF\xBC\xE8\x88\xAA\" "
           "b=\"\\SDMMC\\\xE5\xAF\xBC\xE8\x88\xAA\xE6\x95\xB0\xE6\x8D\xAE\"/>"),
       L"\\ResidentFlash\\\u5BFC\u822A>\\SDMMC\\\u5BFC\u822A\u6570\u636E"},
  };
  for (const auto& [pszName, strXml, strPairs] : cases) {
    SCOPED_TRACE(pszName);
    Put(strXml);
    const CTree before = m_image.Snapshot();
    const ino_t nInode = Inode();
    CStringArray arrSrc, arrDst;
    ReadPathList(kPathXml, arrSrc, arrDst);
    EXPECT_EQ(Pairs(arrSrc, arrDst), strPairs);
    EXPECT_EQ(m_image.Snapshot(), before);
    EXPECT_EQ(Inode(), nInode);  // the same bytes again: left alone
    EXPECT_EQ(Boxes(), CBoxes{});
  }
}

TEST_F(PathListTest, ListsAreBoundedInEntriesAndInText) {
  // 4,096 copies of a 100,000-character value would take gigabytes; the lists stop at what
  // 4,096 pairs of full-length paths hold: ten pairs of 200,000 characters.
  const std::string kLong(100000, 'x');
  const std::tuple<std::string, std::string, size_t> cases[] = {
      {"4095", "A", 4095},   {"4096", "A", 4096},           {"4097", "A", 4096},
      {"100000", "A", 4096}, {"99999999999999", "A", 4096}, {"4096", kLong, 10}};
  for (const auto& [strCount, strValue, nExpected] : cases) {
    SCOPED_TRACE(strCount);
    Put(Doc("<E n=\"" + strCount + "\" a=\"" + strValue + "\"/>"));
    CStringArray arrSrc, arrDst;
    ReadPathList(kPathXml, arrSrc, arrDst);
    const std::vector<std::wstring> expected(nExpected, Utf8ToWide(strValue));
    EXPECT_EQ(Wide(arrSrc), expected);
    EXPECT_EQ(Wide(arrDst), expected);
  }
}

TEST_F(PathListTest, AFileThatCannotBeLoadedThrowsAfterItsNoticeAndChangesNothing) {
  // What stands as Path.xml: its bytes, or "missing", "no folder", "a folder", "a link out",
  // "unreadable"; then the notice it gives (none, kCannotLoad, kEmptyDocument).
  const std::pair<std::string, CBoxes> cases[] = {
      {"missing", {kCannotLoad}},
      {"no folder", {kCannotLoad}},
      {"a folder", {kCannotLoad}},
      {"a link out", {kCannotLoad}},
      {"unreadable", {kCannotLoad}},
      {"", {kEmptyDocument}},
      {" \r\n\t", {kEmptyDocument}},
      {"<?xml version=\"1.0\"?>\n<!-- <Paths><E n=\"1\"/></Paths> -->\n", {kEmptyDocument}},
      {"<Paths><E n=\"1\" a=\"A\" b=\"B\"></Paths>\n", {}},
      {"<Paths><E n=\"1\" a=\"A\" b=\"B\"/>", {}},
      {"<Paths/><Paths/>", {}},
      {" junk<Paths/>", {}},
      {"<Paths/>\n<!-- -->text", {}},
      {"<Paths><E n=\"1\" a=\"A\" a=\"B\"/></Paths>", {}},
      {"<Paths><E n=\"1\" a=\"\\SDMMC&#0;\\ResidentFlash\"/></Paths>", {}},
      {"<Paths><E n=\"1\" a=\"&#xD800;\"/></Paths>", {}},
      {"<Paths><E n=\"1\" a=\"&#x110000;\"/></Paths>", {}},
      {std::string("<Paths><E n=\"1\" a=\"A\0B\"/></Paths>", 33), {}},
      {"<!DOCTYPE Paths [<!ENTITY a \"&b;&b;\"><!ENTITY b \"&a;\">]><Paths n=\"&a;\"/>", {}},
      {"<Paths><E n=\"1\" a=\"&undeclared;\"/></Paths>", {}}};
  for (const auto& [strWhat, boxes] : cases) {
    SCOPED_TRACE(strWhat);
    std::filesystem::remove_all(m_image.Host("ResidentFlash/Path.xml"));
    m_image.Folder("ResidentFlash");
    CFaultDevice dev(m_host);
    if (strWhat == "no folder") ::rmdir(m_image.Host("ResidentFlash").c_str());
    if (strWhat == "a folder") m_image.Folder("ResidentFlash/Path.xml");
    if (strWhat == "a link out") m_image.Link("ResidentFlash/Path.xml", "/etc/hostname");
    if (strWhat == "unreadable") dev.Fail(EOp::kReadFile, ERROR_ACCESS_DENIED);
    if (strWhat == "unreadable") Put(Doc(R"(<E n="1" a="A" b="B"/>)"));
    if (strWhat.empty() || strWhat[0] == '<' || strWhat[0] == ' ') Put(strWhat);
    const CTree before = m_image.Snapshot();
    CStringArray arrSrc{L"old"}, arrDst{L"old"};
    std::string strThrown = "(nothing thrown)";
    try {
      ReadPathList(kPathXml, arrSrc, arrDst);
    } catch (const std::exception& e) {
      strThrown = e.what();
    }
    EXPECT_EQ(strThrown, "Failed to WinceXmlEx!");
    EXPECT_EQ(Boxes(), boxes);
    EXPECT_EQ(m_image.Snapshot(), before);
    EXPECT_EQ(Pairs(arrSrc, arrDst), L"old>old");
  }
}

TEST_F(PathListTest, AFailedWriteBackKeepsTheOriginalAndIsNotReported) {
  const std::string strXml = "<Paths><E n='1' a='A' b='B'/></Paths>";  // any write-back differs
  // The error the replacement fails with, the file's mode, the limit of a file's size (0: none),
  // the target of Path.xml when it is a link (read through, never replaced by a file).
  const std::tuple<const char*, DWORD, mode_t, rlim_t, std::string> cases[] = {
      {"card full", ERROR_DISK_FULL, 0644, 0, ""},
      {"access denied", ERROR_ACCESS_DENIED, 0644, 0, ""},
      {"write-protected", ERROR_WRITE_PROTECT, 0644, 0, ""},
      {"read-only file", 0, 0444, 0, ""},
      {"no room for the new file", 0, 0644, 8, ""},
      {"a link beside its file", 0, 0644, 0, "Path.real"},
      {"a link to another folder", 0, 0644, 0, "../SDMMC/p.xml"}};
  for (const auto& [pszName, dwInjected, mode, nFileSizeLimit, strTarget] : cases) {
    SCOPED_TRACE(pszName);
    std::filesystem::remove(m_image.Host("ResidentFlash/Path.xml"));
    if (strTarget.empty()) {
      Put(strXml, mode);
    } else {
      m_image.File("ResidentFlash/" + strTarget, strXml, mode);
      m_image.Link("ResidentFlash/Path.xml", strTarget);
    }
    const CTree before = m_image.Snapshot();
    const ino_t nInode = Inode();
    CFaultDevice dev(m_host);
    if (dwInjected) dev.Fail(EOp::kReplaceFile, dwInjected);
    CStringArray arrSrc, arrDst;
    std::optional<CFileSizeLimit> limit;
    if (nFileSizeLimit) limit.emplace(nFileSizeLimit);
    ReadPathList(kPathXml, arrSrc, arrDst);
    limit.reset();
    EXPECT_EQ(Pairs(arrSrc, arrDst), L"A>B");
    EXPECT_EQ(m_image.Snapshot(), before);  // the original, and no temporary file
    EXPECT_EQ(Inode(), nInode);
    EXPECT_EQ(Boxes(), CBoxes{});
  }
}

TEST_F(PathListTest, TheFirstStartRewritesAHandWrittenFileAndLaterOnesLeaveIt) {
  // Written by hand: the first write-back gives the document service's spelling, and from then
  // on every start finds exactly what it would write.
  Put("<?xml version='1.0'?>\r\n<!-- recovery -->\r\n<Paths>\r\n  <E n='1' "
      "a='\\ResidentFlash\\\xE5\xAF\xBC\xE8\x88\xAA' b = \"B\"/>\r\n  "
      "<Other><![CDATA[x]]></Other>\r\n</Paths>",
      0640);
  const std::string strFirst =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- recovery -->\r\n<Paths>\r\n  <E n=\"1\" "
      "a=\"\\ResidentFlash\\\xE5\xAF\xBC\xE8\x88\xAA\" b=\"B\"/>\r\n  "
      "<Other><![CDATA[x]]></Other>\r\n</Paths>\r\n";
  CTree expected = m_image.Snapshot();
  expected[kPathXml] = File(strFirst);
  for (int nStart = 1; nStart <= 3; ++nStart) {
    SCOPED_TRACE(nStart);
    const ino_t nInode = Inode();
    CStringArray arrSrc, arrDst;
    ReadPathList(kPathXml, arrSrc, arrDst);
    EXPECT_EQ(Pairs(arrSrc, arrDst), L"\\ResidentFlash\\\u5BFC\u822A>B");
    EXPECT_EQ(m_image.Snapshot(), expected);
    EXPECT_EQ(Inode() != nInode, nStart == 1);
    EXPECT_EQ(std::filesystem::status(m_image.Host("ResidentFlash/Path.xml")).permissions(),
              std::filesystem::perms(0640));
  }
}

TEST_F(PathListTest, EntitiesOfTheFileAreExpandedAndNothingOutsideItIsRead) {
  CTempImage outside;
  outside.File("secret.txt", "TOPSECRET");
  outside.File("paths.dtd", "<!ENTITY src \"TOPSECRET\"><!ATTLIST E a CDATA \"TOPSECRET\">");
  // Path.xml ($: the outside folder), the lists read from it, and the file afterwards ("": as it
  // was). Asking for anything outside the file refuses the file.
  const std::tuple<std::string, std::wstring, std::string> cases[] = {
      {"<!DOCTYPE P SYSTEM \"$/paths.dtd\">\n<P><E n=\"1\" a=\"&src;\" b=\"B\"/></P>\n", L"", ""},
      {"<!DOCTYPE P [<!ENTITY s SYSTEM \"file://$/secret.txt\">]><P><E n=\"1\" a=\"A\">&s;</E></P>",
       L"", ""},
      {"<!DOCTYPE P [<!ENTITY s SYSTEM \"$/secret.txt\">]><P><E n=\"1\" a=\"&s;\"/></P>", L"", ""},
      {"<!DOCTYPE Recovery [<!ENTITY bk \"\\SDMMC\\B&#38;#38;\">]>\n<Recovery><E n=\"1\" "
       "a=\"&bk;\" b=\"\\ResidentFlash\"/></Recovery>",
       L"\\SDMMC\\B&>\\ResidentFlash",
       "<!DOCTYPE Recovery [\n<!ENTITY bk \"\\SDMMC\\B&#38;#38;\">\n]>\n<Recovery><E n=\"1\" "
       "a=\"\\SDMMC\\B&amp;\" b=\"\\ResidentFlash\"/></Recovery>\n"},
  };
  for (auto [strXml, strPairs, strAfter] : cases) {
    SCOPED_TRACE(strXml);
    for (size_t n; (n = strXml.find('$')) != std::string::npos;)
      strXml.replace(n, 1, outside.Root());
    Put(strXml);
    CStringArray arrSrc, arrDst;
    try {
      ReadPathList(kPathXml, arrSrc, arrDst);
    } catch (const std::exception&) {
      arrSrc = {L"thrown"};
    }
    EXPECT_EQ(Pairs(arrSrc, arrDst), strPairs.empty() ? L"thrown>?" : strPairs);
    EXPECT_EQ(Bytes(), strAfter.empty() ? strXml : strAfter);
    EXPECT_EQ(Boxes(), CBoxes{});
  }
}

}  // namespace
