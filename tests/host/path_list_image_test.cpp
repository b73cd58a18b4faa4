// Path.xml on a real device image: the write-back replaces the file in one step, keeps its
// permission bits, leaves no temporary file, and a write-back that fails leaves the original.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "config/path_list.h"
#include "platform/host/device/device.h"
#include "platform/host/xml/factory.h"
#include "tests/fakes/fake_windows.h"
#include "tests/support/image.h"

namespace {

constexpr wchar_t kPathXml[] = L"\\ResidentFlash\\Path.xml";

std::vector<std::wstring> Wide(const CStringArray& arr) {
  std::vector<std::wstring> out;
  for (const CString& s : arr) out.push_back(s.Str());
  return out;
}

struct stat StatOf(const std::string& strPath) {
  struct stat st {};
  ::stat(strPath.c_str(), &st);
  return st;
}

// Files of this process may grow to nBytes only; writes beyond fail (EFBIG) as on a full card.
class CFileSizeLimit {
 public:
  explicit CFileSizeLimit(rlim_t nBytes) {
    ::getrlimit(RLIMIT_FSIZE, &m_old);
    m_pfnOld = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim = m_old;
    lim.rlim_cur = nBytes;
    ::setrlimit(RLIMIT_FSIZE, &lim);
  }
  ~CFileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &m_old);
    ::signal(SIGXFSZ, m_pfnOld);
  }

 private:
  struct rlimit m_old {};
  sighandler_t m_pfnOld;
};

class PathListImageTest : public ::testing::Test {
 protected:
  PathListImageTest() : m_windowsScope(m_windows) {
    InstallXmlDocumentFactory();
    m_image.Folder("ResidentFlash");
    m_image.Folder("SDMMC");
    m_image.File("SDMMC/keep.txt", "keep");
    m_pPrevious = InstallDeviceBackend(&m_device);
  }
  ~PathListImageTest() override { InstallDeviceBackend(m_pPrevious); }

  std::string PathXmlHost() const { return m_image.Host("ResidentFlash/Path.xml"); }

  CTempImage m_image;
  CHostDevice m_device{m_image.Root()};
  CFakeWindows m_windows;

 private:
  CFakeWindowsScope m_windowsScope;
  IDeviceBackend* m_pPrevious = nullptr;
};

TEST_F(PathListImageTest, EveryStartReplacesTheFileWithTheSameContent) {
  // Hand-written: the first start gives the document service's spelling, later ones the same.
  m_image.File("ResidentFlash/Path.xml",
               "<?xml version='1.0' encoding='utf-8'?>\r\n<Paths>\r\n  <E n='1' "
               "a='\\ResidentFlash\\\xE5\xAF\xBC\xE8\x88\xAA' b = '\\SDMMC\\\xE6\x95\xB0'/>\r\n"
               "</Paths>",
               0640);
  const std::string strWritten =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Paths>\r\n  <E n=\"1\" "
      "a=\"\\ResidentFlash\\\xE5\xAF\xBC\xE8\x88\xAA\" b=\"\\SDMMC\\\xE6\x95\xB0\"/>\r\n"
      "</Paths>\r\n";
  auto expected = m_image.Snapshot();
  expected[kPathXml].strContents = strWritten;
  for (int nStart = 1; nStart <= 3; ++nStart) {
    SCOPED_TRACE(nStart);
    const ino_t nInodeBefore = StatOf(PathXmlHost()).st_ino;
    CStringArray arrSrc, arrDst;
    ReadPathList(kPathXml, arrSrc, arrDst);
    EXPECT_EQ(Wide(arrSrc), std::vector<std::wstring>{L"\\ResidentFlash\\\u5BFC\u822A"});
    EXPECT_EQ(Wide(arrDst), std::vector<std::wstring>{L"\\SDMMC\\\u6570"});
    EXPECT_EQ(ReadHostFile(PathXmlHost()), strWritten);
    EXPECT_EQ(m_image.Snapshot(), expected);  // no temporary file left
    const struct stat st = StatOf(PathXmlHost());
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    // A new file renamed into place, never the old one rewritten where it lies.
    EXPECT_NE(st.st_ino, nInodeBefore);
  }
  EXPECT_EQ(m_windows.Calls(), std::vector<std::string>{});
}

