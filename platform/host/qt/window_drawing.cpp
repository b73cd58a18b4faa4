// Drawing calls, window contexts, and pictures of windows and of the display.
#include <QPainter>
#include <QPixmap>

#include "platform/host/qt/panel_picture.h"
#include "platform/host/qt/window_backend.h"

std::shared_ptr<QImage> CQtWindowBackend::Content(CWindow& w, QSize clientSize) {
  const qreal dRatio = m_pDisplay->Placement().dScale;
  if (!w.pContent || w.pContent->size() != PictureSize(clientSize, dRatio) ||
      w.pContent->devicePixelRatio() != dRatio)
    w.pContent = std::make_shared<QImage>(NewPicture(clientSize, dRatio, m_dialogColor));
  return w.pContent;
}

HDC CQtWindowBackend::GetDC(HWND hWnd) {
  return OnUi([&]() -> HDC {
    if (!hWnd) return m_gdi.CreateScreenDC();
    CWindow* w = Find(hWnd);
    if (!w || !w->pClient) return nullptr;
    std::shared_ptr<QImage> pContent = Content(*w, w->pClient->size());
    HDC hdc = m_gdi.CreateImageDC(pContent.get());
    m_imageDCs[hdc] = pContent;
    return hdc;
  });
}

int CQtWindowBackend::ReleaseDC(HWND hWnd, HDC hdc) {
  return OnUi([&]() -> int {
    if (!m_gdi.ReleaseDC(hdc)) return 0;
    m_imageDCs.erase(hdc);
    if (CWindow* w = Find(hWnd); w && w->pClient) w->pClient->update();
    return 1;
  });
}

HDC CQtWindowBackend::CreateCompatibleDC(HDC hdc) {
  return OnUi([&] { return m_gdi.CreateCompatibleDC(hdc); });
}
HBITMAP CQtWindowBackend::CreateCompatibleBitmap(HDC hdc, int nWidth, int nHeight) {
  return OnUi([&] { return m_gdi.CreateCompatibleBitmap(hdc, nWidth, nHeight); });
}
BOOL CQtWindowBackend::DeleteDC(HDC hdc) {
  return OnUi([&] { return m_gdi.DeleteDC(hdc); });
}
HGDIOBJ CQtWindowBackend::SelectObject(HDC hdc, HGDIOBJ hObject) {
  return OnUi([&] { return m_gdi.SelectObject(hdc, hObject); });
}
BOOL CQtWindowBackend::DeleteObject(HGDIOBJ hObject) {
  return OnUi([&] { return m_gdi.DeleteObject(hObject); });
}
HGDIOBJ CQtWindowBackend::GetStockObject(int nObject) {
  return OnUi([&] { return m_gdi.GetStockObject(nObject); });
}
int CQtWindowBackend::FillRect(HDC hdc, const RECT* pRect, HBRUSH hBrush) {
  return OnUi([&] { return m_gdi.FillRect(hdc, pRect, hBrush); });
}
int CQtWindowBackend::SetBkMode(HDC hdc, int nMode) {
  return OnUi([&] { return m_gdi.SetBkMode(hdc, nMode); });
}
COLORREF CQtWindowBackend::SetTextColor(HDC hdc, COLORREF color) {
  return OnUi([&] { return m_gdi.SetTextColor(hdc, color); });
}
int CQtWindowBackend::DrawTextW(HDC hdc, LPCWSTR pszText, int nCount, RECT* pRect, UINT uFormat) {
  return OnUi([&] { return m_gdi.DrawTextW(hdc, pszText, nCount, pRect, uFormat); });
}
BOOL CQtWindowBackend::BitBlt(HDC hdcDest, int xDest, int yDest, int nWidth, int nHeight,
                              HDC hdcSrc, int xSrc, int ySrc, DWORD dwRop) {
  return OnUi([&] {
    return m_gdi.BitBlt(hdcDest, xDest, yDest, nWidth, nHeight, hdcSrc, xSrc, ySrc, dwRop);
  });
}
HFONT CQtWindowBackend::CreateFontIndirectW(const LOGFONTW* pLogFont) {
  return OnUi([&] { return m_gdi.CreateFontIndirectW(pLogFont); });
}
int CQtWindowBackend::GetDeviceCaps(HDC hdc, int nIndex) {
  return OnUi([&] { return m_gdi.GetDeviceCaps(hdc, nIndex); });
}

QImage CQtWindowBackend::RenderWindow(HWND hWnd) {
  return OnUi([&]() -> QImage {
    CWindow* w = Find(hWnd);
    if (!w || !w->pFrame) return QImage();
    m_bReplaying = true;
    QImage image = w->pFrame->grab().toImage().convertToFormat(QImage::Format_RGB32);
    m_bReplaying = false;
    return image;
  });
}

QImage CQtWindowBackend::RenderDisplay() {
  return OnUi([&]() -> QImage {
    auto drawWindows = [&](QPainter& painter) {
      m_bReplaying = true;
      for (HWND h : std::vector<HWND>(m_zOrder)) {
        CWindow* w = Find(h);
        if (w && w->pFrame && w->pFrame->isVisible()) w->pFrame->render(&painter, w->pFrame->pos());
      }
      m_bReplaying = false;
    };
    const CPanelPlacement place = m_pDisplay->Placement();
    QImage panel =
        ComposePanel(place, QSize(m_pDisplay->Width(), m_pDisplay->Height()), drawWindows);
    // Upright again: the picture as the person holding the device sees it.
    return place.nTurns ? panel.transformed(QTransform().rotate(-90 * place.nTurns)) : panel;
  });
}
