#include "sim/sim_report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QString>

#include "platform/version.h"

namespace {

const char* OutcomeName(EOutcome e) {
  switch (e) {
    case EOutcome::Exit:
      return "exit";
    case EOutcome::Restart:
      return "restart";
    case EOutcome::Timeout:
      return "timeout";
    case EOutcome::Interrupted:
      return "interrupted";
  }
  return "exit";
}

QJsonValue ShotName(const std::string& strShot) {
  return strShot.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(strShot));
}

}  // namespace

void CSimReport::AddScreen(const std::vector<std::wstring>& texts, const std::string& strShot) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_screens.push_back(texts);
  m_screenShots.push_back(strShot);
}

void CSimReport::AddMessageBox(const std::wstring& strCaption, const std::wstring& strText,
                               const std::string& strShot) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_boxes.push_back({strCaption, strText, strShot});
}

int CSimReport::NextShotNumber() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return ++m_nShots;
}

std::string CSimReport::ToJson(const CSimEnd& end) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  QJsonObject root;
  root["version"] = kOrvaneVersion;
  root["outcome"] = OutcomeName(end.eOutcome);
  if (end.eOutcome == EOutcome::Exit) root["exit_code"] = end.nExitCode;
  if (end.eOutcome == EOutcome::Interrupted) root["signal"] = end.nSignal;
  root["duration_ms"] = static_cast<qint64>(end.nDurationMs);
  root["image"] = QString::fromStdString(end.strImage);
  root["program"] = QString::fromStdWString(end.strProgram);
  QJsonArray screens, shots;
  for (size_t i = 0; i < m_screens.size(); ++i) {
    QJsonArray list;
    for (const auto& t : m_screens[i]) list.append(QString::fromStdWString(t));
    screens.append(list);
    shots.append(ShotName(m_screenShots[i]));
  }
  root["screens"] = screens;
  root["screenshots"] = shots;
  // The N of "Recover failed(N)!...", the code the person is shown.
  static const QRegularExpression failure(QStringLiteral("^Recover failed\\((-?\\d+)\\)!"));
  QJsonValue errorCode;
  QJsonArray boxes;
  for (const auto& box : m_boxes) {
    const QString strText = QString::fromStdWString(box.strText);
    if (QRegularExpressionMatch m = failure.match(strText); m.hasMatch() && errorCode.isNull())
      errorCode = m.captured(1).toInt();
    boxes.append(QJsonObject{{"caption", QString::fromStdWString(box.strCaption)},
                             {"text", strText},
                             {"screenshot", ShotName(box.strShot)}});
  }
  root["message_boxes"] = boxes;
  root["error_code"] = errorCode;
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
    case EOutcome::Interrupted:
      s = "interrupted by signal " + std::to_string(end.nSignal);
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
  QSaveFile file(QString::fromLocal8Bit(strPath.c_str()));
  if (file.open(QIODevice::WriteOnly) &&
      file.write(strContents.data(), static_cast<qint64>(strContents.size())) ==
          static_cast<qint64>(strContents.size()) &&
      file.commit())
    return true;
  strError = "cannot write " + strPath + ": " + file.errorString().toStdString();
  return false;
}
