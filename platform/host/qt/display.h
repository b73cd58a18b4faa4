// The device's display as the host simulates it: a size in its normal orientation, turnable by 90
// degrees and able to refuse, the desktop work area and the shell's task bar strip. Qt-free and
// safe from any thread; the window backend draws what it says.
#pragma once

#include <functional>
#include <mutex>

#include "platform/winuser.h"

class CHostDisplay {
 public:
  static constexpr int kTaskBarHeight = 26;  // pixels, along the bottom edge

  // nWidth x nHeight pixels in the normal orientation (DMDO_0). With a task bar, it is shown and
  // the work area is above it; without, the work area is the whole screen and stays so.
  CHostDisplay(int nWidth = 320, int nHeight = 240, bool bTaskBar = true);

  // Pixels across and down in the current orientation.
  int Width() const;
  int Height() const;
  // DMDO_0 or DMDO_90.
  DWORD Orientation() const;

  // While set, every orientation test or change answers DISP_CHANGE_FAILED and changes nothing.
  void SetRefusing(bool bRefusing);
  // ChangeDisplaySettingsEx on this display: DM_DISPLAYQUERYORIENTATION with CDS_TEST answers the
  // supported orientations in dmDisplayOrientation; DM_DISPLAYORIENTATION tests (CDS_TEST) or sets
  // DMDO_0 or DMDO_90. A record whose dmSize is not 192 bytes is DISP_CHANGE_BADMODE. A new
  // orientation lays the work area out anew, as the shell does: the whole turned screen, less
  // the task bar's strip while the task bar is shown.
  LONG ChangeSettings(DEVMODEW* pDevMode, DWORD dwFlags);
  // ChangeSettings calls so far, refused ones included.
  int SettingsCalls() const;

  RECT WorkArea() const;
  // FALSE (nothing changed) for an empty or inverted rectangle.
  BOOL SetWorkArea(const RECT& rcWork);

  bool TaskBarVisible() const;
  void SetTaskBarVisible(bool bVisible);
  // The task bar's strip along the bottom edge of the current orientation.
  RECT TaskBarRect() const;

  // Called after every change of orientation, outside the display's lock.
  void SetOrientationCallback(std::function<void()> fnChanged);

 private:
  mutable std::mutex m_mutex;
  int m_nNormalWidth;
  int m_nNormalHeight;
  DWORD m_dwOrientation = DMDO_0;
  bool m_bRefusing = false;
  int m_nSettingsCalls = 0;
  RECT m_rcWork;
  bool m_bTaskBarVisible;
  std::function<void()> m_fnChanged;
};
