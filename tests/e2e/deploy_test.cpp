// What an integrator meets: the installed tree and its programs, the two Debian packages and what
// the program loads from their dependencies, the device log across runs, and the ends by SIGTERM
// and SIGINT. Real processes throughout: cmake --install, cpack, dpkg-deb, lintian, the program on
// Xvfb and the simulator on device images, started by /bin/sh.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <thread>
#include <tuple>

#include "platform/version.h"
#include "tests/e2e/sim_runner.h"
#include "tests/support/x_server.h"

namespace {

namespace fs = std::filesystem;
using CLines = std::vector<std::string>;
const std::string kBin = ORVANE_BIN_DIR;
const std::string kVersion = kOrvaneVersion;

// Every file under the folder by relative path, with its contents (programs by name only).
std::map<std::string, std::string> Files(const std::string& strRoot) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(strRoot))
    if (const std::string rel = fs::relative(entry.path(), strRoot); entry.is_regular_file())
      files[rel] = rel.starts_with("bin/") ? "" : ReadHostFile(entry.path());
  return files;
}

// The tree the packages install under the prefix: the program's (its unit naming it under the
// prefix, the plain-text deploying section, the example target) and the simulator's (the sample
// image and Path.xml as in the sources); each with its licences, changelog and manual page.
void ExpectInstalledTree(const std::string& strRoot, const std::string& strPrefix,
                         const CLines& packages) {
  std::map<std::string, std::string> actual = Files(strRoot), expected;
  const std::string src = ORVANE_SOURCE_DIR + std::string("/"),
                    unit = "lib/systemd/system/orvane-recovery.service";
  for (const std::string& package : packages) {
    const bool bSim = package.ends_with("-sim");
    const std::string doc = "share/doc/" + package + "/", program = bSim ? "orvane-sim" : package;
    CLines made = {"bin/" + program, doc + "changelog.gz", "share/man/man1/" + program + ".1.gz"};
    expected[doc + "copyright"] = ReadHostFile(src + "packaging/copyright");
    if (bSim) {
      for (const auto& [rel, contents] : Files(src + "examples/device"))
        expected[doc + "examples/device/" + rel] = contents;
      expected[doc + "examples/Path.xml"] =
          ReadHostFile(src + "examples/device/SDMMC/Recovery/Path.xml");
    } else {
      expected[doc + "orvane-recovery.target"] =
          ReadHostFile(src + "packaging/orvane-recovery.target");
      made.insert(made.end(), {doc + "deploying.txt", unit});
    }
    for (const std::string& path : made) expected[path] = actual.at(path);  // checked below
    // The changelog and the manual page, whole once unpacked, name this version.
    for (const auto& [gz, strNeedle] : {std::pair{made[1], "(" + kVersion + ")"},
                                        std::pair{made[2], program + " " + kVersion}})
      EXPECT_NE(RunShell("zcat " + strRoot + "/" + gz).strOut.find(strNeedle), std::string::npos)
          << gz;
  }
  EXPECT_EQ(actual, expected);
  if (!actual.contains(unit)) return;
  // Plain text for who holds the package, with the unit's device root.
  const std::string text = actual["share/doc/orvane-recovery/deploying.txt"];
  EXPECT_TRUE(text.starts_with("Deploying on a device\n")) << text;
  for (const char* forbidden : {"`", "**", "cmake"})
    EXPECT_EQ(text.find(forbidden), std::string::npos) << forbidden;
  EXPECT_NE(text.find("ORVANE_DEVICE_ROOT=/run/orvane/device "), std::string::npos);
  for (const std::string& line :
       CLines{"\nExecStart=" + strPrefix + "/bin/orvane-recovery\n",
              "\nEnvironment=ORVANE_DEVICE_ROOT=/run/orvane/device\n", "\nProtectSystem=strict\n"})
    EXPECT_NE(actual[unit].find(line), std::string::npos) << line;
}

