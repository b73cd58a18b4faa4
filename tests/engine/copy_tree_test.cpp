#include "engine/copy_tree.h"

#include <gtest/gtest.h>

#include <functional>

#include "engine/copy_error.h"
#include "tests/engine/engine_test_support.h"
#include "tests/fakes/diag_capture.h"

namespace {

constexpr DWORD kVolume = FILE_ATTRIBUTE_VOLUME_ROOT;
const CTree kVolumes = {{L"\\ResidentFlash", Folder(kVolume)}, {L"\\SDMMC", Folder(kVolume)}};

CTree With(CTree tree, const CTree& more) {
  for (const auto& [path, entry] : more) tree[path] = entry;
  return tree;
}

// A mutex that nobody else holds, closed at the end of the test.
class CLock {
 public:
  CLock() : m_h(CreateMutexW(nullptr, FALSE, nullptr)) {}
  ~CLock() { CloseHandle(m_h); }
  HANDLE m_h;
};

struct CCopyCase {
  const char* pszName;
  std::function<void(CFakeDevice&)> fnSetup;
  std::wstring strSource, strDest;
  bool bInvalidLock = false;
  BOOL bResult;
  DWORD dwFiles;
  DWORD dwError;  // g_dwLastCopyError afterwards (77 = untouched)
  std::vector<std::wstring> changes;
  std::vector<std::string> lines;
  CTree after;
};

void BackupTree(CFakeDevice& dev) {
  dev.AddFile(L"\\SDMMC\\Backup\\app\\NAVI.EXE", "exe-new");
  dev.AddFile(L"\\SDMMC\\Backup\\app\\lib.dll", "lib", FILE_ATTRIBUTE_SYSTEM);
  dev.AddFolder(L"\\SDMMC\\Backup\\app\\empty");
  dev.AddFile(L"\\SDMMC\\Backup\\readme.txt", "new", FILE_ATTRIBUTE_HIDDEN);
}

const CTree kBackup = {{L"\\SDMMC\\Backup", Folder()},
                       {L"\\SDMMC\\Backup\\app", Folder()},
                       {L"\\SDMMC\\Backup\\app\\NAVI.EXE", File("exe-new")},
                       {L"\\SDMMC\\Backup\\app\\lib.dll", File("lib", FILE_ATTRIBUTE_SYSTEM)},
                       {L"\\SDMMC\\Backup\\app\\empty", Folder()},
                       {L"\\SDMMC\\Backup\\readme.txt", File("new", FILE_ATTRIBUTE_HIDDEN)}};

// Six files in three levels; the fourth (c.txt) can fail.
void NestedTree(CFakeDevice& dev) {
  dev.AddFile(L"\\SDMMC\\B\\a.txt", "a");
  dev.AddFile(L"\\SDMMC\\B\\d1\\b.txt", "b");
  dev.AddFile(L"\\SDMMC\\B\\d1\\d2\\c.txt", "c");
  dev.AddFile(L"\\SDMMC\\B\\d1\\d2\\d.txt", "d");
  dev.AddFile(L"\\SDMMC\\B\\d1\\e.txt", "e");
  dev.AddFile(L"\\SDMMC\\B\\f.txt", "f");
}

const CTree kNested = {{L"\\SDMMC\\B", Folder()},
                       {L"\\SDMMC\\B\\a.txt", File("a")},
                       {L"\\SDMMC\\B\\d1", Folder()},
                       {L"\\SDMMC\\B\\d1\\b.txt", File("b")},
                       {L"\\SDMMC\\B\\d1\\d2", Folder()},
                       {L"\\SDMMC\\B\\d1\\d2\\c.txt", File("c")},
                       {L"\\SDMMC\\B\\d1\\d2\\d.txt", File("d")},
                       {L"\\SDMMC\\B\\d1\\e.txt", File("e")},
                       {L"\\SDMMC\\B\\f.txt", File("f")}};

TEST(CopyTree, CopiesFileByFileAndStopsAtTheFirstFailure) {
  const std::wstring strDeep(MAX_PATH - 12, L'd');  // "\SDMMC\D\" + it + "\*" is 259 long
  const std::vector<CCopyCase> cases = {
      {"a tree over an older copy: program ended, read-only and hidden replaced, empty folder made",
       [](CFakeDevice& dev) {
         BackupTree(dev);
         dev.AddFile(L"\\ResidentFlash\\Navi\\app\\NAVI.EXE", "exe-old", FILE_ATTRIBUTE_READONLY);
         dev.AddFile(L"\\ResidentFlash\\Navi\\readme.txt", "old",
                     FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
         dev.AddProcess(10, L"NAVI.EXE", L"\\ResidentFlash\\Navi\\app\\NAVI.EXE");
       },
       L"\\SDMMC\\Backup",
       L"\\ResidentFlash\\Navi",
       false,
       TRUE,
       3,
       77,
       {L"CreateFolder \\ResidentFlash\\Navi = 183",
        L"CreateFolder \\ResidentFlash\\Navi\\app = 183", L"TerminateProcess 10",
        L"SetAttributes \\ResidentFlash\\Navi\\app\\NAVI.EXE 0x0",
        L"CopyFile \\SDMMC\\Backup\\app\\NAVI.EXE -> \\ResidentFlash\\Navi\\app\\NAVI.EXE",
        L"CopyFile \\SDMMC\\Backup\\app\\lib.dll -> \\ResidentFlash\\Navi\\app\\lib.dll",
        L"CreateFolder \\ResidentFlash\\Navi\\app\\empty",
        L"SetAttributes \\ResidentFlash\\Navi\\readme.txt 0x0",
        L"CopyFile \\SDMMC\\Backup\\readme.txt -> \\ResidentFlash\\Navi\\readme.txt"},
       {"dest:NAVI.EXE\r\n", "terminate NAVI.EXE ok\r\n"},
       With(With(kVolumes, kBackup),
            {{L"\\ResidentFlash\\Navi", Folder()},
             {L"\\ResidentFlash\\Navi\\app", Folder()},
             {L"\\ResidentFlash\\Navi\\app\\NAVI.EXE", File("exe-new")},
             {L"\\ResidentFlash\\Navi\\app\\lib.dll", File("lib", FILE_ATTRIBUTE_SYSTEM)},
             {L"\\ResidentFlash\\Navi\\app\\empty", Folder()},
             {L"\\ResidentFlash\\Navi\\readme.txt", File("new", FILE_ATTRIBUTE_HIDDEN)}})},
      {"a failure in a nested folder stops every level: nothing after it is copied or counted",
       [](CFakeDevice& dev) {
         NestedTree(dev);
         dev.FailPath(EFakeOp::kCopyFile, L"\\SDMMC\\B\\d1\\d2\\c.txt", ERROR_DISK_FULL);
       },
       L"\\SDMMC\\B",
       L"\\ResidentFlash\\B",
       false,
       FALSE,
       2,
       ERROR_DISK_FULL,
       {L"CreateFolder \\ResidentFlash\\B",
        L"CopyFile \\SDMMC\\B\\a.txt -> \\ResidentFlash\\B\\a.txt",
        L"CreateFolder \\ResidentFlash\\B\\d1",
        L"CopyFile \\SDMMC\\B\\d1\\b.txt -> \\ResidentFlash\\B\\d1\\b.txt",
        L"CreateFolder \\ResidentFlash\\B\\d1\\d2",
        L"CopyFile \\SDMMC\\B\\d1\\d2\\c.txt -> \\ResidentFlash\\B\\d1\\d2\\c.txt = 112"},
       {},
       With(With(kVolumes, kNested), {{L"\\ResidentFlash\\B", Folder()},
                                      {L"\\ResidentFlash\\B\\a.txt", File("a")},
                                      {L"\\ResidentFlash\\B\\d1", Folder()},
                                      {L"\\ResidentFlash\\B\\d1\\b.txt", File("b")},
                                      {L"\\ResidentFlash\\B\\d1\\d2", Folder()}})},
      {"a destination whose parent is missing fails at the first file",
       NestedTree,
       L"\\SDMMC\\B",
       L"\\Nope\\B",
       false,
       FALSE,
       0,
       ERROR_PATH_NOT_FOUND,
       {L"CreateFolder \\Nope\\B = 3", L"CopyFile \\SDMMC\\B\\a.txt -> \\Nope\\B\\a.txt = 3"},
       {},
       With(kVolumes, kNested)},
      {"a source without files into a missing parent succeeds",
       [](CFakeDevice& dev) { dev.AddFolder(L"\\SDMMC\\E\\sub"); },
       L"\\SDMMC\\E",
       L"\\Nope\\E",
       false,
       TRUE,
       0,
       77,
       {L"CreateFolder \\Nope\\E = 3", L"CreateFolder \\Nope\\E\\sub = 3"},
       {},
       With(kVolumes, {{L"\\SDMMC\\E", Folder()}, {L"\\SDMMC\\E\\sub", Folder()}})},
      {"no counter lock: every file copied, none counted",
       [](CFakeDevice& dev) { dev.AddFile(L"\\SDMMC\\S\\a.txt", "a"); },
       L"\\SDMMC\\S",
       L"\\ResidentFlash\\S",
       true,
       TRUE,
       0,
       77,
       {L"CreateFolder \\ResidentFlash\\S",
        L"CopyFile \\SDMMC\\S\\a.txt -> \\ResidentFlash\\S\\a.txt"},
       {},
       With(kVolumes, {{L"\\SDMMC\\S", Folder()},
                       {L"\\SDMMC\\S\\a.txt", File("a")},
                       {L"\\ResidentFlash\\S", Folder()},
                       {L"\\ResidentFlash\\S\\a.txt", File("a")}})},
      {"a folder the device cannot list by name fails with 206 instead of passing for empty",
       [&](CFakeDevice& dev) {
         dev.AddFile(L"\\SDMMC\\D\\a.txt", "a");
         dev.AddFile(L"\\SDMMC\\D\\" + strDeep + L"x\\f.txt", "f");
       },
       L"\\SDMMC\\D",
       L"\\SDMMC\\C",
       false,
       FALSE,
       1,
       ERROR_FILENAME_EXCED_RANGE,
       {L"CreateFolder \\SDMMC\\C", L"CopyFile \\SDMMC\\D\\a.txt -> \\SDMMC\\C\\a.txt"},
       {},
       With(kVolumes, {{L"\\SDMMC\\D", Folder()},
                       {L"\\SDMMC\\D\\a.txt", File("a")},
                       {L"\\SDMMC\\D\\" + strDeep + L"x", Folder()},
                       {L"\\SDMMC\\D\\" + strDeep + L"x\\f.txt", File("f")},
                       {L"\\SDMMC\\C", Folder()},
                       {L"\\SDMMC\\C\\a.txt", File("a")}})},
      {"a file whose path reaches 260 characters fails with 206",
       [&](CFakeDevice& dev) {
         dev.AddFile(L"\\SDMMC\\D\\" + strDeep + L"\\f.txt", "f");
         dev.AddFile(L"\\SDMMC\\D\\" + strDeep + L"\\g.txt", "g");
       },
       L"\\SDMMC\\D",
       L"\\SDMMC\\C",
       false,
       FALSE,
       0,
       ERROR_FILENAME_EXCED_RANGE,
       {L"CreateFolder \\SDMMC\\C", L"CreateFolder \\SDMMC\\C\\" + strDeep},
       {},
       With(kVolumes, {{L"\\SDMMC\\D", Folder()},
                       {L"\\SDMMC\\D\\" + strDeep, Folder()},
                       {L"\\SDMMC\\D\\" + strDeep + L"\\f.txt", File("f")},
                       {L"\\SDMMC\\D\\" + strDeep + L"\\g.txt", File("g")},
                       {L"\\SDMMC\\C", Folder()},
                       {L"\\SDMMC\\C\\" + strDeep, Folder()}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszName);
    CFakeDevice dev;
    CFakeDeviceScope scope(dev);
    c.fnSetup(dev);
    COldDiagCapture diag;
    CLock lock;
    HANDLE hLock = c.bInvalidLock ? nullptr : lock.m_h;
    std::atomic<DWORD> nFiles{0};
    g_dwLastCopyError = 77;
    COldHandleWatch handles;
    EXPECT_EQ(CopyTree(L"\\*", c.strSource.c_str(), c.strDest.c_str(), hLock, nFiles), c.bResult);
    EXPECT_EQ(nFiles.load(), c.dwFiles);
    EXPECT_EQ(g_dwLastCopyError.load(), c.dwError);
    EXPECT_EQ(Narrow(dev.Changes()), Narrow(c.changes));
    EXPECT_EQ(diag.Lines(), c.lines);
    EXPECT_EQ(dev.Snapshot(), c.after);
    // Every listing is closed on every way out, the early ones included.
    EXPECT_EQ(handles.Leaked(), std::vector<UINT_PTR>{});
  }
  g_dwLastCopyError = 0;
}

TEST(CopyTree, ReadsTheDestinationOnlyAfterTheProgramCheck) {
  CFakeDevice dev;
  CFakeDeviceScope scope(dev);
  dev.AddFile(L"\\SDMMC\\S\\Go.Exe", "x");
  COldDiagCapture diag;
  CLock lock;
  std::atomic<DWORD> nFiles{0};
  EXPECT_EQ(CopyTree(L"\\*", L"\\SDMMC\\S", L"\\ResidentFlash\\S", lock.m_h, nFiles), TRUE);
  EXPECT_EQ(Narrow(dev.Operations()),
            Narrow({L"CreateFolder \\ResidentFlash\\S", L"ListFolder \\SDMMC\\S", L"Snapshot",
                    L"GetAttributes \\ResidentFlash\\S\\Go.Exe = 2",
                    L"CopyFile \\SDMMC\\S\\Go.Exe -> \\ResidentFlash\\S\\Go.Exe"}));
  EXPECT_EQ(diag.Lines(), std::vector<std::string>{"dest:GO.EXE\r\n"});
}

TEST(CountTree, CountsEveryFileAtEveryLevelAndAddsToTheCounter) {
  CFakeDevice dev;
  CFakeDeviceScope scope(dev);
  NestedTree(dev);
  BackupTree(dev);
  dev.AddFolder(L"\\SDMMC\\Empty");
  struct {
    const wchar_t* pszFolder;
    DWORD dwStart, dwCount;
  } cases[] = {{L"\\SDMMC\\B", 0, 6},
               {L"\\SDMMC\\Backup", 10, 13},  // hidden and system files count too
               {L"\\SDMMC\\Empty", 5, 5},
               {L"\\SDMMC\\Missing", 0, 0}};
  for (const auto& c : cases) {
    std::atomic<DWORD> nFiles{c.dwStart};
    CountTree(L"\\*", c.pszFolder, nFiles);
    EXPECT_EQ(nFiles.load(), c.dwCount) << WideToUtf8(c.pszFolder);
  }
  EXPECT_EQ(Narrow(dev.Changes()), std::vector<std::string>{});
}

TEST(KillRunningExe, EndsProgramsOnlyForNamesEndingInExe) {
  struct {
    const wchar_t* pszName;
    std::vector<std::string> lines;
    std::vector<DWORD> running;
  } cases[] = {
      {L"navi.exe", {"dest:NAVI.EXE\r\n", "terminate NAVI.EXE ok\r\n"}, {}},
      {L"Navi.ExE", {"dest:NAVI.EXE\r\n", "terminate NAVI.EXE ok\r\n"}, {}},
      {L".exe", {"dest:.EXE\r\n"}, {10}},
      {L"exe", {}, {10}},
      {L"a.e", {}, {10}},
      {L"", {}, {10}},
      {L"navi.exe.bak", {}, {10}},
      {L"navi.ex", {}, {10}},
      {L"navi.dll", {}, {10}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.pszName));
    CFakeDevice dev;
    CFakeDeviceScope scope(dev);
    dev.AddProcess(10, L"navi.exe");
    COldDiagCapture diag;
    KillRunningExe(c.pszName);
    EXPECT_EQ(diag.Lines(), c.lines);
    EXPECT_EQ(dev.RunningProcesses(), c.running);
    // A name that is not a program never even takes a snapshot.
    EXPECT_EQ(dev.CallCount(EFakeOp::kSnapshot), c.lines.empty() ? 0 : 1);
  }
}

}  // namespace
