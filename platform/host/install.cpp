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

CHostBackends::CHostBackends(const CHostOptions& options)
    : m_device(options.strImageRoot), m_display(options.nScreenWidth, options.nScreenHeight) {
  if (!options.strProgramPath.empty()) m_device.SetModuleFileName(options.strProgramPath);
  m_power.SetRestartHandler(options.fnRestart);
  m_pWindows = std::make_unique<CQtWindowBackend>(&m_display, &m_power, options.bDrawCaptions);
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

// The user's own folder under /tmp, made once and reused: runs leave nothing behind.
bool PrivateFolder(std::string& strFolder, std::string& strError) {
  strFolder = "/tmp/orvane-runtime-" + std::to_string(::getuid());
  if (::mkdir(strFolder.c_str(), 0700) != 0 && errno != EEXIST) {
    strError = "cannot create " + strFolder + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::lstat(strFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
      (st.st_mode & 0077) != 0) {
    strError = strFolder + " is not a private folder of this user";
    return false;
  }
  return true;
}

}  // namespace

bool HostHasDisplay() { return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY"); }

void RouteQtMessages() {
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& s) {
    ErrorPrintA("%s", qPrintable(qFormatLogMessage(type, context, s)));
    if (type == QtFatalMsg) std::abort();
  });
}

bool CQtEnvironment::Prepare(bool bOffscreen, int nWidth, int nHeight, std::string& strError) {
  std::string strFolder;
  if (!PrivateFolder(strFolder, strError)) return false;
  if (!IsSet("XDG_RUNTIME_DIR")) ::setenv("XDG_RUNTIME_DIR", strFolder.c_str(), 1);
  m_bOffscreen = bOffscreen;
  if (!bOffscreen) return true;
  const char* pszPlatform = std::getenv("QT_QPA_PLATFORM");
  if (pszPlatform && *pszPlatform && std::strncmp(pszPlatform, "offscreen", 9) != 0) {
    m_bOffscreen = false;  // the caller chose a platform of its own
    return true;
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
