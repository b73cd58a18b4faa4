// The whole program through orvane-sim, as scripts run it: exit statuses, the report, the
// screenshots, the diagnostic lines and the device image afterwards.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/e2e/sim_runner.h"
#include "tests/support/volume.h"

namespace {

namespace fs = std::filesystem;
using CTree = std::map<std::string, std::string>;
using CScreens = std::vector<std::vector<std::string>>;

const std::vector<std::string> kQuestion = {"Orvane Emergency Recovery",
                                            "All user's settings will be lost, continue?"};
// Written as the program writes it back, so that reading it changes no byte.
const char kPathXml[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<Paths>\n"
    "  <Entry n=\"1\" src=\"\\SDMMC\\Backup\\Navi\" dst=\"\\ResidentFlash\\Navi\"/>\n"
    "</Paths>\n";

// A small device: stale files in the flash, a backup to restore, the navigation data folder.
void MakeDevice(const CImageTree& image) {
  image.File("SDMMC/Recovery/Recovery.exe", "MZ recovery");
  image.File("SDMMC/Recovery/Path.xml", kPathXml);
  image.File("SDMMC/Backup/Navi/Navi.exe", "MZ navi");
  image.File("SDMMC/Backup/Navi/Maps/europe.map", std::string(300, 'm'));
  image.File("SDMMC/Backup/Navi/Settings/default.ini", "volume=5\n");
  image.File("ResidentFlash/Navi/Navi.exe", "MZ old navi");
  image.File("ResidentFlash/Navi/stale.log", "left over");
  image.File("ResidentFlash/UserSettings/user.ini", "volume=9\n");
  image.File("SDMMC/OrvaneData/AppData/cache.bin", "cache");
  image.Folder("SDMMC/OrvaneData/AppData/Empty");
}

class SimEndToEnd : public ::testing::Test {
 protected:
  std::string Report() const { return m_image.Root() + "-report.json"; }
  std::string Shots() const { return m_image.Root() + "-shots"; }
  void TearDown() override {
    std::error_code ec;
    fs::remove(Report(), ec);
    fs::remove_all(Shots(), ec);
  }
  // Runs the simulator on this test's image; a sanitizer build's report fails the test.
  CSimRun Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--image", m_image.Root(), "--report", Report()});
    CSimRun run = RunSimulator(args);
    for (const char* report : {"WARNING: ThreadSanitizer", "ERROR: AddressSanitizer",
                               "ERROR: LeakSanitizer", "runtime error:"})
      EXPECT_EQ(run.strErr.find(report), std::string::npos) << run.strErr;
    return run;
  }
  CImageTree m_image;
};

// The device's tree after a complete recovery of the tree before it.
CTree Restored(CTree expected) {
  for (auto it = expected.begin(); it != expected.end();) {
    // The flash is emptied, its volume folder stays.
    bool bFlash = it->first.rfind("ResidentFlash/", 0) == 0 && it->first != "ResidentFlash/";
    bool bData = it->first.rfind("SDMMC/OrvaneData/AppData/", 0) == 0;
    it = bFlash || bData ? expected.erase(it) : std::next(it);
  }
  for (const auto& [path, contents] : CTree(expected))
    if (path.rfind("SDMMC/Backup/Navi/", 0) == 0)
      expected["ResidentFlash/Navi/" + path.substr(18)] = contents;
  return expected;
}

TEST_F(SimEndToEnd, YesRestoresTheDeviceAndRestartsAfterTheCountdown) {
  MakeDevice(m_image);
  const CTree expected = Restored(m_image.Snapshot());
  CSimRun run = Run({"--tap", "yes", "--screenshots", Shots()});
  QJsonObject report = ReadReport(Report());
  EXPECT_EQ(run.nStatus, 3) << run.strErr;
  EXPECT_EQ(report["restart"].toObject(),
            (QJsonObject{{"requested", true}, {"pwr1_called", true}}));
  EXPECT_EQ(report["orientation"].toInt(-1), 1);
  EXPECT_FALSE(report["taskbar_visible"].toBool(true));
  EXPECT_EQ(report["work_area"].toArray(), (QJsonArray{0, 0, 240, 320}));
  EXPECT_EQ(m_image.Snapshot(), expected);

  // Question, then the progress screens with a rising percentage, then the countdown 5 to 0.
  CScreens screens = ScreensOf(report);
  ASSERT_GE(screens.size(), 7u);
  EXPECT_EQ(screens.front(), kQuestion);
  CScreens countdown(screens.end() - 6, screens.end());
  CScreens expectedCountdown;
  for (int n = 5; n >= 0; --n)
    expectedCountdown.push_back({"Recovery completed!", "Restart in " + std::to_string(n) + " s"});
  EXPECT_EQ(countdown, expectedCountdown);
  int nLastPercent = -1;
  for (size_t i = 1; i + 6 < screens.size(); ++i) {
    ASSERT_EQ(screens[i].size(), 1u);
    std::smatch m;
    if (screens[i][0] == "Recovering....") continue;
    ASSERT_TRUE(std::regex_match(screens[i][0], m, std::regex(R"(Recovering Orvane\.\.\.(\d+)%)")))
        << screens[i][0];
    int nPercent = std::stoi(m[1]);
    EXPECT_GE(nPercent, nLastPercent);
    nLastPercent = nPercent;
  }
  size_t nShots = std::distance(fs::directory_iterator(Shots()), fs::directory_iterator());
  EXPECT_EQ(nShots, screens.size());
  EXPECT_TRUE(fs::exists(Shots() + "/001-screen.png"));
  // Standard output is the program's own: the worker's start line, then the engine's.
  std::vector<std::string> lines = Lines(run.strOut);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(
      std::regex_match(lines[0], std::regex(R"(\[Start Thread\] HANDLE->[0-9a-f]+ ID->[0-9a-f]+)")))
      << lines[0];
}

// The device's own media: a volume of the flash or of the card on a real file system, restored
// byte for byte.
TEST(SimOnVolumes, YesRestoresTheFlashOrFromTheCardOnTheirFileSystems) {
  const std::pair<EVolumeKind, const char*> cases[] = {{EVolumeKind::kFat32, "ResidentFlash"},
                                                       {EVolumeKind::kFat32, "SDMMC"},
                                                       {EVolumeKind::kExfat, "ResidentFlash"}};
  for (const auto& [kind, pszVolume] : cases) {
    SCOPED_TRACE(std::string(pszVolume) + " on " + VolumeName(kind));
    CImageTree image;
    image.Folder(pszVolume);
    CTempVolume volume(kind, image.Host(pszVolume));
    SKIP_UNLESS_MOUNTED(volume);
    MakeDevice(image);
    const CTree expected = Restored(image.Snapshot());
    CSimRun run = RunSimulator({"--image", image.Root(), "--tap", "yes"});
    EXPECT_EQ(run.nStatus, 3) << run.strErr;
    EXPECT_EQ(image.Snapshot(), expected);
  }
}

// The program draws with the faces it carries: the question (Arial) and the failure box (宋体)
// are the same PNG bytes whether fontconfig knows the system's fonts or no font at all.
TEST(SimFonts, FramesAreTheSameWithoutTheSystemsFonts) {
  CImageTree image, shots[2];
  image.File("SDMMC/Recovery/Path.xml",
             "<Paths><Entry n=\"1\" src=\"\\SDMMC\\Empty\" dst=\"\\ResidentFlash\"/></Paths>");
  image.Folder("SDMMC/Empty");
  image.File("none.conf",
             "<?xml version=\"1.0\"?><!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">"
             "<fontconfig></fontconfig>");
  for (int i = 0; i < 2; ++i) {
    CSimRun run = RunShell((i ? "FONTCONFIG_FILE=" + image.Host("none.conf") : std::string()) +
                           " " ORVANE_BIN_DIR "/orvane-sim --tap yes --image " + image.Root() +
                           " --screenshots " + shots[i].Root());
    EXPECT_EQ(run.nStatus, 3) << run.strErr;
  }
  const CTree frames = shots[0].Snapshot();
  for (const char* frame : {"001-screen.png", "003-message.png"})
    EXPECT_TRUE(frames.contains(frame)) << frame;
  EXPECT_TRUE(frames == shots[1].Snapshot());  // PNG bytes: no use printing them
}

TEST(SimCommandLine, BadUsageOrUnusableImageExitsTwoAndSaysWhy) {
  CImageTree image;
  image.Folder("SDMMC/Recovery");
  struct CCase {
    std::vector<std::string> args;
    std::string why;  // part of the message on standard error
  };
  const std::vector<CCase> cases = {
      {{}, "--image DIR is required"},
      {{"--image"}, "Missing value after '--image'"},
      {{"--image", image.Root() + "/missing"}, "is not a folder"},
      {{"--image", image.Root(), "--tap", "maybe"}, "--tap takes yes, no or none"},
      {{"--image", image.Root(), "--screen", "320"}, "--screen takes WIDTHxHEIGHT"},
      {{"--image", image.Root(), "--screen", "0x240"}, "--screen takes WIDTHxHEIGHT"},
      {{"--image", image.Root(), "--timeout", "-1"}, "--timeout takes a positive number"},
      {{"--image", image.Root(), "--program", "Recovery.exe"}, "--program needs a device path"},
      {{"--image", image.Root(), "--program", "\\Windows\\Recovery.exe"}, "no folder \\Windows"},
      {{"--image", image.Root(), "--report", image.Root() + "/no/such/report.json"},
       "does not exist"},
      {{"--image", image.Root(), "--frobnicate"}, "Unknown option 'frobnicate'"},
  };
  for (const CCase& c : cases) {
    SCOPED_TRACE(c.why);
    CSimRun run = RunSimulator(c.args);
    EXPECT_EQ(run.nStatus, 2);
    EXPECT_EQ(run.strOut, "");
    EXPECT_NE(run.strErr.find(c.why), std::string::npos) << run.strErr;
  }
}

}  // namespace
