// The host's backends for the two executables: the device image (files and processes), the Qt
// window system with the simulated display, task bar, power driver and restart, and the XML
// document on pugixml, installed for as long as the returned object lives.
#pragma once

#include <memory>
#include <string>

#include "platform/host/host_device.h"
#include "platform/host/host_display.h"
#include "platform/host/host_power.h"
#include "platform/host/qt_window_backend.h"

struct CHostOptions {
  std::string strImageRoot = "/";  // host folder standing for the device's root
  std::wstring strProgramPath;     // device path of the program file; empty: the executable's
  int nScreenWidth = 320;          // the display in its normal orientation
  int nScreenHeight = 240;
  bool bDrawCaptions = true;  // captions drawn in the windows (no window decorations)
  CHostPower::PFN_RESTART fnRestart = &RestartByCommandOrExit;
};

class CHostBackends {
 public:
  // Needs the QApplication, on its thread; installs every backend.
  explicit CHostBackends(const CHostOptions& options);
  // Puts the previously installed backends back.
  ~CHostBackends();
  CHostBackends(const CHostBackends&) = delete;
  CHostBackends& operator=(const CHostBackends&) = delete;

  CHostDevice& Device() { return m_device; }
  CHostDisplay& Display() { return m_display; }
  CHostPower& Power() { return m_power; }
  CQtWindowBackend& Windows() { return *m_pWindows; }

 private:
  CHostDevice m_device;
  CHostDisplay m_display;
  CHostPower m_power;
  std::unique_ptr<CQtWindowBackend> m_pWindows;
  IDeviceBackend* m_pPrevDevice = nullptr;
  IWindowBackend* m_pPrevWindows = nullptr;
};

// Installs the host's backends (see CHostBackends).
std::unique_ptr<CHostBackends> InstallHostBackends(const CHostOptions& options);
