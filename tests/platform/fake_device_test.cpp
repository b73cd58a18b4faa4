// The fake device's own controls: listing order, injected failures, the record and the process
// table. The rules it shares with the host are checked in tests/host/device_contract_test.cpp.
#include "tests/fakes/fake_device.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/kernel.h"
#include "platform/processes.h"

namespace {

std::vector<std::wstring> ListNames(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return names;
  do names.push_back(data.cFileName);
  while (FindNextFileW(h, &data));
  FindClose(h);
  return names;
}

// Ends a process the way the engine does: snapshot, open, terminate, wait 2500 ms.
DWORD KillAndWait(DWORD pid) {
  HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  if (!h) return WAIT_FAILED;
  TerminateProcess(h, 0);
  DWORD r = WaitForSingleObject(h, 2500);
  CloseHandle(h);
  return r;
}

TEST(FakeDevice, ListsInTheOrderTheTestChooses) {
  struct Case {
    const char* name;
    EFakeListing listing;
    std::vector<std::wstring> order;  // for \D, empty for none
    std::vector<std::wstring> expected;
  };
  const Case cases[] = {
      {"insertion", EFakeListing::kInsertion, {}, {L"b", L"a", L"c"}},
      {"reverse", EFakeListing::kReverse, {}, {L"c", L"a", L"b"}},
      {"by name", EFakeListing::kByName, {}, {L"a", L"b", L"c"}},
      {"per folder first, rest in insertion order",
       EFakeListing::kInsertion,
       {L"c", L"missing"},
       {L"c", L"b", L"a"}},
      {"per folder first, rest reversed", EFakeListing::kReverse, {L"b"}, {L"b", L"c", L"a"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CFakeDevice dev;
    CFakeDeviceScope scope(dev);
    dev.AddFile(L"\\D\\b");
    dev.AddFolder(L"\\D\\a");
    dev.AddFile(L"\\D\\c");
    dev.SetListing(c.listing);
    if (!c.order.empty()) dev.SetListingOrder(L"\\D", c.order);
    EXPECT_EQ(ListNames(L"\\D"), c.expected);
  }
}

TEST(FakeDevice, InjectedFailuresHitTheChosenCalls) {
  struct Case {
    const char* name;
    void (*arm)(CFakeDevice&);
    std::vector<std::wstring> expected;  // record of: delete a, b, c, d, then create \N
  };
  const Case cases[] = {
      {"once",
       [](CFakeDevice& d) { d.FailOnce(EFakeOp::kDeleteFile, ERROR_DISK_FULL); },
       {L"DeleteFile \\R\\a = 112", L"DeleteFile \\R\\b", L"DeleteFile \\R\\c",
        L"DeleteFile \\R\\d", L"CreateFolder \\N"}},
      {"at the 3rd",
       [](CFakeDevice& d) { d.FailAt(EFakeOp::kDeleteFile, 3, 5); },
       {L"DeleteFile \\R\\a", L"DeleteFile \\R\\b", L"DeleteFile \\R\\c = 5", L"DeleteFile \\R\\d",
        L"CreateFolder \\N"}},
      {"from the 2nd",
       [](CFakeDevice& d) { d.FailFrom(EFakeOp::kDeleteFile, 2, 32); },
       {L"DeleteFile \\R\\a", L"DeleteFile \\R\\b = 32", L"DeleteFile \\R\\c = 32",
        L"DeleteFile \\R\\d = 32", L"CreateFolder \\N"}},
      {"power cut after 3 file operations",
       [](CFakeDevice& d) { d.FailFrom(EFakeOp::kAnyFile, 4, ERROR_GEN_FAILURE); },
       {L"DeleteFile \\R\\a", L"DeleteFile \\R\\b", L"DeleteFile \\R\\c", L"DeleteFile \\R\\d = 31",
        L"CreateFolder \\N = 31"}},
      {"changes only, from the 5th",
       [](CFakeDevice& d) { d.FailFrom(EFakeOp::kAnyChange, 5, ERROR_WRITE_PROTECT); },
       {L"DeleteFile \\R\\a", L"DeleteFile \\R\\b", L"DeleteFile \\R\\c", L"DeleteFile \\R\\d",
        L"CreateFolder \\N = 19"}},
      {"one path twice",
       [](CFakeDevice& d) { d.FailPath(EFakeOp::kAnyFile, L"/R/c", ERROR_ACCESS_DENIED, 1); },
       {L"DeleteFile \\R\\a", L"DeleteFile \\R\\b", L"DeleteFile \\R\\c = 5", L"DeleteFile \\R\\d",
        L"CreateFolder \\N"}},
      {"another kind",
       [](CFakeDevice& d) { d.FailOnce(EFakeOp::kCopyFile, 5); },
       {L"DeleteFile \\R\\a", L"DeleteFile \\R\\b", L"DeleteFile \\R\\c", L"DeleteFile \\R\\d",
        L"CreateFolder \\N"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CFakeDevice dev(false);
    CFakeDeviceScope scope(dev);
    for (const wchar_t* n : {L"a", L"b", L"c", L"d"}) dev.AddFile(std::wstring(L"\\R\\") + n, "x");
    c.arm(dev);
    for (const wchar_t* p : {L"\\R\\a", L"\\R\\b", L"\\R\\c", L"\\R\\d"}) DeleteFileW(p);
    CreateDirectoryW(L"\\N", nullptr);
    EXPECT_EQ(dev.Operations(), c.expected);
    // A failed call changes nothing: the files whose deletion failed stay, and \N exists only
    // when its creation went through.
    std::map<std::wstring, CFakeEntry> left = {{L"\\R", {FILE_ATTRIBUTE_DIRECTORY, ""}}};
    for (const auto& line : c.expected) {
      if (line == L"CreateFolder \\N") left[L"\\N"] = {FILE_ATTRIBUTE_DIRECTORY, ""};
      if (line.rfind(L"DeleteFile ", 0) == 0 && line.find(L" = ") != std::wstring::npos)
        left[line.substr(11, 4)] = {FILE_ATTRIBUTE_NORMAL, "x"};
    }
    EXPECT_EQ(dev.Snapshot(), left);
  }
}

TEST(FakeDevice, RecordsEveryKindOfCallAndKeepsChangesApart) {
  CFakeDevice dev;
  CFakeDeviceScope scope(dev);
  dev.AddFile(L"\\A\\x", "1");
  dev.AddProcess(7, L"X.EXE");
  WIN32_FIND_DATAW data;
  FindClose(FindFirstFileW(L"\\A\\*", &data));
  GetFileAttributesW(L"\\A\\x");
  SetFileAttributesW(L"\\A\\x", 0x21);
  CreateDirectoryW(L"\\B", nullptr);
  CopyFileW(L"\\A\\x", L"\\B\\x", FALSE);
  CopyFileW(L"\\A\\x", L"\\B\\x", TRUE);
  DeleteFileW(L"\\B\\x");
  RemoveDirectoryW(L"\\B");
  std::string bytes;
  dev.ReadWholeFile(L"\\A\\x", bytes);
  dev.ReplaceFileContents(L"\\A\\x", "2");
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  CloseToolhelp32Snapshot(snap);
  EXPECT_EQ(KillAndWait(7), WAIT_OBJECT_0);
  const std::vector<std::wstring> all = {
      L"ListFolder \\A",
      L"GetAttributes \\A\\x",
      L"SetAttributes \\A\\x 0x21",
      L"CreateFolder \\B",
      L"CopyFile \\A\\x -> \\B\\x",
      L"CopyFile \\A\\x -> \\B\\x (fail if exists) = 80",
      L"DeleteFile \\B\\x = 5",  // the copy kept the read-only bit
      L"RemoveFolder \\B = 145",
      L"ReadWholeFile \\A\\x",
      L"ReplaceFileContents \\A\\x = 5",
      L"Snapshot",
      L"OpenProcess 7",
      L"TerminateProcess 7",
      L"WaitProcess 7 2500",
  };
  EXPECT_EQ(dev.Operations(), all);
  const std::vector<std::wstring> changes = {
      L"SetAttributes \\A\\x 0x21",      L"CreateFolder \\B",
      L"CopyFile \\A\\x -> \\B\\x",      L"CopyFile \\A\\x -> \\B\\x (fail if exists) = 80",
      L"DeleteFile \\B\\x = 5",          L"RemoveFolder \\B = 145",
      L"ReplaceFileContents \\A\\x = 5", L"TerminateProcess 7",
  };
  EXPECT_EQ(dev.Changes(), changes);
  EXPECT_EQ(dev.CallCount(EFakeOp::kAnyFile), 10);
  EXPECT_EQ(dev.CallCount(EFakeOp::kAnyChange), 7);
  EXPECT_EQ(dev.CallCount(EFakeOp::kCopyFile), 2);
}

TEST(FakeDevice, ProcessesDieAsTheyAreToldAndFreeTheirFiles) {
  struct Case {
    const char* name;
    EFakeDeath death;
    int timedOutWaits;
    std::vector<DWORD> waits;  // results of three waits after one termination
    BOOL deleteAfter;          // deleting the held file after the three waits
    std::vector<DWORD> runningAfter;
  };
  const Case cases[] = {
      {"dies", EFakeDeath::kDies, 1, {WAIT_OBJECT_0, WAIT_OBJECT_0, WAIT_OBJECT_0}, TRUE, {3}},
      {"refuses",
       EFakeDeath::kRefuses,
       1,
       {WAIT_TIMEOUT, WAIT_TIMEOUT, WAIT_TIMEOUT},
       FALSE,
       {3, 5}},
      {"slow, one wait",
       EFakeDeath::kSlow,
       1,
       {WAIT_TIMEOUT, WAIT_OBJECT_0, WAIT_OBJECT_0},
       TRUE,
       {3}},
      {"slow, two waits",
       EFakeDeath::kSlow,
       2,
       {WAIT_TIMEOUT, WAIT_TIMEOUT, WAIT_OBJECT_0},
       TRUE,
       {3}},
      {"hangs", EFakeDeath::kHangs, 1, {WAIT_TIMEOUT, WAIT_TIMEOUT, WAIT_TIMEOUT}, FALSE, {3, 5}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CFakeDevice dev;
    CFakeDeviceScope scope(dev);
    dev.AddFile(L"\\ResidentFlash\\NAV.EXE", "nav");
    dev.AddProcess(5, L"NAV.EXE", L"\\ResidentFlash\\NAV.EXE", c.death, c.timedOutWaits);
    dev.AddProcess(3, L"other.exe");
    EXPECT_FALSE(DeleteFileW(L"\\ResidentFlash\\NAV.EXE"));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);

    HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, 5);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(TerminateProcess(h, 0), c.death == EFakeDeath::kRefuses ? FALSE : TRUE);
    std::vector<DWORD> waits;
    for (int i = 0; i < 3; ++i) waits.push_back(WaitForSingleObject(h, 2500));
    CloseHandle(h);
    EXPECT_EQ(waits, c.waits);
    EXPECT_EQ(DeleteFileW(L"\\ResidentFlash\\NAV.EXE"), c.deleteAfter);
    EXPECT_EQ(dev.RunningProcesses(), c.runningAfter);
  }
}

TEST(FakeDevice, SnapshotListsRunningProcessesAscendingAndOpenRefusesItself) {
  CFakeDevice dev;
  CFakeDeviceScope scope(dev);
  dev.AddProcess(30, L"B.EXE");
  dev.AddProcess(10, L"A.EXE");
  dev.AddProcess(20, L"C.EXE");
  dev.SetCurrentProcessId(20);
  dev.EndProcess(10);
  std::vector<std::pair<DWORD, std::wstring>> seen;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W pe{};
  pe.dwSize = sizeof pe;
  for (BOOL ok = Process32First(snap, &pe); ok; ok = Process32Next(snap, &pe))
    seen.emplace_back(pe.th32ProcessID, pe.szExeFile);
  CloseToolhelp32Snapshot(snap);
  EXPECT_EQ(seen, (std::vector<std::pair<DWORD, std::wstring>>{{20, L"C.EXE"}, {30, L"B.EXE"}}));

  EXPECT_EQ(OpenProcess(PROCESS_TERMINATE, FALSE, 20), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(OpenProcess(PROCESS_TERMINATE, FALSE, 10), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(GetCurrentProcessId(), 20u);
  EXPECT_EQ(dev.RunningProcesses(), (std::vector<DWORD>{20, 30}));
}

TEST(FakeDevice, ProcessHandleOutlivingTheFakeFailsCleanly) {
  HANDLE h = nullptr;
  {
    CFakeDevice dev;
    CFakeDeviceScope scope(dev);
    dev.AddProcess(9, L"A.EXE");
    h = OpenProcess(PROCESS_TERMINATE, FALSE, 9);
    ASSERT_NE(h, nullptr);
  }
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_FAILED);
  EXPECT_FALSE(TerminateProcess(h, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  CloseHandle(h);
}

TEST(FakeDevice, ModuleFileNameIsWhatTheTestSets) {
  CFakeDevice dev;
  CFakeDeviceScope scope(dev);
  wchar_t buf[MAX_PATH];
  EXPECT_EQ(GetModuleFileNameW(nullptr, buf, MAX_PATH), 27u);
  EXPECT_STREQ(buf, L"\\ResidentFlash\\Recovery.exe");
  dev.SetModuleFileName(L"\\SDMMC\\Tool\\r.exe");
  EXPECT_EQ(GetModuleFileNameW(nullptr, buf, MAX_PATH), 17u);
  EXPECT_STREQ(buf, L"\\SDMMC\\Tool\\r.exe");
  dev.SetModuleFileName(L"");
  EXPECT_EQ(GetModuleFileNameW(nullptr, buf, MAX_PATH), 0u);
}

}  // namespace
