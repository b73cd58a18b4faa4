// A recovery run as a whole: the flash emptied once and only when every source has something to
// restore from, every entry copied, the data folder deleted and the countdown armed only when all
// of it was restored; and a run cut at any change, then repeated, ends as an uninterrupted one.
#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <memory>

#include "tests/engine/engine_fixture.h"

namespace {

const CEntries kNavi = {{L"\\SDMMC\\Backup\\Navi", L"\\ResidentFlash\\Navi"}};
const CEntries kTwo = {{L"\\SDMMC\\Backup\\Navi", L"\\ResidentFlash\\Navi"},
                       {L"\\SDMMC\\Backup\\Voice", L"\\ResidentFlash\\Voice"}};
const std::string kData = " SDMMC/OrvaneData/AppData/settings.ini=s";
const std::string kFlashEmptied = "ignore dir:\\ResidentFlash\r\ndele main:\\ResidentFlash\r\n";
const std::string kFlashWasEmpty = "ignore dir:\\ResidentFlash\r\ndele null:\\ResidentFlash\r\n";
const std::string kDataDeleted = "dele main:\\SDMMC\\OrvaneData\\AppData\r\n";
const char kKeep[] = "-";  // the flash as it was

const std::string kFiles = "SDMMC/Backup/Navi/a.txt=a SDMMC/Backup/Voice/v.txt=v" + kData;
const char kRefused[] = "not restored, 0 of 0, error 161";
// The first entry as it always is, then the one to check.
CEntries Later(const wchar_t* pszSource, const wchar_t* pszDest) {
  return {kNavi.front(), {pszSource, pszDest}};
}

enum class EProgram { kNone, kRuns, kWillNotDie };  // NAVI.EXE in the flash

std::string Describe(const CRun& r) {
  return std::string(r.bSuccess ? "restored" : "not restored") +
         (r.bSourceOk ? "" : ", no source") + ", " + std::to_string(r.dwCopied) + " of " +
         std::to_string(r.dwTotal) + (r.dwError ? ", error " + std::to_string(r.dwError) : "");
}

// The tree with the flash's entries replaced by strFlash's and, with bDataGone, the data folder
// gone.
CTree Replaced(CTree tree, const std::string& strFlash, bool bDataGone) {
  std::erase_if(tree, [&](const auto& e) {
    CString strUpper(e.first.c_str());
    return e.first.starts_with(L"\\ResidentFlash\\") ||
           (bDataGone && strUpper.MakeUpper().Str().starts_with(L"\\SDMMC\\ORVANEDATA\\APPDATA"));
  });
  tree.merge(Entries(strFlash));
  return tree;
}

struct CRunCase {
  const char* pszName;
  EProgram eProgram;
  std::string strFiles;  // as CTempImage::Lay writes them
  std::function<void(CFaultDevice&)> fnFaults;
  CEntries entries;
  std::string strLines;
  std::string strOutcome;
  std::string strFlash;  // the flash's entries afterwards, or kKeep
};

TEST(RecoveryRun, SucceedsOnlyWhenEveryEntryWasRestoredCompletely) {
  const std::vector<CRunCase> cases = {
      {"a typical run: the running program ended, hidden and read-only files replaced, a hidden "
       "file counted and copied",
       EProgram::kRuns,
       "SDMMC/Backup/Navi/NAVI.EXE=v2 SDMMC/Backup/Navi/data/map.dat=m2! "
       "ResidentFlash/Navi/old.txt=o" +
           kData,
       [](CFaultDevice& dev) {
         dev.Hide(L"\\ResidentFlash\\Navi\\old.txt");
         dev.Hide(L"\\SDMMC\\Backup\\Navi\\data\\map.dat");
       },
       kNavi,
       "terminate NAVI.EXE ok\r\ndele main:\\ResidentFlash\\Navi\r\n" + kFlashEmptied +
           "dest:NAVI.EXE\r\n" + kDataDeleted,
       "restored, 2 of 2",
       "ResidentFlash/Navi/ ResidentFlash/Navi/NAVI.EXE=v2 ResidentFlash/Navi/data/ "
       "ResidentFlash/Navi/data/map.dat=m2!"},
      {"Path.xml's folders and the data folder in another case than the image has them",
       EProgram::kNone, "SDMMC/Backup/Navi/a.txt=a SDMMC/orvanedata/APPDATA/s.ini=s",
       nullptr, CEntries{{L"\\sdmmc\\BACKUP\\navi", L"\\residentflash\\Navi"}},
       kFlashWasEmpty + kDataDeleted, "restored, 1 of 1",
       "ResidentFlash/Navi/ ResidentFlash/Navi/a.txt=a"},
      {"a missing source: nothing touched", EProgram::kRuns, "ResidentFlash/keep.bin=k" + kData,
       nullptr, kNavi, "", "not restored, no source, 0 of 0, error 3", kKeep},
      {"an empty source: nothing touched", EProgram::kRuns,
       "SDMMC/Backup/Navi/ ResidentFlash/keep.bin=k" + kData, nullptr, kNavi, "",
       "not restored, no source, 0 of 0, error 18", kKeep},
      {"a later entry's missing source: probed before anything is deleted", EProgram::kRuns,
       "SDMMC/Backup/Navi/a.txt=a ResidentFlash/keep.bin=k" + kData, nullptr, kTwo, "",
       "not restored, no source, 0 of 0, error 3", kKeep},
      {"a later entry's source in the flash: refused, nothing touched", EProgram::kRuns, kFiles,
       nullptr, Later(L"\\ResidentFlash\\Navi", L"\\ResidentFlash\\Navi"), "", kRefused, kKeep},
      {"the flash itself as a source, in another case and spelling", EProgram::kRuns, kFiles,
       nullptr, Later(L"/residentflash/./", L"\\ResidentFlash\\Voice"), "", kRefused, kKeep},
      {"an empty source or destination", EProgram::kRuns, kFiles, nullptr,
       Later(L"", L"\\ResidentFlash\\Voice"), "", kRefused, kKeep},
      {"a destination below its source", EProgram::kRuns, kFiles, nullptr,
       Later(L"\\SDMMC\\Backup", L"\\sdmmc\\backup\\\\Navi\\x"), "", kRefused, kKeep},
      {"a destination equal to its source", EProgram::kRuns, kFiles, nullptr,
       Later(L"\\SDMMC\\Backup\\Navi", L"\\SDMMC\\Backup\\Navi"), "", kRefused, kKeep},
      {"a destination in the data folder", EProgram::kRuns, kFiles, nullptr,
       Later(L"\\SDMMC\\Backup\\Navi", L"\\SDMMC\\OrvaneData\\AppData\\n"), "", kRefused, kKeep},
      {"the data folder as a source", EProgram::kRuns, kFiles, nullptr,
       Later(L"\\SDMMC\\OrvaneData\\appdata", L"\\ResidentFlash\\Voice"), "", kRefused, kKeep},
      {"a source that reaches the flash through a link", EProgram::kRuns,
       kFiles + " SDMMC/Alias=>../ResidentFlash", nullptr,
       Later(L"\\SDMMC\\Alias", L"\\SDMMC\\Restored"), "", kRefused, kKeep},
      {"a destination in the source reached through a link", EProgram::kRuns,
       kFiles + " SDMMC/Voice=>Backup/Voice", nullptr,
       Later(L"\\SDMMC\\Voice", L"\\SDMMC\\Backup\\Voice\\x\\y"), "", kRefused, kKeep},
      {"the data folder as a source, reached through a link", EProgram::kRuns,
       kFiles + " SDMMC/Data=>OrvaneData/AppData", nullptr,
       Later(L"\\SDMMC\\Data", L"\\SDMMC\\Restored"), "", kRefused, kKeep},
      {"a destination in the data folder, where a link names it", EProgram::kRuns,
       "SDMMC/Backup/Navi/a.txt=a SDMMC/Backup/Voice/v.txt=v SDMMC/Real/AppData/s.ini=s "
       "SDMMC/OrvaneData=>Real",
       nullptr, Later(L"\\SDMMC\\Backup\\Voice", L"\\SDMMC\\Real\\AppData\\x"), "", kRefused,
       kKeep},
      {"a destination outside the device's volumes", EProgram::kRuns, kFiles + " etc/passwd=p",
       nullptr, Later(L"\\SDMMC\\Backup\\Voice", L"\\etc"), "", kRefused, kKeep},
      {"a \"..\" component, never resolved", EProgram::kRuns, kFiles, nullptr,
       Later(L"\\SDMMC\\x\\..\\ResidentFlash", L"\\ResidentFlash\\Voice"), "", kRefused, kKeep},
      {"no entry at all: nothing to restore from", EProgram::kRuns, "ResidentFlash/keep.bin=k",
       nullptr, CEntries{}, "", "not restored, 0 of 0", kKeep},
      {"a subfolder that cannot be listed when copied: the copy fails with its code",
       EProgram::kNone, "SDMMC/Backup/Navi/d/b.txt=b" + kData,
       // The first listing of d counts it; the second, to copy it, fails.
       [](CFaultDevice& dev) { dev.Fail(EOp::kList, ERROR_ACCESS_DENIED, 2, false, L"Navi\\d"); },
       kNavi, kFlashWasEmpty, "not restored, 0 of 1, error 5",
       "ResidentFlash/Navi/ ResidentFlash/Navi/d/"},
      {"a subfolder that cannot be listed when counted: nothing touched, the code kept",
       EProgram::kNone, "SDMMC/Backup/Navi/d/b.txt=b ResidentFlash/keep.bin=k" + kData,
       [](CFaultDevice& dev) { dev.Fail(EOp::kList, ERROR_GEN_FAILURE, 1, false, L"Navi\\d"); },
       kNavi, "", "not restored, 0 of 0, error 31", kKeep},
      {"a source whose first entry cannot be examined: nothing touched", EProgram::kRuns, kFiles,
       [](CFaultDevice& dev) { dev.Fail(EOp::kExamine, ERROR_GEN_FAILURE, 1, false, L"a.txt"); },
       kNavi, "", "not restored, no source, 0 of 0, error 31", kKeep},
      {"an entry past the first that cannot be examined when counted, then when copied: the run "
       "fails with its code",
       EProgram::kNone, "SDMMC/Backup/Navi/d/a.txt=a SDMMC/Backup/Navi/d/b.txt=b" + kData,
       [](CFaultDevice& dev) { dev.Fail(EOp::kExamine, ERROR_GEN_FAILURE, 2, false, L"Navi\\d\\"); },
       kNavi, "", "not restored, 0 of 0, error 31", kKeep},
      {"", EProgram::kNone, "SDMMC/Backup/Navi/d/b.txt=b" + kData,
       [](CFaultDevice& dev) { dev.Fail(EOp::kExamine, ERROR_GEN_FAILURE, 2, false, L"b.txt"); },
       kNavi, kFlashWasEmpty, "not restored, 0 of 1, error 31",
       "ResidentFlash/Navi/ ResidentFlash/Navi/d/"},
      {"a flush of a destination that fails: the data folder kept, the run failed with its code",
       EProgram::kNone, "SDMMC/Backup/Navi/a.txt=a SDMMC/Backup/Voice/v.txt=v" + kData,
       [](CFaultDevice& dev) { dev.Fail(EOp::kFlush, ERROR_GEN_FAILURE, 1, false, L"Voice"); },
       kTwo, kFlashWasEmpty, "not restored, 1 of 1, error 31",
       "ResidentFlash/Navi/ ResidentFlash/Navi/a.txt=a ResidentFlash/Voice/ "
       "ResidentFlash/Voice/v.txt=v"},
      {"a flush after the data folder's deletion that fails: no countdown, its code",
       EProgram::kNone, "SDMMC/Backup/Navi/a.txt=a",
       [](CFaultDevice& dev) { dev.Fail(EOp::kFlush, ERROR_GEN_FAILURE, 1, false, L"AppData"); },
       kNavi, kFlashWasEmpty + "dele null:\\SDMMC\\OrvaneData\\AppData\r\n",
       "not restored, 1 of 1, error 31", "ResidentFlash/Navi/ ResidentFlash/Navi/a.txt=a"},
      {"two entries, both complete: the flash emptied once, one countdown", EProgram::kNone,
       "ResidentFlash/keep.bin=k SDMMC/Backup/Navi/a.txt=a SDMMC/Backup/Voice/v.txt=v "
       "SDMMC/Backup/Voice/w.txt=w" +
           kData,
       nullptr, kTwo, kFlashEmptied + kDataDeleted, "restored, 2 of 2",
       "ResidentFlash/Navi/ ResidentFlash/Navi/a.txt=a ResidentFlash/Voice/ "
       "ResidentFlash/Voice/v.txt=v ResidentFlash/Voice/w.txt=w"},
      {"two entries, the first failing: the second still copied, the run failed with its code",
       EProgram::kNone,
       "ResidentFlash/keep.bin=k SDMMC/Backup/Navi/a.txt=a SDMMC/Backup/Voice/v.txt=v" + kData,
       [](CFaultDevice& dev) { dev.Fail(EOp::kCopyFile, ERROR_DISK_FULL, 1, false, L"a.txt"); },
       kTwo, kFlashEmptied, "not restored, 1 of 1, error 112",
       "ResidentFlash/Navi/ ResidentFlash/Voice/ ResidentFlash/Voice/v.txt=v"},
      {"a source of empty folders only: 0 of 0 files is complete", EProgram::kNone,
       "SDMMC/Backup/Navi/x/" + kData, nullptr, kNavi, kFlashWasEmpty + kDataDeleted,
       "restored, 0 of 0", "ResidentFlash/Navi/ ResidentFlash/Navi/x/"},
      {"a program that will not die: its file stays, the copy fails with 32", EProgram::kWillNotDie,
       "SDMMC/Backup/Navi/NAVI.EXE=v2" + kData, nullptr, kNavi,
       "dele main:\\ResidentFlash\\Navi\r\n" + kFlashEmptied + "dest:NAVI.EXE\r\n",
       "not restored, 0 of 1, error 32", kKeep},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszName);
    CWorld world;
    CProgram* pNavi =
        c.eProgram == EProgram::kNone ? nullptr : &world.Run("ResidentFlash/Navi/NAVI.EXE");
    if (c.eProgram == EProgram::kWillNotDie) world.m_dev.Immortal(pNavi->Pid());
    world.m_image.Lay(c.strFiles);
    if (c.fnFaults) c.fnFaults(world.m_dev);
    CTree expected = world.m_image.Snapshot();
    const bool bSuccess = c.strOutcome.starts_with("restored");
    if (c.strFlash != kKeep) expected = Replaced(expected, c.strFlash, bSuccess);
    ::testing::internal::CaptureStderr();
    CRun run = RunOnce(world, c.entries);
    // A run that failed says why on standard error; a complete one says nothing there.
    EXPECT_EQ(::testing::internal::GetCapturedStderr().empty(), bSuccess);
    EXPECT_EQ(Joined(run.lines), c.strLines);
    EXPECT_EQ(Describe(run), c.strOutcome);
    // Only a complete run hides the bar and arms the countdown, and it reads as restored last.
    EXPECT_EQ(run.nCountdown, bSuccess ? 5 : 0);
    EXPECT_EQ(run.nRestartPeriod, bSuccess ? 1000u : 0u);
    EXPECT_EQ(run.bBarShown, !bSuccess);
    EXPECT_FALSE(run.bEarly);
    EXPECT_EQ(world.m_image.Snapshot(), expected);
    if (pNavi) {
      EXPECT_EQ(pNavi->Alive(), c.eProgram == EProgram::kWillNotDie || c.strLines.empty());
    }
  }
}

