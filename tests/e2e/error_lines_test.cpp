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
  const std::string kXml = R"(\SDMMC\Recovery\Path.xml)";
  struct CCase {
    const char* name;
    const char* pszPathXml;  // null: no Path.xml
    std::string strBackupFile;
    int nStatus;
    CLines lines;  // after "orvane-recovery: "
  };
  const std::vector<CCase> cases = {
      {"restored", "Backup", "a.txt", 3, {}},
      {"copy failed",
       "Backup",
       kLong,
       3,
       {R"(cannot copy \SDMMC\Backup\)" + kLong + R"( to \ResidentFlash\)" + kLong +
        ": The filename or extension is too long. (code 206)"}},
      {"source empty", "Empty", "a.txt", 3, {R"(the source folder '\SDMMC\Empty' is empty)"}},
      {"first source missing",
       "None",
       "a.txt",
       0,
       {R"(nothing restored: the first source folder '\SDMMC\None' is missing)"}},
      {"no Path.xml",
       nullptr,
       "a.txt",
       0,
       {"cannot load " + kXml + ": The system cannot find the file specified. (code 2)"}},
      {"malformed",
       "<R>\n  <P/>\n</Q>\n",
       "a.txt",
       0,
       {"cannot load " + kXml + ": not well-formed XML: Start-end tags mismatch at byte 13"}},
      {"no root element",
       "<!-- none -->",
       "a.txt",
       0,
       {"cannot load " + kXml + ": no root element"}},
  };
  for (const CCase& c : cases) {
    SCOPED_TRACE(c.name);
    CImageTree image;
    image.Folder("ResidentFlash");
    image.Folder("SDMMC/Empty");
    image.Folder("SDMMC/Recovery");
    image.File("SDMMC/Backup/" + c.strBackupFile, "contents");
    const std::string strXml = c.pszPathXml ? c.pszPathXml : "";
    if (c.pszPathXml)
      image.File("SDMMC/Recovery/Path.xml", strXml[0] == '<' ? strXml : Entry(strXml));
    CSimRun run = RunSimulator({"--image", image.Root(), "--tap", "yes"});
    EXPECT_EQ(run.nStatus, c.nStatus) << run.strErr;
    EXPECT_EQ(ProgramLines(run.strErr), c.lines) << run.strErr;
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
