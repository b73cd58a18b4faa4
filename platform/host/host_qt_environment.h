// Qt's start-up environment for the two executables: with no display (or when asked), Qt's
// offscreen platform with one screen of the device's size and no window frames, which renders
// the same pixels as a real display, and a private runtime folder that keeps Qt quiet.
#pragma once

#include <string>

// True when an X or Wayland display is there to show windows on.
bool HostHasDisplay();

class CQtEnvironment {
 public:
  // Before the QApplication: bOffscreen selects the offscreen platform with a nWidth x nHeight
  // screen (unless QT_QPA_PLATFORM already names a platform); sets XDG_RUNTIME_DIR to a private
  // 0700 folder when it names none. False with a message when a file or folder cannot be made.
  bool Prepare(bool bOffscreen, int nWidth, int nHeight, std::string& strError);
  // After the QApplication is made: the screen file is no longer needed.
  void Release();
  ~CQtEnvironment() { Release(); }
  bool Offscreen() const { return m_bOffscreen; }

 private:
  std::string m_strScreenFile;
  bool m_bOffscreen = false;
};
