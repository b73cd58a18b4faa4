// The engine on the host backend: real files, modes, times, processes and links in a temporary
// device image.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "engine/copy_tree.h"
#include "engine/delete_tree.h"
#include "platform/host/device/device.h"
#include "tests/engine/run_harness.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& path, const std::string& bytes, fs::perms mode) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
  fs::permissions(path, mode);
}

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& ch : s) ch = static_cast<char>(gen());
  return s;
}

// A device image in a fresh temporary folder with the two volumes, installed as the device.
class CHostImage {
 public:
  CHostImage()
      : m_root(fs::temp_directory_path() /
               ("orvane-engine-" + std::to_string(::getpid()) + "-" + std::to_string(s_nSeq++))) {
    fs::create_directories(m_root / "ResidentFlash");
    fs::create_directories(m_root / "SDMMC");
    m_pDevice = std::make_unique<CHostDevice>(m_root.string());
    m_pPrevious = InstallDeviceBackend(m_pDevice.get());
  }
  ~CHostImage() {
    InstallDeviceBackend(m_pPrevious);
    std::error_code ec;
    fs::remove_all(m_root, ec);
  }
  fs::path Host(const std::string& strRel) const { return m_root / strRel; }

 private:
  static inline int s_nSeq = 0;
  fs::path m_root;
  std::unique_ptr<CHostDevice> m_pDevice;
  IDeviceBackend* m_pPrevious = nullptr;
};

// A child process running the program file; killed and reaped when the object goes.
class CChild {
 public:
  CChild(const fs::path& program, const std::string& strArg) {
    std::string strProgram = program.string();
    char* argv[] = {strProgram.data(), const_cast<char*>(strArg.c_str()), nullptr};
    if (::posix_spawn(&m_pid, strProgram.c_str(), nullptr, nullptr, argv, environ) != 0) m_pid = 0;
  }
  ~CChild() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
  }
  // Still running: not ended, not a zombie waiting to be reaped.
  bool Running() {
    if (m_pid <= 0) return false;
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
  }
  pid_t m_pid = 0;
};

struct CFileFacts {
  std::string strBytes;
  fs::perms mode;
  struct timespec mtime;
};

CFileFacts FactsOf(const fs::path& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return {ReadAll(path), fs::status(path).permissions(), st.st_mtim};
}