// Names that Linux allows and the device never has: each deleted, copied and shown under its own
// bytes, none read as a path (a "\" inside a name, an overlong "../", bytes that are no UTF-8).
TEST(RecoveryRun, AHostNameIsNeverAPath) {
  const std::pair<std::string, std::string> cases[] = {
      {"..\\SDMMC", "..\\x5CSDMMC"},
      {"..\\SDMMC\\Photos\\x.txt", "..\\x5CSDMMC\\x5CPhotos\\x5Cx.txt"},
      {"\xC0\xAE\xC0\xAE\xE0\x80\xAF", "\\xC0\\xAE\\xC0\\xAE\\xE0\\x80\\xAF"},
      {"n\xFF\xE2\x82", "n\\xFF\\xE2\\x82"},
      {"\xED\xB2\x80\x80", "\\xED\\xB2\\x80\\x80"},  // a surrogate's bytes, then the byte
      {"\xF4\x90\x80\x80\xE5\xAF\xBC", "\\xF4\\x90\\x80\\x80\xE5\xAF\xBC"},
  };
  for (const auto& [strName, strShown] : cases) {
    SCOPED_TRACE(strShown);
    CWorld world;
    // The same name as a folder in the flash, a file in the source, a folder deeper in it.
    world.m_image.Lay("ResidentFlash/" + strName +
                      "/old.txt=o SDMMC/Photos/x.txt=p SDMMC/x.txt=q " + "SDMMC/Backup/Navi/" +
                      strName + "=f SDMMC/Backup/Navi/d/" + strName + "/g.txt=g" + kData);
    const CTree expected = Replaced(world.m_image.Snapshot(),
                                    "ResidentFlash/Navi/ ResidentFlash/Navi/" + strName +
                                        "=f ResidentFlash/Navi/d/ ResidentFlash/Navi/d/" + strName +
                                        "/ ResidentFlash/Navi/d/" + strName + "/g.txt=g",
                                    true);
    CRun run = RunOnce(world, kNavi);
    EXPECT_EQ(Joined(run.lines),
              "dele main:\\ResidentFlash\\" + strShown + "\r\n" + kFlashEmptied + kDataDeleted);
    EXPECT_EQ(Describe(run), "restored, 2 of 2");
    EXPECT_EQ(world.m_image.Snapshot(), expected);
  }
}

