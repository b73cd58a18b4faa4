// The Qt platform the executables draw on: the program's list of real ones, the simulator's
// offscreen screen of the device's size.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/host/install.h"

namespace {

bool IsSet(const char* pszName) {
  const char* psz = std::getenv(pszName);
  return psz && *psz;
}

}  // namespace

bool HostHasDisplay() { return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY"); }

std::string ChooseScreenPlatform() {
  if (const char* psz = std::getenv("QT_QPA_PLATFORM"); psz && *psz) return psz;
  // Qt's own default is X alone; a device without it has a frame buffer or a DRM display.
  std::string strList;
  if (IsSet("DISPLAY")) strList += "xcb;";
  if (IsSet("WAYLAND_DISPLAY")) strList += "wayland;";
  strList += "linuxfb;eglfs";
  ::setenv("QT_QPA_PLATFORM", strList.c_str(), 1);
  return strList;
}

bool CQtEnvironment::Prepare(bool bOffscreen, int nWidth, int nHeight, std::string& strError) {
  const std::string strFolder = PrepareQtRuntimeFolder();
  m_bOffscreen = bOffscreen;
  if (!bOffscreen) return true;
  const char* pszPlatform = std::getenv("QT_QPA_PLATFORM");
  if (pszPlatform && *pszPlatform && std::strncmp(pszPlatform, "offscreen", 9) != 0) {
    m_bOffscreen = false;  // the caller chose a platform of its own
    return true;
  }
  if (strFolder.empty()) {
    strError = "no folder for the screen file: XDG_RUNTIME_DIR is not set and /tmp is not writable";
    return false;
  }
  m_strScreenFile = strFolder + "/screen-" + std::to_string(::getpid()) + ".json";
  FILE* f = std::fopen(m_strScreenFile.c_str(), "w");
  if (!f) {
    strError = "cannot write " + m_strScreenFile + ": " + std::strerror(errno);
    m_strScreenFile.clear();
    return false;
  }
  std::fprintf(f,
               "{\"synchronousWindowSystemEvents\": false, \"windowFrameMargins\": false,\n"
               " \"screens\": [{\"name\": \"device\", \"x\": 0, \"y\": 0, \"width\": %d, "
               "\"height\": %d, \"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1}]}\n",
               nWidth, nHeight);
  std::fclose(f);
  std::string strPlatform = "offscreen:configfile=" + m_strScreenFile;
  ::setenv("QT_QPA_PLATFORM", strPlatform.c_str(), 1);
  return true;
}

void CQtEnvironment::Release() {
  if (m_strScreenFile.empty()) return;
  std::remove(m_strScreenFile.c_str());
  m_strScreenFile.clear();
}
