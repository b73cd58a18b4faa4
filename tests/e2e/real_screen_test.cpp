// orvane-recovery on a screen of its own: a real X server (Xvfb) of a handheld's size, read and
// clicked as a person would; and a start where no screen can be had.
#include "platform/host/qt/real_screen.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QTransform>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <iostream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/e2e/sim_runner.h"
#include "tests/support/x_server.h"

namespace {

const std::string kBin = ORVANE_BIN_DIR;
constexpr int kDesignWidth = 240;  // the device's turned screen, which the design is drawn for
constexpr int kDesignHeight = 320;

// The frame the simulator drew, at the device's own size, with this last text on the screen, or
// its message box (""): the design as the person sees it, upright.
QImage DesignFrame(const CImageTree& shots, const QJsonObject& report, const std::string& strLast) {
  const QJsonArray files = report["screenshots"].toArray();
  const auto screens = ScreensOf(report);
  std::string file = "004-message.png";  // a box comes after three screens
  for (size_t i = 0; i < screens.size() && !strLast.empty(); ++i)
    if (screens[i].back().ends_with(strLast))
      file = files[static_cast<int>(i)].toString().toStdString();
  return QImage(QString::fromStdString(shots.Root() + "/" + file))
      .convertToFormat(QImage::Format_RGB32);
}

// Why the upright screen does not show the design scaled uniformly to fill it, centred (with no
// text beside the buttons, bButtons), the design being the device's own frame; empty when it does.
std::string Unlike(const QImage& upright, const QImage& design, bool bButtons) {
  QRect laid;  // where anything but the desktop is
  for (int y = 0; y < upright.height(); ++y)
    for (int x = 0; x < upright.width(); ++x)
      if (upright.pixel(x, y) != CQtScreen::kDesktopRgb) laid |= QRect(x, y, 1, 1);
  const double s =
      std::min(double(upright.width()) / kDesignWidth, double(upright.height()) / kDesignHeight);
  const QSize size(int(std::lround(kDesignWidth * s)), int(std::lround(kDesignHeight * s)));
  const int nSlackX = upright.width() - laid.right() - 1 - laid.left();
  const int nSlackY = upright.height() - laid.bottom() - 1 - laid.top();
  if (laid.size() != size || std::abs(nSlackX) > 1 || std::abs(nSlackY) > 1)
    return QString::asprintf("the design lies at %d,%d %dx%d, not %dx%d centred", laid.x(),
                             laid.y(), laid.width(), laid.height(), size.width(), size.height())
        .toStdString();
  // Texts drawn under a button show in the gaps beside it: found up from the bottom, NO's left
  // part is the buttons' rows, where only the dialog's white is beside them.
  auto at = [&](double x, int nRow) { return upright.pixel(laid.x() + int(x * s), nRow); };
  int nRow = laid.bottom();
  while (nRow > laid.top() && at(40, nRow) == qRgb(255, 255, 255)) --nRow;
  for (; bButtons && nRow > laid.top() && at(40, nRow) != qRgb(255, 255, 255); --nRow)
    for (int x : {2, 15, 28, 107, 120, 133, 212, 225, 238})
      if (qGray(at(x, nRow)) < 200)
        return "something drawn beside the buttons at " + std::to_string(nRow);
  // Every 16-pixel tile of the design is as dark where it is shown: glyphs drawn at another size
  // differ in shape, not in where their ink lies. (Averaged by hand: Qt's smooth scaling shares
  // its work out to threads the thread sanitizer cannot follow.)
  auto grey = [](const QImage& image, double x0, double y0, double x1, double y1) {
    const QRect r(QPoint(int(std::lround(x0)), int(std::lround(y0))),
                  QPoint(int(std::lround(x1)) - 1, int(std::lround(y1)) - 1));
    long nSum = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x) nSum += qGray(image.pixel(x, y));
    return double(nSum) / std::max(1, r.width() * r.height());
  };
  for (int ty = 0; ty < design.height(); ty += 16)
    for (int tx = 0; tx < design.width(); tx += 16) {
      const double d = grey(upright, laid.x() + tx * s, laid.y() + ty * s, laid.x() + (tx + 16) * s,
                            laid.y() + (ty + 16) * s) -
                       grey(design, tx, ty, tx + 16, ty + 16);
      if (std::abs(d) > 20)
        return "the design's tile at " + std::to_string(tx) + "," + std::to_string(ty) +
               " differs in grey by " + std::to_string(int(std::abs(d)));
    }
  // At the design's own size, its own pixels.
  if (upright.size() == design.size() && upright != design) return "not the design's pixels";
  return "";
}

