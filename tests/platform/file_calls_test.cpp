// The file calls hand paths to the device without a fresh string per call; a device that calls
// back in while it works still sees its own arguments whole.
#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/host/device/device.h"
#include "tests/support/fault_device.h"
#include "tests/support/image.h"

namespace {

TEST(FileCalls, ADeviceCallingBackInKeepsItsOwnArguments) {
  CTempImage image;
  image.File("A/outer.txt", "o");
  CHostDevice host(image.Root());
  CFaultDevice dev(host);
  bool bInside = false;
  dev.OnCall([&](const std::wstring&) {
    if (bInside) return;
    bInside = true;
    GetFileAttributesW(L"\\A\\a-longer-name-looked-up-from-inside.txt");
    bInside = false;
  });
  EXPECT_EQ(GetFileAttributesW(L"\\A\\outer.txt"), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(CopyFileW(L"\\A\\outer.txt", L"\\A\\copy.txt", FALSE));
  dev.OnCall(nullptr);
  const std::wstring kInner = L"GetAttributes \\A\\a-longer-name-looked-up-from-inside.txt = 2";
  EXPECT_EQ(dev.Log(), (std::vector<std::wstring>{kInner, L"GetAttributes \\A\\outer.txt", kInner,
                                                  L"CopyFile \\A\\outer.txt -> \\A\\copy.txt"}));
  EXPECT_EQ(ReadHostFile(image.Host("A/copy.txt")), "o");
}

}  // namespace
