#include "sim/sim_report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const char* OutcomeName(EOutcome e) {
  switch (e) {
    case EOutcome::Exit:
      return "exit";
    case EOutcome::Restart:
      return "restart";
    case EOutcome::Timeout:
      return "timeout";
  }
  return "exit";
}

}  // namespace

void CSimReport::AddScreen(const std::vector<std::wstring>& texts) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_screens.push_back(texts);
}

void CSimReport::AddMessageBox(const std::wstring& strCaption, const std::wstring& strText) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_boxes.push_back({strCaption, strText});
}

int CSimReport::NextShotNumber() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return ++m_nShots;
}

std::string CSimReport::ToJson(const CSimEnd& end) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  QJsonObject root;
  root["outcome"] = OutcomeName(end.eOutcome);
  if (end.eOutcome == EOutcome::Exit) root["exit_code"] = end.nExitCode;
  QJsonArray screens;
  for (const auto& texts : m_screens) {
    QJsonArray list;
    for (const auto& t : texts) list.append(QString::fromStdWString(t));
    screens.append(list);
  }
  root["screens"] = screens;
  QJsonArray boxes;
  for (const auto& box : m_boxes)
    boxes.append(QJsonObject{{"caption", QString::fromStdWString(box.strCaption)},
                             {"text", QString::fromStdWString(box.strText)}});
  root["message_boxes"] = boxes;
  root["orientation"] = static_cast<int>(end.nOrientation);
  root["taskbar_visible"] = end.bTaskBarVisible;
  root["work_area"] =
      QJsonArray{end.workArea[0], end.workArea[1], end.workArea[2], end.workArea[3]};
  root["restart"] =
      QJsonObject{{"requested", end.bRestartRequested}, {"pwr1_called", end.bPowerDriverCalled}};
  return QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}

std::string CSimReport::Summary(const CSimEnd& end) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::string s;
  switch (end.eOutcome) {
    case EOutcome::Exit:
      s = "the program exited with code " + std::to_string(end.nExitCode);
      break;
    case EOutcome::Restart:
      s = std::string("the device restarted (") +
          (end.bPowerDriverCalled ? "power driver called" : "no power driver call") + ")";
      break;
    case EOutcome::Timeout:
      s = "timed out";
      break;
  }
  s += "; " + std::to_string(m_screens.size()) + " distinct frames, " +
       std::to_string(m_boxes.size()) + " message boxes; display at " +
       (end.nOrientation ? "90" : "0") + " degrees, task bar " +
       (end.bTaskBarVisible ? "shown" : "hidden");
  return s;
}

bool WriteFileAtomically(const std::string& strPath, const std::string& strContents,
                         std::string& strError) {
  std::string strTemp = strPath + ".tmp";
  FILE* f = std::fopen(strTemp.c_str(), "wb");
  if (!f) {
    strError = "cannot write " + strTemp + ": " + std::strerror(errno);
    return false;
  }
  bool bOk = std::fwrite(strContents.data(), 1, strContents.size(), f) == strContents.size();
  bOk = std::fflush(f) == 0 && bOk;
  bOk = std::fclose(f) == 0 && bOk;
  if (!bOk || std::rename(strTemp.c_str(), strPath.c_str()) != 0) {
    strError = "cannot write " + strPath + ": " + std::strerror(errno);
    std::remove(strTemp.c_str());
    return false;
  }
  return true;
}