TEST_F(PathListImageTest, AFailedWriteBackLeavesTheOriginalByteForByte) {
  const std::string strXml = "<Paths><E n='1' a='A' b='B'/></Paths>";  // any write-back differs
  struct CCase {
    const char* pszName;
    mode_t nFileMode;
    mode_t nFolderMode;
    rlim_t nFileSizeLimit;  // 0: none
  };
  std::vector<CCase> cases = {
      {"read-only file", 0444, 0755, 0},
      {"card full", 0644, 0755, 8},
  };
  if (::geteuid() != 0) cases.push_back({"read-only folder", 0644, 0555, 0});  // root ignores it
  for (const CCase& c : cases) {
    SCOPED_TRACE(c.pszName);
    ::chmod(m_image.Host("ResidentFlash").c_str(), 0755);
    m_image.File("ResidentFlash/Path.xml", strXml, c.nFileMode);
    ::chmod(m_image.Host("ResidentFlash").c_str(), c.nFolderMode);
    const auto before = m_image.Snapshot();
    const ino_t nInode = StatOf(PathXmlHost()).st_ino;
    CStringArray arrSrc, arrDst;
    {
      std::unique_ptr<CFileSizeLimit> pLimit;
      if (c.nFileSizeLimit) pLimit = std::make_unique<CFileSizeLimit>(c.nFileSizeLimit);
      ReadPathList(kPathXml, arrSrc, arrDst);
    }
    ::chmod(m_image.Host("ResidentFlash").c_str(), 0755);
    EXPECT_EQ(Wide(arrSrc), std::vector<std::wstring>{L"A"});
    EXPECT_EQ(Wide(arrDst), std::vector<std::wstring>{L"B"});
    EXPECT_EQ(ReadHostFile(PathXmlHost()), strXml);
    EXPECT_EQ(StatOf(PathXmlHost()).st_ino, nInode);
    EXPECT_EQ(m_image.Snapshot(), before);  // no temporary file left
    EXPECT_EQ(m_windows.Calls(), std::vector<std::string>{});
    ::unlink(PathXmlHost().c_str());
  }
}

TEST_F(PathListImageTest, AFileThatCannotBeLoadedChangesNothingInTheImage) {
  struct CCase {
    const char* pszName;
    void (*pfnSetUp)(const CTempImage&);
    std::vector<std::string> arrBoxes;
  };
  const std::string strCannotLoad =
      R"(MessageBoxW(null, "Cannot load XML file", "Error Loading XML", 0x10) -> 1)";
  const std::string strEmpty =
      R"(MessageBoxW(null, "Empty document!", "Error Loading XML", 0x10) -> 1)";
  std::vector<CCase> cases = {
      {"missing", [](const CTempImage&) {}, {strCannotLoad}},
      {"a folder in its place",
       [](const CTempImage& image) { image.Folder("ResidentFlash/Path.xml"); },
       {strCannotLoad}},
      {"a link out of the image",
       [](const CTempImage& image) { image.Link("ResidentFlash/Path.xml", "/etc/hostname"); },
       {strCannotLoad}},
      {"empty",
       [](const CTempImage& image) { image.File("ResidentFlash/Path.xml", ""); },
       {strEmpty}},
      {"no root element",
       [](const CTempImage& image) {
         image.File("ResidentFlash/Path.xml", "<?xml version='1.0'?>");
       },
       {strEmpty}},
      {"not well-formed",
       [](const CTempImage& image) { image.File("ResidentFlash/Path.xml", "<Paths><E n='1'>"); },
       {}},
  };
  if (::geteuid() != 0) {  // root reads whatever the bits say
    cases.push_back(
        {"unreadable",
         [](const CTempImage& image) { image.File("ResidentFlash/Path.xml", "<Paths/>", 0200); },
         {strCannotLoad}});
  }
  for (const CCase& c : cases) {
    SCOPED_TRACE(c.pszName);
    CTempImage image;
    image.Folder("ResidentFlash");
    image.File("SDMMC/keep.txt", "keep");
    c.pfnSetUp(image);
    CHostDevice device(image.Root());
    IDeviceBackend* pPrevious = InstallDeviceBackend(&device);
    const auto before = image.Snapshot();
    m_windows.ClearCalls();
    CStringArray arrSrc, arrDst;
    std::string strWhat = "(nothing thrown)";
    try {
      ReadPathList(kPathXml, arrSrc, arrDst);
    } catch (const std::exception& e) {
      strWhat = e.what();
    }
    InstallDeviceBackend(pPrevious);
    EXPECT_EQ(strWhat, "Failed to WinceXmlEx!");
    EXPECT_EQ(m_windows.Calls(), c.arrBoxes);
    EXPECT_EQ(image.Snapshot(), before);
    EXPECT_TRUE(arrSrc.empty() && arrDst.empty());
  }
}

TEST_F(PathListImageTest, AnExternalEntityNamingAFileOutsideTheImageIsNeverRead) {
  CTempImage outside;
  outside.File("secret.txt", "TOPSECRET");
  const std::string strOutside = outside.Host("secret.txt");
  const std::string strXml =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE Paths [\n"
      "<!ENTITY abs SYSTEM \"file://" +
      strOutside +
      "\">\n"
      "<!ENTITY rel SYSTEM \"../../" +
      outside.Root().substr(outside.Root().rfind('/') + 1) +
      "/secret.txt\">\n"
      "<!ENTITY % ext SYSTEM \"" +
      strOutside +
      "\"> %ext;\n"
      "]>\n<Paths><E n=\"2\" a=\"&abs;\" b=\"&rel;\" c=\"x&abs;y\"/></Paths>\n";
  m_image.File("ResidentFlash/Path.xml", strXml);
  CStringArray arrSrc, arrDst;
  ReadPathList(kPathXml, arrSrc, arrDst);
  EXPECT_EQ(Wide(arrSrc), (std::vector<std::wstring>{L"&abs;", L"x&abs;y"}));
  EXPECT_EQ(Wide(arrDst), (std::vector<std::wstring>{L"&rel;", L"x&abs;y"}));
  EXPECT_EQ(ReadHostFile(PathXmlHost()).find("TOPSECRET"), std::string::npos);
  EXPECT_EQ(ReadHostFile(strOutside), "TOPSECRET");
}

}  // namespace
