#include "platform/host/qt/simulated_display.h"

#include <algorithm>
#include <cmath>

CHostDisplay::CHostDisplay(int nWidth, int nHeight, bool bTaskBar)
    : m_nNormalWidth(nWidth),
      m_nNormalHeight(nHeight),
      m_rcWork{0, 0, nWidth, bTaskBar ? nHeight - kTaskBarHeight : nHeight},
      m_bTaskBarVisible(bTaskBar),
      m_nPanelWidth(nWidth),
      m_nPanelHeight(nHeight) {}

RECT CHostDisplay::Screen() const {
  return m_dwOrientation == DMDO_90 ? RECT{0, 0, m_nNormalHeight, m_nNormalWidth}
                                    : RECT{0, 0, m_nNormalWidth, m_nNormalHeight};
}

int CHostDisplay::Width() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return Screen().right;
}

int CHostDisplay::Height() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return Screen().bottom;
}

DWORD CHostDisplay::Orientation() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_dwOrientation;
}

void CHostDisplay::SetRefusing(bool bRefusing) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bRefusing = bRefusing;
}

LONG CHostDisplay::ChangeSettings(DEVMODEW* pDevMode, DWORD dwFlags) {
  std::function<void()> fnChanged;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_nSettingsCalls;
    if (!pDevMode || pDevMode->dmSize != sizeof(DEVMODEW)) return DISP_CHANGE_BADMODE;
    if (m_bRefusing) return DISP_CHANGE_FAILED;
    if (pDevMode->dmFields & DM_DISPLAYQUERYORIENTATION) {
      if (!(dwFlags & CDS_TEST)) return DISP_CHANGE_BADMODE;
      pDevMode->dmDisplayOrientation = DMDO_0 | DMDO_90;  // the orientations this display takes
      return DISP_CHANGE_SUCCESSFUL;
    }
    if (!(pDevMode->dmFields & DM_DISPLAYORIENTATION)) return DISP_CHANGE_SUCCESSFUL;
    DWORD dwWanted = pDevMode->dmDisplayOrientation;
    if (dwWanted != DMDO_0 && dwWanted != DMDO_90) return DISP_CHANGE_BADMODE;
    if (dwFlags & CDS_TEST) return DISP_CHANGE_SUCCESSFUL;
    if (dwWanted == m_dwOrientation) return DISP_CHANGE_SUCCESSFUL;
    m_dwOrientation = dwWanted;
    // The shell lays its work area out anew on the turned screen: above the task bar when shown.
    m_rcWork = Screen();
    if (m_bTaskBarVisible) m_rcWork.bottom -= kTaskBarHeight;
    fnChanged = m_fnChanged;
  }
  if (fnChanged) fnChanged();
  return DISP_CHANGE_SUCCESSFUL;
}

int CHostDisplay::SettingsCalls() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_nSettingsCalls;
}

RECT CHostDisplay::WorkArea() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_rcWork;
}

BOOL CHostDisplay::SetWorkArea(const RECT& rcWork) {
  if (rcWork.right <= rcWork.left || rcWork.bottom <= rcWork.top) return FALSE;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_rcWork = rcWork;
  return TRUE;
}

bool CHostDisplay::TaskBarVisible() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bTaskBarVisible;
}

void CHostDisplay::SetTaskBarVisible(bool bVisible) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bTaskBarVisible = bVisible;
}

RECT CHostDisplay::TaskBarRect() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  RECT rc = Screen();
  rc.top = rc.bottom - kTaskBarHeight;
  return rc;
}

void CHostDisplay::SetOrientationCallback(std::function<void()> fnChanged) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_fnChanged = std::move(fnChanged);
}

void CHostDisplay::SetPanel(int nWidth, int nHeight, int nMountTurns) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_nPanelWidth = nWidth;
  m_nPanelHeight = nHeight;
  m_nMountTurns = ((nMountTurns % 4) + 4) % 4;
}

CPanelPlacement CHostDisplay::Placement() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  const bool bTurned = m_dwOrientation == DMDO_90;
  // The device turns its picture a quarter anticlockwise: three clockwise.
  const int nTurns = ((bTurned ? 3 : 0) + m_nMountTurns) % 4;
  int cx = bTurned ? m_nNormalHeight : m_nNormalWidth;
  int cy = bTurned ? m_nNormalWidth : m_nNormalHeight;
  if (nTurns % 2) std::swap(cx, cy);
  const double dScale =
      std::min(static_cast<double>(m_nPanelWidth) / cx, static_cast<double>(m_nPanelHeight) / cy);
  const int nWidth = static_cast<int>(std::lround(cx * dScale));
  const int nHeight = static_cast<int>(std::lround(cy * dScale));
  return CPanelPlacement{
      nTurns,        dScale,        (m_nPanelWidth - nWidth) / 2, (m_nPanelHeight - nHeight) / 2,
      m_nPanelWidth, m_nPanelHeight};
}
