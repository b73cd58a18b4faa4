// The image remembers folders it resolved. A remembered folder serves unchecked only the next two
// calls of the thread that used it; after that, or on another thread, whatever happened to its
// name meanwhile (moved away, removed, replaced by a folder or by a link in or out of the image,
// the same for a folder above it), the device answers exactly as one that never saw the folder,
// and nothing outside the image is read or touched.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/cstring.h"
#include "platform/host/device/device.h"
#include "tests/support/image.h"

namespace {

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

struct CCase {
  const char* pszName;
  std::function<void(const CTempImage& image, const std::string& strOutside)> change;
};

void Fill(const CTempImage& image) {
  image.File("src.txt", "new");
  image.Folder("P");
  image.Folder("P/A");
  image.File("P/A/f.txt", "old");
  image.File("P/A/ro.txt", "ro", 0444);
  image.Folder("Q");
  image.File("Q/f.txt", "q");
}

void Rename(const CTempImage& image, const char* from, const char* to) {
  ASSERT_EQ(::rename(image.Host(from).c_str(), image.Host(to).c_str()), 0);
}

TEST(HostFolderCache, RemembersNothingThatChangedSince) {
  CTempImage outside;
  outside.Folder("A");
  outside.File("A/f.txt", "secret");
  outside.File("A/ro.txt", "secret", 0444);
  const std::string outRoot = outside.Root();
  const std::string outRel = "../../.." + outRoot;  // from <image>/P/A's place to the outside
  const CCase cases[] = {
      {"unchanged", [](const CTempImage&, const std::string&) {}},
      {"folder moved away",
       [](const CTempImage& i, const std::string&) { Rename(i, "P/A", "P/B"); }},
      {"folder replaced by another",
       [](const CTempImage& i, const std::string&) {
         Rename(i, "P/A", "P/B");
         std::filesystem::copy(i.Host("Q"), i.Host("P/A"));
       }},
      {"folder removed and made again",
       [](const CTempImage& i, const std::string&) {
         std::filesystem::remove_all(i.Host("P/A"));
         i.Folder("P/A");
       }},
      {"folder replaced by an absolute link out",
       [](const CTempImage& i, const std::string& o) {
         Rename(i, "P/A", "P/B");
         i.Link("P/A", o + "/A");
       }},
      {"folder replaced by a relative link out",
       [&](const CTempImage& i, const std::string&) {
         Rename(i, "P/A", "P/B");
         i.Link("P/A", outRel + "/A");
       }},
      {"folder replaced by a link to itself moved",
       [](const CTempImage& i, const std::string&) {
         Rename(i, "P/A", "P/B");
         i.Link("P/A", "B");
       }},
      {"folder replaced by a link to another",
       [](const CTempImage& i, const std::string&) {
         Rename(i, "P/A", "P/B");
         i.Link("P/A", "../Q");
       }},
      {"folder above replaced by a link out",
       [](const CTempImage& i, const std::string& o) {
         Rename(i, "P", "R");
         i.Link("P", o);
       }},
      {"folder above replaced by a link to itself moved",
       [](const CTempImage& i, const std::string&) {
         Rename(i, "P", "R");
         i.Link("P", "R");
       }},
  };
  const auto outsideBefore = outside.Snapshot();
  for (const CCase& c : cases) {
    SCOPED_TRACE(c.pszName);
    // The same change and calls on a device that never resolved the folder before tell the answer.
    CTempImage fresh;
    Fill(fresh);
    c.change(fresh, outRoot);
    CHostDevice freshDev(fresh.Root());
    std::vector<std::wstring> expected = Exercise(freshDev);

    for (bool bOtherThread : {false, true}) {
      SCOPED_TRACE(bOtherThread ? "next call on another thread" : "after two other calls");
      CTempImage warmed;
      Fill(warmed);
      CHostDevice warmedDev(warmed.Root());
      ASSERT_NE(warmedDev.GetAttributes(L"\\P\\A\\f.txt"), INVALID_FILE_ATTRIBUTES);
      ASSERT_NE(warmedDev.GetAttributes(L"\\P\\A\\ro.txt"), INVALID_FILE_ATTRIBUTES);
      c.change(warmed, outRoot);
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
