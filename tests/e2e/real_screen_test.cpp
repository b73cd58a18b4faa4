// orvane-recovery on a screen of its own: a real X server (Xvfb) of the device's size, read and
// clicked as a person would; and a start where no screen can be had.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QTransform>
#include <chrono>
#include <iostream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/e2e/sim_runner.h"
#include "tests/support/x_server.h"

namespace {

const std::string kBin = ORVANE_BIN_DIR;

// The frame the simulator drew with this last text on the screen, or its message box (""), turned
// a quarter anticlockwise as the device's display turns it.
QImage TurnedFrame(const CImageTree& shots, const QJsonObject& report, const std::string& strLast) {
  const QJsonArray files = report["screenshots"].toArray();
  const auto screens = ScreensOf(report);
  std::string file = "004-message.png";  // a box comes after three screens
  for (size_t i = 0; i < screens.size() && !strLast.empty(); ++i)
    if (screens[i].back().ends_with(strLast))
      file = files[static_cast<int>(i)].toString().toStdString();
  return QImage(QString::fromStdString(shots.Root() + "/" + file))
      .convertToFormat(QImage::Format_RGB32)
      .transformed(QTransform().rotate(-90));
}

TEST(RealScreen, DrawnTurnedOverTheWholeScreenAndClickedWhereTheButtonsAreDrawn) {
  // The screen, the one entry's source, and the frames the person sees in turn, each with the
  // centre of the button then clicked on the turned screen (none at 0, 0): YES is laid out at
  // (width + 30) / 2 .. width - 30 across, 140 .. 190 down.
  struct CStep {
    std::string strLast;
    int x, y;
  };
  const std::tuple<int, int, std::string, std::vector<CStep>> cases[] = {
      {320, 240, "Backup", {{"continue?", 172, 165}, {"Restart in 1 s", 0, 0}}},
      {480, 272, "Long", {{"continue?", 166, 165}, {"", 85, 166}}},  // OK in the failure box
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
    CSimRun sim = RunSimulator({"--image", simulated.Root(), "--screen", size, "--screenshots",
                                shots.Root(), "--report", shots.Root() + "/report.json"});
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
    pid_t pid = StartShell("exec timeout 120 " + command, 1, 2);
    for (const CStep& step : steps) {
      const QImage expected = TurnedFrame(shots, report, step.strLast);
      ASSERT_EQ(expected.size(), QSize(cx, cy)) << step.strLast;
      QElapsedTimer clock;
      clock.start();
      QImage shown;
      while ((shown = x.Grab()) != expected && clock.elapsed() < 60000)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the program draw
      EXPECT_EQ(shown, expected) << "never shown, turned: " << step.strLast;
      if (step.x) x.Click(step.y, cy - step.x);  // the turned screen's x is the screen's y
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
