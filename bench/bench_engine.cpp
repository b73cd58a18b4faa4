// The engine's tree walks on the host backend against the standard tools, on the same trees in
// the same run: counting against find | wc -l, copying (CountTree and CopyTree) against cp -r,
// deleting (DeleteTree) against rm -rf; and against the floor (floor.c): the same walks making
// only the system calls the device's semantics require. Then whole recoveries (the flash emptied,
// the source counted and copied, the copy flushed, the data folder deleted and flushed) against
// the shell's equivalent (rm -rf of the flash's contents, cp -r, sync -f, rm -rf of the data
// folder, sync -f) and against their floor, on tmpfs, on an ext4 volume on a loop device and on
// a FAT32 volume through fusefat; and the engine's peak memory over 200,000 files. Each round measures each side in
// turns; the report gives medians of the wall time and of the processor time (user + system, of
// this process for the engine and the floor and of the children for the tool, which stays
// meaningful on a loaded machine), the ratios engine/tool, engine/floor and floor/tool per round
// (median and range) and each side's own spread, which is the machine's noise.
//
// A first round of each is run and not counted: the first use of fresh memory by /dev/shm costs
// several times what later rounds pay.
//
// Usage: bench_engine --help.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/floor.h"
#include "bench/scratch.h"
#include "engine/copy_tree.h"
#include "engine/delete_tree.h"
#include "platform/files.h"
#include "platform/host/device/device.h"
#include "platform/kernel.h"
#include "platform/runtime.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::atomic<long> g_nDiagLines{0};
void CountDiag(const std::string&) { ++g_nDiagLines; }

struct CTime {
  double dWall;
  double dCpu;
};

