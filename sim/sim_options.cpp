#include "sim/sim_options.h"

#include <QCommandLineParser>
#include <QStringList>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

constexpr int kMaxScreenSide = 4096;
constexpr double kMaxTimeoutSeconds = 7 * 24 * 3600;

bool ParseScreen(const std::string& s, int& nWidth, int& nHeight) {
  size_t x = s.find('x');
  if (x == std::string::npos || x == 0 || x + 1 >= s.size()) return false;
  std::string w = s.substr(0, x), h = s.substr(x + 1);
  for (const std::string& part : {w, h})
    if (part.size() > 5 || part.find_first_not_of("0123456789") != std::string::npos) return false;
  nWidth = std::atoi(w.c_str());
  nHeight = std::atoi(h.c_str());
  return nWidth > 0 && nHeight > 0 && nWidth <= kMaxScreenSide && nHeight <= kMaxScreenSide;
}

bool ParseTimeout(const std::string& s, double& dSeconds) {
  if (s.empty()) return false;
  char* pEnd = nullptr;
  errno = 0;
  double d = std::strtod(s.c_str(), &pEnd);
  if (errno != 0 || *pEnd != '\0' || !std::isfinite(d) || d <= 0 || d > kMaxTimeoutSeconds)
    return false;
  dSeconds = d;
  return true;
}

bool Fail(std::string& strError, const std::string& strWhy) {
  strError = strWhy;
  return false;
}

}  // namespace

const char* SimUsage() {
  return "usage: orvane-sim --image DIR [--program PATH] [--tap yes|no|none] [--screen WxH]\n"
         "                  [--screenshots DIR] [--report FILE] [--timeout SECONDS] [--window]\n"
         "       orvane-sim --help | --version\n"
         "Runs the recovery program against a device image, with a simulated display and user.\n"
         "  --image DIR        host folder that stands for the device's root (required)\n"
         "  --program PATH     device path of the program file (default "
         "\\SDMMC\\Recovery\\Recovery.exe);\n"
         "                     Path.xml is read from its folder\n"
         "  --tap yes|no|none  what the user taps once the first frame is drawn (default yes)\n"
         "  --screen WxH       the panel showing the device's 320x240 display, scaled to fit\n"
         "                     (default 320x240)\n"
         "  --screenshots DIR  a PNG of every distinct frame and of every message box\n"
         "  --report FILE      a JSON report of the run, also when it is interrupted\n"
         "  --timeout SECONDS  give up after this long (default 120)\n"
         "  --window           show a real window; the taps are yours\n"
         "Values also go as --flag=value. ORVANE_LOG=FILE appends every output line to FILE.\n"
         "exit status: 0 program exited with 0, 3 device restarted, 124 time-out,\n"
         "             2 bad usage or unusable image, 1 anything else;\n"
         "             ended by SIGTERM or SIGINT: the report is written, then the signal ends "
         "it\n";
}

bool ParseSimOptions(int argc, char** argv, CSimOptions& options, std::string& strError) {
  const QCommandLineOption image("image", "", "DIR"), program("program", "", "PATH"),
      tap("tap", "", "yes|no|none"), screen("screen", "", "WxH"),
      screenshots("screenshots", "", "DIR"), report("report", "", "FILE"),
      timeout("timeout", "", "SECONDS"), window("window", ""), help({"h", "help"}, ""),
      version("version", "");
  QCommandLineParser parser;
  parser.addOptions(
      {image, program, tap, screen, screenshots, report, timeout, window, help, version});
  QStringList args;
  for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  if (!parser.parse(args)) {
    QString strWhy = parser.errorText();
    if (strWhy.endsWith('.')) strWhy.chop(1);
    return Fail(strError, strWhy.toStdString());
  }
  options.bHelp = parser.isSet(help);
  options.bVersion = parser.isSet(version);
  if (options.bHelp || options.bVersion) return true;
  if (!parser.positionalArguments().isEmpty())
    return Fail(strError,
                "unexpected argument '" + parser.positionalArguments().front().toStdString() + "'");
  auto valueOf = [&](const QCommandLineOption& o) { return parser.value(o).toStdString(); };

  if (!parser.isSet(image)) return Fail(strError, "--image DIR is required");
  options.strImage = parser.value(image).toLocal8Bit().toStdString();
  if (options.strImage.empty()) return Fail(strError, "--image needs a folder");
  if (parser.isSet(program)) {
    options.strProgram = parser.value(program).toStdWString();
    if (!CHostDevice::IsProgramPath(options.strProgram))
      return Fail(strError,
                  "--program needs a device path such as \\SDMMC\\Recovery\\Recovery.exe");
  }
  if (parser.isSet(tap)) {
    const std::string v = valueOf(tap);
    if (v == "yes")
      options.eTap = ETap::Yes;
    else if (v == "no")
      options.eTap = ETap::No;
    else if (v == "none")
      options.eTap = ETap::None;
    else
      return Fail(strError, "--tap takes yes, no or none, not '" + v + "'");
  }
  if (parser.isSet(screen) &&
      !ParseScreen(valueOf(screen), options.nScreenWidth, options.nScreenHeight))
    return Fail(strError, "--screen takes WIDTHxHEIGHT in pixels, such as 320x240, not '" +
                              valueOf(screen) + "'");
  options.strScreenshots = parser.value(screenshots).toLocal8Bit().toStdString();
  options.strReport = parser.value(report).toLocal8Bit().toStdString();
  if (parser.isSet(timeout) && !ParseTimeout(valueOf(timeout), options.dTimeoutSeconds))
    return Fail(strError,
                "--timeout takes a positive number of seconds, not '" + valueOf(timeout) + "'");
  options.bWindow = parser.isSet(window);
  return true;
}
