// One table of cases run against the host backend (a temporary image with a real running program)
// and the fake device: the same calls give the same results and leave the same tree. This is
// what lets the logic's tests trust the fake.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <functional>
#include <memory>
#include <optional>

#include "platform/cstring.h"
#include "platform/files.h"
#include "platform/host/device/device.h"
#include "platform/kernel.h"
#include "platform/processes.h"
#include "tests/fakes/fake_device.h"
#include "tests/host/image_fixture.h"

namespace {

using CTree = std::map<std::wstring, CFakeEntry>;

struct CCtx {
  DWORD dwNavPid;   // runs \ResidentFlash\NAV.EXE
  DWORD dwGonePid;  // no such process
};

// A device set up with the same tree and one running program.
class CDeviceUnderTest {
 public:
  virtual ~CDeviceUnderTest() = default;
  virtual CCtx Ctx() const = 0;
  virtual CTree Snapshot() const = 0;
};

std::string ProgramBytes() {
  static const std::string bytes = ReadHostFile("/bin/sleep");
  return bytes;
}

class CHostUnderTest : public CDeviceUnderTest {
 public:
  CHostUnderTest() {
    m_image.Folder("ResidentFlash");
    m_image.File("ResidentFlash/NAV.EXE", ProgramBytes(), 0755);
    m_image.File("ResidentFlash/ro.txt", "ro", 0444);
    m_image.Folder("SDMMC/Data/Sub");
    m_image.File("SDMMC/Data/a.txt", "a");
    m_image.File("SDMMC/Data/Sub/b.txt", "b");
    m_image.Folder("SDMMC/Empty");
    m_image.Folder("Src");
    m_image.File("Src/x.txt", "x");
    m_image.Folder("Locked", 0555);
    m_dev = std::make_unique<CHostDevice>(m_image.Root());
    m_pPrevious = InstallDeviceBackend(m_dev.get());
    m_nav = Spawn(m_image.Host("ResidentFlash/NAV.EXE"), {"600"});
    m_gone = VanishedPid();
  }
  ~CHostUnderTest() override {
    KillAndReap(m_nav);
    InstallDeviceBackend(m_pPrevious);
  }
  CCtx Ctx() const override { return {static_cast<DWORD>(m_nav), static_cast<DWORD>(m_gone)}; }
  CTree Snapshot() const override { return m_image.Snapshot(); }

 private:
  CTempImage m_image;
  std::unique_ptr<CHostDevice> m_dev;
  IDeviceBackend* m_pPrevious = nullptr;
  pid_t m_nav = 0;
  pid_t m_gone = 0;
};

class CFakeUnderTest : public CDeviceUnderTest {
 public:
  CFakeUnderTest() : m_scope(m_dev) {
    m_dev.AddFile(L"\\ResidentFlash\\NAV.EXE", ProgramBytes());
    m_dev.AddFile(L"\\ResidentFlash\\ro.txt", "ro", FILE_ATTRIBUTE_READONLY);
    m_dev.AddFolder(L"\\SDMMC\\Data\\Sub");
    m_dev.AddFile(L"\\SDMMC\\Data\\a.txt", "a");
    m_dev.AddFile(L"\\SDMMC\\Data\\Sub\\b.txt", "b");
    m_dev.AddFolder(L"\\SDMMC\\Empty");
    m_dev.AddFile(L"\\Src\\x.txt", "x");
    m_dev.AddFolder(L"\\Locked", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY);
    m_dev.AddProcess(4242, L"NAV.EXE", L"\\ResidentFlash\\NAV.EXE");
  }
  CCtx Ctx() const override { return {4242, 4343}; }
  CTree Snapshot() const override { return m_dev.Snapshot(); }

