#include "sim/sim_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/cstring.h"

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

}  // namespace

const char* SimUsage() {
  return "usage: orvane-sim --image DIR [--program PATH] [--tap yes|no|none] [--screen WxH]\n"
         "                  [--screenshots DIR] [--report FILE] [--timeout SECONDS] [--window]\n"
         "  --image DIR        host folder that stands for the device's root (required)\n"
         "  --program PATH     device path of the program file (default "
         "\\SDMMC\\Recovery\\Recovery.exe);\n"
         "                     Path.xml is read from its folder\n"
         "  --tap yes|no|none  what the user taps once the first frame is drawn (default yes)\n"
         "  --screen WxH       the display in its normal orientation (default 320x240)\n"
         "  --screenshots DIR  a PNG of every distinct frame and of every message box\n"
         "  --report FILE      a JSON report of the run\n"
         "  --timeout SECONDS  give up after this long (default 120)\n"
         "  --window           show a real window; the taps are yours\n"
         "exit status: 0 program exited with 0, 3 device restarted, 124 time-out,\n"
         "             2 bad usage or unusable image, 1 anything else\n";
}

bool ParseSimOptions(int argc, char** argv, CSimOptions& options, std::string& strError) {
  bool bHaveImage = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool bInline = false;
    if (size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      bInline = true;
    }
    auto needValue = [&](std::string& out) {
      if (bInline) {
        out = value;
        return true;
      }
      if (i + 1 >= argc) {
        strError = arg + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    auto noValue = [&] {
      if (!bInline) return true;
      strError = arg + " takes no value";
      return false;
    };
    std::string v;
    if (arg == "--image") {
      if (!needValue(v)) return false;
      if (v.empty()) {
        strError = "--image needs a folder";
        return false;
      }
      options.strImage = v;
      bHaveImage = true;
    } else if (arg == "--program") {
      if (!needValue(v)) return false;
      std::wstring path = Utf8ToWide(v);
      if (path.size() < 2 || path[0] != L'\\' || path.back() == L'\\' || path.size() >= MAX_PATH) {
        strError = "--program needs a device path such as \\SDMMC\\Recovery\\Recovery.exe";
        return false;
      }
      options.strProgram = path;
    } else if (arg == "--tap") {
      if (!needValue(v)) return false;
      if (v == "yes") {
        options.eTap = ETap::Yes;
      } else if (v == "no") {
        options.eTap = ETap::No;
      } else if (v == "none") {
        options.eTap = ETap::None;
      } else {
        strError = "--tap takes yes, no or none, not '" + v + "'";
        return false;
      }
    } else if (arg == "--screen") {
      if (!needValue(v)) return false;
      if (!ParseScreen(v, options.nScreenWidth, options.nScreenHeight)) {
        strError = "--screen takes WIDTHxHEIGHT in pixels, such as 320x240, not '" + v + "'";
        return false;
      }
    } else if (arg == "--screenshots") {
      if (!needValue(v)) return false;
      options.strScreenshots = v;
    } else if (arg == "--report") {
      if (!needValue(v)) return false;
      options.strReport = v;
    } else if (arg == "--timeout") {
      if (!needValue(v)) return false;
      if (!ParseTimeout(v, options.dTimeoutSeconds)) {
        strError = "--timeout takes a positive number of seconds, not '" + v + "'";
        return false;
      }
    } else if (arg == "--window") {
      if (!noValue()) return false;
      options.bWindow = true;
    } else if (arg == "--help" || arg == "-h") {
      options.bHelp = true;
      return true;
    } else {
      strError = "unknown argument '" + arg + "'";
      return false;
    }
  }
  if (!bHaveImage) {
    strError = "--image DIR is required";
    return false;
  }
  return true;
}
