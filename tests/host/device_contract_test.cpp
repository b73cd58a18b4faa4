// The host device keeps the device's rules: attribute words, error codes, a read-only file refused
// with 5 until cleared, a running program's file in use (32) until the program is gone, the
// device's processes only, paths the device cannot name refused with 206; and nothing reached
// through the image leaves it: `..` above the root and links out are refused, links are listed
// as files and deleting one removes the link only.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

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
// Entries sorted by name with their words: the host's listing order is the file system's.
std::wstring List(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &data);
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
// The snapshot's programs: "NAME" for the pids given, "NAME@pid" for any other.
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
std::wstring Open(DWORD pid, bool bKill = false) {
  HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  if (!h) return Err();
  std::wstring out = L"opened";
  if (bKill)
    out = TerminateProcess(h, 0) ? L"wait " + std::to_wstring(WaitForSingleObject(h, 2500)) : Err();
  CloseHandle(h);
  return out;
}

// A handle whose program was ended and reaped and whose pid a new program then took (forced
// through ns_last_pid, which needs privilege): ending it must leave the new program alone.
std::wstring Reused(const std::string& strProgram) {
  auto first = std::make_unique<CProgram>(strProgram);
  const DWORD pid = first->Pid();
  HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  first.reset();
  std::unique_ptr<CProgram> second;
  for (int i = 0; i < 1000 && (!second || second->Pid() != pid); ++i) {
    if (!(std::ofstream("/proc/sys/kernel/ns_last_pid") << pid - 1).flush()) break;
    second = std::make_unique<CProgram>(strProgram);
  }
  std::wstring out =
      TerminateProcess(h, 0) ? L"wait " + std::to_wstring(WaitForSingleObject(h, 0)) : Err();
  CloseHandle(h);
  if (second && second->Pid() == pid) {
    // Ended by us after the handle's call, it dies of SIGKILL only when that call reached it.
    siginfo_t info{};
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    ::waitid(P_PID, pid, &info, WEXITED | WNOWAIT);
    return out + (info.si_status == SIGKILL ? L", the new one killed" : L"");
  }
  std::fprintf(stderr, "note: a pid cannot be reused on demand here; the reuse row is not run\n");
  return L"wait 0";
}

struct CCtx {
  DWORD dwNav, dwGps;       // run \ResidentFlash\NAV.EXE and \SDMMC\GPS.EXE
  std::string strNav;       // the host path of NAV.EXE
  DWORD dwStranger;         // runs a NAV.EXE outside the image
  std::wstring strOutside;  // name of the folder next to the image's, which holds Dir\secret.txt
  std::string strRoot;      // the image's host folder
};

// One call written "op path [path]" and what the device tells of it: "ok", "error N", an
// attribute word, a listing, a file's contents. $out names the outside folder, $260 a path of
// 260 characters and $259 one of 259, $U16 one of 260 UTF-16 units in 136 characters.
std::wstring Do(std::wstring strCall, const CCtx& ctx) {
  const std::wstring e60(60, L'\U0001F600');  // two UTF-16 units each
  const std::wstring str260 =
      L"\\SDMMC\\" + std::wstring(200, L'a') + L"\\" + std::wstring(52, L'b');
  for (auto [from, to] :
       {std::pair<std::wstring, std::wstring>{L"$out", ctx.strOutside},
        {L"$260", str260},
        {L"$259", str260.substr(0, 259)},
        {L"$U16", L"\\SDMMC\\" + e60 + L"\\" + e60 + L"\\" + e60.substr(0, 4) + L"abc"}})
    for (size_t n; (n = strCall.find(from)) != std::wstring::npos;) strCall.replace(n, 4, to);
  std::wistringstream in(strCall);
  std::wstring op, a, b;
  in >> op >> a >> b;
  const std::map<std::wstring, DWORD> pids = {{L"nav", ctx.dwNav},
                                              {L"gps", ctx.dwGps},
                                              {L"self", GetCurrentProcessId()},
                                              {L"stranger", ctx.dwStranger},
                                              {L"0", 0}};
  std::string bytes;
  if (op == L"attr") return Attr(a);
  if (op == L"list") return List(a);
  if (op == L"del") return Ok(DeleteFileW(a.c_str()));
  if (op == L"rmd") return Ok(RemoveDirectoryW(a.c_str()));
  if (op == L"mkd") return Ok(CreateDirectoryW(a.c_str(), nullptr));
  if (op == L"copy" || op == L"copynew")
    return Ok(CopyFileW(a.c_str(), b.c_str(), op == L"copynew"));
  if (op == L"clear") return Ok(SetFileAttributesW(a.c_str(), GetFileAttributesW(a.c_str()) & ~3u));
  if (op == L"set") return Ok(SetFileAttributesW(a.c_str(), std::stoul(b, nullptr, 16)));
  if (op == L"read") return DeviceBackend()->ReadWholeFile(a, bytes) ? Utf8ToWide(bytes) : Err();
  if (op == L"replace") return Ok(DeviceBackend()->ReplaceFileContents(a, WideToUtf8(b)));
  if (op == L"open" || op == L"kill")
    return Open(a == L"gone" ? VanishedPid() : pids.at(a), op == L"kill");
  if (op == L"reused") return Reused(ctx.strNav);
  if (op == L"host") {
    // Made by others, beside the device: the file a. Its folder's time moves on as a later clock
    // tick would, whatever the clock's grain.
    const std::string strPath = ctx.strRoot + "/" + WideToUtf8(a);
    const std::string strFolder = strPath.substr(0, strPath.rfind('/'));
    struct stat st {};
    const bool bMade =
        !!(std::ofstream(strPath) << WideToUtf8(a)) && ::stat(strFolder.c_str(), &st) == 0;
    const struct timespec times[2] = {{0, UTIME_OMIT}, {st.st_mtim.tv_sec + 1, st.st_mtim.tv_nsec}};
    return Ok(bMade && ::utimensat(AT_FDCWD, strFolder.c_str(), times, 0) == 0);
  }
  if (op == L"snap") {
    std::wstring strInOrder = ctx.dwNav < ctx.dwGps ? L"NAV.EXE GPS.EXE " : L"GPS.EXE NAV.EXE ";
    std::wstring strSnap = Snap({ctx.dwNav, ctx.dwGps});
    return strSnap == strInOrder ? L"in pid order" : strSnap;
  }
  return L"no such op " + op;
}

