// A recovery run as a whole: the flash emptied once and only when every source has something to
// restore from, every entry copied, the data folder deleted and the countdown armed only when all
// of it was restored; and a run cut at any change, then repeated, ends as an uninterrupted one.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "tests/engine/engine_fixture.h"

namespace {

const std::wstring kNavi = L"\\SDMMC\\Backup\\Navi";
const CEntries kNaviEntry = {{kNavi, L"\\ResidentFlash\\Navi"}};
const CEntries kTwoEntries = {{kNavi, L"\\ResidentFlash\\Navi"},
                              {L"\\SDMMC\\Backup\\Voice", L"\\ResidentFlash\\Voice"}};

enum class EProgram { kNone, kRuns, kWillNotDie };  // NAVI.EXE in the flash

struct CRunCase {
  const char* pszName;
  EProgram eProgram;
  std::function<void(CWorld&)> fnSetup;
  CEntries entries;
  std::vector<std::string> lines;
  BOOL bSuccess, bSourceOk;
  DWORD dwTotal, dwCopied, dwError;
  std::function<void(CTree&)> fnExpect;  // from the tree before the run; null: unchanged
};

void Data(CWorld& w) { w.m_image.File("SDMMC/OrvaneData/AppData/settings.ini", "s"); }
void FlashAndData(CWorld& w) {
  w.m_image.File("ResidentFlash/keep.bin", "k");
  Data(w);
}
void Restored(CTree& t) {
  for (auto it = t.begin(); it != t.end();)
    it = it->first.rfind(L"\\SDMMC\\OrvaneData\\AppData", 0) == 0 ||
                 it->first.rfind(L"\\ResidentFlash\\", 0) == 0
             ? t.erase(it)
             : std::next(it);
}
constexpr DWORD kBeforeC = 0xFFFFFFFF;  // as many as the listing order puts before c.txt
const std::vector<std::string> kFlashEmptied = {"ignore dir:\\ResidentFlash\r\n",
                                                "dele main:\\ResidentFlash\r\n"};
const std::vector<std::string> kFlashWasEmpty = {"ignore dir:\\ResidentFlash\r\n",
                                                 "dele null:\\ResidentFlash\r\n"};
template <class T>
std::vector<T> Then(std::vector<T> head, const std::vector<T>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

TEST(RecoveryRun, SucceedsOnlyWhenEveryEntryWasRestoredCompletely) {
  const std::vector<CRunCase> cases = {
      {"a typical run: the running program ended, hidden and read-only files replaced",
       EProgram::kRuns,
       [](CWorld& w) {
         w.m_image.File("SDMMC/Backup/Navi/NAVI.EXE", "v2");
         w.m_image.File("SDMMC/Backup/Navi/data/map.dat", "m2", 0444);
         w.m_image.File("ResidentFlash/Navi/old.txt", "o");
         w.m_dev.Hide(L"\\ResidentFlash\\Navi\\old.txt");
         Data(w);
       },
       kNaviEntry,
       {"terminate NAVI.EXE ok\r\n", "dele main:\\ResidentFlash\\Navi\r\n",
        "ignore dir:\\ResidentFlash\r\n", "dele main:\\ResidentFlash\r\n", "dest:NAVI.EXE\r\n",
        "dele main:\\SDMMC\\OrvaneData\\AppData\r\n"},
       TRUE,
       TRUE,
       2,
       2,
       0,
       [](CTree& t) {
         Restored(t);
         t[L"\\ResidentFlash\\Navi"] = Folder();
         t[L"\\ResidentFlash\\Navi\\NAVI.EXE"] = File("v2");
         t[L"\\ResidentFlash\\Navi\\data"] = Folder();
         t[L"\\ResidentFlash\\Navi\\data\\map.dat"] = File("m2", FILE_ATTRIBUTE_READONLY);
       }},
      {"a missing source: nothing touched, the flash kept",
       EProgram::kRuns,
       FlashAndData,
       kNaviEntry,
       {},
       FALSE,
       FALSE,
       0,
       0,
       0,
       nullptr},
      {"an empty source: nothing touched, the flash kept",
       EProgram::kRuns,
       [](CWorld& w) {
         FlashAndData(w);
         w.m_image.Folder("SDMMC/Backup/Navi");
       },
       kNaviEntry,
       {},
       FALSE,
       FALSE,
       0,
       0,
       0,
       nullptr},
      {"a later entry's missing source: probed before anything is deleted",
       EProgram::kRuns,
       [](CWorld& w) {
         FlashAndData(w);
         w.m_image.File("SDMMC/Backup/Navi/a.txt", "a");
       },
       kTwoEntries,
       {},
       FALSE,
       FALSE,
       0,
       0,
       0,
       nullptr},
      {"no entry at all: nothing to restore from, nothing touched",
       EProgram::kRuns,
       FlashAndData,
       {},
       {},
       FALSE,
       TRUE,
       0,
       0,
       0,
       nullptr},
      {"a copy failing with 112 in a nested folder: nothing after it, data folder kept",
       EProgram::kNone,
       [](CWorld& w) {
         for (const char* f : {"a.txt", "d/b.txt", "d/e/c.txt", "d/e/z.txt", "y.txt"})
           w.m_image.File(std::string("SDMMC/Backup/Navi/") + f, f);
         Data(w);
         w.m_dev.Fail(EOp::kCopyFile, ERROR_DISK_FULL, 1, false, L"c.txt");
       },
       kNaviEntry, kFlashWasEmpty, FALSE, TRUE, 5, kBeforeC, ERROR_DISK_FULL, nullptr},
      {"a subfolder that lists nothing when copied: fewer copied than counted, no error code",
       EProgram::kNone,
       [](CWorld& w) {
         w.m_image.File("SDMMC/Backup/Navi/a.txt", "a");
         w.m_image.File("SDMMC/Backup/Navi/d/b.txt", "b");
         Data(w);
         // The first listing of d counts it; the second, to copy it, fails.
         w.m_dev.Fail(EOp::kList, ERROR_ACCESS_DENIED, 2, false, L"Navi\\d");
       },
       kNaviEntry, kFlashWasEmpty, FALSE, TRUE, 2, 1, 0,
       [](CTree& t) {
         t[L"\\ResidentFlash\\Navi"] = Folder();
         t[L"\\ResidentFlash\\Navi\\a.txt"] = File("a");
         t[L"\\ResidentFlash\\Navi\\d"] = Folder();
       }},
      {"two entries, both complete: the flash emptied once, one countdown", EProgram::kNone,
       [](CWorld& w) {
         FlashAndData(w);
         w.m_image.File("SDMMC/Backup/Navi/a.txt", "a");
         w.m_image.File("SDMMC/Backup/Voice/v.txt", "v");
         w.m_image.File("SDMMC/Backup/Voice/w.txt", "w");
       },
       kTwoEntries, Then(kFlashEmptied, {"dele main:\\SDMMC\\OrvaneData\\AppData\r\n"}), TRUE, TRUE,
       2, 2, 0,
       [](CTree& t) {
         Restored(t);
         t[L"\\ResidentFlash\\Navi"] = Folder();
         t[L"\\ResidentFlash\\Navi\\a.txt"] = File("a");
         t[L"\\ResidentFlash\\Voice"] = Folder();
         t[L"\\ResidentFlash\\Voice\\v.txt"] = File("v");
         t[L"\\ResidentFlash\\Voice\\w.txt"] = File("w");
       }},
      {"two entries, the first failing: the second still copied, the run failed with its code",
       EProgram::kNone,
       [](CWorld& w) {
         FlashAndData(w);
         w.m_image.File("SDMMC/Backup/Navi/a.txt", "a");
         w.m_image.File("SDMMC/Backup/Voice/v.txt", "v");
         w.m_dev.Fail(EOp::kCopyFile, ERROR_DISK_FULL, 1, false, L"a.txt");
       },
       kTwoEntries, kFlashEmptied, FALSE, TRUE, 1, 1, ERROR_DISK_FULL,
       [](CTree& t) {
         t.erase(L"\\ResidentFlash\\keep.bin");
         t[L"\\ResidentFlash\\Navi"] = Folder();
         t[L"\\ResidentFlash\\Voice"] = Folder();
         t[L"\\ResidentFlash\\Voice\\v.txt"] = File("v");
       }},
      {"a source of empty folders only: 0 of 0 files is complete", EProgram::kNone,
       [](CWorld& w) {
         w.m_image.Folder("SDMMC/Backup/Navi/x");
         Data(w);
       },
       kNaviEntry, Then(kFlashWasEmpty, {"dele main:\\SDMMC\\OrvaneData\\AppData\r\n"}), TRUE, TRUE,
       0, 0, 0,
       [](CTree& t) {
         Restored(t);
         t[L"\\ResidentFlash\\Navi"] = Folder();
         t[L"\\ResidentFlash\\Navi\\x"] = Folder();
       }},
      {"a program that will not die: its file stays, the copy fails with 32",
       EProgram::kWillNotDie,
       [](CWorld& w) {
         w.m_image.File("SDMMC/Backup/Navi/NAVI.EXE", "v2");
         Data(w);
       },
       kNaviEntry,
       {"dele main:\\ResidentFlash\\Navi\r\n", "ignore dir:\\ResidentFlash\r\n",
        "dele main:\\ResidentFlash\r\n", "dest:NAVI.EXE\r\n"},
       FALSE,
       TRUE,
       1,
       0,
       ERROR_SHARING_VIOLATION,
       nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszName);
    CWorld world;
    std::unique_ptr<CProgram> pNavi;
    if (c.eProgram != EProgram::kNone)
      pNavi = std::make_unique<CProgram>(world.m_image.Host("ResidentFlash/Navi/NAVI.EXE"));
    if (c.eProgram == EProgram::kWillNotDie) world.m_dev.Immortal(pNavi->Pid());
    c.fnSetup(world);
    CTree expected = world.m_image.Snapshot();
    if (c.fnExpect) c.fnExpect(expected);
    DWORD dwCopied = c.dwCopied;
    if (dwCopied == kBeforeC) {
      const size_t nBefore = expected.size();
      expected[L"\\ResidentFlash\\Navi"] = Folder();
      CopiedBefore(world.m_image.Host("SDMMC/Backup/Navi"), L"\\ResidentFlash\\Navi", "c.txt",
                   expected);
      dwCopied = 0;
      for (const auto& [path, entry] : expected)
        dwCopied += path.rfind(L"\\ResidentFlash\\", 0) == 0 && !(entry.dwAttributes & 0x10);
      ASSERT_GT(expected.size(), nBefore);
    }
    CRun run = RunOnce(world, c.entries);
    EXPECT_EQ(run.lines, c.lines);
    EXPECT_EQ(run.bSuccess, c.bSuccess);
    EXPECT_EQ(run.bSourceOk, c.bSourceOk);
    EXPECT_EQ(run.dwTotal, c.dwTotal);
    EXPECT_EQ(run.dwCopied, dwCopied);
    EXPECT_EQ(run.dwError, c.dwError);
    // Only a complete run hides the bar and arms the countdown, and it reads as restored last.
    EXPECT_EQ(run.nCountdown, c.bSuccess ? 5 : 0);
    EXPECT_EQ(run.nRestartPeriod, c.bSuccess ? 1000u : 0u);
    EXPECT_EQ(run.bBarShown, !c.bSuccess);
    EXPECT_FALSE(run.bEarly);
    EXPECT_EQ(world.m_image.Snapshot(), expected);
    if (pNavi) {
      EXPECT_EQ(pNavi->Alive(), c.eProgram == EProgram::kWillNotDie || c.lines.empty());
    }
  }
}

// Counts past 16 bits: the bar's range is the largest 16-bit one and the completion test compares
// the real numbers: 65,000 of 65,537 files is not complete (in 16 bits it would read 65,000 of 1
// and delete the data folder).
TEST(RecoveryRun, CountsAreThirtyTwoBit) {
  CWorld world;
  const DWORD dwFiles = 65537;
  for (DWORD i = 0; i < dwFiles; ++i) {
    if (i % 1000 == 0) world.m_image.Folder("SDMMC/Backup/Navi/d" + std::to_string(i / 1000));
    const std::string strFile = world.m_image.Host(
        "SDMMC/Backup/Navi/d" + std::to_string(i / 1000) + "/f" + std::to_string(i));
    ::close(::open(strFile.c_str(), O_CREAT | O_WRONLY, 0644));
  }
  Data(world);
  // The last folder is lost after it was counted.
  world.m_dev.Fail(EOp::kList, ERROR_ACCESS_DENIED, 2, false, L"Navi\\d65");
  CRun run = RunOnce(world, kNaviEntry);
  EXPECT_EQ(run.dwTotal, dwFiles);
  EXPECT_EQ(run.dwCopied, 65000u);
  EXPECT_EQ(run.bSuccess, FALSE);
  EXPECT_EQ(run.nBarMaximum, 65535);
  EXPECT_EQ(world.m_image.Snapshot().count(L"\\SDMMC\\OrvaneData\\AppData\\settings.ini"), 1u);
}

// A power cut after any change, then the recovery again: the end state is the one an
// uninterrupted run leaves.
TEST(RecoveryRun, ARunCutAfterAnyChangeAndRepeatedEndsAsAnUninterruptedOne) {
  auto setup = [](CWorld& w) {
    w.m_image.File("SDMMC/Backup/Navi/NAVI.EXE", "v2");
    w.m_image.File("SDMMC/Backup/Navi/data/map.dat", "m2", 0444);
    w.m_image.File("SDMMC/Backup/Navi/data/sub/x.txt", "x");
    w.m_image.File("SDMMC/Backup/Voice/v.txt", "v");
    w.m_image.File("ResidentFlash/Navi/data/map.dat", "m1", 0444);
    w.m_image.File("ResidentFlash/junk/j.txt", "j");
    w.m_image.File("ResidentFlash/ro.dat", "r", 0444);
    w.m_dev.Hide(L"\\ResidentFlash\\ro.dat");
    w.m_image.File("SDMMC/OrvaneData/AppData/settings.ini", "s");
    w.m_image.File("SDMMC/OrvaneData/AppData/cache/c.bin", "c");
  };
  CTree reference;
  int nChanges = 0;
  {
    CWorld world;
    CProgram navi(world.m_image.Host("ResidentFlash/Navi/NAVI.EXE"));
    setup(world);
    ASSERT_EQ(RunOnce(world, kTwoEntries).bSuccess, TRUE);
    reference = world.m_image.Snapshot();
    nChanges = world.m_dev.Changes();
  }
  ASSERT_GT(nChanges, 20);
  for (int n = 0; n <= nChanges; ++n) {
    SCOPED_TRACE("cut after change " + std::to_string(n));
    CWorld world;
    CProgram navi(world.m_image.Host("ResidentFlash/Navi/NAVI.EXE"));
    setup(world);
    world.m_dev.CutAfter(n);
    RunOnce(world, kTwoEntries);
    world.m_dev.CutAfter(-1);
    EXPECT_EQ(RunOnce(world, kTwoEntries).bSuccess, TRUE);
    EXPECT_EQ(world.m_image.Snapshot(), reference);
    EXPECT_FALSE(navi.Alive());
  }
}

}  // namespace
