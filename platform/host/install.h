// The host's backends for the two executables: the device image (files and processes), the Qt
// window system with the simulated display, task bar, power driver and restart, and the XML
// document on libxml2, installed for as long as the returned object lives; and Qt's start-up
// environment, prepared before the QApplication exists.
#pragma once

#include <memory>
#include <string>

#include "platform/host/device/device.h"
#include "platform/host/device/power.h"
#include "platform/host/qt/real_screen.h"
#include "platform/host/qt/simulated_display.h"
#include "platform/host/qt/window_backend.h"

struct CHostOptions {
  std::string strImageRoot = "/";  // host folder standing for the device's root
  std::wstring strProgramPath;     // device path of the program file; empty: the executable's
  int nScreenWidth = 320;          // the panel showing the device's display (320 x 240),
  int nScreenHeight = 240;         // in the panel's own orientation
  bool bDrawCaptions = true;       // captions drawn in the windows (no window decorations)
  // The platform's own screen as the panel: no task bar, the windows drawn into one full-screen
  // window that turns and scales (captions always drawn).
  bool bRealScreen = false;
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
  std::unique_ptr<CQtScreen> m_pScreen;
  CHostDisplay m_display;
  CHostPower m_power;
  std::unique_ptr<CQtWindowBackend> m_pWindows;
  IDeviceBackend* m_pPrevDevice = nullptr;
  IWindowBackend* m_pPrevWindows = nullptr;
};

// Installs the host's backends (see CHostBackends).
std::unique_ptr<CHostBackends> InstallHostBackends(const CHostOptions& options);

// Qt's start-up environment: for the simulator, Qt's offscreen platform with one screen of the
// device's size and no window frames, which renders the same pixels as a real display; for the
// program, the platform the system chose; and Qt's runtime folder.
// True when an X or Wayland display is there to show windows on.
bool HostHasDisplay();
// Qt's own warnings become the program's error lines (standard error and the device log). A
// fatal one calls pfnOnFatal first when given (it may end the process), then aborts.
using PFN_QT_FATAL = void (*)();
void RouteQtMessages(PFN_QT_FATAL pfnOnFatal = nullptr);
// Before the QApplication, for a real screen: QT_QPA_PLATFORM when set, otherwise the platforms
// this host may have, in the order tried (X, Wayland, the frame buffer, DRM), set there for Qt.
// Returns what Qt will try.
std::string ChooseScreenPlatform();

// Qt's runtime folder: XDG_RUNTIME_DIR when set, else a private 0700 folder under /tmp, made
// when missing and set as XDG_RUNTIME_DIR; empty when there is none.
std::string PrepareQtRuntimeFolder();

class CQtEnvironment {
 public:
  // Before the QApplication: bOffscreen selects the offscreen platform with a nWidth x nHeight
  // screen (unless QT_QPA_PLATFORM already names another platform), from a screen file in Qt's
  // runtime folder. That folder is XDG_RUNTIME_DIR when set, else a private 0700 folder under
  // /tmp when one can be made; without one, only the screen file fails (with a message).
  bool Prepare(bool bOffscreen, int nWidth, int nHeight, std::string& strError);
  // After the QApplication is made: the screen file is no longer needed.
  void Release();
  ~CQtEnvironment() { Release(); }
  bool Offscreen() const { return m_bOffscreen; }

 private:
  std::string m_strScreenFile;
  bool m_bOffscreen = false;
};