struct CCase {
  const char* name;
  std::wstring script;                                                  // calls separated by "; "
  std::wstring expected;                                                // their outcomes, likewise
  std::vector<std::pair<std::wstring, std::optional<CEntry>>> changes;  // nullopt: removed
};

const CCase kCases[] = {
    {"attribute words",
     L"attr \\ResidentFlash; attr \\SDMMC; attr \\SDMMC\\Data; attr \\SDMMC\\Data\\a.txt; "
     L"attr \\ResidentFlash\\ro.txt; attr \\; attr \\Locked; attr \\Data\\SDMMC",
     L"0x110; 0x110; 0x10; 0x80; 0x1; 0x10; 0x11; 0x10",
     {}},
    {"attributes of what is missing or out of reach; both separators, dots",
     L"attr \\SDMMC\\nope; attr \\nope\\x; attr \\SDMMC\\Data\\a.txt\\x; attr \\..\\etc; "
     L"attr \\SDMMC\\..\\..\\etc; attr /SDMMC/Data/./Sub/../a.txt; attr \\SDMMC\\\\Data; "
     L"attr SDMMC\\Data\\Sub\\; attr \\SDMMC\\Data\\a.txt\\x\\y",
     L"error 2; error 3; error 3; error 5; error 5; 0x80; 0x10; 0x10; error 3",
     {}},
    {"listings, names in any script",
     L"list \\SDMMC; list \\SDMMC\\Data; list \\SDMMC\\Empty; list \\nope; "
     L"list \\SDMMC\\Data\\a.txt; list \\..; read \\SDMMC\\\u540d\u5b57.txt",
     L"Data:0x10 Empty:0x10 GPS.EXE:0x80 \u540d\u5b57.txt:0x80; Sub:0x10 a.txt:0x80; error 18; "
     L"error 3; error 3; error 5; n",
     {}},
    {"delete files, and what is not a deletable file",
     L"del \\SDMMC\\Data\\a.txt; del \\SDMMC\\nope; del \\nope\\x; del \\SDMMC\\Data; del \\; "
     L"del \\SDMMC",
     L"ok; error 2; error 3; error 5; error 5; error 5",
     {{L"\\SDMMC\\Data\\a.txt", std::nullopt}}},
    {"a read-only file refuses deletion and copies over it until its bit is cleared",
     L"del \\ResidentFlash\\ro.txt; copy \\Src\\x.txt \\ResidentFlash\\ro.txt; "
     L"clear \\ResidentFlash\\ro.txt; attr \\ResidentFlash\\ro.txt; "
     L"copy \\Src\\x.txt \\ResidentFlash\\ro.txt; del \\ResidentFlash\\ro.txt",
     L"error 5; error 5; ok; 0x80; ok; ok",
     {{L"\\ResidentFlash\\ro.txt", std::nullopt}}},
    {"a running program's file cannot be deleted, overwritten or replaced until it is ended",
     L"del \\ResidentFlash\\NAV.EXE; copy \\Src\\x.txt \\ResidentFlash\\NAV.EXE; "
     L"replace \\ResidentFlash\\NAV.EXE z; kill nav; copy \\Src\\x.txt \\ResidentFlash\\NAV.EXE; "
     L"del \\ResidentFlash\\NAV.EXE; kill nav",
     L"error 32; error 32; error 32; wait 0; ok; ok; error 87",
     {{L"\\ResidentFlash\\NAV.EXE", std::nullopt}}},
    {"remove folders",
     L"rmd \\SDMMC\\Data; rmd \\SDMMC\\Empty; rmd \\SDMMC; rmd \\; rmd \\SDMMC\\Data\\a.txt; "
     L"rmd \\SDMMC\\nope; rmd \\nope\\x; rmd \\Locked",
     L"error 145; ok; error 5; error 5; error 267; error 2; error 3; error 5",
     {{L"\\SDMMC\\Empty", std::nullopt}}},
    {"create folders",
     L"mkd \\SDMMC\\Data; mkd \\SDMMC\\Data\\a.txt; mkd \\SDMMC\\New; mkd \\nope\\New; mkd \\; "
     L"mkd \\..\\x",
     L"error 183; error 183; ok; error 3; error 183; error 5",
     {{L"\\SDMMC\\New", Folder()}}},
    {"copies: new, over an old file, keeping the read-only bit, not replacing when asked",
     L"copy \\Src\\x.txt \\SDMMC\\Data\\x.txt; copy \\SDMMC\\Data\\a.txt \\Src\\x.txt; "
     L"copy \\ResidentFlash\\ro.txt \\Src\\ro.txt; copynew \\Src\\x.txt \\SDMMC\\Data\\a.txt; "
     L"copynew \\Src\\x.txt \\SDMMC\\Data\\n.txt",
     L"ok; ok; ok; error 80; ok",
     {{L"\\SDMMC\\Data\\x.txt", File("x")},
      {L"\\Src\\x.txt", File("a")},
      {L"\\Src\\ro.txt", File("ro", 0x1)},
      {L"\\SDMMC\\Data\\n.txt", File("a")}}},
    {"copies that cannot be made: onto itself, missing, from or onto a folder, out of the image",
     L"copy \\Src\\x.txt \\Src\\x.txt; copy \\Src\\x.txt /Src/./x.txt; "
     L"copy \\Src\\x.txt \\nope\\x.txt; copy \\Src\\x.txt \\Src\\x.txt\\y; "
     L"copy \\Src\\nope \\SDMMC\\y; copy \\nope\\x \\SDMMC\\y; copy \\..\\x \\SDMMC\\y; "
     L"copy \\Src\\x.txt \\..\\y; copy \\Src \\SDMMC\\Src; copy \\Src\\x.txt \\SDMMC\\Data; "
     L"copy \\Src\\x.txt \\",
     L"error 32; error 32; error 3; error 3; error 2; error 3; error 5; error 5; error 5; "
     L"error 5; error 5",
     {}},
    {"set attributes: read-only kept, a volume root's word stays",
     L"set \\SDMMC\\Data\\a.txt 1; attr \\SDMMC\\Data\\a.txt; set \\SDMMC 11; attr \\SDMMC; "
     L"set \\SDMMC\\nope 0; set \\nope\\x 0",
     L"ok; 0x1; ok; 0x110; error 2; error 3",
     {{L"\\SDMMC\\Data\\a.txt", File("a", 0x1)}}},
    {"read and replace whole files",
     L"read \\SDMMC\\Data\\a.txt; read \\SDMMC\\Data; read \\SDMMC\\nope; read \\nope\\x; "
     L"read \\ResidentFlash\\ro.txt; replace \\SDMMC\\Data\\a.txt new; "
     L"replace \\ResidentFlash\\ro.txt z; replace \\SDMMC\\Data\\f.txt f; replace \\nope\\x n; "
     L"replace \\SDMMC\\Data d; replace \\ r",
     L"a; error 5; error 2; error 3; ro; ok; error 5; ok; error 3; error 5; error 5",
     {{L"\\SDMMC\\Data\\a.txt", File("new")}, {L"\\SDMMC\\Data\\f.txt", File("f")}}},
    {"links read as files and are never followed out of the image",
     L"attr \\Links\\abs_dir; list \\Links; read \\Links\\abs_file; read \\Links\\abs_in; "
     L"read \\Links\\rel_out; read \\Links\\rel_in; attr \\Links\\abs_dir\\secret.txt; "
     L"attr \\Links\\rel_dir_out\\$out\\Dir\\secret.txt; attr \\Links\\rel_dir_in\\x.txt; "
     L"attr \\..\\$out\\Dir\\secret.txt; list \\Links\\abs_dir; list \\Links\\rel_dir_in; "
     L"read \\Links\\loop",
     L"0x80; abs_dir:0x80 abs_file:0x80 abs_in:0x80 loop:0x80 rel_dir_in:0x80 rel_dir_out:0x80 "
     L"rel_in:0x80 rel_out:0x80; error 5; error 5; error 5; x; error 5; error 5; 0x80; error 5; "
     L"error 5; x.txt:0x80; error 3",
     {}},
    {"nothing is written through a link, not even one that stays inside; a link goes as a link",
     L"copy \\Links\\abs_file \\Src\\copy; copy \\Src\\x.txt \\Links\\abs_dir\\x; "
     L"mkd \\Links\\rel_dir_out\\evil; del \\Links\\abs_dir\\secret.txt; "
     L"replace \\Links\\abs_dir\\secret.txt x; set \\Links\\abs_file 1; rmd \\Links\\rel_dir_in; "
     L"copy \\Src\\x.txt \\Links\\rel_dir_in\\y; del \\Links\\rel_dir_in\\x.txt; "
     L"del \\Links\\abs_file; del \\Links\\rel_dir_in",
     L"error 5; error 5; error 5; error 5; error 5; ok; error 267; error 5; error 5; ok; ok",
     {{L"\\Links\\abs_file", std::nullopt}, {L"\\Links\\rel_dir_in", std::nullopt}}},
    {"processes: the image's programs in ascending pid, never the caller or an outsider, never "
     "a process that took the pid of one ended",
     L"snap; open self; open stranger; open gone; open 0; reused",
     L"in pid order; error 5; error 5; error 87; error 87; wait 0",
     {}},
    {"names without regard to case: the entry the folder has is used, replaced and never doubled; "
     "the one written exactly wins among several, none of them otherwise",
     L"attr \\residentflash; attr \\sdmmc\\DATA\\A.TXT; list \\sdmmc\\data; "
     L"copy \\src\\X.TXT \\sdmmc\\data\\A.TXT; mkd \\SDMMC\\DATA\\sub; "
     L"copy \\Src\\x.txt \\sdmmc\\data\\SUB\\new.txt; replace \\SRC\\X.TXT y; "
     L"clear \\residentflash\\RO.TXT; del \\RESIDENTFLASH\\ro.Txt; rmd \\sdmmc\\EMPTY; "
     L"attr \\TWIN\\ab; attr \\Twin\\Ab; copy \\Src\\x.txt \\twin\\aB; mkd \\Twin\\aB; "
     L"copy \\Src\\x.txt \\LINKS\\ABS_DIR\\x; read \\links\\ABS_FILE; "
     L"attr \\SDMMC\\Data\\zz; host SDMMC/Data/ZZ; attr \\SDMMC\\Data\\zZ",
     L"0x110; 0x80; Sub:0x10 a.txt:0x80; ok; error 183; ok; ok; ok; ok; ok; 0x80; error 3; "
     L"error 3; error 3; error 5; error 5; error 2; ok; 0x80",
     {{L"\\SDMMC\\Data\\a.txt", File("x")},
      {L"\\SDMMC\\Data\\Sub\\new.txt", File("x")},
      {L"\\Src\\x.txt", File("y")},
      {L"\\ResidentFlash\\ro.txt", std::nullopt},
      {L"\\SDMMC\\Empty", std::nullopt},
      {L"\\SDMMC\\Data\\ZZ", File("SDMMC/Data/ZZ")}}},
    {"a replace's temporary file is never listed; one no live run writes (pid past the largest) "
     "goes where a run lists or replaces, a live one's (pid 1) stays",
     L"host SDMMC/Data/.orvane-4194305-1.tmp; host SDMMC/Data/.orvane-1-1.tmp; list \\SDMMC\\Data; "
     L"host Src/.orvane-4194305-2.tmp; copy \\SDMMC\\Data\\a.txt \\Src\\x.txt; "
     L"host SDMMC/.orvane-4194305-3.tmp; replace \\SDMMC\\p.xml p",
     L"ok; ok; Sub:0x10 a.txt:0x80; ok; ok; ok; ok",
     {{L"\\SDMMC\\Data\\.orvane-1-1.tmp", File("SDMMC/Data/.orvane-1-1.tmp")},
      {L"\\Src\\x.txt", File("a")},
      {L"\\SDMMC\\p.xml", File("p")}}},
    {"paths of 260 characters are refused, shorter ones are looked up",
     L"attr $260; mkd $260; copy \\Src\\x.txt $260; attr $259; attr $U16",
     L"error 206; error 206; error 206; error 3; error 206",
     {}},
};

