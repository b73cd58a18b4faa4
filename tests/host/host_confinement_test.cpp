// Nothing reached through the device image leaves it: `..` above the root, absolute symbolic
// links and relative ones that climb out are refused; links are never followed by listings and
// deleting one removes the link only.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cwchar>
#include <functional>
#include <memory>

#include "platform/cstring.h"
#include "platform/files.h"
#include "platform/host/device/device.h"
#include "tests/host/image_fixture.h"

namespace {

std::wstring Err() { return L"error " + std::to_wstring(GetLastError()); }
std::wstring Ok(BOOL b) { return b ? L"ok" : Err(); }
std::wstring Hex(DWORD v) {
  wchar_t buf[16];
  std::swprintf(buf, 16, L"0x%x", v);
  return buf;
}

class HostConfinement : public ::testing::Test {
 protected:
  void SetUp() override {
    m_outside.Folder("Dir");
    m_outside.File("Dir/secret.txt", "secret");
    std::string out = m_outside.Root();
    std::string outName = out.substr(out.rfind('/') + 1);
    m_image.Folder("Inside");
    m_image.File("Inside/real.txt", "in");
    m_image.Folder("Links");
    m_image.Link("Links/abs_file", out + "/Dir/secret.txt");
    m_image.Link("Links/abs_dir", out + "/Dir");
    m_image.Link("Links/abs_in", m_image.Host("Inside/real.txt"));
    m_image.Link("Links/rel_out", "../../" + outName + "/Dir/secret.txt");
    m_image.Link("Links/rel_dir_out", "../..");
    m_image.Link("Links/rel_in", "../Inside/real.txt");
    m_image.Link("Links/rel_dir_in", "../Inside");
    m_dev = std::make_unique<CHostDevice>(m_image.Root());
    m_pPrevious = InstallDeviceBackend(m_dev.get());
    m_outsideName = Utf8ToWide(outName);
  }
  void TearDown() override { InstallDeviceBackend(m_pPrevious); }

  std::wstring Attr(const std::wstring& p) {
    DWORD a = GetFileAttributesW(p.c_str());
    return a == INVALID_FILE_ATTRIBUTES ? Err() : Hex(a);
  }
  std::wstring Read(const std::wstring& p) {
    std::string bytes;
    return m_dev->ReadWholeFile(p, bytes) ? Utf8ToWide(bytes) : Err();
  }
  std::wstring List(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return Err();
    do names.push_back(std::wstring(data.cFileName) + L":" + Hex(data.dwFileAttributes));
    while (FindNextFileW(h, &data));
    FindClose(h);
    std::sort(names.begin(), names.end());
    std::wstring out;
    for (const auto& n : names) out += (out.empty() ? L"" : L" ") + n;
    return out;
  }

