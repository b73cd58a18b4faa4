#include "platform/host/qt/device_contexts.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cwchar>

#include "platform/host/qt/fonts.h"
#include "platform/kernel.h"

namespace {

constexpr int LTGRAY_BRUSH = 1;
constexpr int GRAY_BRUSH = 2;
constexpr int DKGRAY_BRUSH = 3;
constexpr int NULL_BRUSH = 5;
constexpr int SYSTEM_FONT = 13;
constexpr int DEFAULT_GUI_FONT = 17;
constexpr int LOGPIXELSX = 88;
constexpr int kDpi = 96;
constexpr int kMaxBitmapSide = 16384;
constexpr DWORD BLACKNESS = 0x00000042;
constexpr DWORD WHITENESS = 0x00FF0062;

QColor ToQColor(COLORREF c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }

// A monochrome bitmap keeps only black and white: what drawing leaves is thresholded back.
void Threshold(QImage& image) {
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x)
      line[x] = qGray(line[x]) >= 128 ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
  }
}

// DrawTextW's format flags as Qt's alignment and wrapping.
int AlignmentFlags(UINT uFormat) {
  int nFlags = 0;
  if (uFormat & DT_RIGHT)
    nFlags |= Qt::AlignRight;
  else if (uFormat & DT_CENTER)
    nFlags |= Qt::AlignHCenter;
  else
    nFlags |= Qt::AlignLeft;
  if (uFormat & DT_BOTTOM)
    nFlags |= Qt::AlignBottom;
  else if (uFormat & DT_VCENTER)
    nFlags |= Qt::AlignVCenter;
  else
    nFlags |= Qt::AlignTop;
  if (uFormat & DT_SINGLELINE)
    nFlags |= Qt::TextSingleLine;
  else if (uFormat & DT_WORDBREAK)
    nFlags |= Qt::TextWordWrap;
  return nFlags;
}

// Draws text into rc, clipped to it: DT_CENTER or DT_RIGHT across (left otherwise), DT_VCENTER
// or DT_BOTTOM down (top otherwise), also for text that DT_WORDBREAK wraps at word boundaries;
// DT_SINGLELINE keeps it on one line. pOpaqueBack fills the text's cells first (OPAQUE mode).
// pPainter null only measures. Returns the text's height in pixels, or with DT_VCENTER or
// DT_BOTTOM the offset from rc.top to the bottom of the text; where the text lies (before
// clipping) in *pInk when given.
int DrawTextInRect(QPainter* pPainter, const QFont& font, const RECT& rc, UINT uFormat,
                   const QString& strText, const QColor& textColor, const QColor* pOpaqueBack,
                   QRect* pInk) {
  // An inverted rectangle lays out in no room and shows nothing, as on the device.
  QRect rect(rc.left, rc.top, std::max<LONG>(0, rc.right - rc.left),
             std::max<LONG>(0, rc.bottom - rc.top));
  int nFlags = AlignmentFlags(uFormat);
  QRect bound = QFontMetrics(font).boundingRect(rect, nFlags, strText);
  if (pInk) *pInk = bound;
  if (pPainter && !rect.isEmpty()) {
    pPainter->save();
    pPainter->setClipRect(rect, Qt::IntersectClip);
    if (pOpaqueBack) pPainter->fillRect(bound, *pOpaqueBack);
    pPainter->setFont(font);
    pPainter->setPen(textColor);
    pPainter->drawText(rect, nFlags, strText);
    pPainter->restore();
  }
  if (uFormat & (DT_VCENTER | DT_BOTTOM)) return bound.bottom() + 1 - rc.top;
  return bound.height();
}

}  // namespace

CQtGdi::CQtGdi() {
  // The stock fonts below are measured: the faces must be known first.
  RegisterDeviceFontSubstitutes();
  auto brush = [&](int nStock, QColor color, bool bNull = false) {
    CObject obj{kBrush};
    obj.bStock = true;
    obj.color = color;
    obj.bNullBrush = bNull;
    m_stock[nStock] = NewObject(obj);
  };
  brush(WHITE_BRUSH, Qt::white);
  brush(LTGRAY_BRUSH, QColor(192, 192, 192));
  brush(GRAY_BRUSH, QColor(128, 128, 128));
  brush(DKGRAY_BRUSH, QColor(64, 64, 64));
  brush(BLACK_BRUSH, Qt::black);
  brush(NULL_BRUSH, Qt::transparent, true);
  CObject system{kFont};
  system.bStock = true;
  system.font = FontFromLogFont(MakeLogFont(L"MS Shell Dlg", 16, FW_BOLD));
  m_stock[SYSTEM_FONT] = NewObject(system);
  CObject gui{kFont};
  gui.bStock = true;
  gui.font = FontFromLogFont(MakeLogFont(L"MS Shell Dlg", -11, FW_NORMAL));
  m_stock[DEFAULT_GUI_FONT] = NewObject(gui);
  CObject initial{kBitmap};
  initial.bStock = true;
  initial.bMono = true;
  initial.image = QImage(1, 1, QImage::Format_RGB32);
  initial.image.fill(Qt::black);
  m_hInitialBitmap = NewObject(initial);
}

