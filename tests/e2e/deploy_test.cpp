// What an integrator meets: the installed tree and its programs, the Debian package, the device
// log across runs, and the ends by SIGTERM and SIGINT. Real processes throughout: cmake --install,
// cpack, dpkg-deb, the program and the simulator on device images, started by /bin/sh.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <QJsonArray>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

#include "platform/version.h"
#include "tests/e2e/sim_runner.h"

namespace {

namespace fs = std::filesystem;
using CLines = std::vector<std::string>;
const std::string kBin = ORVANE_BIN_DIR;
const std::string kDoc = "share/doc/orvane-recovery/";
const std::string kVersion = kOrvaneVersion;

// Every file under the folder by relative path, with its contents (programs by name only).
std::map<std::string, std::string> Files(const std::string& strRoot) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(strRoot))
    if (const std::string rel = fs::relative(entry.path(), strRoot); entry.is_regular_file())
      files[rel] = rel.starts_with("bin/") ? "" : ReadHostFile(entry.path());
  return files;
}

// An install's whole tree: the sample image and Path.xml as in the sources, the fonts'
// licences, the README's device section, and a unit that starts the program under the prefix.
void ExpectInstalledTree(const std::string& strRoot, const std::string& strPrefix) {
  std::map<std::string, std::string> actual = Files(strRoot), expected;
  const std::string src = std::string(ORVANE_SOURCE_DIR) + "/examples/device";
  for (const auto& [rel, contents] : Files(src))
    expected[kDoc + "examples/device/" + rel] = contents;
  expected[kDoc + "examples/Path.xml"] = ReadHostFile(src + "/SDMMC/Recovery/Path.xml");
  expected["bin/orvane-recovery"] = expected["bin/orvane-sim"] = "";
  for (const std::string font : {"fonts-liberation2", "fonts-arphic-uming"})
    expected[kDoc + "fonts/" + font + ".copyright"] =
        ReadHostFile("/usr/share/doc/" + font + "/copyright");
  for (const char* generated : {"deploying.txt", "examples/orvane-recovery.service"})
    expected[kDoc + generated] = actual[kDoc + generated];
  EXPECT_EQ(actual, expected);
  EXPECT_TRUE(actual[kDoc + "deploying.txt"].starts_with("## Deploying on a device\n"));
  const std::string unit = actual[kDoc + "examples/orvane-recovery.service"];
  for (const std::string& line :
       CLines{"\nExecStart=" + strPrefix + "/bin/orvane-recovery\n",
              R"(Environment="ORVANE_RESTART_COMMAND=systemctl reboot")",
              R"(Environment="ORVANE_PROGRAM=\\SDMMC\\Recovery\\Recovery.exe")"})
    EXPECT_NE(unit.find(line), std::string::npos) << line << " in " << unit;
}

TEST(Deploy, InstallHoldsEveryFileAndItsProgramsAnswerAndRun) {
  CImageTree prefix;
  CSimRun install = RunShell("cmake --install " + kBin + "/.. --prefix " + prefix.Root());
  ASSERT_EQ(install.nStatus, 0) << install.strErr;
  ExpectInstalledTree(prefix.Root(), prefix.Root());

  struct CCase {
    std::string strCommand;  // run in the prefix's bin folder
    int nStatus;
    std::string strShown;  // the start of standard output on success, else all of standard error
  };
  const CCase cases[] = {
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
  };
  for (const CCase& c : cases) {
    SCOPED_TRACE(c.strCommand);
    CSimRun run = RunShell("cd " + prefix.Root() + "/bin && timeout 60 env " + c.strCommand);
    EXPECT_EQ(run.nStatus, c.nStatus);
    const std::string& strShown = c.nStatus == 0 ? run.strOut : run.strErr;
    EXPECT_TRUE(c.nStatus == 0 ? strShown.starts_with(c.strShown) : strShown == c.strShown)
        << strShown;
    EXPECT_EQ(c.nStatus == 0 ? run.strErr : run.strOut, "");
  }

  // The installed simulator restores a copy of the installed sample image.
  CImageTree image;
  fs::copy(prefix.Root() + "/" + kDoc + "examples/device", image.Root(),
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  CSimRun sim = RunShell(prefix.Root() + "/bin/orvane-sim --image " + image.Root());
  EXPECT_EQ(sim.nStatus, 3) << sim.strErr;
  EXPECT_TRUE(fs::exists(image.Root() + "/ResidentFlash/NaviApp/Voices/german.vpk"));
}

TEST(Deploy, DebianPackageHoldsTheInstallUnderUsrWithItsDependencies) {
  if (RunShell("command -v dpkg-deb && command -v dpkg-shlibdeps").nStatus != 0)
    GTEST_SKIP() << "no dpkg-deb or dpkg-shlibdeps here";
  CImageTree out;
  CSimRun cpack =
      RunShell("cpack -G DEB --config " + kBin + "/../CPackConfig.cmake -B " + out.Root());
  ASSERT_EQ(cpack.nStatus, 0) << cpack.strOut << cpack.strErr;
  const std::string arch = RunShell("dpkg --print-architecture").strOut;
  const std::string deb =
      out.Root() + "/orvane-recovery_" + kVersion + "_" + Lines(arch)[0] + ".deb";
  EXPECT_EQ(RunShell("dpkg-deb -f " + deb + " Package Version Architecture Section").strOut,
            "Package: orvane-recovery\nVersion: " + kVersion + "\nArchitecture: " + arch +
                "Section: admin\n");
  const std::string depends = RunShell("dpkg-deb -f " + deb + " Depends").strOut;
  for (const char* package :
       {"libc6 (", "libqt6widgets6 (", "libqt6gui6 (", "libqt6core6 (", "libxml2 ("})
    EXPECT_NE(depends.find(package), std::string::npos) << package << " in " << depends;
  EXPECT_EQ(depends.find("fonts-"), std::string::npos) << "the fonts are built in: " << depends;

  ASSERT_EQ(RunShell("dpkg-deb -x " + deb + " " + out.Root() + "/root").nStatus, 0);
  ExpectInstalledTree(out.Root() + "/root/usr", "/usr");
  for (const char* program : {"orvane-recovery", "orvane-sim"})
    EXPECT_EQ(ReadHostFile(out.Root() + "/root/usr/bin/" + program).find(".symtab"),
              std::string::npos)
        << program << " is not stripped";
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
