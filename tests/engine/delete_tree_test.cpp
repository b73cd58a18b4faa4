// Forced deletion of folder trees: depth first, read-only and hidden files cleared first, running
// programs ended, a volume root emptied but kept, links removed as links, paths the device cannot
// name passed by, and what cannot go left in place.
#include "engine/delete_tree.h"

#include <algorithm>
#include <functional>

#include "tests/engine/engine_fixture.h"

namespace {

struct CDeleteCase {
  const char* pszName;
  std::function<void(CWorld&)> fnSetup;
  std::wstring strPath;
  std::vector<std::string> lines;
  std::function<void(CTree&)> fnExpect;  // from the tree before
  std::string strErrors = "";            // standard error
  std::wstring strStayed = L"";          // the first entry that stayed: "CODE PATH"
};

// Removes the path and everything under it from the tree.
void Gone(CTree& t, const std::wstring& strPath) {
  for (auto it = t.begin(); it != t.end();)
    it = it->first == strPath || it->first.rfind(strPath + L"\\", 0) == 0 ? t.erase(it)
                                                                          : std::next(it);
}

// A name that makes "\SDMMC\L\" + name exactly n characters long.
std::string NameForLength(size_t n) { return std::string(n - 9, 'n'); }

TEST(DeleteTree, RemovesDepthFirstKeepingVolumeRootsAndWhatCannotGo) {
  CTempImage outside;
  outside.File("keep.txt", "keep");
  const std::vector<CDeleteCase> cases = {
      {"a volume root: emptied and kept; read-only, hidden and running files go too",
       [](CWorld& w) {
         w.m_image.Lay(
             "ResidentFlash/sub/b.txt=b ResidentFlash/empty/ ResidentFlash/ro.dat=r! "
             "ResidentFlash/hid.dat=h");
         w.m_dev.Hide(L"\\ResidentFlash\\hid.dat");
       },
       L"\\ResidentFlash",
       {"dele main:\\ResidentFlash\\sub\r\n", "dele null:\\ResidentFlash\\empty\r\n",
        "terminate NAVI.EXE ok\r\n", "ignore dir:\\ResidentFlash\r\n",
        "dele main:\\ResidentFlash\r\n"},
       [](CTree& t) {
         Gone(t, L"\\ResidentFlash");
         t[L"\\ResidentFlash"] = Folder(FILE_ATTRIBUTE_VOLUME_ROOT);
       }},
      {"an ordinary folder goes with its content",
       [](CWorld& w) { w.m_image.File("Data/x.bin", "x"); },
       L"\\Data",
       {"dele main:\\Data\r\n"},
       [](CTree& t) { Gone(t, L"\\Data"); }},
      {"a volume root with a further bit is an ordinary folder",
       [](CWorld& w) { w.m_dev.Hide(L"\\SDMMC"); },
       L"\\SDMMC",
       {"dele null:\\SDMMC\r\n"},
       nullptr,
       "orvane-recovery: cannot remove \\SDMMC: Access is denied. (code 5)\n", L"5 \\SDMMC"},
      {"a missing path: only the null line",
       nullptr,
       L"\\SDMMC\\Nope",
       {"dele null:\\SDMMC\\Nope\r\n"},
       nullptr},
      {"a file path: deleted without a folder line",
       [](CWorld& w) { w.m_image.File("SDMMC/x.bin", "x", 0444); },
       L"\\SDMMC\\x.bin",
       {},
       [](CTree& t) { Gone(t, L"\\SDMMC\\x.bin"); }},
      {"a program that will not die keeps its file and its folder",
       [](CWorld& w) {
         w.m_image.File("SDMMC/App/maps/map.dat", "map");
         w.m_dev.Immortal(w.Run("SDMMC/App/HELD.EXE").Pid());
       },
       L"\\SDMMC\\App",
       {"dele main:\\SDMMC\\App\\maps\r\n", "dele main:\\SDMMC\\App\r\n"},
       [](CTree& t) { Gone(t, L"\\SDMMC\\App\\maps"); },
       "orvane-recovery: cannot delete \\SDMMC\\App\\HELD.EXE: The process cannot access the "
       "file because it is being used by another process. (code 32)\n",
       L"32 \\SDMMC\\App\\HELD.EXE"},
      {"an entry that cannot be examined stays, and is said",
       [](CWorld& w) {
         w.m_image.File("SDMMC/E/bad.bin", "b");
         w.m_dev.Fail(EOp::kExamine, ERROR_GEN_FAILURE, 1, false, L"bad.bin");
       },
       L"\\SDMMC\\E",
       {"dele null:\\SDMMC\\E\r\n"},
       nullptr,
       "orvane-recovery: cannot examine \\SDMMC\\E\\bad.bin: A device attached to the system is "
       "not functioning. (code 31)\n",
       L"31 \\SDMMC\\E\\bad.bin"},
      {"control characters in a name are shown escaped, never forging a line",
       [](CWorld& w) { w.m_image.File("SDMMC/C/n\n\x1B[2J\t\x7F\xC2\x85\r/x", "x"); },
       L"\\SDMMC\\C",
       {"dele main:\\SDMMC\\C\\n\\x0A\\x1B[2J\\x09\\x7F\\x85\\x0D\r\n", "dele main:\\SDMMC\\C\r\n"},
       [](CTree& t) { Gone(t, L"\\SDMMC\\C"); }},
      {"a path of 260 characters is passed by, never cut short",
       [](CWorld& w) {
         w.m_image.File("SDMMC/L/" + NameForLength(MAX_PATH), "long");
         w.m_image.File("SDMMC/L/" + NameForLength(MAX_PATH - 1), "fits");
       },
       L"\\SDMMC\\L",
       {"dele main:\\SDMMC\\L\r\n"},
       [](CTree& t) { t.erase(L"\\SDMMC\\L\\" + Utf8ToWide(NameForLength(MAX_PATH - 1))); },
       "orvane-recovery: cannot delete \\SDMMC\\L\\" + NameForLength(MAX_PATH) +
           ": The filename or extension is too long. (code 206)\n",
       L"206 \\SDMMC\\L\\" + Utf8ToWide(NameForLength(MAX_PATH))},
      {"links go as links, what they name stays",
       [&](CWorld& w) {
         w.m_image.Link("SDMMC/Links/dir", outside.Root());
         w.m_image.Link("SDMMC/Links/file", outside.Host("keep.txt"));
       },
       L"\\SDMMC\\Links",
       {"dele main:\\SDMMC\\Links\r\n"},
       [](CTree& t) { Gone(t, L"\\SDMMC\\Links"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszName);
    CWorld world;
    CProgram& navi = world.Run("ResidentFlash/NAVI.EXE");
    if (c.fnSetup) c.fnSetup(world);
    CTree expected = world.m_image.Snapshot();
    if (c.fnExpect) c.fnExpect(expected);
    CHandleWatch handles;
    CDiagCapture diag;
    ::testing::internal::CaptureStderr();
    CDeleteFailure failure;
    EXPECT_EQ(DeleteTree(c.strPath.c_str(), &failure), c.strStayed.empty());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.strErrors);
    EXPECT_EQ(
        failure.dwError ? std::to_wstring(failure.dwError) + L" " + failure.strPath.Str() : L"",
        c.strStayed);
    // The entries of a folder come in the file system's order; the folder's own lines last.
    std::vector<std::string> lines = diag.Lines();
    if (lines.size() > 2) std::sort(lines.begin(), lines.end() - 2);
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(world.m_image.Snapshot(), expected);
    EXPECT_EQ(handles.Leaked(), std::vector<UINT_PTR>{});
    EXPECT_EQ(navi.Alive(), &c != &cases.front());
  }
  EXPECT_EQ(ReadHostFile(outside.Host("keep.txt")), "keep");
}

}  // namespace
