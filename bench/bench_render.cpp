// Frame time of the recovery screens: each screen drawn at 240 x 320 offscreen through the
// program's own erase handler on the Qt host backend. Reports the median time per frame (the
// target is 2 ms, against a 200 ms refresh) and then checks that 10,000 frames leave no drawing
// object, context or memory behind.
//
//   bench_render [--benchmark_* options]
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <fstream>
#include <memory>

#include "tools/screen_rig.h"

namespace {

constexpr int kLeakFrames = 10000;
constexpr long kAllowedGrowthBytes = 64 * 1024;  // less than 7 bytes a frame

CScreenRig* g_pRig = nullptr;  // made and destroyed by main, before Qt's own teardown

CScreenRig& Rig() { return *g_pRig; }

// One frame: the erase handler composes the screen off-screen and copies it into a target the
// size of the client area, as the window system's erase context would take it.
void BM_Frame(benchmark::State& state) {
  const CScreenState& screen = ScreenStates()[static_cast<size_t>(state.range(0))];
  Rig().SetState(screen);
  state.SetLabel(screen.pszName);
  RECT rc{};
  ::GetClientRect(Rig().DialogWindow(), &rc);
  HDC hdcScreen = ::GetDC(nullptr);
  HDC hdcTarget = ::CreateCompatibleDC(hdcScreen);
  HBITMAP hBitmap = ::CreateCompatibleBitmap(hdcScreen, rc.right, rc.bottom);
  HGDIOBJ hOld = ::SelectObject(hdcTarget, hBitmap);
  CDC dc(hdcTarget);
  for (auto _ : state) benchmark::DoNotOptimize(Rig().Dialog().OnEraseBkgnd(&dc));
  ::SelectObject(hdcTarget, hOld);
  ::DeleteObject(hBitmap);
  ::DeleteDC(hdcTarget);
  ::ReleaseDC(nullptr, hdcScreen);
}
BENCHMARK(BM_Frame)
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long nPages = 0, nResident = 0;
  statm >> nPages >> nResident;
  return nResident * 4;
}

// Bytes the program holds on the heap: exact, unlike the resident size, which the allocator
// rounds to pages and keeps.
size_t HeapInUse() {
  struct mallinfo2 mi = mallinfo2();
  return mi.uordblks + mi.hblkhd;
}

// Each state set once, then its share of 10,000 frames: a state change moves Qt widgets, whose
// events wait for an event loop that the real program runs and this loop does not.
void RenderFrames(CScreenRig& rig, int nFrames) {
  const auto& states = ScreenStates();
  for (size_t s = 0; s < states.size(); ++s) {
    rig.SetState(states[s]);
    QCoreApplication::processEvents();
    for (size_t i = 0; i < static_cast<size_t>(nFrames) / states.size(); ++i) rig.RenderFrame();
  }
}

// 10,000 frames over the four screens; false when objects, contexts or heap grew.
bool CheckNoGrowth() {
  CScreenRig& rig = Rig();
  RenderFrames(rig, 400);  // warm-up: fonts, glyphs, caches
  const size_t nObjects = rig.Windows().Gdi().LiveObjects();
  const size_t nContexts = rig.Windows().Gdi().LiveContexts();
  const size_t nHeap = HeapInUse();
  const long nResident = ResidentKiB();
  RenderFrames(rig, kLeakFrames);
  const long nHeapGrowth = static_cast<long>(HeapInUse()) - static_cast<long>(nHeap);
  const size_t nObjectsAfter = rig.Windows().Gdi().LiveObjects();
  const size_t nContextsAfter = rig.Windows().Gdi().LiveContexts();
  std::printf(
      "%d frames: drawing objects %zu -> %zu, contexts %zu -> %zu, heap %+ld bytes, resident "
      "%+ld KiB\n",
      kLeakFrames, nObjects, nObjectsAfter, nContexts, nContextsAfter, nHeapGrowth,
      ResidentKiB() - nResident);
  return nObjectsAfter == nObjects && nContextsAfter == nContexts &&
         nHeapGrowth <= kAllowedGrowthBytes;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  CHostOptions options;
  options.fnRestart = [] { return FALSE; };
  auto pRig = std::make_unique<CScreenRig>(options);
  g_pRig = pRig.get();
  std::printf("Frame time per screen (240 x 320); target: median under 2 ms\n");
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const bool bOk = CheckNoGrowth();
  g_pRig = nullptr;
  pRig.reset();
  std::printf("%s\n", bOk ? "no growth" : "GROWTH: frames leave something behind");
  return bOk ? 0 : 1;
}
