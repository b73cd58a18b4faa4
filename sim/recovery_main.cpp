// orvane-recovery: the program itself, on the host. No arguments, as on the device; the device
// root comes from ORVANE_DEVICE_ROOT, the restart from ORVANE_RESTART_COMMAND.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/recovery_app.h"
#include "platform/host/install.h"
#include "platform/runtime.h"

// The program's one application object lives in the logic library: this reference links it.
CWinApp* volatile g_pTheApp = &theApp;

namespace {

// The program ends while its worker still waits for work: no static destructor may run under it.
[[noreturn]] void EndProcess(int nCode) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(nCode);
}

}  // namespace

int main(int argc, char** argv) {
  static_cast<void>(argc);
  CQtEnvironment environment;
  std::string strError;
  if (!environment.Prepare(!HostHasDisplay(), 320, 240, strError)) {
    std::fprintf(stderr, "orvane-recovery: %s\n", strError.c_str());
    return 1;
  }
  int nQtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QApplication app(nQtArgc, qtArgv);
  environment.Release();

  CHostOptions host;
  host.strImageRoot = CHostDevice::RootFromEnvironment();
  host.bDrawCaptions = environment.Offscreen();
  host.fnRestart = &RestartByCommandOrExit;
  std::unique_ptr<CHostBackends> backends = InstallHostBackends(host);
  SetExitHook(&EndProcess);
  EndProcess(AfxWinMain());
}
