// The host's backends installed for the two executables.
#include "platform/host/install.h"

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/host/xml/factory.h"
#include "platform/runtime.h"

namespace {

// ORVANE_PANEL_ROTATION in clockwise quarter turns; 0 when unset or not one of the four.
int PanelTurns(const char* pszProgram) {
  const char* psz = std::getenv("ORVANE_PANEL_ROTATION");
  if (!psz || !*psz) return 0;
  for (int nTurns = 0; nTurns < 4; ++nTurns)
    if (std::to_string(90 * nTurns) == psz) return nTurns;
  ErrorPrintA("%s: ORVANE_PANEL_ROTATION: '%s' ignored (known: 0, 90, 180, 270)", pszProgram, psz);
  return 0;
}

}  // namespace

CHostBackends::CHostBackends(const CHostOptions& options)
    : m_device(options.strImageRoot),
      m_pScreen(options.bRealScreen ? std::make_unique<CQtScreen>() : nullptr),
      m_display(CHostDisplay::kDesignWidth, CHostDisplay::kDesignHeight, !m_pScreen) {
  // The device's display, without a task bar on the real screen, shown on the real screen or on
  // a panel of the options' size.
  const QSize panel =
      m_pScreen ? m_pScreen->NormalSize() : QSize(options.nScreenWidth, options.nScreenHeight);
  m_display.SetPanel(panel.width(), panel.height(),
                     PanelTurns(options.bRealScreen ? "orvane-recovery" : "orvane-sim"));
  if (!options.strProgramPath.empty()) m_device.SetModuleFileName(options.strProgramPath);
  m_power.SetRestartHandler(options.fnRestart);
  m_pWindows = std::make_unique<CQtWindowBackend>(
      &m_display, &m_power, options.bDrawCaptions || m_pScreen, m_pScreen.get());
  m_pPrevDevice = InstallDeviceBackend(&m_device);
  m_pPrevWindows = InstallWindowBackend(m_pWindows.get());
  InstallXmlDocumentFactory();
}

CHostBackends::~CHostBackends() {
  InstallWindowBackend(m_pPrevWindows);
  InstallDeviceBackend(m_pPrevDevice);
}

std::unique_ptr<CHostBackends> InstallHostBackends(const CHostOptions& options) {
  return std::make_unique<CHostBackends>(options);
}
