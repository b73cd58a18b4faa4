#include <gtest/gtest.h>

#include "tests/engine/run_harness.h"

namespace {

const std::string kSetRange2 = "SendMessageW(dlg102/1010, PBM_SETRANGE, 0, 0..2)";
const std::string kHide = "ShowWindow(dlg102/1010, SW_HIDE)";
const std::string kRestart = "SetTimer(dlg102, 16, 1000, null) -> 16";
const CEntries kNavi = {{L"\\SDMMC\\Backup\\Navi", L"\\ResidentFlash\\Navi"}};

// A backup of two files, an older copy in the flash whose program runs, and the data folder.
void TypicalImage(CFakeDevice& dev) {
  dev.AddFile(L"\\SDMMC\\Backup\\Navi\\NAVI.EXE", "v2");
  dev.AddFile(L"\\SDMMC\\Backup\\Navi\\data\\map.dat", "m2", FILE_ATTRIBUTE_READONLY);
  dev.AddFile(L"\\ResidentFlash\\Navi\\NAVI.EXE", "v1");
  dev.AddFile(L"\\ResidentFlash\\Navi\\old.txt", "o", FILE_ATTRIBUTE_HIDDEN);
  dev.AddFile(L"\\SDMMC\\OrvaneData\\AppData\\settings.ini", "s");
  dev.AddProcess(10, L"NAVI.EXE", L"\\ResidentFlash\\Navi\\NAVI.EXE");
}

TEST(RecoveryRun, TypicalRunRestoresTheFlashDeletesTheDataAndArmsTheCountdown) {
  CFakeDevice dev;
  CFakeDeviceScope scope(dev);
  TypicalImage(dev);
  CTree expected = dev.Snapshot();
  CRunOutcome out = RunOnce(dev, kNavi);

  EXPECT_EQ(Narrow(out.ops),
            Narrow({L"ListFolder \\SDMMC\\Backup\\Navi",
                    L"GetAttributes \\ResidentFlash",
                    L"ListFolder \\ResidentFlash",
                    L"ListFolder \\ResidentFlash\\Navi",
                    L"GetAttributes \\ResidentFlash\\Navi\\NAVI.EXE",
                    L"SetAttributes \\ResidentFlash\\Navi\\NAVI.EXE 0x80",
                    L"DeleteFile \\ResidentFlash\\Navi\\NAVI.EXE = 32",
                    L"Snapshot",
                    L"OpenProcess 10",
                    L"TerminateProcess 10",
                    L"WaitProcess 10 2500",
                    L"DeleteFile \\ResidentFlash\\Navi\\NAVI.EXE",
                    L"GetAttributes \\ResidentFlash\\Navi\\old.txt",
                    L"SetAttributes \\ResidentFlash\\Navi\\old.txt 0x0",
                    L"DeleteFile \\ResidentFlash\\Navi\\old.txt",
                    L"GetAttributes \\ResidentFlash\\Navi",
                    L"RemoveFolder \\ResidentFlash\\Navi",
                    L"GetAttributes \\ResidentFlash",
                    L"ListFolder \\SDMMC\\Backup\\Navi",
                    L"ListFolder \\SDMMC\\Backup\\Navi",
                    L"ListFolder \\SDMMC\\Backup\\Navi\\data",
                    L"CreateFolder \\ResidentFlash\\Navi",
                    L"ListFolder \\SDMMC\\Backup\\Navi",
                    L"Snapshot",
                    L"GetAttributes \\ResidentFlash\\Navi\\NAVI.EXE = 2",
                    L"CopyFile \\SDMMC\\Backup\\Navi\\NAVI.EXE -> \\ResidentFlash\\Navi\\NAVI.EXE",
                    L"CreateFolder \\ResidentFlash\\Navi\\data",
                    L"ListFolder \\SDMMC\\Backup\\Navi\\data",
                    L"GetAttributes \\ResidentFlash\\Navi\\data\\map.dat = 2",
                    L"CopyFile \\SDMMC\\Backup\\Navi\\data\\map.dat -> "
                    L"\\ResidentFlash\\Navi\\data\\map.dat",
                    L"GetAttributes \\SDMMC\\OrvaneData\\AppData",
                    L"ListFolder \\SDMMC\\OrvaneData\\AppData",
                    L"GetAttributes \\SDMMC\\OrvaneData\\AppData\\settings.ini",
                    L"SetAttributes \\SDMMC\\OrvaneData\\AppData\\settings.ini 0x80",
                    L"DeleteFile \\SDMMC\\OrvaneData\\AppData\\settings.ini",
                    L"GetAttributes \\SDMMC\\OrvaneData\\AppData",
                    L"RemoveFolder \\SDMMC\\OrvaneData\\AppData"}));
  EXPECT_EQ(out.lines, (std::vector<std::string>{
                           "terminate NAVI.EXE ok\r\n", "dele main:\\ResidentFlash\\Navi\r\n",
                           "ignore dir:\\ResidentFlash\r\n", "dele main:\\ResidentFlash\r\n",
                           "dest:NAVI.EXE\r\n", "dele main:\\SDMMC\\OrvaneData\\AppData\r\n"}));
  EXPECT_EQ(out.calls, (std::vector<std::string>{kSetRange2, kHide, kRestart}));
  EXPECT_FALSE(out.bSuccessBeforeRequests);
  EXPECT_EQ(out.bSuccess, TRUE);
  EXPECT_EQ(out.bSourceOk, TRUE);
  EXPECT_EQ(out.dwTotal, 2u);
  EXPECT_EQ(out.dwCopied, 2u);
  EXPECT_EQ(out.nCountdown, 5);
  EXPECT_EQ(out.dwError, 0u);
  expected.erase(L"\\ResidentFlash\\Navi\\old.txt");
  expected.erase(L"\\SDMMC\\OrvaneData\\AppData");
  expected.erase(L"\\SDMMC\\OrvaneData\\AppData\\settings.ini");
  expected[L"\\ResidentFlash\\Navi\\NAVI.EXE"] = File("v2");
  expected[L"\\ResidentFlash\\Navi\\data"] = Folder();
  expected[L"\\ResidentFlash\\Navi\\data\\map.dat"] = File("m2", FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(out.tree, expected);
  EXPECT_EQ(dev.RunningProcesses(), std::vector<DWORD>{});
}

struct CRunCase {
  const char* pszName;
  std::function<void(CFakeDevice&)> fnSetup;
  CEntries entries;
  std::vector<std::wstring> changes;
  std::vector<std::string> lines;
  std::vector<std::string> calls;
  BOOL bSuccess, bSourceOk;
  DWORD dwTotal, dwCopied, dwError;
  std::function<void(CTree&)> fnExpect;  // from the tree before the run; null: unchanged
};

void FlashWithFile(CFakeDevice& dev) {
  dev.AddFile(L"\\ResidentFlash\\keep.bin", "k");
  dev.AddFile(L"\\SDMMC\\OrvaneData\\AppData\\settings.ini", "s");
}

TEST(RecoveryRun, SucceedsOnlyWhenEveryEntryWasRestoredCompletely) {
  const std::vector<CRunCase> cases = {
      {"a missing source: nothing touched, the flash kept",
       FlashWithFile,
       kNavi,
       {},
       {},
       {},
       FALSE,
       FALSE,
       0,
       0,
       0,
       nullptr},
      {"an empty source: nothing touched, the flash kept",
       [](CFakeDevice& dev) {
         FlashWithFile(dev);
         dev.AddFolder(L"\\SDMMC\\Backup\\Navi");
       },
       kNavi,
       {},
       {},
       {},
       FALSE,
       FALSE,
       0,
       0,
       0,
       nullptr},
      {"a later entry's missing source: probed before anything is deleted",
       [](CFakeDevice& dev) {
         FlashWithFile(dev);
         dev.AddFile(L"\\SDMMC\\Backup\\Navi\\a.txt", "a");
       },
       {{L"\\SDMMC\\Backup\\Navi", L"\\ResidentFlash\\Navi"},
        {L"\\SDMMC\\Backup\\Voice", L"\\ResidentFlash\\Voice"}},
       {},
       {},
       {},
       FALSE,
       FALSE,
       0,
       0,
       0,
       nullptr},
      {"no entry at all: nothing to restore from, nothing touched",
       FlashWithFile,
       {},
       {},
       {},
       {},
       FALSE,
       TRUE,
       0,
       0,
       0,
       nullptr},
      {"a copy failing with 112 in a nested folder: nothing after it, data folder kept",
       [](CFakeDevice& dev) {
         dev.AddFile(L"\\SDMMC\\Backup\\Navi\\a.txt", "a");
         dev.AddFile(L"\\SDMMC\\Backup\\Navi\\d\\b.txt", "b");
         dev.AddFile(L"\\SDMMC\\Backup\\Navi\\d\\e\\c.txt", "c");
         dev.AddFile(L"\\SDMMC\\Backup\\Navi\\d\\e\\z.txt", "z");
         dev.AddFile(L"\\SDMMC\\Backup\\Navi\\y.txt", "y");
         dev.AddFile(L"\\SDMMC\\OrvaneData\\AppData\\settings.ini", "s");
         dev.FailPath(EFakeOp::kCopyFile, L"\\SDMMC\\Backup\\Navi\\d\\e\\c.txt", ERROR_DISK_FULL);
       },
       kNavi,
       {L"CreateFolder \\ResidentFlash\\Navi",
        L"CopyFile \\SDMMC\\Backup\\Navi\\a.txt -> \\ResidentFlash\\Navi\\a.txt",
        L"CreateFolder \\ResidentFlash\\Navi\\d",
        L"CopyFile \\SDMMC\\Backup\\Navi\\d\\b.txt -> \\ResidentFlash\\Navi\\d\\b.txt",
        L"CreateFolder \\ResidentFlash\\Navi\\d\\e",
        L"CopyFile \\SDMMC\\Backup\\Navi\\d\\e\\c.txt -> \\ResidentFlash\\Navi\\d\\e\\c.txt = "
        L"112"},
       {"ignore dir:\\ResidentFlash\r\n", "dele null:\\ResidentFlash\r\n"},
       {"SendMessageW(dlg102/1010, PBM_SETRANGE, 0, 0..5)"},
       FALSE,
       TRUE,
       5,
       2,
       ERROR_DISK_FULL,
       [](CTree& t) {
         t[L"\\ResidentFlash\\Navi"] = Folder();
         t[L"\\ResidentFlash\\Navi\\a.txt"] = File("a");
         t[L"\\ResidentFlash\\Navi\\d"] = Folder();
         t[L"\\ResidentFlash\\Navi\\d\\b.txt"] = File("b");
         t[L"\\ResidentFlash\\Navi\\d\\e"] = Folder();
       }},
      {"a subfolder that lists nothing when copied: fewer copied than counted, no error code",
       [](CFakeDevice& dev) {
         dev.AddFile(L"\\SDMMC\\Backup\\Navi\\a.txt", "a");
         dev.AddFile(L"\\SDMMC\\Backup\\Navi\\d\\b.txt", "b");
         dev.AddFile(L"\\SDMMC\\OrvaneData\\AppData\\settings.ini", "s");
         // Listings: run probe, flash, entry probe, count x2, copy of the source, copy of d.
         dev.FailAt(EFakeOp::kListFolder, 7, ERROR_ACCESS_DENIED);
       },
       kNavi,
       {L"CreateFolder \\ResidentFlash\\Navi",
        L"CopyFile \\SDMMC\\Backup\\Navi\\a.txt -> \\ResidentFlash\\Navi\\a.txt",
        L"CreateFolder \\ResidentFlash\\Navi\\d"},
       {"ignore dir:\\ResidentFlash\r\n", "dele null:\\ResidentFlash\r\n"},
       {"SendMessageW(dlg102/1010, PBM_SETRANGE, 0, 0..2)"},
       FALSE,
       TRUE,
       2,
       1,
       0,
       [](CTree& t) {
         t[L"\\ResidentFlash\\Navi"] = Folder();
         t[L"\\ResidentFlash\\Navi\\a.txt"] = File("a");
         t[L"\\ResidentFlash\\Navi\\d"] = Folder();
       }},
      {"two entries, both complete: the flash emptied once, one countdown",
       [](CFakeDevice& dev) {
         FlashWithFile(dev);
         dev.AddFile(L"\\SDMMC\\Backup\\Navi\\a.txt", "a");
         dev.AddFile(L"\\SDMMC\\Backup\\Voice\\v.txt", "v");
         dev.AddFile(L"\\SDMMC\\Backup\\Voice\\w.txt", "w");
       },
       {{L"\\SDMMC\\Backup\\Navi", L"\\ResidentFlash\\Navi"},
        {L"\\SDMMC\\Backup\\Voice", L"\\ResidentFlash\\Voice"}},
       {L"SetAttributes \\ResidentFlash\\keep.bin 0x80", L"DeleteFile \\ResidentFlash\\keep.bin",
        L"CreateFolder \\ResidentFlash\\Navi",
        L"CopyFile \\SDMMC\\Backup\\Navi\\a.txt -> \\ResidentFlash\\Navi\\a.txt",
        L"CreateFolder \\ResidentFlash\\Voice",
        L"CopyFile \\SDMMC\\Backup\\Voice\\v.txt -> \\ResidentFlash\\Voice\\v.txt",
        L"CopyFile \\SDMMC\\Backup\\Voice\\w.txt -> \\ResidentFlash\\Voice\\w.txt",
        L"SetAttributes \\SDMMC\\OrvaneData\\AppData\\settings.ini 0x80",
        L"DeleteFile \\SDMMC\\OrvaneData\\AppData\\settings.ini",
        L"RemoveFolder \\SDMMC\\OrvaneData\\AppData"},
       {"ignore dir:\\ResidentFlash\r\n", "dele main:\\ResidentFlash\r\n",
        "dele main:\\SDMMC\\OrvaneData\\AppData\r\n"},
       {"SendMessageW(dlg102/1010, PBM_SETRANGE, 0, 0..1)", kSetRange2, kHide, kRestart},
       TRUE,
       TRUE,
       2,
       2,
       0,
       [](CTree& t) {
         t.erase(L"\\ResidentFlash\\keep.bin");
         t.erase(L"\\SDMMC\\OrvaneData\\AppData");
         t.erase(L"\\SDMMC\\OrvaneData\\AppData\\settings.ini");
         t[L"\\ResidentFlash\\Navi"] = Folder();
         t[L"\\ResidentFlash\\Navi\\a.txt"] = File("a");
         t[L"\\ResidentFlash\\Voice"] = Folder();
         t[L"\\ResidentFlash\\Voice\\v.txt"] = File("v");
         t[L"\\ResidentFlash\\Voice\\w.txt"] = File("w");
       }},
      {"two entries, the first failing: the second still copied, the run failed with its error",
       [](CFakeDevice& dev) {
         FlashWithFile(dev);
         dev.AddFile(L"\\SDMMC\\Backup\\Navi\\a.txt", "a");
         dev.AddFile(L"\\SDMMC\\Backup\\Voice\\v.txt", "v");
         dev.FailPath(EFakeOp::kCopyFile, L"\\SDMMC\\Backup\\Navi\\a.txt", ERROR_DISK_FULL);
       },
       {{L"\\SDMMC\\Backup\\Navi", L"\\ResidentFlash\\Navi"},
        {L"\\SDMMC\\Backup\\Voice", L"\\ResidentFlash\\Voice"}},
       {L"SetAttributes \\ResidentFlash\\keep.bin 0x80", L"DeleteFile \\ResidentFlash\\keep.bin",
        L"CreateFolder \\ResidentFlash\\Navi",
        L"CopyFile \\SDMMC\\Backup\\Navi\\a.txt -> \\ResidentFlash\\Navi\\a.txt = 112",
        L"CreateFolder \\ResidentFlash\\Voice",
        L"CopyFile \\SDMMC\\Backup\\Voice\\v.txt -> \\ResidentFlash\\Voice\\v.txt"},
       {"ignore dir:\\ResidentFlash\r\n", "dele main:\\ResidentFlash\r\n"},
       {"SendMessageW(dlg102/1010, PBM_SETRANGE, 0, 0..1)",
        "SendMessageW(dlg102/1010, PBM_SETRANGE, 0, 0..1)"},
       FALSE,
       TRUE,
       1,
       1,
       ERROR_DISK_FULL,
       [](CTree& t) {
         t.erase(L"\\ResidentFlash\\keep.bin");
         t[L"\\ResidentFlash\\Navi"] = Folder();
         t[L"\\ResidentFlash\\Voice"] = Folder();
         t[L"\\ResidentFlash\\Voice\\v.txt"] = File("v");
       }},
      {"a source of empty folders only: 0 of 0 files is complete",
       [](CFakeDevice& dev) {
         dev.AddFolder(L"\\SDMMC\\Backup\\Navi\\x");
         dev.AddFile(L"\\SDMMC\\OrvaneData\\AppData\\settings.ini", "s");
       },
       kNavi,
       {L"CreateFolder \\ResidentFlash\\Navi", L"CreateFolder \\ResidentFlash\\Navi\\x",
        L"SetAttributes \\SDMMC\\OrvaneData\\AppData\\settings.ini 0x80",
        L"DeleteFile \\SDMMC\\OrvaneData\\AppData\\settings.ini",
        L"RemoveFolder \\SDMMC\\OrvaneData\\AppData"},
       {"ignore dir:\\ResidentFlash\r\n", "dele null:\\ResidentFlash\r\n",
        "dele main:\\SDMMC\\OrvaneData\\AppData\r\n"},
       {"SendMessageW(dlg102/1010, PBM_SETRANGE, 0, 0..0)", kHide, kRestart},
       TRUE,
       TRUE,
       0,
       0,
       0,
       [](CTree& t) {
         t.erase(L"\\SDMMC\\OrvaneData\\AppData");
         t.erase(L"\\SDMMC\\OrvaneData\\AppData\\settings.ini");
         t[L"\\ResidentFlash\\Navi"] = Folder();
         t[L"\\ResidentFlash\\Navi\\x"] = Folder();
       }},
      {"a program that will not die: its file stays, the copy fails with 32",
       [](CFakeDevice& dev) {
         dev.AddFile(L"\\SDMMC\\Backup\\Navi\\NAVI.EXE", "v2");
         dev.AddFile(L"\\ResidentFlash\\Navi\\NAVI.EXE", "v1");
         dev.AddFile(L"\\SDMMC\\OrvaneData\\AppData\\settings.ini", "s");
         dev.AddProcess(10, L"NAVI.EXE", L"\\ResidentFlash\\Navi\\NAVI.EXE", EFakeDeath::kRefuses);
       },
       kNavi,
       {L"SetAttributes \\ResidentFlash\\Navi\\NAVI.EXE 0x80",
        L"DeleteFile \\ResidentFlash\\Navi\\NAVI.EXE = 32", L"TerminateProcess 10 = 5",
        L"DeleteFile \\ResidentFlash\\Navi\\NAVI.EXE = 32",
        L"RemoveFolder \\ResidentFlash\\Navi = 145", L"CreateFolder \\ResidentFlash\\Navi = 183",
        L"TerminateProcess 10 = 5", L"SetAttributes \\ResidentFlash\\Navi\\NAVI.EXE 0x80",
        L"CopyFile \\SDMMC\\Backup\\Navi\\NAVI.EXE -> \\ResidentFlash\\Navi\\NAVI.EXE = 32"},
       {"dele main:\\ResidentFlash\\Navi\r\n", "ignore dir:\\ResidentFlash\r\n",
        "dele main:\\ResidentFlash\r\n", "dest:NAVI.EXE\r\n"},
       {"SendMessageW(dlg102/1010, PBM_SETRANGE, 0, 0..1)"},
       FALSE,
       TRUE,
       1,
       0,
       ERROR_SHARING_VIOLATION,
       nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszName);
    CFakeDevice dev;
    CFakeDeviceScope scope(dev);
    c.fnSetup(dev);
    CTree expected = dev.Snapshot();
    if (c.fnExpect) c.fnExpect(expected);
    CRunOutcome out = RunOnce(dev, c.entries);
    EXPECT_EQ(Narrow(out.changes), Narrow(c.changes));
    EXPECT_EQ(out.lines, c.lines);
    EXPECT_EQ(out.calls, c.calls);
    EXPECT_FALSE(out.bSuccessBeforeRequests);
    EXPECT_EQ(out.bSuccess, c.bSuccess);
    EXPECT_EQ(out.bSourceOk, c.bSourceOk);
    EXPECT_EQ(out.dwTotal, c.dwTotal);
    EXPECT_EQ(out.dwCopied, c.dwCopied);
    EXPECT_EQ(out.dwError, c.dwError);
    EXPECT_EQ(out.nCountdown, c.bSuccess ? 5 : 0);
    EXPECT_EQ(out.tree, expected);
  }
}

// A source of many files that exist only in its listings, 1000 files a folder; their copies
// succeed without storing anything, so counts past 16 bits stay cheap. With bHideLast the last
// folder cannot be listed after it was counted: fewer files are copied than counted.
class CBigSourceDevice : public CFakeDevice {
 public:
  CBigSourceDevice(DWORD dwFiles, bool bHideLast) : m_dwFiles(dwFiles), m_bHideLast(bHideLast) {
    AddFolder(kSource);
  }
  BOOL ListFolder(const std::wstring& strFolder, std::vector<WIN32_FIND_DATAW>& entries) override {
    if (strFolder.rfind(kSource, 0) != 0) return CFakeDevice::ListFolder(strFolder, entries);
    entries.clear();
    const DWORD dwFolders = (m_dwFiles + 999) / 1000;
    if (strFolder == kSource) {
      for (DWORD d = 0; d < dwFolders; ++d)
        entries.push_back(Entry(L"d" + std::to_wstring(d), FILE_ATTRIBUTE_DIRECTORY));
      return TRUE;
    }
    DWORD d = static_cast<DWORD>(std::stoul(strFolder.substr(strFolder.rfind(L'd') + 1)));
    if (d == dwFolders - 1 && m_bHideLast && m_nLastListings++ > 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    for (DWORD i = d * 1000; i < m_dwFiles && i < (d + 1) * 1000; ++i)
      entries.push_back(Entry(L"f" + std::to_wstring(i), FILE_ATTRIBUTE_NORMAL));
    return TRUE;
  }
  DWORD GetAttributes(const std::wstring& strPath) override {
    if (strPath.rfind(L"\\ResidentFlash\\Navi\\d", 0) != 0)
      return CFakeDevice::GetAttributes(strPath);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  BOOL CopyFile(const std::wstring& strSource, const std::wstring& strDest, BOOL bFail) override {
    if (strSource.rfind(kSource, 0) != 0) return CFakeDevice::CopyFile(strSource, strDest, bFail);
    return TRUE;
  }

  static constexpr const wchar_t* kSource = L"\\SDMMC\\Backup\\Navi";

 private:
  static WIN32_FIND_DATAW Entry(const std::wstring& strName, DWORD dwAttributes) {
    WIN32_FIND_DATAW data{};
    data.dwFileAttributes = dwAttributes;
    strName.copy(data.cFileName, strName.size());
    return data;
  }
  DWORD m_dwFiles;
  bool m_bHideLast;
  int m_nLastListings = 0;
};

// Counts past 16 bits: the range saturates at the largest 16-bit end and the completion test
// compares the real numbers: 65,000 of 65,537 files is not complete (in 16 bits it would read
// 65,000 of 1 and delete the data folder).
TEST(RecoveryRun, CountsAreThirtyTwoBit) {
  const DWORD dwFiles = 65537;
  for (bool bHideLast : {false, true}) {
    SCOPED_TRACE(bHideLast ? "the last folder is lost after counting" : "every file copies");
    CBigSourceDevice dev(dwFiles, bHideLast);
    CFakeDeviceScope scope(dev);
    dev.AddFile(L"\\SDMMC\\OrvaneData\\AppData\\settings.ini", "s");
    CRunOutcome out = RunOnce(dev, kNavi);
    EXPECT_EQ(out.dwTotal, dwFiles);
    EXPECT_EQ(out.dwCopied, bHideLast ? 65000u : dwFiles);
    EXPECT_EQ(out.bSuccess, bHideLast ? FALSE : TRUE);
    EXPECT_EQ(out.dwError, 0u);
    EXPECT_EQ(out.calls.front(), "SendMessageW(dlg102/1010, PBM_SETRANGE, 0, 0..65535)");
    EXPECT_EQ(out.tree.count(L"\\SDMMC\\OrvaneData\\AppData\\settings.ini"), bHideLast ? 1u : 0u);
  }
}

}  // namespace
