// What the program says on standard error, one line per cause, through real runs: the program in
// the simulator on device images, and the host's restart command run by /bin/sh.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <tuple>
#include <utility>

#include "platform/host/device/power.h"
#include "tests/e2e/sim_runner.h"

namespace {

TEST(ErrorLines, EachCauseOfARunThatWentWrongIsOneLine) {
  const std::string kLong(245, 'x');  // its copy in \ResidentFlash\ is 260 characters long
  const std::string kXml = "cannot load \\SDMMC\\Recovery\\Path.xml: ";
  // The one entry's folder of \SDMMC, a whole Path.xml, or none; the exit status; the program's
  // line on standard error after "orvane-recovery: ", or none.
  const std::tuple<std::string, int, std::string> cases[] = {
      {"Backup", 3, ""},
      {"Long", 3,
       "cannot copy \\SDMMC\\Long\\" + kLong + " to \\ResidentFlash\\" + kLong +
           ": The filename or extension is too long. (code 206)"},
      {"Empty", 3, "the source folder '\\SDMMC\\Empty' is empty"},
      {"None", 0, "nothing restored: the first source folder '\\SDMMC\\None' is missing"},
      {"", 0, kXml + "The system cannot find the file specified. (code 2)"},
      {"<R>\n  <P/>\n</Q>\n", 0,
       kXml + "not well-formed XML: Opening and ending tag mismatch: R line 1 and Q at byte 15"},
      {"Locked", 3, "cannot examine \\SDMMC\\Locked\\a.txt: Access is denied. (code 5)"},
      {"Out", 3, "cannot list \\SDMMC\\Out: Access is denied. (code 5)"},
      {"<!-- none -->", 0, kXml + "no root element"},
  };
  for (const auto& [strXml, nStatus, strLine] : cases) {
    SCOPED_TRACE(strXml);
    CTempImage image;
    image.Lay("ResidentFlash/ SDMMC/Empty/ SDMMC/Recovery/ SDMMC/Backup/a.txt=a SDMMC/Long/" +
              kLong + "=a SDMMC/Locked/a.txt=a");
    image.Link("SDMMC/Out", "/tmp");
    // A folder that can be read but not searched stops only an unprivileged user.
    std::string strAs;
    ::chmod(image.Host("SDMMC/Locked").c_str(), strXml == "Locked" ? 0644 : 0755);
    if (strXml == "Locked" && ::geteuid() == 0) {
      RunShell("chmod 0755 " + image.Root() + " && chown -R nobody:nogroup " + image.Root());
      strAs = "setpriv --reuid=nobody --regid=nogroup --clear-groups ";
    }
    const std::string strEntry =
        R"(<R><P Count="1" Src1="\SDMMC\)" + strXml + R"(" Dst1="\ResidentFlash"/></R>)";
    if (!strXml.empty())
      image.File("SDMMC/Recovery/Path.xml", strXml[0] == '<' ? strXml : strEntry);
    CSimRun run =
        strAs.empty()
            ? RunSimulator({"--image", image.Root(), "--tap", "yes"})
            : RunShell(strAs + ORVANE_BIN_DIR "/orvane-sim --tap yes --image " + image.Root());
    ::chmod(image.Host("SDMMC/Locked").c_str(), 0755);
    EXPECT_EQ(run.nStatus, nStatus) << run.strErr;
    std::string strLines;  // the simulator's own lines go to standard error too
    for (const std::string& line : Lines(run.strErr))
      if (line.starts_with("orvane-recovery: ")) strLines += line.substr(17) + "\n";
    EXPECT_EQ(strLines, strLine.empty() ? "" : strLine + "\n");
    EXPECT_EQ(run.strOut.find("orvane-recovery: "), std::string::npos);
  }
}

TEST(ErrorLines, RestartCommandThatDoesNotRestartIsNamedAndEndsWithStatusThree) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The command, and what the program says of it on standard error before it ends with status 3.
  const std::pair<const char*, const char*> cases[] = {
      {"/nonexistent/reboot", "command '/nonexistent/reboot' exited with status 127"},
      {"exit 7", "command 'exit 7' exited with status 7"},
      {"kill -9 $$", "command 'kill -9 \\$\\$' was ended by signal 9"},
      {"true", "command 'true' exited with status 0, but the device had not restarted 1 s later"},
  };
  ::setenv("ORVANE_RESTART_WAIT", "1", 1);
  for (const auto& [pszCommand, pszLine] : cases) {
    ::setenv("ORVANE_RESTART_COMMAND", pszCommand, 1);
    EXPECT_EXIT(RestartByCommandOrExit(), testing::ExitedWithCode(3), pszLine) << pszCommand;
  }
  // A command that restarts the device ends the program, here with the signal systemd sends.
  ::setenv("ORVANE_RESTART_COMMAND", "kill $PPID", 1);
  ::setenv("ORVANE_RESTART_WAIT", "60", 1);
  EXPECT_EXIT(RestartByCommandOrExit(), testing::KilledBySignal(SIGTERM), "");
  ::unsetenv("ORVANE_RESTART_COMMAND");
  ::unsetenv("ORVANE_RESTART_WAIT");
}

}  // namespace
