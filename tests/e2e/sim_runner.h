// Runs orvane-sim as scripts do, on device images made in temporary folders.
#pragma once

#include <QJsonObject>
#include <map>
#include <string>
#include <vector>

// A device image under /tmp, removed with its contents when the object goes.
class CImageTree {
 public:
  CImageTree();
  ~CImageTree();
  CImageTree(const CImageTree&) = delete;
  CImageTree& operator=(const CImageTree&) = delete;

  const std::string& Root() const { return m_strRoot; }
  void Folder(const std::string& strRel) const;
  void File(const std::string& strRel, const std::string& strContents) const;
  // Every folder ("path/") and file ("path" with its contents) under the root.
  std::map<std::string, std::string> Snapshot() const;

 private:
  std::string m_strRoot;
};

struct CSimRun {
  int nStatus = -1;  // exit status; -1 when it did not exit normally
  std::string strOut;
  std::string strErr;
};

// Runs the simulator with the arguments and waits for it.
CSimRun RunSimulator(const std::vector<std::string>& args);
// The JSON report at the path; empty when it cannot be read.
QJsonObject ReadReport(const std::string& strPath);
// The report's screens as lists of texts.
std::vector<std::vector<std::string>> ScreensOf(const QJsonObject& report);
// The report's message boxes as (caption, text).
std::vector<std::pair<std::string, std::string>> BoxesOf(const QJsonObject& report);
