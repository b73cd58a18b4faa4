#include <gtest/gtest.h>

#include "tests/engine/run_harness.h"

namespace {

const CEntries kEntries = {{L"\\SDMMC\\Backup\\Navi", L"\\ResidentFlash\\Navi"},
                           {L"\\SDMMC\\Backup\\Voice", L"\\ResidentFlash\\Voice"}};

void SmallImage(CFakeDevice& dev) {
  dev.AddFile(L"\\SDMMC\\Backup\\Navi\\NAVI.EXE", "v2");
  dev.AddFile(L"\\SDMMC\\Backup\\Navi\\data\\map.dat", "m2", FILE_ATTRIBUTE_READONLY);
  dev.AddFile(L"\\SDMMC\\Backup\\Navi\\data\\sub\\x.txt", "x");
  dev.AddFile(L"\\SDMMC\\Backup\\Voice\\v.txt", "v");
  dev.AddFile(L"\\ResidentFlash\\Navi\\NAVI.EXE", "v1");
  dev.AddFile(L"\\ResidentFlash\\Navi\\data\\map.dat", "m1", FILE_ATTRIBUTE_READONLY);
  dev.AddFile(L"\\ResidentFlash\\junk\\j.txt", "j");
  dev.AddFile(L"\\ResidentFlash\\ro.dat", "r", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  dev.AddFile(L"\\SDMMC\\OrvaneData\\AppData\\settings.ini", "s");
  dev.AddFile(L"\\SDMMC\\OrvaneData\\AppData\\cache\\c.bin", "c");
  dev.AddProcess(10, L"NAVI.EXE", L"\\ResidentFlash\\Navi\\NAVI.EXE");
}

// A power cut after any file operation, then the recovery again: the end state is the one an
// uninterrupted run leaves.
TEST(RecoveryRun, ARunCutAfterAnyFileOperationAndRepeatedEndsAsAnUninterruptedOne) {
  CTree reference;
  int nOps = 0;
  {
    CFakeDevice dev;
    CFakeDeviceScope scope(dev);
    SmallImage(dev);
    ASSERT_EQ(RunOnce(dev, kEntries).bSuccess, TRUE);
    reference = dev.Snapshot();
    nOps = dev.CallCount(EFakeOp::kAnyFile);
  }
  ASSERT_GT(nOps, 40);
  for (int n = 1; n <= nOps + 1; ++n) {
    SCOPED_TRACE("cut before file operation " + std::to_string(n));
    CFakeDevice dev;
    CFakeDeviceScope scope(dev);
    SmallImage(dev);
    dev.FailFrom(EFakeOp::kAnyFile, n, ERROR_GEN_FAILURE);
    RunOnce(dev, kEntries);
    dev.ClearFailures();
    CRunOutcome again = RunOnce(dev, kEntries);
    EXPECT_EQ(again.bSuccess, TRUE);
    EXPECT_EQ(again.tree, reference);
    EXPECT_EQ(dev.RunningProcesses(), std::vector<DWORD>{});
  }
}

}  // namespace
