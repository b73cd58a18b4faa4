// Counting and copying folder trees file by file: programs ended before their files are replaced,
// read-only and hidden files replaced, the first failure stopping every level with its code, paths
// the device cannot name refused, and every listing closed on every way out.
#include "engine/copy_tree.h"

#include <functional>

#include "tests/engine/engine_fixture.h"

namespace {

struct CCopyCase {
  const char* pszName;
  std::function<void(CWorld&)> fnSetup;
  std::wstring strSource, strDest;
  bool bNoLock;
  BOOL bResult;
  DWORD dwFiles;
  DWORD dwError;  // g_dwLastCopyError afterwards (77 = untouched)
  std::vector<std::string> lines;
  std::function<void(CTree&)> fnExpect;  // from the tree before
};

const std::wstring kDeep(MAX_PATH - 12, L'd');
constexpr DWORD kBeforeC = 0xFFFFFFFF;  // as many as the listing order puts before c.txt  //
                                        // "\SDMMC\D\" + it + "\*" is 259 long

TEST(CopyTree, CopiesFileByFileAndStopsAtTheFirstFailure) {
  const std::vector<CCopyCase> cases = {
      {"over an older copy: program ended, read-only and hidden replaced, empty folder made",
       [](CWorld& w) {
         w.m_image.File("SDMMC/Backup/app/NAVI.EXE", "exe-new");
         w.m_image.Folder("SDMMC/Backup/app/empty");
         w.m_image.File("SDMMC/Backup/readme.txt", "new");
         w.m_image.File("ResidentFlash/Navi/readme.txt", "old", 0444);
         w.m_dev.Hide(L"\\ResidentFlash\\Navi\\readme.txt");
       },
       L"\\SDMMC\\Backup",
       L"\\ResidentFlash\\Navi",
       false,
       TRUE,
       2,
       77,
       {"dest:NAVI.EXE\r\n", "terminate NAVI.EXE ok\r\n"},
       [](CTree& t) {
         t[L"\\ResidentFlash\\Navi\\app\\NAVI.EXE"] = File("exe-new");
         t[L"\\ResidentFlash\\Navi\\app\\empty"] = Folder();
         t[L"\\ResidentFlash\\Navi\\readme.txt"] = File("new");
       }},
      {"a failure in a nested folder stops every level: nothing after it is copied or counted",
       [](CWorld& w) {
         for (const char* f : {"f.txt", "d1/e.txt", "d1/d2/d.txt", "d1/d2/c.txt", "d1/b.txt", "a"})
           w.m_image.File(std::string("SDMMC/B/") + f, f);
         w.m_dev.Fail(EOp::kCopyFile, ERROR_DISK_FULL, 1, false, L"c.txt");
       },
       L"\\SDMMC\\B",
       L"\\ResidentFlash\\B",
       false,
       FALSE,
       kBeforeC,
       ERROR_DISK_FULL,
       {},
       nullptr},
      {"a destination whose parent is missing fails at the first file",
       [](CWorld& w) { w.m_image.File("SDMMC/B/a.txt", "a"); },
       L"\\SDMMC\\B",
       L"\\Nope\\B",
       false,
       FALSE,
       0,
       ERROR_PATH_NOT_FOUND,
       {},
       nullptr},
      {"a source without files into a missing parent succeeds",
       [](CWorld& w) { w.m_image.Folder("SDMMC/E/sub"); },
       L"\\SDMMC\\E",
       L"\\Nope\\E",
       false,
       TRUE,
       0,
       77,
       {},
       nullptr},
      {"no counter lock: every file copied, none counted",
       [](CWorld& w) { w.m_image.File("SDMMC/S/a.txt", "a"); },
       L"\\SDMMC\\S",
       L"\\ResidentFlash\\S",
       true,
       TRUE,
       0,
       77,
       {},
       [](CTree& t) {
         t[L"\\ResidentFlash\\S"] = Folder();
         t[L"\\ResidentFlash\\S\\a.txt"] = File("a");
       }},
      {"a folder the device cannot list by name fails with 206 instead of passing for empty",
       [](CWorld& w) { w.m_image.File("SDMMC/D/" + WideToUtf8(kDeep) + "x/f.txt", "f"); },
       L"\\SDMMC\\D",
       L"\\SDMMC\\C",
       false,
       FALSE,
       0,
       ERROR_FILENAME_EXCED_RANGE,
       {},
       [](CTree& t) { t[L"\\SDMMC\\C"] = Folder(); }},
      {"a file whose path reaches 260 characters fails with 206",
       [](CWorld& w) { w.m_image.File("SDMMC/D/" + WideToUtf8(kDeep) + "/f.txt", "f"); },
       L"\\SDMMC\\D",
       L"\\SDMMC\\C",
       false,
       FALSE,
       0,
       ERROR_FILENAME_EXCED_RANGE,
       {},
       [](CTree& t) {
         t[L"\\SDMMC\\C"] = Folder();
         t[L"\\SDMMC\\C\\" + kDeep] = Folder();
       }},
  };
  CTempImage outside;
  CProgram stranger(outside.Host("NAVI.EXE"));  // the same name outside the image: runs on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszName);
    CWorld world;
    CProgram navi(world.m_image.Host("ResidentFlash/Navi/app/NAVI.EXE"));
    c.fnSetup(world);
    CTree expected = world.m_image.Snapshot();
    if (c.fnExpect) c.fnExpect(expected);
    DWORD dwFiles = c.dwFiles;
    if (dwFiles == kBeforeC) {
      expected[c.strDest] = Folder();
      CopiedBefore(world.m_image.Host("SDMMC/B"), c.strDest, "c.txt", expected);
      dwFiles = static_cast<DWORD>(expected.size() - world.m_image.Snapshot().size());
      for (const auto& [path, entry] : expected)
        dwFiles -= path.rfind(c.strDest, 0) == 0 && (entry.dwAttributes & 0x10);
      // Some files come after c.txt, at one level or another: they must not be copied.
      ASSERT_LT(dwFiles, 5u);
    }
    HANDLE hLock = c.bNoLock ? nullptr : CreateMutexW(nullptr, FALSE, nullptr);
    std::atomic<DWORD> nFiles{0};
    g_dwLastCopyError = 77;
    CHandleWatch handles;
    CDiagCapture diag;
    EXPECT_EQ(CopyTree(L"\\*", c.strSource.c_str(), c.strDest.c_str(), hLock, nFiles), c.bResult);
    EXPECT_EQ(nFiles.load(), dwFiles);
    EXPECT_EQ(g_dwLastCopyError.load(), c.dwError);
    EXPECT_EQ(diag.Lines(), c.lines);
    EXPECT_EQ(world.m_image.Snapshot(), expected);
    EXPECT_EQ(handles.Leaked(), std::vector<UINT_PTR>{});
    EXPECT_EQ(navi.Alive(), c.lines.empty());
    if (hLock) CloseHandle(hLock);
  }
  EXPECT_TRUE(stranger.Alive());
  g_dwLastCopyError = 0;
}

