// Runs orvane-sim as scripts do, on device images made in temporary folders.
#pragma once

#include <sys/types.h>

#include <QJsonObject>
#include <map>
#include <string>
#include <vector>

#include "tests/support/image.h"

// A device image (under /dev/shm), removed with its contents when the object goes.
class CImageTree : public CTempImage {
 public:
  // Every folder ("path/") and file ("path" with its contents) under the root.
  std::map<std::string, std::string> Snapshot() const;
};

struct CSimRun {
  int nStatus = -1;  // exit status; -1 when it did not exit normally
  std::string strOut;
  std::string strErr;
};

// Starts the shell command with its standard output and error on the descriptors.
pid_t StartShell(const std::string& strCommand, int fdOut, int fdErr);
// The exit status, or minus the signal that ended the process.
int WaitFor(pid_t pid);
// Runs the shell command and waits for it.
CSimRun RunShell(const std::string& strCommand);
// Runs the simulator with the arguments and waits for it.
CSimRun RunSimulator(const std::vector<std::string>& args);
// The text's lines, without their line feeds.
std::vector<std::string> Lines(const std::string& s);
// The JSON report at the path; empty when it cannot be read.
QJsonObject ReadReport(const std::string& strPath);
// The report's screens as lists of texts.
std::vector<std::vector<std::string>> ScreensOf(const QJsonObject& report);
// The report's message boxes as (caption, text).
std::vector<std::pair<std::string, std::string>> BoxesOf(const QJsonObject& report);
