// The program's icon, IDR_MAINFRAME, from the resources in res/.
#include <QImage>

#include "platform/host/qt/window_backend.h"
#include "platform/kernel.h"
#include "res/resource.h"

// The icon is a resource of this static library: registered before its first use. Outside any
// namespace, as the registration function it names is.
static void RegisterIcon() {
  static const bool bRegistered = [] {
    Q_INIT_RESOURCE(icon);
    return true;
  }();
  (void)bRegistered;
}

HICON CQtWindowBackend::LoadIconW(UINT nIDResource) {
  return OnUi([&]() -> HICON {
    if (auto it = m_iconIds.find(nIDResource); it != m_iconIds.end()) return it->second;
    if (nIDResource != IDR_MAINFRAME) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    RegisterIcon();
    QImage image(QStringLiteral(":/res/icon128.png"));
    if (image.isNull()) return nullptr;
    HICON hIcon = reinterpret_cast<HICON>(m_nNextHandle);
    m_nNextHandle += 4;
    m_icons[hIcon] = image;
    m_iconIds[nIDResource] = hIcon;
    return hIcon;
  });
}
