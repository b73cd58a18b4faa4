// Counting and copying folder trees file by file: programs ended before their files are replaced,
// read-only and hidden files replaced, a failure reported with its code, paths the device cannot
// name refused, and every listing closed on every way out.
#include "engine/copy_tree.h"

#include "tests/engine/engine_fixture.h"

namespace {

const std::string kDeep(MAX_PATH - 12, 'd');  // "\SDMMC\D\" + it + "\*" is 259 long

TEST(CopyTree, CopiesFileByFileAndFailsWithTheCodeOfTheFirstFailure) {
  struct {
    const char* pszName;
    std::string strFiles;  // as CTempImage::Lay writes them
    const wchar_t *pszSource, *pszDest;
    bool bNoLock;
    std::string strOutcome;  // result, files counted, g_dwLastCopyError (77: untouched)
    std::string strLines;
    std::string strAdded;  // entries the copy makes
  } cases[] = {
      {"over an older copy: program ended, read-only and hidden replaced, empty folder made",
       "SDMMC/B/app/NAVI.EXE=exe-new SDMMC/B/app/empty/ SDMMC/B/readme.txt=new "
       "ResidentFlash/Navi/readme.txt=old!",
       L"\\SDMMC\\B", L"\\ResidentFlash\\Navi", false, "1 2 77",
       "dest:NAVI.EXE\r\nterminate NAVI.EXE ok\r\n",
       "ResidentFlash/Navi/app/NAVI.EXE=exe-new ResidentFlash/Navi/app/empty/ "
       "ResidentFlash/Navi/readme.txt=new"},
      {"a destination folder that cannot be made fails there, before any file",
       "SDMMC/E/sub/", L"\\SDMMC\\E", L"\\Nope\\E", false, "0 0 3", "", ""},
      {"no counter lock: every file copied, none counted", "SDMMC/S/a.txt=a", L"\\SDMMC\\S",
       L"\\ResidentFlash\\S", true, "1 0 77", "", "ResidentFlash/S/ ResidentFlash/S/a.txt=a"},
      {"a folder the device cannot list by name fails with 206 instead of passing for empty",
       "SDMMC/D/" + kDeep + "x/f.txt=f", L"\\SDMMC\\D", L"\\SDMMC\\C", false, "0 0 206", "",
       "SDMMC/C/"},
      {"a file whose path reaches 260 characters fails with 206", "SDMMC/D/" + kDeep + "/f.txt=f",
       L"\\SDMMC\\D", L"\\SDMMC\\C", false, "0 0 206", "", "SDMMC/C/ SDMMC/C/" + kDeep + "/"},
  };
  CTempImage outside;
  CProgram stranger(outside.Host("NAVI.EXE"));  // the same name outside the image: runs on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszName);
    CWorld world;
    CProgram& navi = world.Run("ResidentFlash/Navi/app/NAVI.EXE");
    world.m_image.Lay(c.strFiles);
    world.m_dev.Hide(L"\\ResidentFlash\\Navi\\readme.txt");
    CTree expected = world.m_image.Snapshot();
    for (auto& [path, entry] : Entries(c.strAdded)) expected[path] = entry;
    HANDLE hLock = c.bNoLock ? nullptr : CreateMutexW(nullptr, FALSE, nullptr);
    std::atomic<DWORD> nFiles{0};
    g_dwLastCopyError = 77;
    CHandleWatch handles;
    CDiagCapture diag;
    const BOOL bResult = CopyTree(L"\\*", c.pszSource, c.pszDest, hLock, nFiles);
    EXPECT_EQ(std::to_string(bResult) + " " + std::to_string(nFiles) + " " +
                  std::to_string(g_dwLastCopyError),
              c.strOutcome);
    EXPECT_EQ(Joined(diag.Lines()), c.strLines);
    EXPECT_EQ(world.m_image.Snapshot(), expected);
    EXPECT_EQ(handles.Leaked(), std::vector<UINT_PTR>{});
    EXPECT_EQ(navi.Alive(), c.strLines.empty());
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

TEST(KillRunningExe, EndsProgramsOnlyForNamesEndingInExe) {
  const std::pair<const wchar_t*, std::string> cases[] = {
      {L"navi.exe", "dest:NAVI.EXE\r\nterminate NAVI.EXE ok\r\n"},
      {L"Navi.ExE", "dest:NAVI.EXE\r\nterminate NAVI.EXE ok\r\n"},
      {L".exe", "dest:.EXE\r\n"},
      {L"exe", ""},
      {L"a.e", ""},
      {L"", ""},
      {L"navi.exe.bak", ""},
      {L"navi.ex", ""},
      {L"navi.dll", ""},
  };
  for (const auto& [pszName, strLines] : cases) {
    SCOPED_TRACE(WideToUtf8(pszName));
    CWorld world;
    CProgram& navi = world.Run("ResidentFlash/navi.exe");
    CDiagCapture diag;
    KillRunningExe(pszName);
    EXPECT_EQ(Joined(diag.Lines()), strLines);
    EXPECT_EQ(navi.Alive(), strLines.find("terminate") == std::string::npos);
    // A name that is not a program's never even takes a snapshot.
    EXPECT_EQ(world.m_dev.Log().empty(), strLines.empty());
  }
}

}  // namespace