TEST(Deploy, InstallHoldsEveryFileAndItsProgramsAnswerAndRun) {
  CImageTree prefix;
  CSimRun install = RunShell("cmake --install " + kBin + "/.. --prefix " + prefix.Root());
  ASSERT_EQ(install.nStatus, 0) << install.strErr;
  ExpectInstalledTree(prefix.Root(), prefix.Root(), {"orvane-recovery", "orvane-recovery-sim"});

  // Run in the prefix's bin folder: the status, the start of standard output on success, else all
  // of standard error.
  const std::tuple<std::string, int, std::string> cases[] = {
      {"./orvane-recovery --version", 0, "orvane-recovery " + kVersion + "\n"},
      {"./orvane-sim --version", 0, "orvane-sim " + kVersion + "\n"},
      {"./orvane-recovery --help", 0, "usage: orvane-recovery [--help | --version]\n"},
      {"./orvane-sim -h", 0, "usage: orvane-sim --image DIR [--program PATH]"},
      {"./orvane-recovery now", 2, "orvane-recovery: unexpected argument 'now'; try --help\n"},
      {"./orvane-recovery --help -x", 2, "orvane-recovery: Unknown option 'x'; try --help\n"},
      {"ORVANE_PROGRAM=Recovery.exe ./orvane-recovery", 2,
       "orvane-recovery: ORVANE_PROGRAM is not a device path such as "
       "\\SDMMC\\Recovery\\Recovery.exe: 'Recovery.exe'\n"},
      {"./orvane-sim --image=/ --window=yes", 2,
       "orvane-sim: Unexpected value after '--window'; try --help\n"},
      {kBin + "/render_screens --help", 0, "usage: render_screens [OUTPUT_DIR [WxH...]]\n"},
  };
  for (const auto& [strCommand, nStatus, strExpected] : cases) {
    SCOPED_TRACE(strCommand);
    CSimRun run = RunShell("cd " + prefix.Root() + "/bin && timeout 60 env " + strCommand);
    EXPECT_EQ(run.nStatus, nStatus);
    const std::string& strShown = nStatus == 0 ? run.strOut : run.strErr;
    EXPECT_TRUE(nStatus == 0 ? strShown.starts_with(strExpected) : strShown == strExpected)
        << strShown;
    EXPECT_EQ(nStatus == 0 ? run.strErr : run.strOut, "");
  }

  // The installed simulator restores a copy of the installed sample image.
  CImageTree image;
  fs::copy(prefix.Root() + "/share/doc/orvane-recovery-sim/examples/device", image.Root(),
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  CSimRun sim = RunShell(prefix.Root() + "/bin/orvane-sim --image " + image.Root());
  EXPECT_EQ(sim.nStatus, 3) << sim.strErr;
  EXPECT_TRUE(fs::exists(image.Root() + "/ResidentFlash/NaviApp/Voices/german.vpk"));
}

// The program's package, unpacked into a scratch root, on a screen of its own: every file it has
// mapped once its question shows (its libraries, Qt's platform plugin) that a package installed
// here provides comes from a package its Depends brings, directly or in turn.
void ExpectMappedFilesFromDependencies(const std::string& strRoot, const std::string& strDeb) {
  CXServer x(320, 240);
  if (!x.Ok()) GTEST_SKIP() << "no screen: " << x.Why();
  CImageTree image;
  image.File("SDMMC/Recovery/Path.xml", "<R><P Count=\"0\"/></R>");
  pid_t pid =
      StartShell("exec env -i DISPLAY=" + x.Display() + " ORVANE_DEVICE_ROOT=" + image.Root() +
                     " " + strRoot + "/usr/bin/orvane-recovery >/dev/null",
                 1, 2);
  QElapsedTimer clock;
  for (clock.start(); x.Grab().pixel(0, 0) != qRgb(255, 255, 255) && clock.elapsed() < 60000;)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the question's white corner
  const std::string maps = ReadHostFile("/proc/" + std::to_string(pid) + "/maps");
  ::kill(pid, SIGTERM);
  EXPECT_EQ(WaitFor(pid), -SIGTERM);
  std::string query;
  for (const std::string& line : Lines(maps))
    if (size_t n = line.find(" /"); n != std::string::npos && !line.ends_with(")"))
      query += " " + line.substr(n + 1) + " " + line.substr(n + 1).replace(0, 4, "");  // /usr/lib
  // The dependencies' own dependencies, as the last word of each line; libX11 opens the cursor
  // library (and with it libXrender) for themed cursors when it is there, and does without.
  std::set<std::string> allowed = {"libxcursor1", "libxrender1"}, strangers;
  const std::string tree =
      "apt-cache depends --recurse --installed --no-recommends --no-suggests --no-conflicts "
      "--no-breaks --no-replaces --no-enhances $(dpkg-deb -f " +
      strDeb + " Depends | sed 's/([^)]*)//g; s/[,|]/ /g')";
  for (const std::string& line : Lines(RunShell(tree).strOut))
    allowed.insert(line.substr(line.rfind(' ') + 1));
  const CSimRun owners = RunShell("dpkg -S" + query);
  EXPECT_NE(owners.strOut.find("libqxcb.so"), std::string::npos) << owners.strErr;
  for (const std::string& owner : Lines(owners.strOut))
    if (!allowed.contains(owner.substr(0, owner.find_first_of(":,")))) strangers.insert(owner);
  EXPECT_EQ(strangers, std::set<std::string>{}) << "not from the dependencies";
}

TEST(Deploy, DebianPackagesHoldTheInstallUnderUsrWithWhatTheyNeed) {
  if (RunShell("command -v dpkg-deb && command -v dpkg-shlibdeps").nStatus != 0)
    GTEST_SKIP() << "no dpkg-deb or dpkg-shlibdeps here";
  CImageTree out;
  CSimRun cpack =
      RunShell("cpack -G DEB --config " + kBin + "/../CPackConfig.cmake -B " + out.Root());
  ASSERT_EQ(cpack.nStatus, 0) << cpack.strOut << cpack.strErr;
  const std::string arch = RunShell("dpkg --print-architecture").strOut;
  for (const std::string package : {"orvane-recovery", "orvane-recovery-sim"}) {
    SCOPED_TRACE(package);
    const std::string deb =
        out.Root() + "/" + package + "_" + kVersion + "_" + Lines(arch)[0] + ".deb";
    const std::string root = out.Root() + "/" + package;
    EXPECT_EQ(RunShell("dpkg-deb -f " + deb + " Package Version Architecture Section").strOut,
              "Package: " + package + "\nVersion: " + kVersion + "\nArchitecture: " + arch +
                  "Section: admin\n");
    const std::string depends = RunShell("dpkg-deb -f " + deb + " Depends").strOut;
    for (const char* needed : {"libc6 (", "libqt6widgets6 (", "libqt6gui6 (", "libqt6core6 (",
                               "libxml2 (", "qt6-qpa-plugins", "fonts-arphic-uming"})
      EXPECT_NE(depends.find(needed), std::string::npos) << needed << " in " << depends;
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // their builds are larger
    // At most 10 MiB installed: the Song face is its package's.
    EXPECT_LE(std::stoi(RunShell("dpkg-deb -f " + deb + " Installed-Size").strOut), 10240);
#endif
    if (RunShell("command -v lintian").nStatus == 0) {
      CSimRun lintian = RunShell("lintian --fail-on error " + deb);
      EXPECT_EQ(lintian.nStatus, 0) << lintian.strOut << lintian.strErr;
    }
    ASSERT_EQ(RunShell("dpkg-deb -x " + deb + " " + root).nStatus, 0);
    ExpectInstalledTree(root + "/usr", "/usr", {package});
    for (const auto& entry : fs::directory_iterator(root + "/usr/bin"))
      EXPECT_EQ(ReadHostFile(entry.path()).find(".symtab"), std::string::npos) << entry.path();
    if (package == "orvane-recovery") ExpectMappedFilesFromDependencies(root, deb);
  }
}

// The lines of a log without their timestamps; a line without one is kept whole, to fail.
CLines Untimed(const std::string& strLog) {
  const std::regex stamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d{4} (.+))");
  CLines lines;
  for (const std::string& line : Lines(strLog)) {
    std::smatch m;
    lines.push_back(std::regex_match(line, m, stamped) ? m[1].str() : "no time: " + line);
  }
  return lines;
}