HDC CQtGdi::NewContext(CContext dc) {
  dc.hSelected[kFont] = m_stock[SYSTEM_FONT];
  dc.hSelected[kBrush] = m_stock[WHITE_BRUSH];
  HDC h = reinterpret_cast<HDC>(m_nNextHandle);
  m_nNextHandle += 4;
  m_contexts.emplace(h, std::move(dc));
  return h;
}

HGDIOBJ CQtGdi::NewObject(CObject obj) {
  HGDIOBJ h = reinterpret_cast<HGDIOBJ>(m_nNextHandle);
  m_nNextHandle += 4;
  m_objects.emplace(h, std::move(obj));
  return h;
}

CQtGdi::CContext* CQtGdi::Context(HDC hdc) {
  auto it = m_contexts.find(hdc);
  return it == m_contexts.end() ? nullptr : &it->second;
}
const CQtGdi::CContext* CQtGdi::Context(HDC hdc) const {
  auto it = m_contexts.find(hdc);
  return it == m_contexts.end() ? nullptr : &it->second;
}
CQtGdi::CObject* CQtGdi::Object(HGDIOBJ h) {
  auto it = m_objects.find(h);
  return it == m_objects.end() ? nullptr : &it->second;
}
const CQtGdi::CObject* CQtGdi::Object(HGDIOBJ h) const {
  auto it = m_objects.find(h);
  return it == m_objects.end() ? nullptr : &it->second;
}

QSize PictureSize(QSize size, qreal dRatio) {
  // Whole pixels covering the display pixels; a hair less than a whole one is float noise.
  auto cover = [dRatio](int n) { return static_cast<int>(std::ceil(n * dRatio - 1e-6)); };
  return QSize(cover(size.width()), cover(size.height()));
}

QImage NewPicture(QSize size, qreal dRatio, const QColor& fill) {
  QImage image(PictureSize(size, dRatio), QImage::Format_RGB32);
  if (image.isNull()) return image;
  image.setDevicePixelRatio(dRatio);
  image.fill(fill);
  return image;
}

HDC CQtGdi::CreateScreenDC() { return NewContext(CContext{EDcKind::Screen}); }

HDC CQtGdi::CreatePaintDC(QPainter* pPainter) {
  CContext dc{EDcKind::Paint};
  dc.pPainter = pPainter;
  return NewContext(std::move(dc));
}

HDC CQtGdi::CreateImageDC(QImage* pImage) {
  CContext dc{EDcKind::Image};
  dc.pImage = pImage;
  return NewContext(std::move(dc));
}

void CQtGdi::EndPaintDC(HDC hdc) {
  CContext* dc = Context(hdc);
  if (dc && dc->eKind == EDcKind::Paint) m_contexts.erase(hdc);
}

BOOL CQtGdi::ReleaseDC(HDC hdc) {
  CContext* dc = Context(hdc);
  if (!dc || (dc->eKind != EDcKind::Screen && dc->eKind != EDcKind::Image)) return FALSE;
  m_contexts.erase(hdc);
  return TRUE;
}

