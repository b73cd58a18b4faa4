// The host device answers a walk's calls on a name from what it looked up a call or two before.
// A change made through any device, on any thread, is seen by the very next call; a change made
// by others is seen once two other calls have passed.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/cstring.h"
#include "platform/files.h"
#include "platform/host/device/device.h"
#include "tests/support/image.h"

namespace {

// The attribute word, or "error N".
std::wstring Word(CHostDevice& dev, const std::wstring& strPath) {
  DWORD dw = dev.GetAttributes(strPath);
  return dw == INVALID_FILE_ATTRIBUTES ? L"error " + std::to_wstring(GetLastError())
                                       : std::to_wstring(dw);
}

// The first entry of a folder, listed so that the device keeps what it found.
std::wstring FirstListed(CHostDevice& dev, const std::wstring& strFolder) {
  std::unique_ptr<IFolderListing> listing = dev.OpenListing(strFolder);
  WIN32_FIND_DATAW data{};
  if (!listing || !listing->Next(data)) return L"";
  return data.cFileName;
}

class HostFacts : public ::testing::Test {
 protected:
  void SetUp() override { m_image.Lay("src.txt=new P/f.txt=old P/B/ L/a.txt=a"); }
  CTempImage m_image;
};

TEST_F(HostFacts, AChangeThroughAnyDeviceOnAnyThreadIsSeenByTheNextCall) {
  CHostDevice dev(m_image.Root());
  // The same device and thread.
  EXPECT_EQ(Word(dev, L"\\P\\f.txt"), L"128");
  EXPECT_TRUE(dev.SetAttributes(L"\\P\\f.txt", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(Word(dev, L"\\P\\f.txt"), L"1");
  EXPECT_TRUE(dev.SetAttributes(L"\\P\\f.txt", 0));
  EXPECT_TRUE(dev.DeleteFile(L"\\P\\f.txt"));
  EXPECT_EQ(Word(dev, L"\\P\\f.txt"), L"error 2");
  EXPECT_TRUE(dev.CopyFile(L"\\src.txt", L"\\P\\f.txt", FALSE));
  EXPECT_EQ(Word(dev, L"\\P\\f.txt"), L"128");
  EXPECT_EQ(ReadHostFile(m_image.Host("P/f.txt")), "new");

  // An entry just listed, deleted: the next calls on it find nothing.
  ASSERT_EQ(FirstListed(dev, L"\\L"), L"a.txt");
  EXPECT_TRUE(dev.DeleteFile(L"\\L\\a.txt"));
  EXPECT_FALSE(dev.CopyFile(L"\\L\\a.txt", L"\\P\\a.txt", FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Word(dev, L"\\L\\a.txt"), L"error 2");

  // Another device on the same image.
  {
    CHostDevice other(m_image.Root());
    EXPECT_EQ(Word(dev, L"\\P\\f.txt"), L"128");
    EXPECT_TRUE(other.SetAttributes(L"\\P\\f.txt", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(Word(dev, L"\\P\\f.txt"), L"1");
  }

  // Another thread through the same device.
  EXPECT_EQ(Word(dev, L"\\P\\f.txt"), L"1");
  std::thread([&] { EXPECT_TRUE(dev.SetAttributes(L"\\P\\f.txt", 0)); }).join();
  EXPECT_EQ(Word(dev, L"\\P\\f.txt"), L"128");

  // A folder removed (and made again): a name next to one just looked up is not sought in the
  // folder that went.
  EXPECT_EQ(Word(dev, L"\\P\\B\\x.txt"), L"error 2");
  EXPECT_TRUE(dev.RemoveFolder(L"\\P\\B"));
  EXPECT_EQ(Word(dev, L"\\P\\B\\y.txt"), L"error 3");
  EXPECT_TRUE(dev.CreateFolder(L"\\P\\B"));
  EXPECT_EQ(Word(dev, L"\\P\\B\\y.txt"), L"error 2");
  EXPECT_TRUE(dev.CopyFile(L"\\src.txt", L"\\P\\B\\y.txt", FALSE));
  EXPECT_EQ(ReadHostFile(m_image.Host("P/B/y.txt")), "new");
}

TEST_F(HostFacts, WhatOthersChangeIsSeenOnceTwoOtherCallsHavePassed) {
  CHostDevice dev(m_image.Root());
  auto twoOtherCalls = [&] {
    dev.GetAttributes(L"\\src.txt");
    dev.GetAttributes(L"\\src.txt");
  };
  // A name looked up, then made read-only and then removed by others.
  EXPECT_EQ(Word(dev, L"\\P\\f.txt"), L"128");
  ASSERT_EQ(::chmod(m_image.Host("P/f.txt").c_str(), 0444), 0);
  twoOtherCalls();
  EXPECT_EQ(Word(dev, L"\\P\\f.txt"), L"1");
  ASSERT_EQ(::unlink(m_image.Host("P/f.txt").c_str()), 0);
  twoOtherCalls();
  EXPECT_EQ(Word(dev, L"\\P\\f.txt"), L"error 2");
  EXPECT_FALSE(dev.DeleteFile(L"\\P\\f.txt"));

  // An entry just listed, replaced by a folder.
  ASSERT_EQ(FirstListed(dev, L"\\L"), L"a.txt");
  ASSERT_EQ(::unlink(m_image.Host("L/a.txt").c_str()), 0);
  m_image.Folder("L/a.txt");
  twoOtherCalls();
  EXPECT_EQ(Word(dev, L"\\L\\a.txt"), L"16");
  EXPECT_FALSE(dev.DeleteFile(L"\\L\\a.txt"));
  EXPECT_TRUE(std::filesystem::is_directory(m_image.Host("L/a.txt")));

  // A missing name looked up, then made by others: a copy to it replaces theirs as a whole.
  EXPECT_EQ(Word(dev, L"\\P\\g.txt"), L"error 2");
  m_image.File("P/g.txt", "theirs", 0444);
  twoOtherCalls();
  EXPECT_FALSE(dev.CopyFile(L"\\src.txt", L"\\P\\g.txt", FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(ReadHostFile(m_image.Host("P/g.txt")), "theirs");
}

// A find handle left open past its device goes on listing its own image, and what it finds
// serves no other device, even one made in the same place.
TEST_F(HostFacts, AListingOutlivingItsDeviceServesNoOtherDevice) {
  m_image.File("L/b.txt", "b");
  alignas(CHostDevice) unsigned char place[sizeof(CHostDevice)];
  WIN32_FIND_DATAW data;
  auto* old = new (place) CHostDevice(m_image.Root());
  IDeviceBackend* pPrevious = InstallDeviceBackend(old);
  HANDLE h = FindFirstFileW(L"\\L\\*", &data);
  InstallDeviceBackend(pPrevious);
  old->~CHostDevice();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);

  CTempImage other;
  other.Folder("L");
  auto* dev = new (place) CHostDevice(other.Root());
  ASSERT_TRUE(FindNextFileW(h, &data));
  const std::wstring name = data.cFileName;
  EXPECT_TRUE(name == L"a.txt" || name == L"b.txt");
  EXPECT_EQ(Word(*dev, L"\\L\\" + name), L"error 2");
  EXPECT_FALSE(FindNextFileW(h, &data));
  EXPECT_TRUE(FindClose(h));
  dev->~CHostDevice();
}

std::wstring Code(BOOL b) { return b ? L"ok" : L"error " + std::to_wstring(GetLastError()); }

// The device calls a recovery makes on a folder, in order, with their outcomes.
std::vector<std::wstring> Exercise(CHostDevice& dev) {
  std::vector<std::wstring> out;
  DWORD a = dev.GetAttributes(L"\\P\\A\\f.txt");
  out.push_back(a == INVALID_FILE_ATTRIBUTES ? Code(FALSE) : std::to_wstring(a));
  out.push_back(Code(dev.SetAttributes(L"\\P\\A\\ro.txt", 0)));
  out.push_back(Code(dev.CopyFile(L"\\src.txt", L"\\P\\A\\new.txt", FALSE)));
  out.push_back(Code(dev.CopyFile(L"\\src.txt", L"\\P\\A\\f.txt", FALSE)));
  out.push_back(Code(dev.CreateFolder(L"\\P\\A\\Sub")));
  out.push_back(Code(dev.ReplaceFileContents(L"\\P\\A\\g.txt", "g")));
  std::string bytes;
  out.push_back(Code(dev.ReadWholeFile(L"\\P\\A\\g.txt", bytes)) + Utf8ToWide(bytes));
  out.push_back(Code(dev.DeleteFile(L"\\P\\A\\f.txt")));
  out.push_back(Code(dev.RemoveFolder(L"\\P\\A\\Sub")));
  return out;
}

void Fill(const CTempImage& image) {
  image.Lay("src.txt=new P/A/f.txt=old P/A/ro.txt=ro! Q/f.txt=q");
}

// Changes made by others, written "mv from to", "cp folder to", "rm path", "mkd path" and
// "ln path target" ($O: the outside folder), one after another.
void Change(const CTempImage& i, const std::string& strScript, const std::string& strOut) {
  std::istringstream in(strScript);
  for (std::string op, a, b; in >> op >> a;) {
    if (op != "rm" && op != "mkd") in >> b;
    if (const size_t n = b.find("$O"); n != std::string::npos) b.replace(n, 2, strOut);
    if (op == "mv") {
      ASSERT_EQ(::rename(i.Host(a).c_str(), i.Host(b).c_str()), 0);
    }
    if (op == "cp") std::filesystem::copy(i.Host(a), i.Host(b));
    if (op == "rm") std::filesystem::remove_all(i.Host(a));
    if (op == "mkd") i.Folder(a);
    if (op == "ln") i.Link(a, b);
  }
}

// The image remembers folders it resolved. A remembered folder serves unchecked only the next two
// calls of the thread that used it; after that, or on another thread, whatever happened to its
// name meanwhile (moved away, removed, replaced by a folder or by a link in or out of the image,
// the same for a folder above it), the device answers exactly as one that never saw the folder,
// and nothing outside the image is read or touched.
TEST(HostFolderCache, RemembersNothingThatChangedSince) {
  CTempImage outside;
  outside.Folder("A");
  outside.File("A/f.txt", "secret");
  outside.File("A/ro.txt", "secret", 0444);
  const std::pair<const char*, const char*> cases[] = {
      {"unchanged", ""},
      {"folder moved away", "mv P/A P/B"},
      {"folder replaced by another", "mv P/A P/B cp Q P/A"},
      {"folder removed and made again", "rm P/A mkd P/A"},
      {"folder replaced by an absolute link out", "mv P/A P/B ln P/A $O/A"},
      {"folder replaced by a relative link out", "mv P/A P/B ln P/A ../../..$O/A"},
      {"folder replaced by a link to itself moved", "mv P/A P/B ln P/A B"},
      {"folder replaced by a link to another", "mv P/A P/B ln P/A ../Q"},
      {"folder above replaced by a link out", "mv P R ln P $O"},
      {"folder above replaced by a link to itself moved", "mv P R ln P R"},
  };
  const auto outsideBefore = outside.Snapshot();
  for (const auto& [pszName, pszChange] : cases) {
    SCOPED_TRACE(pszName);
    // The same change and calls on a device that never resolved the folder before tell the answer.
    CTempImage fresh;
    Fill(fresh);
    Change(fresh, pszChange, outside.Root());
    CHostDevice freshDev(fresh.Root());
    std::vector<std::wstring> expected = Exercise(freshDev);

    for (bool bOtherThread : {false, true}) {
      SCOPED_TRACE(bOtherThread ? "next call on another thread" : "after two other calls");
      CTempImage warmed;
      Fill(warmed);
      CHostDevice warmedDev(warmed.Root());
      ASSERT_NE(warmedDev.GetAttributes(L"\\P\\A\\f.txt"), INVALID_FILE_ATTRIBUTES);
      ASSERT_NE(warmedDev.GetAttributes(L"\\P\\A\\ro.txt"), INVALID_FILE_ATTRIBUTES);
      Change(warmed, pszChange, outside.Root());
      std::vector<std::wstring> got;
      if (bOtherThread) {
        std::thread([&] { got = Exercise(warmedDev); }).join();
      } else {
        warmedDev.GetAttributes(L"\\Q");
        warmedDev.GetAttributes(L"\\Q");
        got = Exercise(warmedDev);
      }
      EXPECT_EQ(got, expected);
      EXPECT_EQ(warmed.Snapshot(), fresh.Snapshot());
      EXPECT_EQ(outside.Snapshot(), outsideBefore);
    }
  }
}

}  // namespace
