#include "tests/e2e/sim_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

CSimRun RunSimulator(const std::vector<std::string>& args) {
  CSimRun run;
  char outName[] = "/tmp/orvane-e2e-out-XXXXXX";
  char errName[] = "/tmp/orvane-e2e-err-XXXXXX";
  int fdOut = ::mkstemp(outName);
  int fdErr = ::mkstemp(errName);
  std::string strProgram = std::string(ORVANE_BIN_DIR) + "/orvane-sim";
  std::vector<char*> argv;
  argv.push_back(strProgram.data());
  std::vector<std::string> copies = args;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fdOut, 1);
  posix_spawn_file_actions_adddup2(&actions, fdErr, 2);
  pid_t pid = 0;
  if (posix_spawn(&pid, strProgram.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
    int nStatus = 0;
    while (::waitpid(pid, &nStatus, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(nStatus)) run.nStatus = WEXITSTATUS(nStatus);
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(fdOut);
  ::close(fdErr);
  run.strOut = ReadHostFile(outName);
  run.strErr = ReadHostFile(errName);
  ::unlink(outName);
  ::unlink(errName);
  return run;
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