// "Recovery completed!" means on the medium: every destination's file system flushed before the
// data folder goes, and its deletion flushed too (before the countdown: see the table above).
TEST(RecoveryRun, EveryDestinationIsFlushedBeforeTheDataFolderGoesAndItsDeletionAfter) {
  CWorld world;
  world.m_image.Lay(kFiles);
  ASSERT_EQ(RunOnce(world, kTwo).bSuccess, TRUE);
  std::vector<std::wstring> order;
  for (const std::wstring& line : world.m_dev.Log())
    if (line.starts_with(L"Flush") || line.starts_with(L"RemoveFolder")) order.push_back(line);
  EXPECT_EQ(order, (std::vector<std::wstring>{L"Flush \\ResidentFlash\\Navi",
                                              L"Flush \\ResidentFlash\\Voice",
                                              L"RemoveFolder \\SDMMC\\OrvaneData\\AppData",
                                              L"Flush \\SDMMC\\OrvaneData\\AppData"}));
}

// A failure in a nested folder: nothing after it is copied or counted, at any level.
TEST(RecoveryRun, AFailedCopyStopsTheEntryAtEveryLevel) {
  CWorld world;
  world.m_image.Lay(
      "SDMMC/Backup/Navi/f.txt=f SDMMC/Backup/Navi/d1/e.txt=e "
      "SDMMC/Backup/Navi/d1/d2/d.txt=d SDMMC/Backup/Navi/d1/d2/c.txt=c "
      "SDMMC/Backup/Navi/d1/b.txt=b SDMMC/Backup/Navi/a=a" +
      kData);
  world.m_dev.Fail(EOp::kCopyFile, ERROR_DISK_FULL, 1, false, L"c.txt");
  CTree expected = world.m_image.Snapshot();
  const size_t nBefore = expected.size();
  expected[L"\\ResidentFlash\\Navi"] = Folder();
  CopiedBefore(world.m_image.Host("SDMMC/Backup/Navi"), L"\\ResidentFlash\\Navi", "c.txt",
               expected);
  DWORD dwCopied = 0;
  for (const auto& [path, entry] : expected)
    dwCopied += path.rfind(L"\\ResidentFlash\\", 0) == 0 && !(entry.dwAttributes & 0x10);
  // Some entries come after c.txt in the file system's order (else 8 would be there): they must
  // not be copied.
  ASSERT_LT(expected.size() - nBefore, 8u);
  CRun run = RunOnce(world, kNavi);
  EXPECT_EQ(Describe(run), "not restored, " + std::to_string(dwCopied) + " of 6, error 112");
  EXPECT_EQ(world.m_image.Snapshot(), expected);
}

