// orvane-recovery: the program itself, on the host. Only --help and --version, otherwise no
// arguments, as on the device; the device root comes from ORVANE_DEVICE_ROOT, the program's place
// from ORVANE_PROGRAM, the restart from ORVANE_RESTART_COMMAND, the log from ORVANE_LOG.
#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/recovery_app.h"
#include "platform/host/device/run_lock.h"
#include "platform/host/device/termination.h"
#include "platform/host/install.h"
#include "platform/run_log.h"
#include "platform/runtime.h"
#include "platform/version.h"

// The program's one application object lives in the logic library: this reference links it.
CWinApp* volatile g_pTheApp = &theApp;

namespace {

constexpr int kBadUsage = 2;

const char kHelp[] =
    "usage: orvane-recovery [--help | --version]\n"
    "The emergency recovery of the navigation device, full screen: on YES it empties\n"
    "\\ResidentFlash, copies the folders Path.xml names, deletes \\SDMMC\\OrvaneData\\AppData and\n"
    "restarts the device. It reads no arguments; the environment tells it where it runs:\n"
    "  ORVANE_DEVICE_ROOT      host folder of the device's root \\ (default /)\n"
    "  ORVANE_PROGRAM          its device path; Path.xml is read from that folder (default: its\n"
    "                          own file inside the root, else \\SDMMC\\Recovery\\Recovery.exe)\n"
    "  ORVANE_RESTART_COMMAND  run by /bin/sh to restart the device (default: exit status 3)\n"
    "  ORVANE_RESTART_WAIT     seconds the restart command has to end the program (default 60)\n"
    "  ORVANE_LOG              file that every output line is appended to, with a timestamp\n"
    "  QT_QPA_PLATFORM         Qt platform to draw on (default: the first of xcb, wayland,\n"
    "                          linuxfb and eglfs that starts)\n"
    "exit status: 0 ended without a restart (NO, nothing to restore, Path.xml unreadable),\n"
    "             3 restart requested and no ORVANE_RESTART_COMMAND, 1 could not start,\n"
    "             2 bad usage\n";

// The program ends while its worker still waits for work: no static destructor may run under it.
[[noreturn]] void EndProcess(int nCode) {
  CloseRunLog(nCode);
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(nCode);
}

// --help and --version answered, anything else refused; false when the program must not run.
bool ReadCommandLine(int argc, char** argv, int& nStatus) {
  QCommandLineParser parser;
  const QCommandLineOption help({"h", "help"}, "");
  const QCommandLineOption version("version", "");
  parser.addOptions({help, version});
  QStringList args;
  for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  const bool bParsed = parser.parse(args);
  if (bParsed && parser.isSet(help)) {
    std::fputs(kHelp, stdout);
  } else if (bParsed && parser.isSet(version)) {
    std::printf("orvane-recovery %s\n", kOrvaneVersion);
  } else if (bParsed && parser.positionalArguments().isEmpty()) {
    return true;
  } else {
    QString strWhy = bParsed ? "unexpected argument '" + parser.positionalArguments().front() + "'"
                             : parser.errorText();
    if (strWhy.endsWith('.')) strWhy.chop(1);
    ErrorPrintA("orvane-recovery: %s; try --help", qPrintable(strWhy));
    nStatus = kBadUsage;
    return false;
  }
  nStatus = 0;
  return false;
}

std::string g_strPlatforms;

// No platform could start, or none has a screen: say what was tried and how to choose.
[[noreturn]] void NoScreen() {
  ErrorPrintA(
      "orvane-recovery: no screen to draw on: Qt could start none of \"%s\"; set "
      "QT_QPA_PLATFORM to the platform this system has (xcb, wayland, linuxfb, eglfs, vnc; "
      "offscreen draws nowhere)",
      g_strPlatforms.c_str());
  EndProcess(1);
}

}  // namespace

int main(int argc, char** argv) {
  int nStatus = 0;
  if (!ReadCommandLine(argc, argv, nStatus)) return nStatus;
  std::string strError;
  if (const char* pszLog = std::getenv("ORVANE_LOG"); pszLog && *pszLog) {
    if (!OpenRunLog(pszLog, std::string("orvane-recovery ") + kOrvaneVersion, strError))
      ErrorPrintA("orvane-recovery: %s", strError.c_str());
  }
  std::wstring strProgram;
  if (!CHostDevice::ProgramFromEnvironment(strProgram, strError)) {
    ErrorPrintA("orvane-recovery: %s", strError.c_str());
    EndProcess(kBadUsage);
  }
  strError.clear();
  if (!LockDeviceRoot(CHostDevice::RootFromEnvironment(), strError)) {
    ErrorPrintA("orvane-recovery: %s", strError.c_str());
    EndProcess(1);
  }
  if (!strError.empty()) ErrorPrintA("orvane-recovery: %s", strError.c_str());
  OnTerminationSignal([](int nSignal) {
    CloseRunLog(128 + nSignal, "interrupted by signal " + std::to_string(nSignal));
    DieOfSignal(nSignal);
  });
  PrepareQtRuntimeFolder();
  g_strPlatforms = ChooseScreenPlatform();
  RouteQtMessages(&NoScreen);
  int nQtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QApplication app(nQtArgc, qtArgv);
  if (!QGuiApplication::primaryScreen()) NoScreen();

  CHostOptions host;
  host.strImageRoot = CHostDevice::RootFromEnvironment();
  host.strProgramPath = strProgram;
  host.bRealScreen = true;
  host.fnRestart = &RestartByCommandOrExit;
  std::unique_ptr<CHostBackends> backends = InstallHostBackends(host);
  RouteQtMessages();  // the screen is up: from here Qt's fatal messages are faults
  SetExitHook(&EndProcess);
  EndProcess(AfxWinMain());
}