void CQtGdi::FillColor(HDC hdc, const RECT& rc, const QColor& color) {
  CContext* dc = Context(hdc);
  QRect rect(rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
  if (dc && !rect.isEmpty()) Paint(*dc, [&](QPainter& p) { p.fillRect(rect, color); });
}

std::vector<CDrawnText> CQtGdi::DrawnOf(HDC hdc) const {
  const CContext* dc = Context(hdc);
  if (!dc) return {};
  if (dc->eKind != EDcKind::Memory) return dc->texts;
  const CObject* bitmap = Object(dc->hSelected[kBitmap]);
  return bitmap ? bitmap->texts : std::vector<CDrawnText>{};
}

QImage* CQtGdi::TargetImage(CContext& dc) {
  if (dc.eKind == EDcKind::Image) return dc.pImage;
  if (dc.eKind != EDcKind::Memory) return nullptr;
  CObject* bitmap = Object(dc.hSelected[kBitmap]);
  return bitmap && !bitmap->bStock ? &bitmap->image : nullptr;
}

std::vector<CDrawnText>* CQtGdi::TextLog(CContext& dc) {
  if (dc.eKind != EDcKind::Memory) return &dc.texts;
  CObject* bitmap = Object(dc.hSelected[kBitmap]);
  return bitmap && !bitmap->bStock ? &bitmap->texts : nullptr;
}

bool CQtGdi::IsMonoTarget(CContext& dc) {
  if (dc.eKind != EDcKind::Memory) return false;
  CObject* bitmap = Object(dc.hSelected[kBitmap]);
  return bitmap && bitmap->bMono;
}

qreal CQtGdi::PixelRatio(CContext& dc) {
  if (dc.pPainter && dc.pPainter->device()) return dc.pPainter->device()->devicePixelRatio();
  const QImage* pImage = TargetImage(dc);
  return pImage ? pImage->devicePixelRatio() : 1;
}

template <class F>
bool CQtGdi::Paint(CContext& dc, F draw) {
  if (dc.pPainter) {
    dc.pPainter->save();
    draw(*dc.pPainter);
    dc.pPainter->restore();
    return true;
  }
  QImage* pImage = TargetImage(dc);
  if (!pImage || pImage->isNull()) return false;
  {
    QPainter painter(pImage);
    draw(painter);
  }
  if (IsMonoTarget(dc)) Threshold(*pImage);
  return true;
}

HDC CQtGdi::CreateCompatibleDC(HDC hdc) {
  if (hdc && !Context(hdc)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  CContext dc{EDcKind::Memory};
  HDC h = NewContext(std::move(dc));
  Context(h)->hSelected[kBitmap] = m_hInitialBitmap;
  return h;
}

HBITMAP CQtGdi::CreateCompatibleBitmap(HDC hdc, int nWidth, int nHeight) {
  CContext* dc = Context(hdc);
  if (!dc || nWidth <= 0 || nHeight <= 0 || nWidth > kMaxBitmapSide || nHeight > kMaxBitmapSide) {
    SetLastError(dc ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return nullptr;
  }
  CObject bitmap{kBitmap};
  bitmap.bMono = dc->eKind == EDcKind::Memory && IsMonoTarget(*dc);
  bitmap.image = NewPicture(QSize(nWidth, nHeight), PixelRatio(*dc), Qt::black);
  if (bitmap.image.isNull()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return NewObject(std::move(bitmap));
}

BOOL CQtGdi::DeleteDC(HDC hdc) {
  CContext* dc = Context(hdc);
  if (!dc || dc->eKind != EDcKind::Memory) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  m_contexts.erase(hdc);
  return TRUE;
}

bool CQtGdi::IsSelectedAnywhere(HGDIOBJ h) const {
  for (const auto& [hdc, dc] : m_contexts)
    for (HGDIOBJ hSel : dc.hSelected)
      if (hSel == h) return true;
  return false;
}

HGDIOBJ CQtGdi::SelectObject(HDC hdc, HGDIOBJ hObject) {
  CContext* dc = Context(hdc);
  CObject* obj = Object(hObject);
  if (!dc || !obj) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (obj->nKind == kBitmap) {
    if (dc->eKind != EDcKind::Memory) return nullptr;
    if (dc->hSelected[kBitmap] != hObject && !obj->bStock && IsSelectedAnywhere(hObject))
      return nullptr;
  }
  HGDIOBJ hOld = dc->hSelected[obj->nKind];
  dc->hSelected[obj->nKind] = hObject;
  return hOld;
}

BOOL CQtGdi::DeleteObject(HGDIOBJ hObject) {
  CObject* obj = Object(hObject);
  if (!obj) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (obj->bStock) return TRUE;
  if (IsSelectedAnywhere(hObject)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  m_objects.erase(hObject);
  return TRUE;
}

HGDIOBJ CQtGdi::GetStockObject(int nObject) {
  auto it = m_stock.find(nObject);
  return it == m_stock.end() ? nullptr : it->second;
}

int CQtGdi::FillRect(HDC hdc, const RECT* pRect, HBRUSH hBrush) {
  CContext* dc = Context(hdc);
  CObject* brush = Object(hBrush);
  if (!dc || !pRect || !brush || brush->nKind != kBrush) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (brush->bNullBrush) return TRUE;
  QRect rect(pRect->left, pRect->top, pRect->right - pRect->left, pRect->bottom - pRect->top);
  if (rect.isEmpty()) return TRUE;
  QColor color = brush->color;
  Paint(*dc, [&](QPainter& p) { p.fillRect(rect, color); });
  QImage* pImage = TargetImage(*dc);
  if (auto* log = TextLog(*dc); log && pImage) {
    const qreal r = pImage->devicePixelRatio();
    const QRectF covered(rect.x() * r, rect.y() * r, rect.width() * r, rect.height() * r);
    if (covered.toAlignedRect().contains(pImage->rect())) log->clear();
  }
  return TRUE;
}

int CQtGdi::SetBkMode(HDC hdc, int nMode) {
  CContext* dc = Context(hdc);
  if (!dc || (nMode != TRANSPARENT && nMode != OPAQUE)) return 0;
  int nOld = dc->nBkMode;
  dc->nBkMode = nMode;
  return nOld;
}

COLORREF CQtGdi::SetTextColor(HDC hdc, COLORREF color) {
  CContext* dc = Context(hdc);
  if (!dc) return 0xFFFFFFFF;  // CLR_INVALID
  COLORREF old = dc->crText;
  dc->crText = color;
  return old;
}

int CQtGdi::DrawTextW(HDC hdc, LPCWSTR pszText, int nCount, RECT* pRect, UINT uFormat) {
  CContext* dc = Context(hdc);
  if (!dc || !pszText || !pRect) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t nLength = nCount < 0 ? std::wcslen(pszText) : static_cast<size_t>(nCount);
  std::wstring strText(pszText, nLength);
  QString text = QString::fromWCharArray(strText.data(), static_cast<qsizetype>(nLength));
  const CObject* font = Object(dc->hSelected[kFont]);
  QFont qfont = font ? font->font : QFont();
  QColor color = ToQColor(dc->crText);
  QColor back = Qt::white;
  const QColor* pBack = dc->nBkMode == OPAQUE ? &back : nullptr;
  int nHeight = 0;
  QRect ink;
  if (!Paint(*dc, [&](QPainter& p) {
        nHeight = DrawTextInRect(&p, qfont, *pRect, uFormat, text, color, pBack, &ink);
      }))
    nHeight = DrawTextInRect(nullptr, qfont, *pRect, uFormat, text, color, pBack, &ink);
  if (auto* log = TextLog(*dc))
    log->push_back({std::move(strText), *pRect, uFormat, qfont.family().toStdWString(),
                    qfont.pixelSize(), qfont.weight(), dc->crText, dc->nBkMode,
                    RECT{ink.left(), ink.top(), ink.right() + 1, ink.bottom() + 1}});
  return nHeight;
}

BOOL CQtGdi::BitBlt(HDC hdcDest, int xDest, int yDest, int nWidth, int nHeight, HDC hdcSrc,
                    int xSrc, int ySrc, DWORD dwRop) {
  CContext* dest = Context(hdcDest);
  if (!dest) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  QRect target(xDest, yDest, nWidth, nHeight);
  if (dwRop == BLACKNESS || dwRop == WHITENESS) {
    QColor color = dwRop == BLACKNESS ? Qt::black : Qt::white;
    return Paint(*dest, [&](QPainter& p) { p.fillRect(target, color); }) ? TRUE : FALSE;
  }
  CContext* src = Context(hdcSrc);
  if (!src || dwRop != SRCCOPY) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  QImage* pSource = TargetImage(*src);
  if (!pSource) return FALSE;
  if (nWidth <= 0 || nHeight <= 0) return TRUE;
  // Copies the pixels, not a blend; a copy of an image onto itself goes through a snapshot.
  const qreal r = pSource->devicePixelRatio();
  QImage source = pSource->copy(QRectF(xSrc * r, ySrc * r, nWidth * r, nHeight * r).toRect());
  if (!Paint(*dest, [&](QPainter& p) {
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.drawImage(target.topLeft(), source);
      }))
    return FALSE;
  std::vector<CDrawnText>* from = TextLog(*src);
  std::vector<CDrawnText>* to = TextLog(*dest);
  if (from && to && from != to) {
    std::vector<CDrawnText> copied = *from;
    to->insert(to->end(), copied.begin(), copied.end());
  }
  return TRUE;
}

HFONT CQtGdi::CreateFontIndirectW(const LOGFONTW* pLogFont) {
  if (!pLogFont) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  CObject font{kFont};
  font.font = FontFromLogFont(*pLogFont);
  return NewObject(std::move(font));
}

int CQtGdi::GetDeviceCaps(HDC hdc, int nIndex) {
  if (hdc && !Context(hdc)) return 0;
  return nIndex == LOGPIXELSY || nIndex == LOGPIXELSX ? kDpi : 0;
}

const QFont* CQtGdi::FontOf(HGDIOBJ hFont) const {
  const CObject* obj = Object(hFont);
  return obj && obj->nKind == kFont ? &obj->font : nullptr;
}

const QImage* CQtGdi::BitmapOf(HGDIOBJ hBitmap) const {
  const CObject* obj = Object(hBitmap);
  return obj && obj->nKind == kBitmap ? &obj->image : nullptr;
}

HGDIOBJ CQtGdi::SelectedObject(HDC hdc, int nKind) const {
  const CContext* dc = Context(hdc);
  return dc && nKind >= 0 && nKind < 3 ? dc->hSelected[nKind] : nullptr;
}

size_t CQtGdi::LiveObjects() const {
  size_t n = 0;
  for (const auto& [h, obj] : m_objects)
    if (!obj.bStock) ++n;
  return n;
}

size_t CQtGdi::LiveContexts() const { return m_contexts.size(); }
