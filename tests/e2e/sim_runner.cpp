#include "tests/e2e/sim_runner.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <filesystem>
#include <sstream>

extern char** environ;

namespace fs = std::filesystem;

std::map<std::string, std::string> CImageTree::Snapshot() const {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(Root())) {
    std::string rel = fs::relative(entry.path(), Root()).string();
    if (entry.is_directory())
      tree[rel + "/"] = "";
    else
      tree[rel] = ReadHostFile(entry.path().string());
  }
  return tree;
}

pid_t StartShell(const std::string& strCommand, int fdOut, int fdErr) {
  const char* argv[] = {"/bin/sh", "-c", strCommand.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fdOut, 1);
  posix_spawn_file_actions_adddup2(&actions, fdErr, 2);
  pid_t pid = -1;
  posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int WaitFor(pid_t pid) {
  int nStatus = 0;
  while (::waitpid(pid, &nStatus, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -WTERMSIG(nStatus);
}

CSimRun RunShell(const std::string& strCommand) {
  CImageTree files;
  const std::string out = files.Root() + "/out", err = files.Root() + "/err";
  CSimRun run;
  run.nStatus = WaitFor(StartShell("{ " + strCommand + "; } >" + out + " 2>" + err, 1, 2));
  run.strOut = ReadHostFile(out);
  run.strErr = ReadHostFile(err);
  return run;
}

CSimRun RunSimulator(const std::vector<std::string>& args) {
  std::string strCommand = "exec " ORVANE_BIN_DIR "/orvane-sim";
  for (std::string a : args) {
    for (size_t n = 0; (n = a.find('\'', n)) != std::string::npos; n += 4) a.replace(n, 1, "'\\''");
    strCommand += " '" + a + "'";
  }
  CSimRun run = RunShell(strCommand);
  run.nStatus = std::max(run.nStatus, -1);
  return run;
}

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> lines;
  std::istringstream in(s);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

QJsonObject ReadReport(const std::string& strPath) {
  return QJsonDocument::fromJson(QByteArray::fromStdString(ReadHostFile(strPath))).object();
}

std::vector<std::vector<std::string>> ScreensOf(const QJsonObject& report) {
  std::vector<std::vector<std::string>> screens;
  for (const QJsonValue& screen : report["screens"].toArray()) {
    std::vector<std::string> texts;
    for (const QJsonValue& t : screen.toArray()) texts.push_back(t.toString().toStdString());
    screens.push_back(texts);
  }
  return screens;
}

std::vector<std::pair<std::string, std::string>> BoxesOf(const QJsonObject& report) {
  std::vector<std::pair<std::string, std::string>> boxes;
  for (const QJsonValue& box : report["message_boxes"].toArray())
    boxes.push_back(
        {box["caption"].toString().toStdString(), box["text"].toString().toStdString()});
  return boxes;
}