TEST(RealScreen, TheDesignIsDrawnScaledTurnedOverTheScreenAndClickedWhereItsButtonsAre) {
  // The screen, the one entry's source, and the frames the person sees in turn, each with the
  // design's point then clicked (YES, OK in the failure box; none at 0, 0).
  struct CStep {
    std::string strLast;
    int x, y;
  };
  const std::tuple<int, int, std::string, std::vector<CStep>> cases[] = {
      {320, 240, "Backup", {{"continue?", 172, 165}, {"Restart in 1 s", 0, 0}}},
      {480, 272, "Long", {{"continue?", 172, 165}, {"", 85, 165}}},
      {800, 480, "Backup", {{"continue?", 172, 165}, {"Restart in 1 s", 0, 0}}},
  };
  for (const auto& [cx, cy, strSource, steps] : cases) {
    const std::string size = std::to_string(cx) + "x" + std::to_string(cy);
    SCOPED_TRACE(size);
    CXServer x(cx, cy);
    if (!x.Ok()) GTEST_SKIP() << "no real screen to test on: " << x.Why();
    CImageTree image, simulated, shots;
    for (const CImageTree* p : {&image, &simulated}) {
      p->Lay(
          "ResidentFlash/old.txt=o SDMMC/Recovery/Recovery.exe=MZ SDMMC/Backup/a.txt=a "
          "SDMMC/Long/" +
          std::string(245, 'x') + "=a");
      p->File("SDMMC/Recovery/Path.xml",
              R"(<R><P Count="1" Src1="\SDMMC\)" + strSource + R"(" Dst1="\ResidentFlash"/></R>)");
    }
    CSimRun sim = RunSimulator({"--image", simulated.Root(), "--screenshots", shots.Root(),
                                "--report", shots.Root() + "/report.json"});
    ASSERT_EQ(sim.nStatus, 3) << sim.strErr;
    const QJsonObject report = ReadReport(shots.Root() + "/report.json");

    // The second screen starts with /tmp read-only (the build may lie in it) and the runtime
    // folder made there before hidden, where this host lets a test mount for itself.
    std::string command = "env DISPLAY=" + x.Display() +
                          " QT_QPA_PLATFORM=xcb ORVANE_DEVICE_ROOT=" + image.Root() + " " + kBin +
                          "/orvane-recovery >/dev/null 2>&1";
    if (cx == 480 && RunShell("unshare -m true").nStatus == 0)
      command =
          "unshare -m sh -c 'd=/tmp/orvane-runtime-$(id -u); mount --bind /tmp /tmp && "
          "mount -o remount,ro,bind /tmp && { [ ! -d $d ] || mount -t tmpfs -o ro tmpfs $d; "
          "} && exec env -u XDG_RUNTIME_DIR " +
          command + "'";
    else if (cx == 480)
      std::cout << "note: /tmp stays writable here (unshare -m is not allowed)\n";
    // Every wait is bounded: a tap that misses leaves the program where it was.
    pid_t pid = StartShell("exec timeout 120 " + command, 1, 2);
    for (const CStep& step : steps) {
      const QImage design = DesignFrame(shots, report, step.strLast);
      ASSERT_EQ(design.size(), QSize(kDesignWidth, kDesignHeight)) << step.strLast;
      QElapsedTimer clock;
      clock.start();
      std::string why;
      // The screen turned back upright, as the person holding the device sees it.
      while (!(why = Unlike(x.Grab().transformed(QTransform().rotate(90)), design,
                            step.strLast == "continue?"))
                  .empty() &&
             clock.elapsed() < 60000)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the program draw
      if (!why.empty()) {
        ADD_FAILURE() << "waited 60 s for \"" << (step.strLast.empty() ? "the box" : step.strLast)
                      << "\" scaled to the screen: " << why;
        ::kill(pid, SIGTERM);
        break;
      }
      if (!step.x) continue;
      const double s = std::min(double(cy) / kDesignWidth, double(cx) / kDesignHeight);
      const int nUp = int((cx - kDesignHeight * s) / 2 + step.y * s);     // down the turned screen
      const int nAcross = int((cy - kDesignWidth * s) / 2 + step.x * s);  // across it
      x.Click(nUp, cy - 1 - nAcross);  // the turned screen's x is the screen's y, upwards
    }
    EXPECT_EQ(WaitFor(pid), 3);  // the restart
    EXPECT_EQ(image.Snapshot(), simulated.Snapshot());
  }
}
TEST(RealScreen, WithoutAScreenItSaysWhatItTriedAndHowToChoose) {
  CImageTree image;
  image.Lay("SDMMC/Recovery/Recovery.exe=MZ");
  CSimRun run =
      RunShell("timeout 60 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
               std::string("ORVANE_DEVICE_ROOT=") + image.Root() + " " + kBin + "/orvane-recovery");
  EXPECT_EQ(run.nStatus, 1);
  EXPECT_EQ(Lines(run.strErr).back(),
            "orvane-recovery: no screen to draw on: Qt could start none of \"linuxfb;eglfs\"; set "
            "QT_QPA_PLATFORM to the platform this system has (xcb, wayland, linuxfb, eglfs, vnc; "
            "offscreen draws nowhere)");
}

}  // namespace
