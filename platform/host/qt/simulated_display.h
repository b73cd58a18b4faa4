// The device's display as the host simulates it: a size in its normal orientation, turnable by 90
// degrees and able to refuse, the desktop work area and the shell's task bar strip; and the panel
// that shows it, where its picture is scaled, turned and centred. Qt-free and safe from any
// thread; the window backend draws what it says.
#pragma once

#include <functional>
#include <mutex>

#include "platform/winuser.h"

// Where the display's picture, upright in the display's current orientation, lies on the panel.
struct CPanelPlacement {
  int nTurns;       // clockwise quarter turns from the upright picture to the panel, 0..3
  double dScale;    // panel pixels per display pixel, the same across and down
  int nLeft, nTop;  // the panel pixel of the turned, scaled picture's top-left corner
  int nPanelWidth;  // the panel's own pixels
  int nPanelHeight;
};

class CHostDisplay {
 public:
  static constexpr int kTaskBarHeight = 26;  // pixels, along the bottom edge
  // The device's display in its normal orientation: the size its screens are designed for.
  static constexpr int kDesignWidth = 320;
  static constexpr int kDesignHeight = 240;

  // nWidth x nHeight pixels in the normal orientation (DMDO_0). With a task bar, it is shown and
  // the work area is above it; without, the work area is the whole screen and stays so.
  CHostDisplay(int nWidth = kDesignWidth, int nHeight = kDesignHeight, bool bTaskBar = true);

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

  // The panel the display is shown on, nWidth x nHeight pixels, mounted nMountTurns clockwise
  // quarter turns from the device's own panel (upside down: 2). Unset, it is the display itself.
  void SetPanel(int nWidth, int nHeight, int nMountTurns);
  // The display's picture in the current orientation, turned as the orientation and the mounting
  // ask, scaled uniformly to the largest size the panel holds and centred on it.
  CPanelPlacement Placement() const;

  // Called after every change of orientation, outside the display's lock.
  void SetOrientationCallback(std::function<void()> fnChanged);

 private:
  // The whole screen in the current orientation; the lock held.
  RECT Screen() const;

  mutable std::mutex m_mutex;
  int m_nNormalWidth;
  int m_nNormalHeight;
  DWORD m_dwOrientation = DMDO_0;
  bool m_bRefusing = false;
  int m_nSettingsCalls = 0;
  RECT m_rcWork;
  bool m_bTaskBarVisible;
  int m_nPanelWidth;
  int m_nPanelHeight;
  int m_nMountTurns = 0;
  std::function<void()> m_fnChanged;
};
