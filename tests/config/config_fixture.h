// The configuration tests' world: an in-memory device holding the program's folder, the recording
// window system for the notices, and the pugixml document service.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/host/xml/factory.h"
#include "tests/fakes/fake_device.h"
#include "tests/fakes/fake_windows.h"

inline constexpr wchar_t kPathXml[] = L"\\ResidentFlash\\Path.xml";

class ConfigTest : public ::testing::Test {
 protected:
  ConfigTest() : m_deviceScope(m_device), m_windowsScope(m_windows) { InstallXmlDocumentFactory(); }

  // Path.xml with these bytes; the record starts after it.
  void PutPathXml(const std::string& strBytes) {
    m_device.AddFile(kPathXml, strBytes);
    m_device.ClearRecord();
  }
  std::string PathXmlBytes() const { return m_device.Snapshot().at(kPathXml).strContents; }
  // The message boxes shown, as recorded.
  std::vector<std::string> Boxes() const { return m_windows.Calls({"MessageBoxW"}); }

  CFakeDevice m_device;
  CFakeWindows m_windows;

 private:
  CFakeDeviceScope m_deviceScope;
  CFakeWindowsScope m_windowsScope;
};

inline const std::string kCannotLoadBox =
    R"(MessageBoxW(null, "Cannot load XML file", "Error Loading XML", 0x10) -> 1)";
inline const std::string kEmptyDocumentBox =
    R"(MessageBoxW(null, "Empty document!", "Error Loading XML", 0x10) -> 1)";