void SetTime(const fs::path& path, time_t sec, long nsec) {
  struct timespec times[2] = {{sec, nsec}, {sec, nsec}};
  ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// A whole run on the host: the flash emptied, the tree copied byte for byte with its modes and
// times, the data folder gone.
TEST(HostEngine, ARunCopiesTheTreeByteForByteWithModesAndTimes) {
  CHostImage image;
  const fs::perms rw = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  const fs::perms ro = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  const fs::perms rwx = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec;
  struct {
    const char* pszRel;
    std::string strBytes;
    fs::perms mode;
  } files[] = {
      {"NAVI.EXE", RandomBytes(100 * 1024, 1), rwx},
      {"data/map.dat", RandomBytes((1 << 20) + 3, 2), ro},
      {"data/empty.txt", "", rw},
      {"data/\xe5\x90\x8d\xe5\xad\x97.txt", "name", rw},
  };
  long nsec = 123456789;
  for (const auto& f : files) {
    fs::path path = image.Host("SDMMC/Backup/Navi/" + std::string(f.pszRel));
    WriteAll(path, f.strBytes, f.mode);
    SetTime(path, 981173106, nsec += 1000);
  }
  fs::create_directories(image.Host("SDMMC/Backup/Navi/sub/empty-dir"));
  WriteAll(image.Host("ResidentFlash/old/old.bin"), "old", ro);
  WriteAll(image.Host("SDMMC/OrvaneData/AppData/settings.ini"), "s", rw);

  BOOL bSuccess = FALSE;
  WithDialog({{L"\\SDMMC\\Backup\\Navi", L"\\ResidentFlash\\Navi"}},
             [&](CTestRecoveryDlg& dlg, CFakeWindows&) {
               COldDiagCapture diag;
               RunRecovery(dlg);
               bSuccess = dlg.m_bSuccess;
               EXPECT_EQ(dlg.m_nFilesCopied.load(), 4u);
               EXPECT_EQ(diag.Lines(),
                         (std::vector<std::string>{
                             "dele main:\\ResidentFlash\\old\r\n", "ignore dir:\\ResidentFlash\r\n",
                             "dele main:\\ResidentFlash\r\n", "dest:NAVI.EXE\r\n",
                             "dele main:\\SDMMC\\OrvaneData\\AppData\r\n"}));
             });
  EXPECT_EQ(bSuccess, TRUE);
  for (const auto& f : files) {
    SCOPED_TRACE(f.pszRel);
    CFileFacts src = FactsOf(image.Host("SDMMC/Backup/Navi/" + std::string(f.pszRel)));
    CFileFacts dst = FactsOf(image.Host("ResidentFlash/Navi/" + std::string(f.pszRel)));
    EXPECT_TRUE(dst.strBytes == f.strBytes);
    EXPECT_EQ(dst.mode, f.mode);
    EXPECT_EQ(dst.mtime.tv_sec, src.mtime.tv_sec);
    EXPECT_EQ(dst.mtime.tv_nsec, src.mtime.tv_nsec);
  }
  EXPECT_TRUE(fs::is_directory(image.Host("ResidentFlash/Navi/sub/empty-dir")));
  EXPECT_FALSE(fs::exists(image.Host("ResidentFlash/old")));
  EXPECT_TRUE(fs::is_directory(image.Host("ResidentFlash")));
  EXPECT_FALSE(fs::exists(image.Host("SDMMC/OrvaneData/AppData")));
  // Nothing but the tree: no temporary file left anywhere in the flash.
  int nEntries = 0;
  for (auto it = fs::recursive_directory_iterator(image.Host("ResidentFlash"));
       it != decltype(it)(); ++it)
    ++nEntries;
  EXPECT_EQ(nEntries, 8);
}

// A device program running from the image is ended and its file replaced or deleted; a program
// of the same name outside the image runs on.
TEST(HostEngine, ARunningDeviceProgramIsEndedAndReplacedButNotOneOutsideTheImage) {
  for (bool bCopy : {true, false}) {
    SCOPED_TRACE(bCopy ? "replaced by the copy" : "deleted with the flash");
    CHostImage image;
    const fs::path inside = image.Host("ResidentFlash/Navi/NAVI.EXE");
    const fs::path outside =
        image.Host("../orvane-outside-" + std::to_string(::getpid()) + "/NAVI.EXE");
    for (const fs::path& p : {inside, outside}) {
      fs::create_directories(p.parent_path());
      fs::copy_file("/bin/sleep", p, fs::copy_options::overwrite_existing);
    }
    const std::string strNew = ReadAll("/bin/true");
    WriteAll(image.Host("SDMMC/Backup/Navi/NAVI.EXE"), strNew, fs::perms::owner_all);
    CChild device(inside, "1000");
    CChild host(outside, "1000");
    ASSERT_TRUE(device.Running());
    ASSERT_TRUE(host.Running());

    COldDiagCapture diag;
    std::vector<std::string> expectedLines;
    if (bCopy) {
      HANDLE hLock = CreateMutexW(nullptr, FALSE, nullptr);
      std::atomic<DWORD> nFiles{0};
      EXPECT_EQ(CopyTree(L"\\*", L"\\SDMMC\\Backup\\Navi", L"\\ResidentFlash\\Navi", hLock, nFiles),
                TRUE);
      CloseHandle(hLock);
      EXPECT_EQ(nFiles.load(), 1u);
      EXPECT_TRUE(ReadAll(inside) == strNew);
      expectedLines = {"dest:NAVI.EXE\r\n", "terminate NAVI.EXE ok\r\n"};
    } else {
      DeleteTree(L"\\ResidentFlash");
      EXPECT_FALSE(fs::exists(inside.parent_path()));
      expectedLines = {"terminate NAVI.EXE ok\r\n", "dele main:\\ResidentFlash\\Navi\r\n",
                       "ignore dir:\\ResidentFlash\r\n", "dele main:\\ResidentFlash\r\n"};
    }
    EXPECT_EQ(diag.Lines(), expectedLines);
    EXPECT_FALSE(device.Running());
    EXPECT_TRUE(host.Running());
    EXPECT_TRUE(ReadAll(outside) == ReadAll("/bin/sleep"));
    std::error_code ec;
    fs::remove_all(outside.parent_path(), ec);
  }
}

// A link in the flash that points out of the image is removed as a link; what it names stays.
TEST(HostEngine, ALinkOutOfTheImageGoesWithTheFlashItsTargetStays) {
  CHostImage image;
  const fs::path target = image.Host("../orvane-target-" + std::to_string(::getpid()));
  WriteAll(target / "keep.txt", "keep", fs::perms::owner_read | fs::perms::owner_write);
  fs::create_directory_symlink(target, image.Host("ResidentFlash/dirlink"));
  fs::create_symlink(target / "keep.txt", image.Host("ResidentFlash/filelink"));
  COldDiagCapture diag;
  DeleteTree(L"\\ResidentFlash");
  EXPECT_EQ(diag.Lines(), (std::vector<std::string>{"ignore dir:\\ResidentFlash\r\n",
                                                    "dele main:\\ResidentFlash\r\n"}));
  EXPECT_TRUE(fs::is_empty(image.Host("ResidentFlash")));
  EXPECT_EQ(ReadAll(target / "keep.txt"), "keep");
  std::error_code ec;
  fs::remove_all(target, ec);
}

}  // namespace