double CpuSeconds(int nWho) {
  struct rusage ru {};
  ::getrusage(nWho, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

// Wall and processor time of fn; bChildren: the processor time of the processes it waited for.
CTime Measure(bool bChildren, const std::function<void()>& fn) {
  const int nWho = bChildren ? RUSAGE_CHILDREN : RUSAGE_SELF;
  double dCpu = CpuSeconds(nWho);
  auto start = Clock::now();
  fn();
  double dWall = std::chrono::duration<double>(Clock::now() - start).count();
  return {dWall, CpuSeconds(nWho) - dCpu};
}
CTime Tool(const std::function<void()>& fn) { return Measure(true, fn); }
CTime Engine(const std::function<void()>& fn) { return Measure(false, fn); }

void Shell(const std::string& strCommand) {
  if (std::system(strCommand.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", strCommand.c_str());
    std::exit(1);
  }
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct CSeries {
  std::vector<CTime> tool, floor, engine;
};

// "median ms (spread)" of one side's times; "-" for a side not measured.
std::string Side(const std::vector<double>& v) {
  if (v.empty()) return "      -";
  auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  const double dMed = Median(v);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%7.1f ms (%+4.0f%%..%+4.0f%%)", dMed * 1e3,
                (*lo / dMed - 1) * 100, (*hi / dMed - 1) * 100);
  return buf;
}

// "median (range)" of the per-round ratios engine/other.
std::string Ratio(const std::vector<double>& engine, const std::vector<double>& other) {
  if (other.size() != engine.size() || engine.empty()) return "-";
  std::vector<double> ratios;
  for (size_t i = 0; i < engine.size(); ++i) ratios.push_back(engine[i] / other[i]);
  auto [lo, hi] = std::minmax_element(ratios.begin(), ratios.end());
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f (%.2f..%.2f)", Median(ratios), *lo, *hi);
  return buf;
}

void Report(const char* pszWhat, const char* pszTool, const CSeries& s) {
  for (bool bWall : {true, false}) {
    auto pick = [&](const std::vector<CTime>& times) {
      std::vector<double> v;
      for (const CTime& t : times) v.push_back(bWall ? t.dWall : t.dCpu);
      return v;
    };
    const std::vector<double> tool = pick(s.tool), floor = pick(s.floor), engine = pick(s.engine);
    std::printf(
        "%-10s %-10s %-4s engine %s  tool %s  floor %s  engine/tool %s  engine/floor %s  "
        "floor/tool %s\n",
        pszWhat, pszTool, bWall ? "wall" : "cpu", Side(engine).c_str(), Side(tool).c_str(),
        Side(floor).c_str(), Ratio(engine, tool).c_str(), Ratio(engine, floor).c_str(),
        Ratio(floor, tool).c_str());
  }
  std::fflush(stdout);
}

void WriteFile(const fs::path& path, size_t nBytes, char fill) {
  std::ofstream out(path, std::ios::binary);
  std::string chunk(std::min<size_t>(nBytes, 1 << 20), fill);
  for (size_t left = nBytes; left > 0;) {
    size_t n = std::min(left, chunk.size());
    out.write(chunk.data(), static_cast<std::streamsize>(n));
    left -= n;
  }
}

// nFolders folders of nFiles files of nBytes each under root/SDMMC/src.
void MakeTree(const fs::path& root, int nFolders, int nFiles, size_t nBytes) {
  fs::path src = root / "SDMMC" / "src";
  for (int d = 0; d < nFolders; ++d) {
    fs::path folder = nFolders == 1 ? src : src / ("d" + std::to_string(d));
    fs::create_directories(folder);
    for (int f = 0; f < nFiles; ++f)
      WriteFile(folder / ("f" + std::to_string(f) + ".bin"), nBytes,
                static_cast<char>('a' + f % 26));
  }
}

void BenchTree(const char* pszName, const fs::path& root, int nRounds) {
  const std::string strRoot = root.string();
  const std::string strSrc = strRoot + "/SDMMC/src";
  const std::string strToolDst = strRoot + "/ResidentFlash/tool";
  const std::string strEngineDst = strRoot + "/ResidentFlash/engine";
  const int fdRoot = ::open(strRoot.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  auto check = [](bool bOk, const char* pszWhat) {
    if (bOk) return;
    std::fprintf(stderr, "%s failed\n", pszWhat);
    std::exit(1);
  };
  HANDLE hMutex = CreateMutexW(nullptr, FALSE, L"MUTEX_FOR_COPY");
  CSeries count, copy, flush, del;
  DWORD dwCounted = 0, dwCopied = 0;
  for (int i = -1; i < nRounds; ++i) {
    if (i == 0) count = copy = flush = del = CSeries{};
    // Counting.
    count.tool.push_back(Tool([&] { Shell("find " + strSrc + " -type f | wc -l >/dev/null"); }));
    count.floor.push_back(
        Engine([&] { check(FloorCount(fdRoot, "SDMMC/src") >= 0, "floor count"); }));
    count.engine.push_back(Engine([&] {
      std::atomic<DWORD> nTotal{0};
      CountTree(L"\\*", L"\\SDMMC\\src", nTotal);
      dwCounted = nTotal;
    }));
    // Copying (the job counts first, then copies), then deleting the copy just made. Each side
    // deletes its copy before the next side copies, so all write into the same free memory, and
    // the order of the sides changes every round.
    auto tool = [&] {
      copy.tool.push_back(Tool([&] { Shell("cp -r " + strSrc + " " + strToolDst); }));
      flush.tool.push_back(Tool([&] { Shell("sync -f " + strToolDst); }));
      del.tool.push_back(Tool([&] { Shell("rm -rf " + strToolDst); }));
    };
    auto floor = [&] {
      copy.floor.push_back(Engine([&] {
        check(FloorCopy(fdRoot, "SDMMC/src", "ResidentFlash/floor") >= 0, "floor copy");
      }));
      del.floor.push_back(
          Engine([&] { check(FloorDelete(fdRoot, "ResidentFlash/floor") == 0, "floor delete"); }));
    };
    auto engine = [&] {
      copy.engine.push_back(Engine([&] {
        std::atomic<DWORD> nTotal{0}, nCopied{0};
        CountTree(L"\\*", L"\\SDMMC\\src", nTotal);
        if (!CopyTree(L"\\*", L"\\SDMMC\\src", L"\\ResidentFlash\\engine", hMutex, nCopied)) {
          std::fprintf(stderr, "copy failed: %u\n", GetLastError());
          std::exit(1);
        }
        dwCopied = nCopied;
      }));
      // What a run adds before it may report success: its destination's file system flushed.
      flush.engine.push_back(Engine([&] { FlushFileSystemOf(L"\\ResidentFlash\\engine"); }));
      del.engine.push_back(Engine([&] { DeleteTree(L"\\ResidentFlash\\engine"); }));
      if (fs::exists(strEngineDst)) {
        std::fprintf(stderr, "delete left the tree behind\n");
        std::exit(1);
      }
    };
    const std::function<void()> sides[] = {tool, floor, engine};
    for (int k = 0; k < 3; ++k) sides[(k + i + 3) % 3]();
  }
  ::close(fdRoot);
  CloseHandle(hMutex);
  std::printf("%s: %u files counted, %u copied, %d rounds\n", pszName, dwCounted, dwCopied,
              nRounds);
  Report("count", "find|wc -l", count);
  Report("count+copy", "cp -r", copy);
  Report("flush", "sync -f", flush);
  Report("delete", "rm -rf", del);
}

// Whole recoveries of a tree of nFolders x nFiles files of 1 KiB on the medium ("tmpfs": the
// trees' own folder; "ext4", "fat": a volume mounted for it), by the engine and by the shell.
void BenchRecoveryOn(const char* pszMedium, const fs::path& root, int nFolders, int nFiles,
                     int nRounds) {
  const fs::path image = root / (std::string("recovery-") + pszMedium);
  fs::create_directories(image);
  std::string strWhy;
  if (std::strcmp(pszMedium, "tmpfs") != 0 &&
      !MountScratchVolume(pszMedium, image.string() + ".img", image.string(), strWhy)) {
    std::printf("recovery on %s: not measured: %s\n", pszMedium, strWhy.c_str());
    return;
  }
  MakeTree(image, nFolders, nFiles, 1024);
  const std::string strImage = image.string();
  Shell("cd " + strImage + " && mkdir -p ResidentFlash SDMMC/OrvaneData");
  CHostDevice device(strImage);
  IDeviceBackend* pPrevious = InstallDeviceBackend(&device);
  HANDLE hMutex = CreateMutexW(nullptr, FALSE, L"MUTEX_FOR_COPY");
  // Readable, not a path: syncfs needs an open file.
  const int fdImage = ::open(strImage.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // The device before a recovery: the flash as a recovery left it, the data folder filled.
  auto prepare = [&] {
    Shell("cd " + strImage + " && { [ -d ResidentFlash/Navi ] || cp -r SDMMC/src ResidentFlash/Navi; }" +
          " && cp -r SDMMC/src/" + (nFolders == 1 ? "." : "d0") + " SDMMC/OrvaneData/AppData");
  };
  CSeries run;
  DWORD dwCopied = 0;
  for (int i = -1; i < nRounds; ++i) {
    if (i == 0) run = CSeries{};
    auto tool = [&] {
      prepare();
      run.tool.push_back(Tool([&] {
        Shell("cd " + strImage +
              " && rm -rf ResidentFlash/* && cp -r SDMMC/src ResidentFlash/Navi && sync -f "
              "ResidentFlash/Navi && rm -rf SDMMC/OrvaneData/AppData && sync -f SDMMC/OrvaneData");
      }));
    };
    auto engine = [&] {
      prepare();
      run.engine.push_back(Engine([&] {
        std::atomic<DWORD> nTotal{0}, nCopied{0};
        DeleteTree(L"\\ResidentFlash");
        CountTree(L"\\*", L"\\SDMMC\\src", nTotal);
        const BOOL bOk =
            CopyTree(L"\\*", L"\\SDMMC\\src", L"\\ResidentFlash\\Navi", hMutex, nCopied) &&
            FlushFileSystemOf(L"\\ResidentFlash\\Navi");
        DeleteTree(L"\\SDMMC\\OrvaneData\\AppData");
        if (!bOk || !FlushFileSystemOf(L"\\SDMMC\\OrvaneData\\AppData") || nCopied != nTotal) {
          std::fprintf(stderr, "recovery on %s failed: %u\n", pszMedium, GetLastError());
          std::exit(1);
        }
        dwCopied = nCopied;
      }));
      if (fs::exists(image / "SDMMC/OrvaneData/AppData")) {
        std::fprintf(stderr, "recovery on %s left the data folder\n", pszMedium);
        std::exit(1);
      }
    };
    // The same recovery making only the system calls the device's semantics need.
    auto floor = [&] {
      prepare();
      run.floor.push_back(Engine([&] {
        const bool bOk = FloorDelete(fdImage, "ResidentFlash/Navi") == 0 &&
                         FloorCopy(fdImage, "SDMMC/src", "ResidentFlash/Navi") >= 0 &&
                         ::syncfs(fdImage) == 0 &&
                         FloorDelete(fdImage, "SDMMC/OrvaneData/AppData") == 0 &&
                         ::syncfs(fdImage) == 0;
        if (!bOk) {
          std::fprintf(stderr, "floor recovery on %s failed\n", pszMedium);
          std::exit(1);
        }
      }));
    };
    const std::function<void()> sides[] = {tool, floor, engine};
    for (int k = 0; k < 3; ++k) sides[(k + i + 3) % 3]();
  }
  ::close(fdImage);
  CloseHandle(hMutex);
  InstallDeviceBackend(pPrevious);
  std::printf("recovery on %s: %u files of 1 KiB in %d folders, %d rounds\n", pszMedium, dwCopied,
              nFolders, nRounds);
  Report("recovery", "rm,cp,sync", run);
}

// The engine's peak memory over a tree of nFolders x nFiles empty files: counted, copied and
// deleted, the peak taken afresh before.
void BenchMemory(const fs::path& image, int nFolders, int nFiles) {
  MakeTree(image, nFolders, nFiles, 0);
  fs::create_directories(image / "ResidentFlash");
  CHostDevice device(image.string());
  IDeviceBackend* pPrevious = InstallDeviceBackend(&device);
  HANDLE hMutex = CreateMutexW(nullptr, FALSE, L"MUTEX_FOR_COPY_MEMORY");
  auto status = [](const char* pszField) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
      if (line.rfind(pszField, 0) == 0) return std::atol(line.c_str() + std::strlen(pszField));
    return -1L;
  };
  std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
  const long nBefore = status("VmRSS:");
  std::atomic<DWORD> nTotal{0}, nCopied{0};
  const CTime t = Engine([&] {
    CountTree(L"\\*", L"\\SDMMC\\src", nTotal);
    CopyTree(L"\\*", L"\\SDMMC\\src", L"\\ResidentFlash\\copy", hMutex, nCopied);
    DeleteTree(L"\\ResidentFlash\\copy");
  });
  std::printf("memory: %u files counted, %u copied and deleted in %.1f s: peak %.1f MiB "
              "(%.1f MiB before)\n",
              static_cast<unsigned>(nTotal), static_cast<unsigned>(nCopied), t.dWall,
              static_cast<double>(status("VmHWM:")) / 1024, static_cast<double>(nBefore) / 1024);
  CloseHandle(hMutex);
  InstallDeviceBackend(pPrevious);
  fs::remove_all(image);
}

// The counter's lock around one increment, as the copy takes it per file.
void BenchLock(int nFiles) {
  HANDLE hMutex = CreateMutexW(nullptr, FALSE, L"MUTEX_FOR_COPY_BENCH");
  std::atomic<DWORD> n{0};
  double s = Engine([&] {
               for (int i = 0; i < nFiles; ++i) {
                 if (WaitForSingleObject(hMutex, INFINITE) == WAIT_OBJECT_0) {
                   n.fetch_add(1);
                   ReleaseMutex(hMutex);
                 }
               }
             }).dWall;
  CloseHandle(hMutex);
  std::printf("counter lock: %d increments in %.3f ms (%.0f ns each)\n", nFiles, s * 1e3,
              s * 1e9 / nFiles);
}

const char kUsage[] =
    "usage: bench_engine [ROUNDS] [small|large|recovery|memory]\n"
    "  Measures the engine's count, copy, flush and delete against find, cp -r, sync -f and\n"
    "  rm -rf and against their floor (small: 20,000 files of 1 KiB; large: 4 files of 256 MiB),\n"
    "  whole recoveries against the shell's equivalent and their floor on tmpfs, ext4 (loop\n"
    "  device) and FAT32 (fusefat; both need root), and the engine's peak memory over 200,000\n"
    "  files. ROUNDS counted rounds (default 7) after one not counted; without a part named,\n"
    "  all of them.\n"
    "  The trees lie under /dev/shm or ORVANE_BENCH_DIR and are removed on every exit.\n";

// The parts asked for, in the process that does the work.
int RunParts(const fs::path& root, int nRounds, const std::string& strOnly) {
  fs::create_directories(root / "ResidentFlash");
  fs::create_directories(root / "SDMMC");
  CHostDevice device(root.string());
  IDeviceBackend* pPrevious = InstallDeviceBackend(&device);
  SetDiagSink(&CountDiag);
  auto wanted = [&](const char* pszPart) { return strOnly.empty() || strOnly == pszPart; };

  if (wanted("small")) {
    MakeTree(root, 200, 100, 1024);
    BenchTree("20,000 files of 1 KiB in 200 folders", root, nRounds);
    fs::remove_all(root / "SDMMC" / "src");
  }
  if (wanted("large")) {
    MakeTree(root, 1, 4, 256u << 20);
    BenchTree("4 files of 256 MiB", root, nRounds);
    fs::remove_all(root / "SDMMC" / "src");
  }
  if (wanted("recovery")) {
    BenchRecoveryOn("tmpfs", root, 200, 100, nRounds);
    BenchRecoveryOn("ext4", root, 200, 100, nRounds);
    // fusefat takes about a millisecond a file, each of its calls a round trip to its daemon: a
    // smaller tree.
    BenchRecoveryOn("fat", root, 20, 50, nRounds);
  }
  if (wanted("memory")) BenchMemory(root / "memory", 400, 500);
  if (strOnly.empty()) BenchLock(20000);
  std::printf("diagnostic lines written: %ld\n", g_nDiagLines.load());

  SetDiagSink(nullptr);
  InstallDeviceBackend(pPrevious);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const int nRounds = argc > 1 ? std::atoi(argv[1]) : 7;
  const std::string strOnly = argc > 2 ? argv[2] : "";
  if (argc > 3 || nRounds < 1 ||
      !(strOnly.empty() || strOnly == "small" || strOnly == "large" || strOnly == "recovery" ||
        strOnly == "memory")) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  // ORVANE_BENCH_DIR puts the trees on another file system (a disk, to see what flushing costs).
  const char* pszDir = std::getenv("ORVANE_BENCH_DIR");
  const fs::path root = fs::path(pszDir && *pszDir ? pszDir : "/dev/shm") /
                        ("orvane-bench-" + std::to_string(::getpid()));
  return RunWithScratch(root.string(), [&] { return RunParts(root, nRounds, strOnly); });
}
