// The host device keeps the device's rules: attribute words, error codes, a read-only file refused
// with 5 until cleared, a running program's file in use (32) until the program is gone, the
// device's processes only, paths the device cannot name refused with 206; and nothing reached
// through the image leaves it: `..` above the root and links out are refused, links are listed
// as files and deleting one removes the link only.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cwchar>
#include <functional>
#include <optional>

#include "platform/cstring.h"
#include "platform/files.h"
#include "platform/host/device/device.h"
#include "platform/host/device/errors.h"
#include "platform/kernel.h"
#include "platform/processes.h"
#include "tests/support/image.h"

namespace {

std::wstring Err() { return L"error " + std::to_wstring(GetLastError()); }
std::wstring Ok(BOOL b) { return b ? L"ok" : Err(); }
std::wstring Hex(DWORD v) {
  wchar_t buf[16];
  std::swprintf(buf, 16, L"0x%x", v);
  return buf;
}
std::wstring Attr(const std::wstring& p) {
  DWORD a = GetFileAttributesW(p.c_str());
  return a == INVALID_FILE_ATTRIBUTES ? Err() : Hex(a);
}
std::wstring Del(LPCWSTR p) { return Ok(DeleteFileW(p)); }
std::wstring Rmd(LPCWSTR p) { return Ok(RemoveDirectoryW(p)); }
std::wstring Mkd(LPCWSTR p) { return Ok(CreateDirectoryW(p, nullptr)); }
std::wstring Copy(LPCWSTR s, const std::wstring& d, BOOL f = FALSE) {
  return Ok(CopyFileW(s, d.c_str(), f));
}
std::wstring Clear(LPCWSTR p) { return Ok(SetFileAttributesW(p, GetFileAttributesW(p) & ~3u)); }
std::wstring Read(LPCWSTR p) {
  std::string bytes;
  return DeviceBackend()->ReadWholeFile(p, bytes) ? Utf8ToWide(bytes) : Err();
}
std::wstring Replace(LPCWSTR p, const char* bytes) {
  return Ok(DeviceBackend()->ReplaceFileContents(p, bytes));
}
// Entries sorted by name with their words: the host's listing order is the file system's.
std::wstring List(LPCWSTR folder) {
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW((std::wstring(folder) + L"\\*").c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return Err();
  std::vector<std::wstring> names;
  do names.push_back(std::wstring(data.cFileName) + L":" + Hex(data.dwFileAttributes));
  while (FindNextFileW(h, &data));
  FindClose(h);
  std::sort(names.begin(), names.end());
  std::wstring out;
  for (const auto& n : names) out += (out.empty() ? L"" : L" ") + n;
  return out;
}
std::wstring Kill(DWORD pid) {
  HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  if (!h) return L"open " + Err();
  std::wstring out = TerminateProcess(h, 0) ? L"terminated" : L"terminate " + Err();
  out += L", wait " + std::to_wstring(WaitForSingleObject(h, 2500));
  CloseHandle(h);
  return out;
}
// The snapshot's programs: "NAME" for the image's own, "NAME@pid" for any other.
std::wstring Snap(const std::vector<DWORD>& mine) {
  std::wstring out;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W pe{};
  pe.dwSize = sizeof pe;
  DWORD dwLast = 0;
  for (BOOL ok = Process32First(snap, &pe); ok; ok = Process32Next(snap, &pe)) {
    bool bMine = std::count(mine.begin(), mine.end(), pe.th32ProcessID) > 0;
    out += std::wstring(pe.szExeFile) + (bMine ? L"" : L"@" + std::to_wstring(pe.th32ProcessID)) +
           (pe.th32ProcessID > dwLast ? L" " : L" out of order ");
    dwLast = pe.th32ProcessID;
  }
  CloseToolhelp32Snapshot(snap);
  return out;
}
std::wstring Open(DWORD pid) {
  HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  if (!h) return Err();
  CloseHandle(h);
  return L"opened";
}

struct CCtx {
  DWORD dwNav, dwGps;       // run \ResidentFlash\NAV.EXE and \SDMMC\GPS.EXE
  DWORD dwStranger;         // runs a NAV.EXE outside the image
  std::wstring strOutside;  // name of the folder next to the image's, which holds Dir\secret.txt
};

struct CCase {
  const char* name;
  std::function<std::vector<std::wstring>(const CCtx&)> run;
  std::vector<std::wstring> expected;
  std::vector<std::pair<std::wstring, std::optional<CEntry>>> changes;  // nullopt: removed
};

const std::wstring k260 = L"\\SDMMC\\" + std::wstring(200, L'a') + L"\\" + std::wstring(52, L'b');

const std::vector<CCase>& Cases() {
  using V = std::vector<std::wstring>;
  static const std::vector<CCase> cases = {
      {"attribute words",
       [](const CCtx&) {
         return V{Attr(L"\\ResidentFlash"),
                  Attr(L"\\SDMMC"),
                  Attr(L"\\SDMMC\\Data"),
                  Attr(L"\\SDMMC\\Data\\a.txt"),
                  Attr(L"\\ResidentFlash\\ro.txt"),
                  Attr(L"\\"),
                  Attr(L"\\Locked"),
                  Attr(L"\\Data\\SDMMC")};
       },
       {L"0x110", L"0x110", L"0x10", L"0x80", L"0x1", L"0x10", L"0x11", L"0x10"},
       {}},
      {"attributes of what is missing or out of reach, both separators and dots",
       [](const CCtx&) {
         return V{Attr(L"\\SDMMC\\nope"),           Attr(L"\\nope\\x"),
                  Attr(L"\\SDMMC\\Data\\a.txt\\x"), Attr(L"\\..\\etc"),
                  Attr(L"\\SDMMC\\..\\..\\etc"),    Attr(L"/SDMMC/Data/./Sub/../a.txt"),
                  Attr(L"\\SDMMC\\\\Data"),         Attr(L"SDMMC\\Data\\Sub\\")};
       },
       {L"error 2", L"error 3", L"error 3", L"error 5", L"error 5", L"0x80", L"0x10", L"0x10"},
       {}},
      {"listings",
       [](const CCtx&) {
         return V{List(L"\\SDMMC"), List(L"\\SDMMC\\Data"),        List(L"\\SDMMC\\Empty"),
                  List(L"\\nope"),  List(L"\\SDMMC\\Data\\a.txt"), List(L"\\..")};
       },
       {L"Data:0x10 Empty:0x10 GPS.EXE:0x80", L"Sub:0x10 a.txt:0x80", L"error 18", L"error 3",
        L"error 3", L"error 5"},
       {}},
      {"delete files, and what is not a deletable file",
       [](const CCtx&) {
         return V{Del(L"\\SDMMC\\Data\\a.txt"),
                  Del(L"\\SDMMC\\nope"),
                  Del(L"\\nope\\x"),
                  Del(L"\\SDMMC\\Data"),
                  Del(L"\\"),
                  Del(L"\\SDMMC")};
       },
       {L"ok", L"error 2", L"error 3", L"error 5", L"error 5", L"error 5"},
       {{L"\\SDMMC\\Data\\a.txt", std::nullopt}}},
      {"a read-only file refuses deletion and copies over it until its bit is cleared",
       [](const CCtx&) {
         return V{Del(L"\\ResidentFlash\\ro.txt"),
                  Copy(L"\\Src\\x.txt", L"\\ResidentFlash\\ro.txt"),
                  Clear(L"\\ResidentFlash\\ro.txt"),
                  Attr(L"\\ResidentFlash\\ro.txt"),
                  Copy(L"\\Src\\x.txt", L"\\ResidentFlash\\ro.txt"),
                  Del(L"\\ResidentFlash\\ro.txt")};
       },
       {L"error 5", L"error 5", L"ok", L"0x80", L"ok", L"ok"},
       {{L"\\ResidentFlash\\ro.txt", std::nullopt}}},
      {"a running program's file cannot be deleted, overwritten or replaced until it is ended",
       [](const CCtx& ctx) {
         return V{Del(L"\\ResidentFlash\\NAV.EXE"),
                  Copy(L"\\Src\\x.txt", L"\\ResidentFlash\\NAV.EXE"),
                  Replace(L"\\ResidentFlash\\NAV.EXE", "z"),
                  Kill(ctx.dwNav),
                  Copy(L"\\Src\\x.txt", L"\\ResidentFlash\\NAV.EXE"),
                  Del(L"\\ResidentFlash\\NAV.EXE"),
                  Kill(ctx.dwNav)};
       },
       {L"error 32", L"error 32", L"error 32", L"terminated, wait 0", L"ok", L"ok",
        L"open error 87"},
       {{L"\\ResidentFlash\\NAV.EXE", std::nullopt}}},
      {"remove folders",
       [](const CCtx&) {
         return V{Rmd(L"\\SDMMC\\Data"),
                  Rmd(L"\\SDMMC\\Empty"),
                  Rmd(L"\\SDMMC"),
                  Rmd(L"\\"),
                  Rmd(L"\\SDMMC\\Data\\a.txt"),
                  Rmd(L"\\SDMMC\\nope"),
                  Rmd(L"\\nope\\x"),
                  Rmd(L"\\Locked")};
       },
       {L"error 145", L"ok", L"error 5", L"error 5", L"error 267", L"error 2", L"error 3",
        L"error 5"},
       {{L"\\SDMMC\\Empty", std::nullopt}}},
      {"create folders",
       [](const CCtx&) {
         return V{Mkd(L"\\SDMMC\\Data"),
                  Mkd(L"\\SDMMC\\Data\\a.txt"),
                  Mkd(L"\\SDMMC\\New"),
                  Mkd(L"\\nope\\New"),
                  Mkd(L"\\"),
                  Mkd(L"\\..\\x")};
       },
       {L"error 183", L"error 183", L"ok", L"error 3", L"error 183", L"error 5"},
       {{L"\\SDMMC\\New", Folder()}}},
      {"copies: new, over an old file, keeping the read-only bit, not replacing when asked",
       [](const CCtx&) {
         return V{Copy(L"\\Src\\x.txt", L"\\SDMMC\\Data\\x.txt"),
                  Copy(L"\\SDMMC\\Data\\a.txt", L"\\Src\\x.txt"),
                  Copy(L"\\ResidentFlash\\ro.txt", L"\\Src\\ro.txt"),
                  Copy(L"\\Src\\x.txt", L"\\SDMMC\\Data\\a.txt", TRUE),
                  Copy(L"\\Src\\x.txt", L"\\SDMMC\\Data\\n.txt", TRUE)};
       },
       {L"ok", L"ok", L"ok", L"error 80", L"ok"},
       {{L"\\SDMMC\\Data\\x.txt", File("x")},
        {L"\\Src\\x.txt", File("a")},
        {L"\\Src\\ro.txt", File("ro", 0x1)},
        {L"\\SDMMC\\Data\\n.txt", File("a")}}},
      {"copies that cannot be made: onto itself, missing, from or onto a folder, out of the image",
       [](const CCtx&) {
         return V{Copy(L"\\Src\\x.txt", L"\\Src\\x.txt"),
                  Copy(L"\\Src\\x.txt", L"/Src/./x.txt"),
                  Copy(L"\\Src\\x.txt", L"\\nope\\x.txt"),
                  Copy(L"\\Src\\x.txt", L"\\Src\\x.txt\\y"),
                  Copy(L"\\Src\\nope", L"\\SDMMC\\y"),
                  Copy(L"\\nope\\x", L"\\SDMMC\\y"),
                  Copy(L"\\..\\x", L"\\SDMMC\\y"),
                  Copy(L"\\Src\\x.txt", L"\\..\\y"),
                  Copy(L"\\Src", L"\\SDMMC\\Src"),
                  Copy(L"\\Src\\x.txt", L"\\SDMMC\\Data"),
                  Copy(L"\\Src\\x.txt", L"\\")};
       },
       {L"error 32", L"error 32", L"error 3", L"error 3", L"error 2", L"error 3", L"error 5",
        L"error 5", L"error 5", L"error 5", L"error 5"},
       {}},
      {"set attributes: read-only kept, a volume root's word stays",
       [](const CCtx&) {
         return V{Ok(SetFileAttributesW(L"\\SDMMC\\Data\\a.txt", 0x1)),
                  Attr(L"\\SDMMC\\Data\\a.txt"),
                  Ok(SetFileAttributesW(L"\\SDMMC", 0x11)),
                  Attr(L"\\SDMMC"),
                  Ok(SetFileAttributesW(L"\\SDMMC\\nope", 0)),
                  Ok(SetFileAttributesW(L"\\nope\\x", 0))};
       },
       {L"ok", L"0x1", L"ok", L"0x110", L"error 2", L"error 3"},
       {{L"\\SDMMC\\Data\\a.txt", File("a", 0x1)}}},
      {"read and replace whole files",
       [](const CCtx&) {
         return V{Read(L"\\SDMMC\\Data\\a.txt"),
                  Read(L"\\SDMMC\\Data"),
                  Read(L"\\SDMMC\\nope"),
                  Read(L"\\nope\\x"),
                  Read(L"\\ResidentFlash\\ro.txt"),
                  Replace(L"\\SDMMC\\Data\\a.txt", "new"),
                  Replace(L"\\ResidentFlash\\ro.txt", "z"),
                  Replace(L"\\SDMMC\\Data\\f.txt", "f"),
                  Replace(L"\\nope\\x", "n"),
                  Replace(L"\\SDMMC\\Data", "d"),
                  Replace(L"\\", "r")};
       },
       {L"a", L"error 5", L"error 2", L"error 3", L"ro", L"ok", L"error 5", L"ok", L"error 3",
        L"error 5", L"error 5"},
       {{L"\\SDMMC\\Data\\a.txt", File("new")}, {L"\\SDMMC\\Data\\f.txt", File("f")}}},
      {"links read as files and are never followed out of the image",
       [](const CCtx& ctx) {
         const std::wstring strOut = L"\\" + ctx.strOutside + L"\\Dir\\secret.txt";
         return V{Attr(L"\\Links\\abs_dir"),
                  List(L"\\Links"),
                  Read(L"\\Links\\abs_file"),
                  Read(L"\\Links\\abs_in"),
                  Read(L"\\Links\\rel_out"),
                  Read(L"\\Links\\rel_in"),
                  Attr(L"\\Links\\abs_dir\\secret.txt"),
                  Attr(L"\\Links\\rel_dir_out" + strOut),
                  Attr(L"\\Links\\rel_dir_in\\x.txt"),
                  Attr(L"\\.." + strOut),
                  List(L"\\Links\\abs_dir"),
                  List(L"\\Links\\rel_dir_in")};
       },
       {L"0x80",
        L"abs_dir:0x80 abs_file:0x80 abs_in:0x80 rel_dir_in:0x80 rel_dir_out:0x80 "
        L"rel_in:0x80 rel_out:0x80",
        L"error 5", L"error 5", L"error 5", L"x", L"error 5", L"error 5", L"0x80", L"error 5",
        L"error 5", L"x.txt:0x80"},
       {}},
      {"nothing is written out of the image through a link; a link goes as a link",
       [](const CCtx&) {
         return V{Copy(L"\\Links\\abs_file", L"\\Src\\copy"),
                  Copy(L"\\Src\\x.txt", L"\\Links\\abs_dir\\x"),
                  Mkd(L"\\Links\\rel_dir_out\\evil"),
                  Del(L"\\Links\\abs_dir\\secret.txt"),
                  Replace(L"\\Links\\abs_dir\\secret.txt", "x"),
                  Ok(SetFileAttributesW(L"\\Links\\abs_file", FILE_ATTRIBUTE_READONLY)),
                  Rmd(L"\\Links\\rel_dir_in"),
                  Del(L"\\Links\\abs_file"),
                  Del(L"\\Links\\rel_dir_in")};
       },
       {L"error 5", L"error 5", L"error 5", L"error 5", L"error 5", L"ok", L"error 267", L"ok",
        L"ok"},
       {{L"\\Links\\abs_file", std::nullopt}, {L"\\Links\\rel_dir_in", std::nullopt}}},
      {"processes: the image's programs in ascending pid, never the caller or an outsider",
       [](const CCtx& ctx) {
         std::wstring strInOrder =
             ctx.dwNav < ctx.dwGps ? L"NAV.EXE GPS.EXE " : L"GPS.EXE NAV.EXE ";
         std::wstring strSnap = Snap({ctx.dwNav, ctx.dwGps});
         return V{strSnap == strInOrder ? L"in pid order" : strSnap, Open(GetCurrentProcessId()),
                  Open(ctx.dwStranger), Open(VanishedPid()), Open(0)};
       },
       {L"in pid order", L"error 5", L"error 5", L"error 87", L"error 87"},
       {}},
      {"paths of 260 characters are refused, shorter ones are looked up",
       [](const CCtx&) {
         return V{Attr(k260), Attr(k260.substr(0, 259)), Copy(L"\\Src\\x.txt", k260),
                  Ok(CreateDirectoryW(k260.c_str(), nullptr))};
       },
       {L"error 206", L"error 3", L"error 206", L"error 206"},
       {}},
  };
  return cases;
}

TEST(DeviceContract, CallsGiveTheDevicesResultsAndLeaveTheTreeAsTheDeviceWould) {
  CTempImage outside;
  outside.File("Dir/secret.txt", "secret");
  CProgram stranger(outside.Host("NAV.EXE"));
  const CTree outsideBefore = outside.Snapshot();
  const std::string strOut = outside.Root().substr(outside.Root().rfind('/') + 1);
  for (const auto& c : Cases()) {
    SCOPED_TRACE(c.name);
    CTempImage image;
    image.File("ResidentFlash/ro.txt", "ro", 0444);
    image.File("SDMMC/Data/a.txt", "a");
    image.Folder("SDMMC/Data/Sub");
    image.Folder("SDMMC/Empty");
    image.File("Src/x.txt", "x");
    image.Folder("Data/SDMMC");
    image.Folder("Locked", 0555);
    image.Link("Links/abs_file", outside.Host("Dir/secret.txt"));
    image.Link("Links/abs_dir", outside.Host("Dir"));
    image.Link("Links/abs_in", image.Host("Src/x.txt"));
    image.Link("Links/rel_out", "../../" + strOut + "/Dir/secret.txt");
    image.Link("Links/rel_dir_out", "../..");
    image.Link("Links/rel_in", "../Src/x.txt");
    image.Link("Links/rel_dir_in", "../Src");
    CProgram nav(image.Host("ResidentFlash/NAV.EXE"));
    CProgram gps(image.Host("SDMMC/GPS.EXE"));
    CHostDevice dev(image.Root());
    CDeviceScope scope(dev);
    CTree expected = image.Snapshot();
    EXPECT_EQ(c.run({nav.Pid(), gps.Pid(), stranger.Pid(), Utf8ToWide(strOut)}), c.expected);
    for (const auto& [path, entry] : c.changes) {
      if (entry)
        expected[path] = *entry;
      else
        expected.erase(path);
    }
    EXPECT_EQ(image.Snapshot(), expected);
    EXPECT_EQ(outside.Snapshot(), outsideBefore);
    EXPECT_TRUE(stranger.Alive());
  }
}

TEST(DeviceContract, DevicePathsMapIntoTheImageOnly) {
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
  // An image whose root is missing finds nothing.
  CHostDevice missing("/nonexistent/orvane-image");
  CDeviceScope scope(missing);
  WIN32_FIND_DATAW data;
  EXPECT_EQ(Attr(L"\\SDMMC"), L"error 3");
  EXPECT_EQ(FindFirstFileW(L"\\*", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Mkd(L"\\SDMMC"), L"error 3");
}

TEST(DeviceContract, ErrnoMapsToTheDevicesCodes) {
  const std::tuple<int, bool, DWORD> cases[] = {
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
  for (const auto& [err, bParentMissing, dwCode] : cases)
    EXPECT_EQ(Win32FromErrno(err, bParentMissing), dwCode) << err;
}

// The whole host as the image: mount points read as volume roots, every process is a device
// program (the caller still refused), and the program file is the executable's own path.
TEST(DeviceContract, TheWholeHostAsImage) {
  std::string self(4096, '\0');
  self.resize(static_cast<size_t>(::readlink("/proc/self/exe", self.data(), self.size())));
  CTempImage image;
  CProgram nav(image.Host("NAV.EXE"));
  CHostDevice whole("/");
  CDeviceScope scope(whole);
  EXPECT_EQ(Attr(L"\\proc"), L"0x110");
  EXPECT_EQ(Attr(L"\\proc\\self"), L"0x80");
  EXPECT_EQ(Open(GetCurrentProcessId()), L"error 5");
  std::wstring strAll = Snap({nav.Pid()});
  EXPECT_EQ(strAll.find(L"out of order"), std::wstring::npos);
  EXPECT_NE(strAll.find(L" NAV.EXE "), std::wstring::npos);
  const std::wstring strSelf = Utf8ToWide(self.substr(self.rfind('/') + 1));
  EXPECT_NE(strAll.find(strSelf + L"@" + std::to_wstring(::getpid())), std::wstring::npos);

  std::wstring strSelfPath = Utf8ToWide(self);
  std::replace(strSelfPath.begin(), strSelfPath.end(), L'/', L'\\');
  image.Folder("Mine");
  CHostDevice inFolder(self.substr(0, self.rfind('/'))), outside(image.Root(), {"Mine"});
  {
    CDeviceScope mine(outside);
    EXPECT_EQ(Attr(L"\\Mine"), L"0x110");  // volume names are the starter's choice
    EXPECT_EQ(Attr(L"\\NAV.EXE"), L"0x80");
  }
  const std::tuple<CHostDevice*, std::wstring, std::wstring> modules[] = {
      {&whole, L"", strSelfPath},
      {&inFolder, L"", L"\\" + strSelf},
      {&outside, L"", L""},
      {&outside, L"\\ResidentFlash\\Recovery.exe", L"\\ResidentFlash\\Recovery.exe"},
  };
  for (const auto& [dev, strSet, strExpected] : modules) {
    dev->SetModuleFileName(strSet);
    CDeviceScope inner(*dev);
    wchar_t buf[MAX_PATH] = L"";
    EXPECT_EQ(std::wstring(buf, GetModuleFileNameW(nullptr, buf, MAX_PATH)), strExpected);
  }
}

}  // namespace
