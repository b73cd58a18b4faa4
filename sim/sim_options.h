// The simulator's command line.
#pragma once

#include <string>

#include "platform/host/device/device.h"

enum class ETap { Yes, No, None };

struct CSimOptions {
  std::string strImage;                                    // --image: host folder of the image
  std::wstring strProgram = CHostDevice::kDefaultProgram;  // --program: device path
  ETap eTap = ETap::Yes;                                   // --tap
  int nScreenWidth = 320;                                  // --screen, normal orientation
  int nScreenHeight = 240;
  std::string strScreenshots;    // --screenshots: folder, or empty
  std::string strReport;         // --report: file, or empty
  double dTimeoutSeconds = 120;  // --timeout
  bool bWindow = false;          // --window
  bool bHelp = false;            // --help: the usage on standard output, nothing else
  bool bVersion = false;         // --version: the version on standard output, nothing else
};

// Reads the arguments (--flag value or --flag=value); false with the reason in strError when
// they are not a valid command.
bool ParseSimOptions(int argc, char** argv, CSimOptions& options, std::string& strError);
// The usage text.
const char* SimUsage();
