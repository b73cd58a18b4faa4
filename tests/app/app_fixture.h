// The application tests' world: an in-memory device with the program on the storage card and its
// Path.xml, the recording window system (display 320 x 240, turned 240 x 320), the pugixml
// document service, and the program's exit intercepted.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/recovery_dlg.h"
#include "platform/host/xml/factory.h"
#include "tests/fakes/diag_capture.h"
#include "tests/fakes/fake_device.h"
#include "tests/fakes/fake_exit.h"
#include "tests/fakes/fake_windows.h"

inline constexpr wchar_t kProgram[] = L"\\SDMMC\\Recovery\\Recovery.exe";
inline constexpr wchar_t kPathXmlFile[] = L"\\SDMMC\\Recovery\\Path.xml";
inline constexpr wchar_t kBackup[] = L"\\SDMMC\\Backup";

// Path.xml naming the entries (source, destination), count first.
inline std::string PathXml(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string s = "<Paths>\n  <Entry Count=\"" + std::to_string(entries.size()) + "\"";
  int i = 0;
  for (const auto& [src, dst] : entries) {
    ++i;
    s += " Src" + std::to_string(i) + "=\"" + src + "\" Dst" + std::to_string(i) + "=\"" + dst +
         "\"";
  }
  return s + " />\n</Paths>\n";
}

class AppTest : public ::testing::Test {
 protected:
  AppTest() : m_deviceScope(m_device), m_windowsScope(m_windows) {
    InstallXmlDocumentFactory();
    m_device.SetModuleFileName(kProgram);
    m_device.AddFile(L"\\SDMMC\\Recovery\\Recovery.exe", "MZ");
    m_device.AddFile(L"\\SDMMC\\Backup\\Navi\\Navi.exe", "navi");
    m_device.AddFile(L"\\ResidentFlash\\Navi\\Navi.exe", "old navi");
  }

  void PutPathXml(const std::string& strBytes) { m_device.AddFile(kPathXmlFile, strBytes); }

  // Runs the dialog modally with the script; the exit code when the program ended, -1 when the
  // modal loop returned.
  int RunDialog(CRecoveryDlg& dlg, std::vector<CFakeAction> script) {
    m_windows.Script(std::move(script));
    try {
      dlg.DoModal();
    } catch (const CFakeExit& e) {
      return e.nCode;
    }
    return -1;
  }

  // The record from the first line that starts with strFrom on.
  std::vector<std::string> CallsFrom(const std::string& strFrom) const {
    std::vector<std::string> all = m_windows.Calls(), out;
    bool bIn = false;
    for (const auto& line : all) {
      bIn = bIn || line.compare(0, strFrom.size(), strFrom) == 0;
      if (bIn) out.push_back(line);
    }
    return out;
  }

  // From now on every recorded line is kept with the state that fnState reports at that moment
  // ("line | state"); thread lines are kept without their handle values.
  void Annotate(std::function<std::string()> fnState) {
    m_windows.SetCallObserver([this, fnState](const std::string& line) {
      std::string strLine = line;
      if (strLine.rfind("diag: [", 0) == 0) strLine = strLine.substr(0, strLine.find(']') + 1);
      std::lock_guard<std::mutex> lock(m_annotatedMutex);
      m_annotated.push_back(strLine + " | " + fnState());
    });
  }
  std::vector<std::string> Annotated() const {
    std::lock_guard<std::mutex> lock(m_annotatedMutex);
    return m_annotated;
  }

  COldDiagCapture m_diag;  // keeps the thread lines off the test output
  CFakeDevice m_device;
  CFakeWindows m_windows;
  CFakeExitScope m_exit;

 private:
  mutable std::mutex m_annotatedMutex;
  std::vector<std::string> m_annotated;
  CFakeDeviceScope m_deviceScope;
  CFakeWindowsScope m_windowsScope;
};
