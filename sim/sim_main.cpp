// orvane-sim: the unchanged program against a device image, with a simulated display and user.
#include <sys/stat.h>

#include <QApplication>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/recovery_app.h"
#include "platform/host/device/run_lock.h"
#include "platform/host/install.h"
#include "platform/run_log.h"
#include "platform/runtime.h"
#include "platform/version.h"
#include "sim/sim_controller.h"
#include "sim/sim_options.h"

namespace {

constexpr int kBadUsage = 2;

int Refuse(const std::string& strWhy) {
  ErrorPrintA("orvane-sim: %s", strWhy.c_str());
  CloseRunLog(kBadUsage);
  return kBadUsage;
}

bool IsFolder(const std::string& strPath) {
  struct stat st {};
  return ::stat(strPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder part of a device path, without its trailing separator ("" for the root).
std::wstring DeviceFolderOf(const std::wstring& strPath) {
  size_t n = strPath.rfind(L'\\');
  return n == std::wstring::npos ? std::wstring() : strPath.substr(0, n);
}

}  // namespace

// The program's one application object lives in the logic library: this reference links it.
CWinApp* volatile g_pTheApp = &theApp;

int main(int argc, char** argv) {
  CSimOptions options;
  std::string strError;
  if (!ParseSimOptions(argc, argv, options, strError)) {
    ErrorPrintA("orvane-sim: %s; try --help", strError.c_str());
    return kBadUsage;
  }
  if (options.bHelp || options.bVersion) {
    if (options.bHelp)
      std::fputs(SimUsage(), stdout);
    else
      std::printf("orvane-sim %s\n", kOrvaneVersion);
    return 0;
  }
  if (const char* pszLog = std::getenv("ORVANE_LOG"); pszLog && *pszLog) {
    if (!OpenRunLog(pszLog, std::string("orvane-sim ") + kOrvaneVersion, strError))
      ErrorPrintA("orvane-sim: %s", strError.c_str());
  }
  if (!IsFolder(options.strImage))
    return Refuse("the device image " + options.strImage + " is not a folder");
  options.strImage = std::filesystem::absolute(options.strImage).lexically_normal().string();
  if (!LockDeviceRoot(options.strImage, strError)) {
    ErrorPrintA("orvane-sim: %s", strError.c_str());
    CloseRunLog(1);
    return 1;
  }
  std::wstring strFolder = DeviceFolderOf(options.strProgram);
  DWORD dwAttributes =
      CHostDevice(options.strImage).GetAttributes(strFolder.empty() ? L"\\" : strFolder);
  if (dwAttributes == INVALID_FILE_ATTRIBUTES || !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return Refuse("the image has no folder " + WideToText(strFolder) + " for the program");
  if (options.bWindow && !HostHasDisplay())
    return Refuse("--window needs a display (DISPLAY or WAYLAND_DISPLAY)");
  if (!options.strScreenshots.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(options.strScreenshots, ec);
    if (!IsFolder(options.strScreenshots))
      return Refuse("cannot make the screenshot folder " + options.strScreenshots);
  }
  if (!options.strReport.empty()) {
    std::filesystem::path parent = std::filesystem::path(options.strReport).parent_path();
    if (!parent.empty() && !IsFolder(parent.string()))
      return Refuse("the report's folder " + parent.string() + " does not exist");
  }

  RouteQtMessages();
  CQtEnvironment environment;
  if (!environment.Prepare(!options.bWindow, options.nScreenWidth, options.nScreenHeight,
                           strError)) {
    ErrorPrintA("orvane-sim: %s", strError.c_str());
    CloseRunLog(1);
    return 1;
  }
  int nQtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QApplication app(nQtArgc, qtArgv);
  environment.Release();

  CHostOptions host;
  host.strImageRoot = options.strImage;
  host.strProgramPath = options.strProgram;
  host.nScreenWidth = options.nScreenWidth;
  host.nScreenHeight = options.nScreenHeight;
  host.bDrawCaptions = environment.Offscreen();
  std::unique_ptr<CHostBackends> backends = InstallHostBackends(host);

  CSimController controller(options, *backends);
  controller.Start();
  int nCode = AfxWinMain();
  controller.Finish(EOutcome::Exit, nCode);
}
