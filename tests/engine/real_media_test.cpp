// Whole runs on real media that fail: each fails with the code of its own cause and a line saying
// it, and a fault found before the flash is emptied leaves everything as it was.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>

#include "platform/files.h"
#include "tests/engine/engine_fixture.h"
#include "tests/support/volume.h"

namespace {

const CEntries kNavi = {{L"\\SDMMC\\Backup\\Navi", L"\\ResidentFlash\\Navi"}};
const std::string kKeep = " ResidentFlash/keep.bin=k SDMMC/OrvaneData/AppData/settings.ini=s";

// Ends the FAT chain of the file whose long name (one entry, up to 13 characters) begins with
// strFirstFive (UTF-16) at its first cluster, in every table, with nMark (an end of chain, or a
// bad cluster), as a damaged card has it.
bool CutChain(const std::string& strImage, const std::string& strFirstFive, uint32_t nMark) {
  const std::string bytes = ReadHostFile(strImage);
  const size_t nName = bytes.find(strFirstFive);
  const size_t nEntry = nName / 32 * 32 + 32;  // the short entry after its long one
  if (bytes.size() < 512 || nName == std::string::npos) return false;
  auto le = [&](size_t n, int nBytes) {
    uint32_t v = 0;
    for (int i = nBytes - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(bytes[n + i]);
    return v;
  };
  const uint32_t nCluster = le(nEntry + 20, 2) << 16 | le(nEntry + 26, 2);
  const uint32_t nFat = le(14, 2) * le(11, 2), nFatBytes = le(36, 4) * le(11, 2);
  const int fd = ::open(strImage.c_str(), O_WRONLY);
  bool bOk = fd >= 0;
  for (uint32_t n = 0; bOk && n < le(16, 1); ++n)
    bOk = ::pwrite(fd, &nMark, 4, nFat + n * nFatBytes + nCluster * 4) == 4;
  if (fd >= 0) ::close(fd);
  return bOk;
}

struct CMediaCase {
  const char* pszName;
  // Mounts what the case needs on the world's folders and lays its files; false where this
  // machine cannot mount.
  using FnMedia = std::function<bool(CWorld&, std::vector<std::shared_ptr<void>>&)>;
  FnMedia fnMedia;
  DWORD dwError;        // in the failure box
  std::string strLine;  // on standard error
  bool bTouched;        // the flash was emptied; else all is as it was
};

// A volume of that kind mounted on strRel, held for the case; false when this machine cannot.
bool Mounted(CWorld& w, std::vector<std::shared_ptr<void>>& held, EVolumeKind kind,
             const std::string& strRel, unsigned nMiB = 64) {
  w.m_image.Folder(strRel);
  auto volume = std::make_shared<CTempVolume>(kind, w.m_image.Host(strRel), nMiB);
  held.push_back(volume);
  if (!volume->Ok()) std::printf("skipped: %s\n", volume->Why().c_str());
  return volume->Ok();
}

// The card on FAT holding big.bin, its chain ended at its first cluster with nMark.
CMediaCase::FnMedia DamagedCard(uint32_t nMark) {
  return [nMark](CWorld& w, std::vector<std::shared_ptr<void>>& held) {
    if (!Mounted(w, held, EVolumeKind::kFat32, "SDMMC")) return false;
    w.m_image.Lay("SDMMC/Backup/Navi/big.bin=" + std::string(20000, 'b') + kKeep);
    auto volume = std::static_pointer_cast<CTempVolume>(held.back());
    volume->Unmount();
    EXPECT_TRUE(CutChain(volume->Image(), std::string("b\0i\0g\0.\0b\0", 10), nMark));
    EXPECT_TRUE(volume->Mount(false));
    return true;
  };
}
const std::string kUnreadable =
    "cannot copy \\SDMMC\\Backup\\Navi\\big.bin to \\ResidentFlash\\Navi\\big.bin: The system "
    "cannot read from the specified device. (code 30)";

TEST(RealMedia, ARunFailsWithTheCodeOfItsOwnCause) {
  const CMediaCase cases[] = {
      {"names equal without regard to case in one source folder, the flash on FAT: found "
       "before anything is touched",
       [](CWorld& w, auto& held) {
         if (!Mounted(w, held, EVolumeKind::kFat32, "ResidentFlash")) return false;
         w.m_image.Lay("SDMMC/Backup/Navi/readme.txt=a SDMMC/Backup/Navi/README.TXT=b" + kKeep);
         return true;
       },
       183, "differ only in case: Cannot create a file when that file already exists. (code 183)",
       false},
      {"a read-only flash: its folder cannot be made",
       [](CWorld& w, auto& held) {
         if (!Mounted(w, held, EVolumeKind::kExt4, "ResidentFlash")) return false;
         w.m_image.Lay("SDMMC/Backup/Navi/a.txt=a" + kKeep);
         EXPECT_TRUE(std::static_pointer_cast<CTempVolume>(held.back())->Remount(true));
         return true;
       },
       19,
       "cannot copy \\SDMMC\\Backup\\Navi to \\ResidentFlash\\Navi: The media is write protected. "
       "(code 19)",
       false},
      {"an ext4 flash out of inodes: the folder that cannot be made",
       [](CWorld& w, auto& held) {
         if (!Mounted(w, held, EVolumeKind::kExt4, "ResidentFlash", 2)) return false;
         for (int i = 0; i < 300; ++i) w.m_image.Folder("SDMMC/Backup/Navi/d" + std::to_string(i));
         w.m_image.Lay(kKeep);
         return true;
       },
       112, "There is not enough space on the disk. (code 112)", true},
      {"a name exFAT refuses",
       [](CWorld& w, auto& held) {
         if (!Mounted(w, held, EVolumeKind::kExfat, "ResidentFlash")) return false;
         w.m_image.Lay("SDMMC/Backup/Navi/a:b.txt=x" + kKeep);
         return true;
       },
       123,
       "cannot copy \\SDMMC\\Backup\\Navi\\a:b.txt to \\ResidentFlash\\Navi\\a:b.txt: The "
       "filename, directory name, or volume label syntax is incorrect. (code 123)",
       true},
      {"a backup file on a FAT card whose cluster chain is cut reads short",
       DamagedCard(0x0FFFFFFF), 30, kUnreadable, true},
      {"a backup file on a FAT card whose chain leads to a bad cluster cannot be read (EPERM)",
       DamagedCard(0x0FFFFFF7), 30, kUnreadable, true},
      {"a data folder on a read-only mount: the run fails naming what stayed",
       [](CWorld& w, auto& held) {
         w.m_image.Lay("SDMMC/Backup/Navi/a.txt=a" + kKeep);
         auto bind = std::make_shared<CReadOnlyBind>(w.m_image.Host("SDMMC/OrvaneData/AppData"));
         held.push_back(bind);
         if (!bind->Ok()) std::printf("skipped: %s\n", bind->Why().c_str());
         return bind->Ok();
       },
       19,
       "cannot delete \\SDMMC\\OrvaneData\\AppData\\settings.ini: The media is write protected. "
       "(code 19)",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszName);
    CWorld world;
    std::vector<std::shared_ptr<void>> held;
    if (!c.fnMedia(world, held)) continue;
    const CTree before = world.m_image.Snapshot();
    ::testing::internal::CaptureStderr();
    const CRun run = RunOnce(world, kNavi);
    const std::string strErr = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(run.bSuccess);
    EXPECT_EQ(run.dwError, c.dwError);
    EXPECT_NE(strErr.find(c.strLine), std::string::npos) << strErr;
    EXPECT_EQ(run.nCountdown, 0);
    const CTree after = world.m_image.Snapshot();
    EXPECT_EQ(after.count(L"\\ResidentFlash\\keep.bin"), c.bTouched ? 0u : 1u);
    EXPECT_EQ(after.count(L"\\SDMMC\\OrvaneData\\AppData\\settings.ini"), 1u);
    if (!c.bTouched) {
      EXPECT_EQ(after, before);
    }
    // The last look-ups keep their folders open: two in the root let the volumes go.
    GetFileAttributesW(L"\\ResidentFlash");
    GetFileAttributesW(L"\\SDMMC");
  }
}

}  // namespace