// Counts past 16 bits: the bar's range is the largest 16-bit one and the completion test compares
// the real numbers: 65,000 of 65,537 files is not complete (in 16 bits it would read 65,000 of 1
// and delete the data folder).
TEST(RecoveryRun, CountsAreThirtyTwoBit) {
  CWorld world;
  const DWORD dwFiles = 65537;
  for (DWORD i = 0; i < dwFiles; ++i) {
    const std::string strFolder = "SDMMC/Backup/Navi/d" + std::to_string(i / 1000);
    if (i % 1000 == 0) world.m_image.Folder(strFolder);
    const std::string strFile = world.m_image.Host(strFolder + "/f" + std::to_string(i));
    ::close(::open(strFile.c_str(), O_CREAT | O_WRONLY, 0644));
  }
  world.m_image.Lay(kData);
  // The last folder is emptied after it was counted: the entry fails with 2, not 0.
  world.m_dev.Fail(EOp::kList, ERROR_NO_MORE_FILES, 2, false, L"Navi\\d65");
  CRun run = RunOnce(world, kNavi);
  EXPECT_EQ(Describe(run), "not restored, 65000 of 65537, error 2");
  EXPECT_EQ(run.nBarMaximum, 65535);
  EXPECT_EQ(world.m_image.Snapshot().count(L"\\SDMMC\\OrvaneData\\AppData\\settings.ini"), 1u);
}

