// The file calls hand paths to the device without a fresh string per call; a device that calls
// back in while it works (as a subclass of the fake may) still sees its own arguments whole. A
// listing is read from the device one entry at a time, as the caller asks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/fakes/fake_device.h"

namespace {

class CCallingBackDevice : public CFakeDevice {
 public:
  DWORD GetAttributes(const std::wstring& strPath) override {
    const std::wstring before = strPath;
    if (strPath == L"\\A\\outer.txt") GetFileAttributesW(L"\\A\\inner-and-longer-name.txt");
    seen.push_back(before == strPath ? strPath : L"clobbered: " + strPath);
    return CFakeDevice::GetAttributes(strPath);
  }
  BOOL CopyFile(const std::wstring& strSource, const std::wstring& strDest,
                BOOL bFailIfExists) override {
    const std::wstring source = strSource, dest = strDest;
    GetFileAttributesW(L"\\A\\during-copy.txt");
    seen.push_back(source == strSource && dest == strDest ? source + L" -> " + dest
                                                          : L"clobbered: " + strSource);
    return CFakeDevice::CopyFile(strSource, strDest, bFailIfExists);
  }
  std::vector<std::wstring> seen;
};

TEST(FileCalls, ADeviceCallingBackInKeepsItsOwnArguments) {
  CCallingBackDevice dev;
  CFakeDeviceScope scope(dev);
  dev.AddFolder(L"\\A");
  dev.AddFile(L"\\A\\outer.txt", "o");
  EXPECT_EQ(GetFileAttributesW(L"\\A\\outer.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(CopyFileW(L"\\A\\outer.txt", L"\\A\\copy.txt", FALSE));
  const std::vector<std::wstring> expected = {
      L"\\A\\inner-and-longer-name.txt", L"\\A\\outer.txt", L"\\A\\during-copy.txt",
      L"\\A\\outer.txt -> \\A\\copy.txt"};
  EXPECT_EQ(dev.seen, expected);
}

class CCountingListing : public IFolderListing {
 public:
  CCountingListing(int nEntries, int& nRead) : m_nEntries(nEntries), m_nRead(nRead) {}
  bool Next(WIN32_FIND_DATAW& data) override {
    if (m_nRead >= m_nEntries) return false;
    data = WIN32_FIND_DATAW{};
    data.cFileName[0] = static_cast<wchar_t>(L'a' + m_nRead++);
    return true;
  }

 private:
  int m_nEntries;
  int& m_nRead;
};

class CListingDevice : public CFakeDevice {
 public:
  std::unique_ptr<IFolderListing> OpenListing(const std::wstring& strFolder) override {
    if (strFolder != L"\\L") return CFakeDevice::OpenListing(strFolder);
    return std::make_unique<CCountingListing>(3, nRead);
  }
  int nRead = 0;
};

TEST(FileCalls, AListingIsReadAsTheCallerAsks) {
  CListingDevice dev;
  CFakeDeviceScope scope(dev);
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(L"\\L\\*", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, L"a");
  EXPECT_EQ(dev.nRead, 1);
  ASSERT_TRUE(FindNextFileW(h, &data));
  EXPECT_STREQ(data.cFileName, L"b");
  EXPECT_EQ(dev.nRead, 2);
  ASSERT_TRUE(FindNextFileW(h, &data));
  EXPECT_FALSE(FindNextFileW(h, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(h));
  // An empty folder gives no handle, as on the device.
  dev.AddFolder(L"\\E");
  EXPECT_EQ(FindFirstFileW(L"\\E\\*", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
}

}  // namespace
