// The device's processes on the host, with real programs: copies of a system binary named like
// device programs, inside the image and outside it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

#include "platform/files.h"
#include "platform/host/device/device.h"
#include "platform/kernel.h"
#include "platform/processes.h"
#include "tests/host/image_fixture.h"

namespace {

std::vector<std::pair<DWORD, std::wstring>> Snapshot() {
  std::vector<std::pair<DWORD, std::wstring>> out;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W pe{};
  pe.dwSize = sizeof pe;
  for (BOOL ok = Process32First(snap, &pe); ok; ok = Process32Next(snap, &pe))
    out.emplace_back(pe.th32ProcessID, pe.szExeFile);
  CloseToolhelp32Snapshot(snap);
  return out;
}

class HostProcesses : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string program = ReadHostFile("/bin/sleep");
    m_image.Folder("ResidentFlash");
    m_image.Folder("SDMMC");
    m_image.File("ResidentFlash/NAV.EXE", program, 0755);
    m_image.File("SDMMC/GPS.EXE", program, 0755);
    m_outside.File("NAV.EXE", program, 0755);
    m_nav = Spawn(m_image.Host("ResidentFlash/NAV.EXE"), {"600"});
    m_gps = Spawn(m_image.Host("SDMMC/GPS.EXE"), {"600"});
    m_stranger = Spawn(m_outside.Host("NAV.EXE"), {"600"});
    m_dev = std::make_unique<CHostDevice>(m_image.Root());
    m_pPrevious = InstallDeviceBackend(m_dev.get());
  }
  void TearDown() override {
    InstallDeviceBackend(m_pPrevious);
    for (pid_t pid : {m_nav, m_gps, m_stranger})
      if (pid > 0) KillAndReap(pid);
  }

  CTempImage m_image;
  CTempImage m_outside;
  pid_t m_nav = 0, m_gps = 0, m_stranger = 0;
  std::unique_ptr<CHostDevice> m_dev;
  IDeviceBackend* m_pPrevious = nullptr;
};

TEST_F(HostProcesses, SnapshotListsOnlyProgramsInsideTheImageInAscendingPid) {
  std::vector<std::pair<DWORD, std::wstring>> expected = {{static_cast<DWORD>(m_nav), L"NAV.EXE"},
                                                          {static_cast<DWORD>(m_gps), L"GPS.EXE"}};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Snapshot(), expected);
}

TEST_F(HostProcesses, RunningProgramIsProtectedUntilTerminatedByPid) {
  const DWORD nav = static_cast<DWORD>(m_nav);
  m_image.File("SDMMC/new.bin", "new");
  EXPECT_FALSE(DeleteFileW(L"\\ResidentFlash\\NAV.EXE"));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(CopyFileW(L"\\SDMMC\\new.bin", L"\\ResidentFlash\\NAV.EXE", FALSE));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);

  HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, nav);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(TerminateProcess(h, 0));
  EXPECT_EQ(WaitForSingleObject(h, 2500), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(IsAlive(m_nav));
  int status = 0;
  ASSERT_EQ(::waitpid(m_nav, &status, 0), m_nav);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

  EXPECT_EQ(Snapshot(),
            (std::vector<std::pair<DWORD, std::wstring>>{{static_cast<DWORD>(m_gps), L"GPS.EXE"}}));
  EXPECT_TRUE(CopyFileW(L"\\SDMMC\\new.bin", L"\\ResidentFlash\\NAV.EXE", FALSE));
  EXPECT_TRUE(DeleteFileW(L"\\ResidentFlash\\NAV.EXE"));
  EXPECT_TRUE(IsAlive(m_gps));
  EXPECT_TRUE(IsAlive(m_stranger));
  m_nav = 0;  // already reaped: its pid may belong to another process by now
}

TEST_F(HostProcesses, NeverOpensAProcessOutsideTheImageOrItself) {
  const std::pair<const char*, std::pair<DWORD, DWORD>> cases[] = {
      {"same image name outside the image", {static_cast<DWORD>(m_stranger), ERROR_ACCESS_DENIED}},
      {"the calling process", {GetCurrentProcessId(), ERROR_ACCESS_DENIED}},
      {"no such process", {static_cast<DWORD>(VanishedPid()), ERROR_INVALID_PARAMETER}},
      {"pid 0", {0, ERROR_INVALID_PARAMETER}},
  };
  for (const auto& [name, c] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(OpenProcess(PROCESS_TERMINATE, FALSE, c.first), nullptr);
    EXPECT_EQ(GetLastError(), c.second);
  }
  // With the whole host as image the test program is a device program too, and still refused.
  CHostDevice whole("/");
  IDeviceBackend* previous = InstallDeviceBackend(&whole);
  EXPECT_EQ(OpenProcess(PROCESS_TERMINATE, FALSE, GetCurrentProcessId()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  InstallDeviceBackend(previous);
  EXPECT_TRUE(IsAlive(m_stranger));
  EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(::getpid()));
}

TEST_F(HostProcesses, WholeHostImageListsEveryProcessWithItsProgramName) {
  CHostDevice whole("/");
  IDeviceBackend* previous = InstallDeviceBackend(&whole);
  auto procs = Snapshot();
  InstallDeviceBackend(previous);
  EXPECT_TRUE(std::is_sorted(procs.begin(), procs.end()));
  std::string self(4096, '\0');
  self.resize(static_cast<size_t>(::readlink("/proc/self/exe", self.data(), self.size())));
  std::wstring selfName(self.begin() + static_cast<long>(self.rfind('/') + 1), self.end());
  auto has = [&](pid_t pid, const std::wstring& name) {
    return std::find(procs.begin(), procs.end(), std::make_pair(static_cast<DWORD>(pid), name)) !=
           procs.end();
  };
  EXPECT_TRUE(has(m_nav, L"NAV.EXE"));
  EXPECT_TRUE(has(m_stranger, L"NAV.EXE"));
  EXPECT_TRUE(has(::getpid(), selfName));
}

}  // namespace
