// The simulator's command line.
#pragma once

#include <string>

enum class ETap { Yes, No, None };

struct CSimOptions {
  std::string strImage;  // --image: host folder of the image
  std::wstring strProgram = L"\\SDMMC\\Recovery\\Recovery.exe";  // --program: device path
  ETap eTap = ETap::Yes;                                         // --tap
  int nScreenWidth = 320;                                        // --screen, normal orientation
  int nScreenHeight = 240;
  std::string strScreenshots;    // --screenshots: folder, or empty
  std::string strReport;         // --report: file, or empty
  double dTimeoutSeconds = 120;  // --timeout
  bool bWindow = false;          // --window
  bool bHelp = false;            // --help
};

// Reads the arguments; false with the reason in strError when they are not a valid command.
bool ParseSimOptions(int argc, char** argv, CSimOptions& options, std::string& strError);
// The usage text.
const char* SimUsage();
