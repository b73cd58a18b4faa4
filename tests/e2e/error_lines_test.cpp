// What the program says on standard error, one line per cause, through real runs: the program in
// the simulator on device images, and the host's restart command run by /bin/sh.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host/device/power.h"
#include "tests/e2e/sim_runner.h"

namespace {

using CLines = std::vector<std::string>;

std::string Entry(const std::string& strSource) {
  return R"(<R><P Count="1" Src1="\SDMMC\)" + strSource + R"(" Dst1="\ResidentFlash"/></R>)";
}

CLines ProgramLines(const std::string& strOut) {
  CLines lines;
  std::istringstream in(strOut);
  for (std::string line; std::getline(in, line);)
    if (line.starts_with("orvane-recovery: ")) lines.push_back(line.substr(17));
  return lines;
}

TEST(ErrorLines, EachCauseOfARunThatWentWrongIsOneLine) {
  const std::string kLong(245, 'x');  // its copy in \ResidentFlash\ is 260 characters long
  const std::string kXml = "cannot load \\SDMMC\\Recovery\\Path.xml: ";
  struct CCase {
    const char* pszPathXml;  // a folder of \SDMMC for the one entry, a whole file, or null
    int nStatus;
    std::string strLine;  // after "orvane-recovery: "; empty for none
  };
  const CCase cases[] = {
      {"Backup", 3, ""},
      {"Long", 3,
       "cannot copy \\SDMMC\\Long\\" + kLong + " to \\ResidentFlash\\" + kLong +
           ": The filename or extension is too long. (code 206)"},
      {"Empty", 3, "the source folder '\\SDMMC\\Empty' is empty"},
      {"None", 0, "nothing restored: the first source folder '\\SDMMC\\None' is missing"},
      {nullptr, 0, kXml + "The system cannot find the file specified. (code 2)"},
      {"<R>\n  <P/>\n</Q>\n", 0, kXml + "not well-formed XML: Start-end tags mismatch at byte 13"},
      {"<!-- none -->", 0, kXml + "no root element"},
  };
  for (const CCase& c : cases) {
    SCOPED_TRACE(c.pszPathXml ? c.pszPathXml : "no Path.xml");
    CImageTree image;
    for (const char* pszFolder : {"ResidentFlash", "SDMMC/Empty", "SDMMC/Recovery"})
      image.Folder(pszFolder);
    image.File("SDMMC/Backup/a.txt", "a");
    image.File("SDMMC/Long/" + kLong, "a");
    const std::string strXml = c.pszPathXml ? c.pszPathXml : "";
    if (c.pszPathXml)
      image.File("SDMMC/Recovery/Path.xml", strXml[0] == '<' ? strXml : Entry(strXml));
    CSimRun run = RunSimulator({"--image", image.Root(), "--tap", "yes"});
    EXPECT_EQ(run.nStatus, c.nStatus) << run.strErr;
    EXPECT_EQ(ProgramLines(run.strErr), c.strLine.empty() ? CLines{} : CLines{c.strLine});
    EXPECT_EQ(ProgramLines(run.strOut), CLines{});
  }
}

TEST(ErrorLines, RestartCommandThatDoesNotRestartIsNamedAndEndsWithStatusThree) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct CCase {
    const char* pszCommand;
    const char* pszLine;  // on standard error; "" for none
  };
  const CCase cases[] = {
      {"/nonexistent/reboot", "command '/nonexistent/reboot' exited with status 127"},
      {"exit 7", "command 'exit 7' exited with status 7"},
      {"kill -9 $$", "command 'kill -9 \\$\\$' was ended by signal 9"},
      {"true", "command 'true' exited with status 0, but the device had not restarted 1 s later"},
  };
  for (const CCase& c : cases) {
    SCOPED_TRACE(c.pszCommand);
    ::setenv("ORVANE_RESTART_COMMAND", c.pszCommand, 1);
    ::setenv("ORVANE_RESTART_WAIT", "1", 1);
    EXPECT_EXIT(RestartByCommandOrExit(), testing::ExitedWithCode(3), c.pszLine);
  }
  // A command that restarts the device ends the program, here with the signal systemd sends.
  ::setenv("ORVANE_RESTART_COMMAND", "kill $PPID", 1);
  ::setenv("ORVANE_RESTART_WAIT", "60", 1);
  EXPECT_EXIT(RestartByCommandOrExit(), testing::KilledBySignal(SIGTERM), "");
  ::unsetenv("ORVANE_RESTART_COMMAND");
  ::unsetenv("ORVANE_RESTART_WAIT");
}

}  // namespace
