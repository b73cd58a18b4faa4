// Whole runs on real media that fail: each fails with the code of its own cause and a line saying
// it, the data folder kept; a fault found before the flash is emptied leaves all as it was.
#include <cstring>
#include <fstream>

#include "platform/files.h"
#include "tests/engine/engine_fixture.h"
#include "tests/support/volume.h"

namespace {

const CEntries kNavi = {{L"\\SDMMC\\Backup\\Navi", L"\\ResidentFlash\\Navi"}};
const std::string kKeep = " ResidentFlash/keep.bin=k SDMMC/OrvaneData/AppData/settings.ini=s";
const std::string kBig = "SDMMC/Backup/Navi/big.bin=" + std::string(20000, 'b');
const std::string kUnreadable =
    "cannot copy \\SDMMC\\Backup\\Navi\\big.bin to \\ResidentFlash\\Navi\\big.bin: The system "
    "cannot read from the specified device. (code 30)";

// Ends the FAT chain of big.bin (its long name in one entry, its short entry next) at its first
// cluster with nMark, in every table, as a damaged card has it.
bool CutChain(const std::string& strImage, uint32_t nMark) {
  const std::string b = ReadHostFile(strImage);
  const size_t nName = b.find(std::string("b\0i\0g\0.\0b\0", 10));
  if (b.size() < 512 || nName == std::string::npos) return false;
  auto at = [&](size_t n, size_t nBytes) {  // little-endian, as the host
    uint32_t v = 0;
    std::memcpy(&v, &b[n], nBytes);
    return v;
  };
  const size_t nEntry = nName / 32 * 32 + 32;
  const uint32_t nCluster = at(nEntry + 20, 2) << 16 | at(nEntry + 26, 2);
  const uint32_t nFat = at(14, 2) * at(11, 2), nFatBytes = at(36, 4) * at(11, 2);
  std::fstream f(strImage, std::ios::in | std::ios::out | std::ios::binary);
  for (uint32_t n = 0; n < at(16, 1); ++n)
    f.seekp(nFat + n * nFatBytes + nCluster * 4).write(reinterpret_cast<char*>(&nMark), 4);
  return static_cast<bool>(f);
}

enum class EAfter { kNothing, kReadOnly, kChainEnd, kBadCluster };

TEST(RealMedia, ARunFailsWithTheCodeOfItsOwnCause) {
  const struct {
    const char* pszName;
    const char* pszVolumeOn;  // null: the data folder bound read-only
    EVolumeKind kind;
    unsigned nMiB;
    std::string strFiles;
    EAfter eAfter;  // done to the volume once the files are on it
    DWORD dwError;
    std::string strLine;
  } cases[] = {
      {"names equal without regard to case in one source folder, the flash on FAT", "ResidentFlash",
       EVolumeKind::kFat32, 64, "SDMMC/Backup/Navi/readme.txt=a SDMMC/Backup/Navi/README.TXT=b",
       EAfter::kNothing, 183,
       "differ only in case: Cannot create a file when that file already exists. (code 183)"},
      {"a read-only flash: its folder cannot be made", "ResidentFlash", EVolumeKind::kExt4, 64,
       "SDMMC/Backup/Navi/a.txt=a", EAfter::kReadOnly, 19,
       "cannot copy \\SDMMC\\Backup\\Navi to \\ResidentFlash\\Navi: The media is write protected. "
       "(code 19)"},
      {"an ext4 flash out of inodes: a folder cannot be made", "ResidentFlash", EVolumeKind::kExt4,
       2, "", EAfter::kNothing, 112, "There is not enough space on the disk. (code 112)"},
      {"a name exFAT refuses", "ResidentFlash", EVolumeKind::kExfat, 64,
       "SDMMC/Backup/Navi/a:b.txt=x", EAfter::kNothing, 123,
       "cannot copy \\SDMMC\\Backup\\Navi\\a:b.txt to \\ResidentFlash\\Navi\\a:b.txt: The "
       "filename, directory name, or volume label syntax is incorrect. (code 123)"},
      {"a file on a FAT card whose cluster chain is cut reads short", "SDMMC", EVolumeKind::kFat32,
       64, kBig, EAfter::kChainEnd, 30, kUnreadable},
      {"a file on a FAT card whose chain leads to a bad cluster: reads fail (EPERM)", "SDMMC",
       EVolumeKind::kFat32, 64, kBig, EAfter::kBadCluster, 30, kUnreadable},
      {"a data folder on a read-only mount", nullptr, EVolumeKind::kExt4, 0,
       "SDMMC/Backup/Navi/a.txt=a", EAfter::kNothing, 19,
       "cannot delete \\SDMMC\\OrvaneData\\AppData\\settings.ini: The media is write protected. "
       "(code 19)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszName);
    CWorld world;
    std::unique_ptr<CTempVolume> volume;
    if (c.pszVolumeOn) {
      volume = std::make_unique<CTempVolume>(c.kind, world.m_image.Host(c.pszVolumeOn), c.nMiB);
      SKIP_UNLESS_MOUNTED(*volume);
    }
    world.m_image.Lay(c.strFiles + kKeep);
    for (int i = 0; c.nMiB == 2 && i < 300; ++i)  // more folders than the small volume has inodes
      world.m_image.Folder("SDMMC/Backup/Navi/d" + std::to_string(i));
    if (c.eAfter == EAfter::kReadOnly) {
      EXPECT_TRUE(volume->Remount(true));
    }
    if (c.eAfter == EAfter::kChainEnd || c.eAfter == EAfter::kBadCluster) {
      volume->Unmount();
      EXPECT_TRUE(
          CutChain(volume->Image(), c.eAfter == EAfter::kBadCluster ? 0x0FFFFFF7 : 0x0FFFFFFF));
      EXPECT_TRUE(volume->Mount(false));
    }
    CReadOnlyBind bind(c.pszVolumeOn ? "" : world.m_image.Host("SDMMC/OrvaneData/AppData"));
    if (!c.pszVolumeOn && !bind.Ok()) GTEST_SKIP() << bind.Why();
    const CTree before = world.m_image.Snapshot();
    ::testing::internal::CaptureStderr();
    const CRun run = RunOnce(world, kNavi);
    const std::string strErr = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(run.bSuccess);
    EXPECT_EQ(run.dwError, c.dwError);
    EXPECT_NE(strErr.find(c.strLine), std::string::npos) << strErr;
    EXPECT_EQ(run.nCountdown, 0);
    const CTree after = world.m_image.Snapshot();
    EXPECT_EQ(after.count(L"\\SDMMC\\OrvaneData\\AppData\\settings.ini"), 1u);
    if (c.dwError == 183) {
      EXPECT_EQ(after, before);  // counted before anything was touched
    }
    // The last look-ups keep their folders open: two in the root let the volumes go.
    GetFileAttributesW(L"\\ResidentFlash");
    GetFileAttributesW(L"\\SDMMC");
  }
}

}  // namespace