 private:
  CFakeDevice m_dev;
  CFakeDeviceScope m_scope;
};

const CTree& InitialTree() {
  static const CTree tree = {
      {L"\\Locked", {0x11, ""}},
      {L"\\ResidentFlash", {0x110, ""}},
      {L"\\ResidentFlash\\NAV.EXE", {0x80, ProgramBytes()}},
      {L"\\ResidentFlash\\ro.txt", {0x1, "ro"}},
      {L"\\SDMMC", {0x110, ""}},
      {L"\\SDMMC\\Data", {0x10, ""}},
      {L"\\SDMMC\\Data\\Sub", {0x10, ""}},
      {L"\\SDMMC\\Data\\Sub\\b.txt", {0x80, "b"}},
      {L"\\SDMMC\\Data\\a.txt", {0x80, "a"}},
      {L"\\SDMMC\\Empty", {0x10, ""}},
      {L"\\Src", {0x10, ""}},
      {L"\\Src\\x.txt", {0x80, "x"}},
  };
  return tree;
}

// Outcomes as text, so that one line of the table says what every call gave.
std::wstring Err() { return L"error " + std::to_wstring(GetLastError()); }
std::wstring Ok(BOOL b) { return b ? L"ok" : Err(); }
std::wstring Hex(DWORD v) {
  wchar_t buf[16];
  std::swprintf(buf, 16, L"0x%x", v);
  return buf;
}
std::wstring Attr(LPCWSTR p) {
  DWORD a = GetFileAttributesW(p);
  return a == INVALID_FILE_ATTRIBUTES ? Err() : Hex(a);
}
std::wstring Del(LPCWSTR p) { return Ok(DeleteFileW(p)); }
std::wstring Rmd(LPCWSTR p) { return Ok(RemoveDirectoryW(p)); }
std::wstring Mkd(LPCWSTR p) { return Ok(CreateDirectoryW(p, nullptr)); }
std::wstring Copy(LPCWSTR s, LPCWSTR d, BOOL f = FALSE) { return Ok(CopyFileW(s, d, f)); }
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
std::wstring Snap(const CCtx& ctx) {
  std::wstring out;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W pe{};
  pe.dwSize = sizeof pe;
  for (BOOL ok = Process32First(snap, &pe); ok; ok = Process32Next(snap, &pe))
    out += std::wstring(pe.szExeFile) + (pe.th32ProcessID == ctx.dwNavPid ? L"=nav " : L"=? ");
  CloseToolhelp32Snapshot(snap);
  return out;
}
std::wstring Open(DWORD pid) {
  HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  if (!h) return Err();
  CloseHandle(h);
  return L"opened";
}

struct CCase {
  const char* name;
  std::function<std::vector<std::wstring>(const CCtx&)> run;
  std::vector<std::wstring> expected;
  std::vector<std::pair<std::wstring, std::optional<CFakeEntry>>> changes;  // nullopt: removed
};

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
                  Attr(L"\\Locked")};
       },
       {L"0x110", L"0x110", L"0x10", L"0x80", L"0x1", L"0x10", L"0x11"},
       {}},
      {"attributes of what is missing or out of reach",
       [](const CCtx&) {
         return V{Attr(L"\\SDMMC\\nope"), Attr(L"\\nope\\x"), Attr(L"\\SDMMC\\Data\\a.txt\\x"),
                  Attr(L"\\..\\etc"), Attr(L"\\SDMMC\\..\\..\\etc")};
       },
       {L"error 2", L"error 3", L"error 3", L"error 5", L"error 5"},
       {}},
      {"both separators, dots and doubled separators",
       [](const CCtx&) {
         return V{Attr(L"/SDMMC/Data/./Sub/../a.txt"), Attr(L"\\SDMMC\\\\Data"),
                  Attr(L"SDMMC\\Data\\Sub\\")};
       },
       {L"0x80", L"0x10", L"0x10"},
       {}},
      {"listings",
       [](const CCtx&) {
         return V{
             List(L"\\SDMMC"), List(L"\\SDMMC\\Data"),        List(L""),    List(L"\\SDMMC\\Empty"),
             List(L"\\nope"),  List(L"\\SDMMC\\Data\\a.txt"), List(L"\\..")};
       },
       {L"Data:0x10 Empty:0x10", L"Sub:0x10 a.txt:0x80",
        L"Locked:0x11 ResidentFlash:0x110 SDMMC:0x110 Src:0x10", L"error 18", L"error 3",
        L"error 3", L"error 5"},
       {}},
      {"delete a file",
       [](const CCtx&) { return V{Del(L"\\SDMMC\\Data\\a.txt")}; },
       {L"ok"},
       {{L"\\SDMMC\\Data\\a.txt", std::nullopt}}},
      {"delete what is not a deletable file",
       [](const CCtx&) {
         return V{Del(L"\\SDMMC\\nope"), Del(L"\\nope\\x"), Del(L"\\SDMMC\\Data"), Del(L"\\"),
                  Del(L"\\SDMMC")};
       },
       {L"error 2", L"error 3", L"error 5", L"error 5", L"error 5"},
       {}},
      {"a read-only file refuses deletion until its bit is cleared",
       [](const CCtx&) {
         return V{Del(L"\\ResidentFlash\\ro.txt"), Clear(L"\\ResidentFlash\\ro.txt"),
                  Attr(L"\\ResidentFlash\\ro.txt"), Del(L"\\ResidentFlash\\ro.txt")};
       },
       {L"error 5", L"ok", L"0x80", L"ok"},
       {{L"\\ResidentFlash\\ro.txt", std::nullopt}}},
      {"a running program's file cannot be deleted, overwritten or replaced",
       [](const CCtx&) {
         return V{Del(L"\\ResidentFlash\\NAV.EXE"),
                  Copy(L"\\Src\\x.txt", L"\\ResidentFlash\\NAV.EXE"),
                  Replace(L"\\ResidentFlash\\NAV.EXE", "z")};
       },
       {L"error 32", L"error 32", L"error 32"},
       {}},
      {"a terminated program's file can go",
       [](const CCtx& ctx) {
         return V{Kill(ctx.dwNavPid), Del(L"\\ResidentFlash\\NAV.EXE"), Kill(ctx.dwNavPid)};
       },
       {L"terminated, wait 0", L"ok", L"open error 87"},
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
       {{L"\\SDMMC\\New", CFakeEntry{0x10, ""}}}},
      {"copy files, new and over an old one",
       [](const CCtx&) {
         return V{Copy(L"\\Src\\x.txt", L"\\SDMMC\\Data\\x.txt"),
                  Copy(L"\\SDMMC\\Data\\a.txt", L"\\Src\\x.txt")};
       },
       {L"ok", L"ok"},
       {{L"\\SDMMC\\Data\\x.txt", CFakeEntry{0x80, "x"}},
        {L"\\Src\\x.txt", CFakeEntry{0x80, "a"}}}},
      {"copy onto itself is refused and leaves the file whole",
       [](const CCtx&) {
         return V{Copy(L"\\Src\\x.txt", L"\\Src\\x.txt"), Copy(L"\\Src\\x.txt", L"/Src/./x.txt")};
       },
       {L"error 32", L"error 32"},
       {}},
      {"copy into a missing folder or from a missing file",
       [](const CCtx&) {
         return V{
             Copy(L"\\Src\\x.txt", L"\\nope\\x.txt"), Copy(L"\\Src\\x.txt", L"\\Src\\x.txt\\y"),
             Copy(L"\\Src\\nope", L"\\SDMMC\\y"),     Copy(L"\\nope\\x", L"\\SDMMC\\y"),
             Copy(L"\\..\\x", L"\\SDMMC\\y"),         Copy(L"\\Src\\x.txt", L"\\..\\y")};
       },
       {L"error 3", L"error 3", L"error 2", L"error 3", L"error 5", L"error 5"},
       {}},
      {"copy from or onto a folder",
       [](const CCtx&) {
         return V{Copy(L"\\Src", L"\\SDMMC\\Src"), Copy(L"\\Src\\x.txt", L"\\SDMMC\\Data"),
                  Copy(L"\\Src\\x.txt", L"\\")};
       },
       {L"error 5", L"error 5", L"error 5"},
       {}},
      {"a read-only destination refuses the copy until cleared",
       [](const CCtx&) {
         return V{Copy(L"\\Src\\x.txt", L"\\ResidentFlash\\ro.txt"),
                  Clear(L"\\ResidentFlash\\ro.txt"),
                  Copy(L"\\Src\\x.txt", L"\\ResidentFlash\\ro.txt")};
       },
       {L"error 5", L"ok", L"ok"},
       {{L"\\ResidentFlash\\ro.txt", CFakeEntry{0x80, "x"}}}},
      {"copy that must not replace",
       [](const CCtx&) {
         return V{Copy(L"\\Src\\x.txt", L"\\SDMMC\\Data\\a.txt", TRUE),
                  Copy(L"\\Src\\x.txt", L"\\SDMMC\\Data\\n.txt", TRUE)};
       },
       {L"error 80", L"ok"},
       {{L"\\SDMMC\\Data\\n.txt", CFakeEntry{0x80, "x"}}}},
      {"a copy keeps the read-only bit",
       [](const CCtx&) { return V{Copy(L"\\ResidentFlash\\ro.txt", L"\\Src\\ro.txt")}; },
       {L"ok"},
       {{L"\\Src\\ro.txt", CFakeEntry{0x1, "ro"}}}},
      {"set attributes",
       [](const CCtx&) {
         return V{Ok(SetFileAttributesW(L"\\SDMMC\\Data\\a.txt", 0x1)),
                  Attr(L"\\SDMMC\\Data\\a.txt"),
                  Ok(SetFileAttributesW(L"\\SDMMC", 0x11)),
                  Attr(L"\\SDMMC"),
                  Ok(SetFileAttributesW(L"\\SDMMC\\nope", 0)),
                  Ok(SetFileAttributesW(L"\\nope\\x", 0))};
       },
       {L"ok", L"0x1", L"ok", L"0x110", L"error 2", L"error 3"},
       {{L"\\SDMMC\\Data\\a.txt", CFakeEntry{0x1, "a"}}}},
      {"read whole files",
       [](const CCtx&) {
         return V{Read(L"\\SDMMC\\Data\\a.txt"), Read(L"\\SDMMC\\Data"), Read(L"\\SDMMC\\nope"),
                  Read(L"\\nope\\x"), Read(L"\\ResidentFlash\\ro.txt")};
       },
       {L"a", L"error 5", L"error 2", L"error 3", L"ro"},
       {}},
      {"replace file contents",
       [](const CCtx&) {
         return V{Replace(L"\\SDMMC\\Data\\a.txt", "new"),
                  Replace(L"\\ResidentFlash\\ro.txt", "z"),
                  Replace(L"\\SDMMC\\Data\\fresh.txt", "f"),
                  Replace(L"\\nope\\x", "n"),
                  Replace(L"\\SDMMC\\Data", "d"),
                  Replace(L"\\", "r")};
       },
       {L"ok", L"error 5", L"ok", L"error 3", L"error 5", L"error 5"},
       {{L"\\SDMMC\\Data\\a.txt", CFakeEntry{0x80, "new"}},
        {L"\\SDMMC\\Data\\fresh.txt", CFakeEntry{0x80, "f"}}}},
      {"processes: the snapshot, the program itself, a vanished pid",
       [](const CCtx& ctx) {
         return V{Snap(ctx), Open(GetCurrentProcessId()), Open(ctx.dwGonePid)};
       },
       {L"NAV.EXE=nav ", L"error 5", L"error 87"},
       {}},
      {"paths of 260 characters are refused, shorter ones are looked up",
       [](const CCtx&) {
         std::wstring p260 =
             L"\\SDMMC\\" + std::wstring(200, L'a') + L"\\" + std::wstring(52, L'b');
         std::wstring p259 = p260.substr(0, 259);
         return V{Attr(p260.c_str()), Attr(p259.c_str()), Copy(L"\\Src\\x.txt", p260.c_str())};
       },
       {L"error 206", L"error 3", L"error 206"},
       {}},
  };
  return cases;
}

TEST(DeviceContract, HostAndFakeGiveTheSameResultsAndLeaveTheSameTree) {
  const std::vector<std::pair<const char*, std::function<std::unique_ptr<CDeviceUnderTest>()>>>
      backends = {
          {"host", [] { return std::make_unique<CHostUnderTest>(); }},
          {"fake", [] { return std::make_unique<CFakeUnderTest>(); }},
      };
  for (const auto& c : Cases()) {
    for (const auto& [backend, make] : backends) {
      SCOPED_TRACE(std::string(backend) + ": " + c.name);
      auto dev = make();
      ASSERT_EQ(dev->Snapshot(), InitialTree());
      EXPECT_EQ(c.run(dev->Ctx()), c.expected);
      CTree expected = InitialTree();
      for (const auto& [path, entry] : c.changes) {
        if (entry)
          expected[path] = *entry;
        else
          expected.erase(path);
      }
      EXPECT_EQ(dev->Snapshot(), expected);
    }
  }
}

}  // namespace
