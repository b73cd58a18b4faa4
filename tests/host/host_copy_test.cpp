// Whole-file copy on the host: a copy onto itself is refused, a name changed by others just before
// the copy is taken as it then stands, and listings tell size and time. (What a copy keeps and
// how a failed one ends: copy_in_place_test; a failed replace: path_list_image_test.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "platform/files.h"
#include "platform/host/device/device.h"
#include "tests/host/image_fixture.h"

namespace {

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  unsigned v = 12345;
  for (auto& ch : s) {
    v = v * 1103515245u + 12345u;
    ch = static_cast<char>(v >> 16);
  }
  return s;
}

class HostCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    m_image.Folder("Src");
    m_image.Folder("Dst");
    m_dev = std::make_unique<CHostDevice>(m_image.Root());
    m_pPrevious = InstallDeviceBackend(m_dev.get());
  }
  void TearDown() override { InstallDeviceBackend(m_pPrevious); }

  CTempImage m_image;
  std::unique_ptr<CHostDevice> m_dev;
  IDeviceBackend* m_pPrevious = nullptr;
};

TEST_F(HostCopy, OntoItselfThroughAnyNameIsRefusedAndLeavesTheFileWhole) {
  m_image.File("Src/a", "precious");
  ASSERT_EQ(::link(m_image.Host("Src/a").c_str(), m_image.Host("Dst/hard").c_str()), 0);
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"\\Src\\a", L"\\Src\\a"},
      {L"\\Src\\a", L"/Src//a"},
      {L"\\Dst\\..\\Src\\a", L"\\Src\\.\\a"},
      {L"\\Src\\a", L"\\Dst\\hard"},
  };
  for (const auto& [src, dst] : cases) {
    EXPECT_FALSE(CopyFileW(src, dst, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  }
  EXPECT_EQ(ReadHostFile(m_image.Host("Src/a")), "precious");
  EXPECT_EQ(m_image.Snapshot().size(), 4u);
}

// Others may change the source or the destination between a walk's look-up and its copy: the copy
// then goes by what is there when it is made.
TEST_F(HostCopy, ANameChangedJustBeforeTheCopyIsTakenAsItNowStands) {
  m_image.File("Src/a", "a");
  m_image.File("Src/b", "b");
  m_image.Folder("L");
  m_image.File("L/x", "x");
  struct Case {
    const char* name;
    mode_t mode;  // of the destination others make; 0: none made
    BOOL bFailIfExists;
    BOOL bExpected;
    DWORD dwError;
    const char* contents;
  };
  const Case cases[] = {
      {"made by others: replaced", 0644, FALSE, TRUE, 0, "a"},
      {"made by others, no replacing asked", 0644, TRUE, FALSE, ERROR_FILE_EXISTS, "theirs"},
      {"made read-only by others", 0444, FALSE, FALSE, ERROR_ACCESS_DENIED, "theirs"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = "d" + std::to_string(n++);
    const std::wstring dst = L"\\Dst\\" + std::wstring(name.begin(), name.end());
    // The walk asks about the destination, then copies to it.
    ASSERT_EQ(GetFileAttributesW(dst.c_str()), INVALID_FILE_ATTRIBUTES);
    m_image.File("Dst/" + name, "theirs", c.mode);
    EXPECT_EQ(CopyFileW(L"\\Src\\a", dst.c_str(), c.bFailIfExists), c.bExpected);
    if (!c.bExpected) {
      EXPECT_EQ(GetLastError(), c.dwError);
    }
    EXPECT_EQ(ReadHostFile(m_image.Host("Dst/" + name)), c.contents);
  }
  // A source just listed, replaced by a link to another file of the image: the link is followed.
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(L"\\L\\*", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FindClose(h);
  ASSERT_STREQ(data.cFileName, L"x");
  ASSERT_EQ(::unlink(m_image.Host("L/x").c_str()), 0);
  m_image.Link("L/x", "../Src/b");
  EXPECT_TRUE(CopyFileW(L"\\L\\x", L"\\Dst\\x", FALSE));
  EXPECT_EQ(ReadHostFile(m_image.Host("Dst/x")), "b");
  // Nothing but the copies: no temporary file stays behind.
  EXPECT_EQ(m_image.Snapshot().size(), 2u + 2 + 2 + std::size(cases) + 1);
}

TEST_F(HostCopy, ListingEntriesCarrySizeAndWriteTime) {
  m_image.File("Src/a", Pattern(70000));
  struct timespec times[2] = {{0, UTIME_OMIT}, {1234567890, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, m_image.Host("Src/a").c_str(), times, 0), 0);
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(L"\\Src\\*", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FindClose(h);
  EXPECT_STREQ(data.cFileName, L"a");
  EXPECT_EQ(data.nFileSizeLow, 70000u);
  unsigned long long t =
      (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
      data.ftLastWriteTime.dwLowDateTime;
  EXPECT_EQ(t, (1234567890ULL + 11644473600ULL) * 10000000ULL);
}

}  // namespace
