// errno to the device's codes, the attribute word of mount points and volume folders, and the
// program file name.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/host/device/device.h"
#include "platform/host/device/errors.h"
#include "tests/host/image_fixture.h"

namespace {

TEST(HostErrors, MapsErrnoToTheDeviceCodes) {
  struct Case {
    int err;
    bool parentMissing;
    DWORD code;
  };
  const Case cases[] = {
      {0, false, ERROR_SUCCESS},
      {ENOENT, false, ERROR_FILE_NOT_FOUND},
      {ENOENT, true, ERROR_PATH_NOT_FOUND},
      {ENOTDIR, false, ERROR_PATH_NOT_FOUND},
      {ELOOP, false, ERROR_PATH_NOT_FOUND},
      {EACCES, false, ERROR_ACCESS_DENIED},
      {EPERM, false, ERROR_ACCESS_DENIED},
      {EISDIR, false, ERROR_ACCESS_DENIED},
      {EXDEV, false, ERROR_ACCESS_DENIED},
      {EROFS, false, ERROR_WRITE_PROTECT},
      {ETXTBSY, false, ERROR_SHARING_VIOLATION},
      {EBUSY, false, ERROR_SHARING_VIOLATION},
      {ENOSPC, false, ERROR_DISK_FULL},
      {EDQUOT, false, ERROR_DISK_FULL},
      {EFBIG, false, ERROR_DISK_FULL},
      {ENAMETOOLONG, false, ERROR_FILENAME_EXCED_RANGE},
      {EEXIST, false, ERROR_ALREADY_EXISTS},
      {ENOTEMPTY, false, ERROR_DIR_NOT_EMPTY},
      {ENOMEM, false, ERROR_NOT_ENOUGH_MEMORY},
      {EBADF, false, ERROR_INVALID_HANDLE},
      {EINVAL, false, ERROR_INVALID_PARAMETER},
      {EIO, false, ERROR_GEN_FAILURE},
      {EPROTO, false, ERROR_GEN_FAILURE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    EXPECT_EQ(Win32FromErrno(c.err, c.parentMissing), c.code);
  }
}

TEST(HostAttributes, VolumeRootsReadExactly0x110) {
  CTempImage image;
  image.Folder("ResidentFlash");
  image.Folder("SDMMC", 0555);
  image.Folder("Data/SDMMC");
  image.Folder("Mine");
  CHostDevice dev(image.Root(), {"ResidentFlash", "SDMMC", "Mine"});
  CHostDevice whole("/");
  const std::tuple<CHostDevice*, const wchar_t*, DWORD> cases[] = {
      {&dev, L"\\ResidentFlash", 0x110},
      {&dev, L"\\SDMMC", 0x110},       // the read-only bit does not show on a volume root
      {&dev, L"\\Data\\SDMMC", 0x10},  // only right under the root
      {&dev, L"\\Mine", 0x110},        // volume names are the starter's choice
      {&dev, L"\\", 0x10},
      {&whole, L"\\proc", 0x110},       // a mount point
      {&whole, L"\\proc\\self", 0x80},  // a link
      {&whole, L"\\", 0x10},
  };
  for (const auto& [device, path, word] : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(path)));
    IDeviceBackend* previous = InstallDeviceBackend(device);
    EXPECT_EQ(GetFileAttributesW(path), word);
    InstallDeviceBackend(previous);
  }
}

std::string SelfExe() {
  std::string self(4096, '\0');
  self.resize(static_cast<size_t>(::readlink("/proc/self/exe", self.data(), self.size())));
  return self;
}

TEST(HostModuleName, SetByTheStarterElseTheExecutableMappedIntoTheImage) {
  std::string self = SelfExe();
  std::string folder = self.substr(0, self.rfind('/'));
  std::wstring name(self.begin() + static_cast<long>(self.rfind('/')), self.end());
  name[0] = L'\\';
  std::wstring hostPath(self.begin(), self.end());
  for (auto& ch : hostPath)
    if (ch == L'/') ch = L'\\';
  CTempImage other;
  CHostDevice inFolder(folder), whole("/"), outside(other.Root());
  struct Case {
    const char* name;
    CHostDevice* dev;
    std::wstring set;
    std::wstring expected;
  };
  const Case cases[] = {
      {"image holds the executable", &inFolder, L"", name},
      {"whole host", &whole, L"", hostPath},
      {"executable outside the image", &outside, L"", L"\\SDMMC\\Recovery\\Recovery.exe"},
      {"set by the starter", &outside, L"\\ResidentFlash\\Recovery.exe",
       L"\\ResidentFlash\\Recovery.exe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.dev->SetModuleFileName(c.set);
    IDeviceBackend* previous = InstallDeviceBackend(c.dev);
    wchar_t buf[MAX_PATH] = L"untouched";
    DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
    InstallDeviceBackend(previous);
    EXPECT_EQ(n, c.expected.size());
    if (n) {
      EXPECT_EQ(std::wstring(buf), c.expected);
    }
  }
}

}  // namespace
