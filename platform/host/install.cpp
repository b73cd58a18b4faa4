#include "platform/host/install.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QtGlobal>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/host/xml/factory.h"
#include "platform/runtime.h"

namespace {

// The device's display in its normal orientation: the size its screens are designed for.
constexpr int kDesignWidth = 320;
constexpr int kDesignHeight = 240;

// ORVANE_PANEL_ROTATION in clockwise quarter turns; 0 when unset or not one of the four.
int PanelTurns(const char* pszProgram) {
  const char* psz = std::getenv("ORVANE_PANEL_ROTATION");
  if (!psz || !*psz) return 0;
  for (int nTurns = 0; nTurns < 4; ++nTurns)
    if (std::to_string(90 * nTurns) == psz) return nTurns;
  ErrorPrintA("%s: ORVANE_PANEL_ROTATION: '%s' ignored (known: 0, 90, 180, 270)", pszProgram, psz);
  return 0;
}

}  // namespace

CHostBackends::CHostBackends(const CHostOptions& options)
    : m_device(options.strImageRoot),
      m_pScreen(options.bRealScreen ? std::make_unique<CQtScreen>() : nullptr),
      m_display(kDesignWidth, kDesignHeight, !m_pScreen) {
  // The device's display, without a task bar on the real screen, shown on the real screen or on
  // a panel of the options' size.
  const QSize panel =
      m_pScreen ? m_pScreen->NormalSize() : QSize(options.nScreenWidth, options.nScreenHeight);
  m_display.SetPanel(panel.width(), panel.height(),
                     PanelTurns(options.bRealScreen ? "orvane-recovery" : "orvane-sim"));
  if (!options.strProgramPath.empty()) m_device.SetModuleFileName(options.strProgramPath);
  m_power.SetRestartHandler(options.fnRestart);
  m_pWindows = std::make_unique<CQtWindowBackend>(
      &m_display, &m_power, options.bDrawCaptions || m_pScreen, m_pScreen.get());
  m_pPrevDevice = InstallDeviceBackend(&m_device);
  m_pPrevWindows = InstallWindowBackend(m_pWindows.get());
  InstallXmlDocumentFactory();
}

CHostBackends::~CHostBackends() {
  InstallWindowBackend(m_pPrevWindows);
  InstallDeviceBackend(m_pPrevDevice);
}

std::unique_ptr<CHostBackends> InstallHostBackends(const CHostOptions& options) {
  return std::make_unique<CHostBackends>(options);
}

namespace {

bool IsSet(const char* pszName) {
  const char* psz = std::getenv(pszName);
  return psz && *psz;
}

// The user's own folder under /tmp, made once and reused: runs leave nothing behind. Empty when
// /tmp cannot hold one (read-only, say).
std::string PrivateFolder() {
  std::string strFolder = "/tmp/orvane-runtime-" + std::to_string(::getuid());
  if (::mkdir(strFolder.c_str(), 0700) != 0 && errno != EEXIST) return "";
  struct stat st {};
  if (::lstat(strFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
      (st.st_mode & 0077) != 0)
    return "";
  return strFolder;
}

PFN_QT_FATAL g_pfnOnFatal = nullptr;

}  // namespace

bool HostHasDisplay() { return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY"); }

void RouteQtMessages(PFN_QT_FATAL pfnOnFatal) {
  g_pfnOnFatal = pfnOnFatal;
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& s) {
    if (type == QtFatalMsg && g_pfnOnFatal) g_pfnOnFatal();
    ErrorPrintA("%s", qPrintable(qFormatLogMessage(type, context, s)));
    if (type == QtFatalMsg) std::abort();
  });
}

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
  std::string strFolder;
  if (const char* psz = std::getenv("XDG_RUNTIME_DIR"); psz && *psz) {
    strFolder = psz;
  } else {
    strFolder = PrivateFolder();
    if (!strFolder.empty()) ::setenv("XDG_RUNTIME_DIR", strFolder.c_str(), 1);
  }
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