TEST(DeviceLog, EachRunAppendsItsLinesAndOneClosingOutcome) {
  // The attributes count by position: count, source, destination.
  auto paths = [](const std::string& strSource) {
    return "<Paths><Entry n=\"1\" src=\"\\SDMMC\\" + strSource +
           "\" dst=\"\\ResidentFlash\"/></Paths>";
  };
  struct CCase {
    std::string strPathXml;
    std::string strTap;
    int nStatus;
    std::string strOutcome;  // the closing line after "orvane-sim <version> ended: "
    QJsonValue errorCode;
    std::string strBox;  // the last message box's caption and text
  };
  const std::string exited = ", the program exited with code 0; exit status 0";
  const std::string restarted = ", the device restarted; exit status 3";
  const CCase cases[] = {
      {paths("Backup"), "no", 0, "cancelled by NO" + exited, {}, ""},
      {paths("None"), "yes", 0, "nothing restored: the first source is missing" + exited, {}, ""},
      {"<Paths><Entry n=", "yes", 0, "configuration error" + exited, {}, ":XML ERROR!"},
      {paths("Empty"), "yes", 3, "failed with code 18" + restarted, 18,
       "Recover:Recover failed(18)!Press OK to reboot."},
      {paths("Backup"), "yes", 3, "restored" + restarted, {}, ""},
      {paths("Backup"),
       "none --timeout 1.5",
       124,
       "did not finish, timed out; exit status 124",
       {},
       ""},
  };
  CImageTree logs;
  const std::string report = logs.Root() + "/report.json";
  const std::string run = "ORVANE_LOG=" + logs.Root() + "/device.log " + kBin + "/orvane-sim";
  CLines expected, closings, expectedClosings;
  for (const CCase& c : cases) {
    SCOPED_TRACE(c.strOutcome);
    CImageTree image;
    image.File("SDMMC/Recovery/Path.xml", c.strPathXml);
    image.File("SDMMC/Backup/Navi.exe", "MZ navi");
    image.File("ResidentFlash/Navi/old.log", "old");
    image.Folder("SDMMC/Empty");
    CSimRun sim =
        RunShell(run + " --image " + image.Root() + " --tap " + c.strTap + " --report " + report);
    EXPECT_EQ(sim.nStatus, c.nStatus) << sim.strErr;
    QJsonObject json = ReadReport(report);
    EXPECT_EQ(json["version"].toString().toStdString(), kVersion);
    EXPECT_EQ(json["outcome"].toString().toStdString(), c.nStatus == 0   ? "exit"
                                                        : c.nStatus == 3 ? "restart"
                                                                         : "timeout");
    EXPECT_EQ(json["exit_code"].toInt(-1), c.nStatus == 0 ? 0 : -1);
    EXPECT_EQ(json.value("error_code"), c.errorCode);
    EXPECT_EQ(json["image"].toString().toStdString(), image.Root());
    EXPECT_EQ(json["program"].toString().toStdString(), "\\SDMMC\\Recovery\\Recovery.exe");
    EXPECT_GT(json["duration_ms"].toInteger(-1), 0);
    const auto boxes = BoxesOf(json);
    EXPECT_EQ(boxes.empty() ? "" : boxes.back().first + ":" + boxes.back().second, c.strBox);
    // The shell put back on every end without a restart (a time-out may come before the display
    // turned); a restart asks the power driver.
    const bool bShellBack = json["orientation"].toInt(-1) == 0 &&
                            json["taskbar_visible"].toBool() &&
                            json["work_area"].toArray() == (QJsonArray{0, 0, 320, 214});
    EXPECT_TRUE(c.nStatus == 124 || bShellBack == (c.nStatus == 0));
    EXPECT_EQ(json["restart"].toObject()["pwr1_called"].toBool(), c.nStatus == 3);
    for (std::string line : Lines(sim.strOut + sim.strErr))
      expected.push_back(line.ends_with('\r') ? line.substr(0, line.size() - 1) : line);
    expectedClosings.push_back("orvane-sim " + kVersion + " ended: " + c.strOutcome);
    expected.push_back(expectedClosings.back());
  }
  // Every line of every run, after its timestamp; the closing lines in the order of the runs.
  CLines logged = Untimed(ReadHostFile(logs.Root() + "/device.log"));
  for (const std::string& line : logged)
    if (line.starts_with("orvane-sim " + kVersion + " ended: ")) closings.push_back(line);
  EXPECT_EQ(closings, expectedClosings);
  std::sort(logged.begin(), logged.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(logged, expected);

  CSimRun unlogged = RunShell("ORVANE_LOG=/proc/none/device.log " + kBin + "/orvane-sim --image " +
                              logs.Root() + " --program '\\Recovery.exe'");
  EXPECT_EQ(unlogged.nStatus, 0);
  EXPECT_TRUE(unlogged.strErr.starts_with("orvane-sim: cannot open the log /proc/none/device.log"))
      << unlogged.strErr;
  // A FIFO nobody reads never holds the start (bounded: it would wait for a reader).
  ASSERT_EQ(::mkfifo((logs.Root() + "/fifo").c_str(), 0644), 0);
  CSimRun fifo = RunShell("ORVANE_LOG=" + logs.Root() + "/fifo timeout 30 " + kBin +
                          "/orvane-sim --image " + logs.Root() + " --program '\\Recovery.exe'");
  EXPECT_EQ(fifo.nStatus, 0);
  EXPECT_TRUE(fifo.strErr.starts_with("orvane-sim: cannot open the log " + logs.Root() + "/fifo"));
  // A device root that cannot be used is named first, before anything else can go wrong.
  EXPECT_TRUE(RunShell("timeout 30 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "
                       "ORVANE_DEVICE_ROOT=/nonexistent " +
                       kBin + "/orvane-recovery")
                  .strErr.starts_with("orvane-recovery: the device root /nonexistent cannot be "
                                      "used: No such file or directory\n"));
}

// While one runs, a second instance on the same device root (the other program, then the same)
// says so in one line and exits with 1 before it reads Path.xml or touches a file.
TEST(Termination, SigtermOrSigintEndsTheRunWithItsReportAndClosingLine) {
  // Path.xml lies where only the program path given finds it, not in the default folder.
  const std::string program = "'\\SDMMC\\Tools\\Recovery.exe'";
  const std::tuple<std::string, int, std::string> cases[] = {
      {"orvane-sim", SIGTERM, "orvane-recovery"},
      {"orvane-sim", SIGINT, "orvane-sim"},
      {"orvane-recovery", SIGTERM, "orvane-sim"}};
  for (const auto& [strProgram, nSignal, strSecond] : cases) {
    SCOPED_TRACE(strProgram + " " + std::to_string(nSignal));
    CImageTree image;
    image.File("SDMMC/Tools/Path.xml", "<Paths><E n=\"0\"/></Paths>");
    const std::string log = image.Root() + "/device.log", report = image.Root() + "/report.json";
    std::string command = "exec env -u DISPLAY -u WAYLAND_DISPLAY ORVANE_LOG=" + log +
                          " ORVANE_DEVICE_ROOT=" + image.Root() + " ORVANE_PROGRAM=" + program +
                          " " + kBin + "/" + strProgram;
    if (strProgram == "orvane-sim")
      command +=
          " --image " + image.Root() + " --program " + program + " --tap none --report " + report;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t pid = StartShell(command, fds[1], 2);
    ::close(fds[1]);
    // The worker's start line: the dialog has read Path.xml and waits for a tap.
    std::string out;
    char buf[256];
    pollfd pfd{fds[0], POLLIN, 0};
    for (ssize_t n = 0; out.find("[Start Thread]") == std::string::npos &&
                        ::poll(&pfd, 1, 60000) == 1 && (n = ::read(fds[0], buf, sizeof buf)) > 0;)
      out.append(buf, static_cast<size_t>(n));
    EXPECT_NE(out.find("[Start Thread]"), std::string::npos) << "Path.xml not read";
    const auto before = image.Snapshot();
    // A write-back would rename a new Path.xml into place.
    struct stat xml {};
    struct stat xmlAfter {};
    ::stat(image.Host("SDMMC/Tools/Path.xml").c_str(), &xml);
    // Bounded: without the lock the program would wait for a tap.
    CSimRun second =
        RunShell("timeout 30 env -u DISPLAY -u WAYLAND_DISPLAY ORVANE_DEVICE_ROOT=" + image.Root() +
                 " ORVANE_PROGRAM=" + program + " " + kBin + "/" + strSecond +
                 (strSecond == "orvane-sim" ? " --tap yes --image " + image.Root() : ""));
    EXPECT_EQ(second.nStatus, 1);
    EXPECT_EQ(second.strErr, strSecond + ": another recovery is running on the device root " +
                                 image.Root() + "\n");
    EXPECT_EQ(second.strOut, "");
    EXPECT_EQ(image.Snapshot(), before);
    ::stat(image.Host("SDMMC/Tools/Path.xml").c_str(), &xmlAfter);
    EXPECT_EQ(xmlAfter.st_ino, xml.st_ino);
    ::kill(pid, nSignal);
    EXPECT_EQ(WaitFor(pid), -nSignal) << out;
    ::close(fds[0]);
    CLines logged = Untimed(ReadHostFile(log));
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.back(),
              strProgram + " " + kVersion + " ended: did not finish, interrupted by signal " +
                  std::to_string(nSignal) + "; exit status " + std::to_string(128 + nSignal));
    if (strProgram != "orvane-sim") continue;
    QJsonObject json = ReadReport(report);
    EXPECT_EQ(json["outcome"].toString(), "interrupted");
    EXPECT_EQ(json["signal"].toInt(), nSignal);
    EXPECT_EQ(json["screens"].toArray().size(), json["screenshots"].toArray().size());
    EXPECT_EQ(json.value("error_code"), QJsonValue());
  }
}

}  // namespace