TEST(CopyTree, EndsAProgramBeforeItLooksAtItsFile) {
  CWorld world;
  world.m_image.File("SDMMC/S/Go.Exe", "x");
  HANDLE hLock = CreateMutexW(nullptr, FALSE, nullptr);
  std::atomic<DWORD> nFiles{0};
  CDiagCapture diag;
  EXPECT_EQ(CopyTree(L"\\*", L"\\SDMMC\\S", L"\\ResidentFlash\\S", hLock, nFiles), TRUE);
  CloseHandle(hLock);
  EXPECT_EQ(world.m_dev.Log(), (std::vector<std::wstring>{
                                   L"CreateFolder \\ResidentFlash\\S", L"List \\SDMMC\\S",
                                   L"Snapshot", L"GetAttributes \\ResidentFlash\\S\\Go.Exe = 2",
                                   L"CopyFile \\SDMMC\\S\\Go.Exe -> \\ResidentFlash\\S\\Go.Exe"}));
  EXPECT_EQ(diag.Lines(), std::vector<std::string>{"dest:GO.EXE\r\n"});
}

TEST(CountTree, CountsEveryFileAtEveryLevelAndAddsToTheCounter) {
  CWorld world;
  for (const char* f : {"a", "d1/b", "d1/d2/c", "d1/d2/d", "d1/e", "f"})
    world.m_image.File(std::string("SDMMC/B/") + f, "");
  world.m_image.File("SDMMC/H/hidden.txt", "");
  world.m_dev.Hide(L"\\SDMMC\\H\\hidden.txt");  // hidden files count too
  world.m_image.Folder("SDMMC/Empty/sub");
  const CTree before = world.m_image.Snapshot();
  const std::tuple<const wchar_t*, DWORD, DWORD> cases[] = {{L"\\SDMMC\\B", 0, 6},
                                                            {L"\\SDMMC\\H", 10, 11},
                                                            {L"\\SDMMC\\Empty", 5, 5},
                                                            {L"\\SDMMC\\Missing", 0, 0}};
  for (const auto& [pszFolder, dwStart, dwCount] : cases) {
    std::atomic<DWORD> nFiles{dwStart};
    CountTree(L"\\*", pszFolder, nFiles);
    EXPECT_EQ(nFiles.load(), dwCount) << WideToUtf8(pszFolder);
  }
  EXPECT_EQ(world.m_image.Snapshot(), before);
}

TEST(KillRunningExe, EndsProgramsOnlyForNamesEndingInExe) {
  struct {
    const wchar_t* pszName;
    std::vector<std::string> lines;
  } cases[] = {
      {L"navi.exe", {"dest:NAVI.EXE\r\n", "terminate NAVI.EXE ok\r\n"}},
      {L"Navi.ExE", {"dest:NAVI.EXE\r\n", "terminate NAVI.EXE ok\r\n"}},
      {L".exe", {"dest:.EXE\r\n"}},
      {L"exe", {}},
      {L"a.e", {}},
      {L"", {}},
      {L"navi.exe.bak", {}},
      {L"navi.ex", {}},
      {L"navi.dll", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.pszName));
    CWorld world;
    CProgram navi(world.m_image.Host("ResidentFlash/navi.exe"));
    CDiagCapture diag;
    KillRunningExe(c.pszName);
    EXPECT_EQ(diag.Lines(), c.lines);
    EXPECT_EQ(navi.Alive(), c.lines.size() < 2);
    // A name that is not a program's never even takes a snapshot.
    EXPECT_EQ(world.m_dev.Log().size(), c.lines.empty() ? 0u : 1u + (c.lines.size() > 1));
  }
}

}  // namespace