// A power cut after any change, then the recovery again: the end state is the one an
// uninterrupted run leaves.
TEST(RecoveryRun, ARunCutAfterAnyChangeAndRepeatedEndsAsAnUninterruptedOne) {
  auto setup = [](CWorld& w) {
    w.Run("ResidentFlash/Navi/NAVI.EXE");
    w.m_image.Lay(
        "SDMMC/Backup/Navi/NAVI.EXE=v2 SDMMC/Backup/Navi/data/map.dat=m2! "
        "SDMMC/Backup/Navi/data/sub/x.txt=x SDMMC/Backup/Voice/v.txt=v "
        "ResidentFlash/Navi/data/map.dat=m1! ResidentFlash/junk/j.txt=j ResidentFlash/ro.dat=r! "
        "SDMMC/OrvaneData/AppData/cache/c.bin=c" +
        kData);
    w.m_dev.Hide(L"\\ResidentFlash\\ro.dat");
  };
  CTree reference;
  int nChanges = 0;
  {
    CWorld world;
    setup(world);
    ASSERT_EQ(RunOnce(world, kTwo).bSuccess, TRUE);
    reference = world.m_image.Snapshot();
    nChanges = world.m_dev.Changes();
  }
  ASSERT_GT(nChanges, 20);
  for (int n = 0; n <= nChanges; ++n) {
    SCOPED_TRACE("cut after change " + std::to_string(n));
    CWorld world;
    setup(world);
    world.m_dev.CutAfter(n);
    RunOnce(world, kTwo);
    world.m_dev.CutAfter(-1);
    // What a kill there can leave: a replace's temporary file in the flash and in the backup.
    world.m_image.Lay(
        "ResidentFlash/junk/.orvane-4194305-1.tmp=t SDMMC/Backup/Voice/.orvane-4194305-2.tmp=t");
    EXPECT_EQ(RunOnce(world, kTwo).bSuccess, TRUE);
    EXPECT_EQ(world.m_image.Snapshot(), reference);
    EXPECT_FALSE(world.m_programs.front()->Alive());
  }
}

}  // namespace