  CTempImage m_outside;
  CTempImage m_image;
  std::unique_ptr<CHostDevice> m_dev;
  IDeviceBackend* m_pPrevious = nullptr;
  std::wstring m_outsideName;
};

TEST_F(HostConfinement, RefusesEveryWayOutAndKeepsLinksAsFiles) {
  struct Case {
    const char* name;
    std::function<std::wstring()> run;
    std::wstring expected;
  };
  const std::vector<Case> cases = {
      {"a link reads as a file", [&] { return Attr(L"\\Links\\abs_dir"); }, L"0x80"},
      {"listing shows links as files, never . or ..", [&] { return List(L"\\Links"); },
       L"abs_dir:0x80 abs_file:0x80 abs_in:0x80 rel_dir_in:0x80 rel_dir_out:0x80 rel_in:0x80 "
       L"rel_out:0x80"},
      {"read through an absolute link", [&] { return Read(L"\\Links\\abs_file"); }, L"error 5"},
      {"read through an absolute link into the image", [&] { return Read(L"\\Links\\abs_in"); },
       L"error 5"},
      {"read through a relative link that climbs out", [&] { return Read(L"\\Links\\rel_out"); },
       L"error 5"},
      {"read through a relative link inside", [&] { return Read(L"\\Links\\rel_in"); }, L"in"},
      {"attributes through an absolute folder link",
       [&] { return Attr(L"\\Links\\abs_dir\\secret.txt"); }, L"error 5"},
      {"attributes through a climbing folder link",
       [&] { return Attr(L"\\Links\\rel_dir_out\\" + m_outsideName + L"\\Dir\\secret.txt"); },
       L"error 5"},
      {"attributes through a folder link inside",
       [&] { return Attr(L"\\Links\\rel_dir_in\\real.txt"); }, L"0x80"},
      {".. above the root", [&] { return Attr(L"\\..\\" + m_outsideName + L"\\Dir\\secret.txt"); },
       L"error 5"},
      {"list through a folder link out", [&] { return List(L"\\Links\\abs_dir"); }, L"error 5"},
      {"list through a folder link inside", [&] { return List(L"\\Links\\rel_dir_in"); },
       L"real.txt:0x80"},
      {"copy from outside",
       [&] { return Ok(CopyFileW(L"\\Links\\abs_file", L"\\Inside\\copy", FALSE)); }, L"error 5"},
      {"copy to outside",
       [&] { return Ok(CopyFileW(L"\\Inside\\real.txt", L"\\Links\\abs_dir\\x", FALSE)); },
       L"error 5"},
      {"a change follows no link, even one inside",
       [&] { return Ok(CopyFileW(L"\\Inside\\real.txt", L"\\Links\\rel_dir_in\\x", FALSE)); },
       L"error 5"},
      {"nor does a deletion", [&] { return Ok(DeleteFileW(L"\\Links\\rel_dir_in\\real.txt")); },
       L"error 5"},
      {"create a folder outside",
       [&] { return Ok(CreateDirectoryW(L"\\Links\\rel_dir_out\\evil", nullptr)); }, L"error 5"},
      {"delete a file outside", [&] { return Ok(DeleteFileW(L"\\Links\\abs_dir\\secret.txt")); },
       L"error 5"},
      {"replace a file outside",
       [&] { return Ok(m_dev->ReplaceFileContents(L"\\Links\\abs_dir\\secret.txt", "x")); },
       L"error 5"},
      {"set attributes on a link leaves its target alone",
       [&] { return Ok(SetFileAttributesW(L"\\Links\\abs_file", FILE_ATTRIBUTE_READONLY)); },
       L"ok"},
      {"a folder link is no folder to remove",
       [&] { return Ok(RemoveDirectoryW(L"\\Links\\rel_dir_in")); }, L"error 267"},
      {"deleting a link removes the link only",
       [&] { return Ok(DeleteFileW(L"\\Links\\abs_file")); }, L"ok"},
      {"deleting a folder link removes the link only",
       [&] { return Ok(DeleteFileW(L"\\Links\\rel_dir_in")); }, L"ok"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.run(), c.expected);
  }

  const std::map<std::wstring, CFakeEntry> outside = {{L"\\Dir", {0x10, ""}},
                                                      {L"\\Dir\\secret.txt", {0x80, "secret"}}};
  EXPECT_EQ(m_outside.Snapshot(), outside);
  std::string out = m_outside.Root();
  std::string outName = out.substr(out.rfind('/') + 1);
  const std::map<std::wstring, CFakeEntry> image = {
      {L"\\Inside", {0x10, ""}},
      {L"\\Inside\\real.txt", {0x80, "in"}},
      {L"\\Links", {0x10, ""}},
      {L"\\Links\\abs_dir", {0x80, "-> " + out + "/Dir"}},
      {L"\\Links\\abs_in", {0x80, "-> " + m_image.Host("Inside/real.txt")}},
      {L"\\Links\\rel_dir_out", {0x80, "-> ../.."}},
      {L"\\Links\\rel_in", {0x80, "-> ../Inside/real.txt"}},
      {L"\\Links\\rel_out", {0x80, "-> ../../" + outName + "/Dir/secret.txt"}},
  };
  EXPECT_EQ(m_image.Snapshot(), image);
}

TEST(HostPaths, MapsDevicePathsIntoTheImageInOnePlace) {
  CTempImage image;
  CHostDevice dev(image.Root());
  const std::string& r = image.Root();
  const std::pair<std::wstring, std::string> cases[] = {
      {L"\\A\\B", r + "/A/B"},
      {L"/A/B", r + "/A/B"},
      {L"\\A/B\\", r + "/A/B"},
      {L"\\", r},
      {L"", r},
      {L"\\A\\..\\B", r + "/B"},
      {L"\\A\\.\\B", r + "/A/B"},
      {L"\\..\\x", ""},
      {L"\\A\\..\\..\\x", ""},
      {L"\\\u5b8b\u4f53", r + "/\xe5\xae\x8b\xe4\xbd\x93"},
  };
  for (const auto& [device, host] : cases) EXPECT_EQ(dev.HostPathOf(device), host);
  EXPECT_EQ(dev.Image().DevicePathOf(r + "/A/B"), L"\\A\\B");
  EXPECT_EQ(dev.Image().DevicePathOf(r), L"\\");
  EXPECT_EQ(dev.Image().DevicePathOf(r + "x/A"), L"");
  EXPECT_EQ(dev.Image().DevicePathOf("/etc/passwd"), L"");
}

TEST(HostPaths, AMissingImageRootFindsNothing) {
  CHostDevice dev("/nonexistent/orvane-image");
  IDeviceBackend* previous = InstallDeviceBackend(&dev);
  WIN32_FIND_DATAW data;
  EXPECT_EQ(GetFileAttributesW(L"\\SDMMC"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(FindFirstFileW(L"\\*", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(CreateDirectoryW(L"\\SDMMC", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  InstallDeviceBackend(previous);
}

}  // namespace
