// The engine's tree walks on the host backend against the standard tools, on the same trees in
// /dev/shm in the same run: counting against find | wc -l, copying (CountTree and CopyTree)
// against cp -r, deleting (DeleteTree) against rm -rf; and against the floor (floor.c): the same
// walks making only the system calls the device's semantics require. Each round measures tool,
// floor and engine, in turns; the report gives medians of the wall time and of the processor time
// (user + system, of this process for the engine and the floor and of the children for the tool,
// which stays meaningful on a loaded machine), the ratios engine/tool and engine/floor per round
// (median and range) and the tool's and the floor's own spread, which is the machine's noise.
//
// A first round of each is run and not counted: the first use of fresh memory by /dev/shm costs
// several times what later rounds pay.
//
// Usage: bench_engine [rounds] [small|large]   (default 7 rounds of both trees; trees under
// /dev/shm or ORVANE_BENCH_DIR, removed at the end)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/floor.h"
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

// "median ms (spread)" of one side's times.
std::string Side(const std::vector<double>& v) {
  auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  const double dMed = Median(v);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%7.1f ms (%+4.0f%%..%+4.0f%%)", dMed * 1e3,
                (*lo / dMed - 1) * 100, (*hi / dMed - 1) * 100);
  return buf;
}

// "median (range)" of the per-round ratios engine/other.
std::string Ratio(const std::vector<double>& engine, const std::vector<double>& other) {
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
    std::printf("%-10s %-10s %-4s engine %s  tool %s  floor %s  engine/tool %s  engine/floor %s\n",
                pszWhat, pszTool, bWall ? "wall" : "cpu", Side(engine).c_str(), Side(tool).c_str(),
                Side(floor).c_str(), Ratio(engine, tool).c_str(), Ratio(engine, floor).c_str());
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

}  // namespace

int main(int argc, char** argv) {
  int nRounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  const std::string strOnly = argc > 2 ? argv[2] : "";
  // ORVANE_BENCH_DIR puts the trees on another file system (a disk, to see what flushing costs).
  const char* pszDir = std::getenv("ORVANE_BENCH_DIR");
  fs::path root = fs::path(pszDir && *pszDir ? pszDir : "/dev/shm") /
                  ("orvane-bench-" + std::to_string(::getpid()));
  fs::create_directories(root / "ResidentFlash");
  fs::create_directories(root / "SDMMC");
  CHostDevice device(root.string());
  IDeviceBackend* pPrevious = InstallDeviceBackend(&device);
  SetDiagSink(&CountDiag);

  if (strOnly != "large") {
    MakeTree(root, 200, 100, 1024);
    BenchTree("20,000 files of 1 KiB in 200 folders", root, nRounds);
    fs::remove_all(root / "SDMMC" / "src");
  }
  if (strOnly != "small") {
    MakeTree(root, 1, 4, 256u << 20);
    BenchTree("4 files of 256 MiB", root, nRounds);
  }

  BenchLock(20000);
  std::printf("diagnostic lines written: %ld\n", g_nDiagLines.load());

  SetDiagSink(nullptr);
  InstallDeviceBackend(pPrevious);
  fs::remove_all(root);
  return 0;
}