TEST(DeviceContract, CallsGiveTheDevicesResultsAndLeaveTheTreeAsTheDeviceWould) {
  CTempImage outside;
  outside.File("Dir/secret.txt", "secret");
  CProgram stranger(outside.Host("NAV.EXE"));
  const CTree outsideBefore = outside.Snapshot();
  const std::string strOut = outside.Root().substr(outside.Root().rfind('/') + 1);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    CTempImage image;
    image.Lay(
        "ResidentFlash/ro.txt=ro! SDMMC/Data/a.txt=a SDMMC/Data/Sub/ SDMMC/Empty/ Src/x.txt=x "
        "Data/SDMMC/ Locked/! SDMMC/\xE5\x90\x8D\xE5\xAD\x97.txt=n Twin/ab=1 Twin/AB=2");
    image.Link("Links/abs_file", outside.Host("Dir/secret.txt"));
    image.Link("Links/abs_dir", outside.Host("Dir"));
    image.Link("Links/abs_in", image.Host("Src/x.txt"));
    image.Link("Links/rel_out", "../../" + strOut + "/Dir/secret.txt");
    image.Link("Links/rel_dir_out", "../..");
    image.Link("Links/rel_in", "../Src/x.txt");
    image.Link("Links/rel_dir_in", "../Src");
    image.Link("Links/loop", "../Links/loop");
    CProgram nav(image.Host("ResidentFlash/NAV.EXE"));
    CProgram gps(image.Host("SDMMC/GPS.EXE"));
    CHostDevice dev(image.Root());
    CDeviceScope scope(dev);
    CTree expected = image.Snapshot();
    const CCtx ctx{nav.Pid(), gps.Pid(), image.Host("ResidentFlash/NAV.EXE"), stranger.Pid(),
                   Utf8ToWide(strOut), image.Root()};
    std::wstring strGot;
    for (size_t nFrom = 0, nTo = 0; nFrom <= c.script.size(); nFrom = nTo + 2) {
      nTo = std::min(c.script.find(L"; ", nFrom), c.script.size());
      strGot += (strGot.empty() ? L"" : L"; ") + Do(c.script.substr(nFrom, nTo - nFrom), ctx);
    }
    EXPECT_EQ(strGot, c.expected);
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

TEST(DeviceContract, AnImageWhoseRootIsMissingFindsNothing) {
  CHostDevice missing("/nonexistent/orvane-image");
  CDeviceScope scope(missing);
  WIN32_FIND_DATAW data;
  EXPECT_EQ(Attr(L"\\SDMMC"), L"error 3");
  EXPECT_EQ(FindFirstFileW(L"\\*", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Ok(CreateDirectoryW(L"\\SDMMC", nullptr)), L"error 3");
}

TEST(DeviceContract, ErrnoMapsToTheDevicesCodes) {
  const int errs[] = {0,         ENOENT,  ENOTDIR, ELOOP,  EACCES, EPERM,        EISDIR, EXDEV,
                      EROFS,     ETXTBSY, EBUSY,   ENOSPC, EDQUOT, ENAMETOOLONG, EFBIG,  EEXIST,
                      ENOTEMPTY, ENOMEM,  EBADF,   EINVAL, EIO,    EPROTO};
  const DWORD codes[] = {0,   2,   3,   3,   5,   5,   5, 5, 19, 32, 32,
                         112, 112, 206, 112, 183, 145, 8, 6, 87, 31, 31};
  ASSERT_EQ(std::size(errs), std::size(codes));
  for (size_t i = 0; i < std::size(errs); ++i)
    EXPECT_EQ(Win32FromErrno(errs[i], false), codes[i]) << errs[i];
  EXPECT_EQ(Win32FromErrno(ENOENT, true), 3u);  // the folder above is missing
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
  EXPECT_EQ(Attr(L"\\proc\\self\\root\\proc"), L"error 3");  // /proc's links to "/" are never taken
  EXPECT_EQ(Open(GetCurrentProcessId()), L"error 5");
  const std::wstring strAll = L" " + Snap({nav.Pid()});  // after a pid wrap NAV.EXE may come first
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
      {&outside, L"", L"\\SDMMC\\Recovery\\Recovery.exe"},
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
