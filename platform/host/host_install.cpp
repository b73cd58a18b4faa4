#include "platform/host/host_install.h"

#include "platform/host/xml_factory.h"

CHostBackends::CHostBackends(const CHostOptions& options)
    : m_device(options.strImageRoot), m_display(options.nScreenWidth, options.nScreenHeight) {
  if (!options.strProgramPath.empty()) m_device.SetModuleFileName(options.strProgramPath);
  m_power.SetRestartHandler(options.fnRestart);
  m_pWindows = std::make_unique<CQtWindowBackend>(&m_display, &m_power, options.bDrawCaptions);
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
