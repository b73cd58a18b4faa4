#include "ui/mem_surface.h"

CMemSurface::~CMemSurface() { Destroy(); }

void CMemSurface::Create(HDC hdcRef, int nWidth, int nHeight) {
  Destroy();
  if (!hdcRef) return;
  m_hDC = CreateCompatibleDC(hdcRef);
  // The reference context is the framework's erase context in every use, still needed after the
  // redraw and never obtained here, so a failure leaves it alone rather than releasing it.
  if (!m_hDC) return;
  m_nWidth = nWidth;
  m_nHeight = nHeight;
  // The reference context, not the new memory context, gives the bitmap its format.
  m_hBitmap = CreateCompatibleBitmap(hdcRef, nWidth, nHeight);
  if (!m_hBitmap) {
    DeleteDC(m_hDC);
    m_hDC = nullptr;
    return;
  }
  m_hOldBitmap = SelectObject(m_hDC, m_hBitmap);
  RECT rc{0, 0, nWidth, nHeight};
  FillRect(m_hDC, &rc, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
}

void CMemSurface::Destroy() {
  if (!m_hDC) return;
  SelectObject(m_hDC, m_hOldBitmap);
  DeleteObject(m_hBitmap);
  DeleteDC(m_hDC);
  m_hDC = nullptr;
}

BOOL CMemSurface::BlitTo(HDC hdcDest, int xDest, int yDest, int xSrc, int ySrc, int nWidth,
                         int nHeight) {
  // An empty surface has nothing to give; the recorded size may be a stale one.
  if (!m_hDC) return FALSE;
  if (nWidth == 0) nWidth = m_nWidth;
  if (nHeight == 0) nHeight = m_nHeight;
  return BitBlt(hdcDest, xDest, yDest, nWidth, nHeight, m_hDC, xSrc, ySrc, SRCCOPY);
}
