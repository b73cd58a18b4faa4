// orvane-recovery on a screen of its own: a real X server (Xvfb) of the device's size, read and
// clicked as a person would; and a start where no screen can be had.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QImage>
#include <QTransform>
#include <string>
#include <chrono>
#include <thread>
#include <tuple>

#include "tests/e2e/sim_runner.h"
#include "tests/support/x_server.h"

namespace {

const std::string kBin = ORVANE_BIN_DIR;

// The screen's size, and where YES is laid out on the turned screen (its centre).
TEST(RealScreen, TheQuestionCoversTheScreenTurnedAndAClickWhereYesIsDrawnRestores) {
  const std::tuple<int, int, int, int> screens[] = {{320, 240, 172, 165}, {480, 272, 166, 165}};
  for (const auto& [cx, cy, xYes, yYes] : screens) {
    const std::string size = std::to_string(cx) + "x" + std::to_string(cy);
    SCOPED_TRACE(size);
    CXServer x(cx, cy);
    if (!x.Ok()) GTEST_SKIP() << "no real screen to test on: " << x.Why();
    CImageTree image;
    image.Lay("ResidentFlash/old.txt=o SDMMC/Recovery/Recovery.exe=MZ SDMMC/Backup/a.txt=a");
    image.File("SDMMC/Recovery/Path.xml",
               R"(<R><P Count="1" Src1="\SDMMC\Backup" Dst1="\ResidentFlash"/></R>)");
    // The simulator's question on the same display, turned a quarter anticlockwise as the
    // device's display turns it.
    CImageTree shots;
    CSimRun sim = RunSimulator(
        {"--image", image.Root(), "--screen", size, "--tap", "no", "--screenshots", shots.Root()});
    ASSERT_EQ(sim.nStatus, 0) << sim.strErr;
    const QImage expected = QImage(QString::fromStdString(shots.Root() + "/001-screen.png"))
                                .convertToFormat(QImage::Format_RGB32)
                                .transformed(QTransform().rotate(-90));
    ASSERT_EQ(expected.size(), QSize(cx, cy));

    pid_t pid = StartShell("exec timeout 120 env DISPLAY=" + x.Display() + " QT_QPA_PLATFORM=xcb " +
                               "ORVANE_DEVICE_ROOT=" + image.Root() + " " + kBin +
                               "/orvane-recovery >/dev/null",
                           1, 2);
    QElapsedTimer clock;
    clock.start();
    QImage shown;
    while ((shown = x.Grab()) != expected && clock.elapsed() < 60000) std::this_thread::yield();
    EXPECT_EQ(shown, expected) << "the screen never showed the simulator's question, turned";
    x.Click(yYes, cy - xYes);    // the turned screen's x is the screen's y
    EXPECT_EQ(WaitFor(pid), 3);  // restored, then the restart
    auto tree = image.Snapshot();
    EXPECT_EQ(tree.count("ResidentFlash/a.txt"), 1u);
    EXPECT_EQ(tree.count("ResidentFlash/old.txt"), 0u);
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
