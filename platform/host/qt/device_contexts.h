// The device's drawing objects on Qt: device contexts over a QPainter (painting a window), over a
// window's content image, or in memory over a bitmap (a QImage); fonts, bitmaps and the stock
// brushes as handles. Every text drawn is logged with the pixels it went into, so the simulator
// and the tests can tell what a frame shows. User-interface thread only.
#pragma once

#include <QFont>
#include <QImage>
#include <map>
#include <string>
#include <vector>

#include "platform/winuser.h"

class QPainter;

// A picture of size display pixels drawn at dRatio panel pixels each (the panel's scale), so that
// what is drawn into it keeps the panel's resolution; filled with fill.
QImage NewPicture(QSize size, qreal dRatio, const QColor& fill);
// The whole pixels such a picture has.
QSize PictureSize(QSize size, qreal dRatio);

// One text as a DrawTextW call drew it.
struct CDrawnText {
  std::wstring strText;
  RECT rc;               // the rectangle given
  UINT uFormat;          // the format flags given
  std::wstring strFace;  // the font's face as asked for
  int nPixelHeight;      // the font's em height in pixels
  int nWeight;           // 1..1000 (700 bold)
  COLORREF crText;
  int nBkMode;  // TRANSPARENT or OPAQUE
  RECT ink;     // where the text lies, laid out with the flags, before clipping
};

class CQtGdi {
 public:
  CQtGdi();
  CQtGdi(const CQtGdi&) = delete;
  CQtGdi& operator=(const CQtGdi&) = delete;

  // A context for measuring only (GetDC of no window): draws nothing.
  HDC CreateScreenDC();
  // A context over the painter of a window being painted; valid until EndPaintDC.
  HDC CreatePaintDC(QPainter* pPainter);
  void EndPaintDC(HDC hdc);
  // A context that draws into a window's content image (GetDC of a window).
  HDC CreateImageDC(QImage* pImage);
  // Ends a screen or image context; FALSE for paint and memory contexts and unknown handles.
  BOOL ReleaseDC(HDC hdc);
  // Fills a rectangle of the context with a colour (the dialog background).
  void FillColor(HDC hdc, const RECT& rc, const QColor& color);
  // Texts drawn into the context (or, for a memory context, into its bitmap) in drawing order,
  // including those brought in by BitBlt; a fill of the whole target clears them.
  std::vector<CDrawnText> DrawnOf(HDC hdc) const;

  HDC CreateCompatibleDC(HDC hdc);
  // Colour unless the reference is a memory context holding a monochrome bitmap (its initial
  // one), as on the device; the new bitmap is black, at the reference's pixel ratio.
  HBITMAP CreateCompatibleBitmap(HDC hdc, int nWidth, int nHeight);
  BOOL DeleteDC(HDC hdc);
  // Returns the object of the same kind that was selected before; null when it cannot be
  // selected (a bitmap into a non-memory context or into a second context, a null object).
  HGDIOBJ SelectObject(HDC hdc, HGDIOBJ hObject);
  // FALSE while the object is selected into a live context; stock objects stay.
  BOOL DeleteObject(HGDIOBJ hObject);
  HGDIOBJ GetStockObject(int nObject);
  int FillRect(HDC hdc, const RECT* pRect, HBRUSH hBrush);
  int SetBkMode(HDC hdc, int nMode);
  COLORREF SetTextColor(HDC hdc, COLORREF color);
  int DrawTextW(HDC hdc, LPCWSTR pszText, int nCount, RECT* pRect, UINT uFormat);
  BOOL BitBlt(HDC hdcDest, int xDest, int yDest, int nWidth, int nHeight, HDC hdcSrc, int xSrc,
              int ySrc, DWORD dwRop);
  HFONT CreateFontIndirectW(const LOGFONTW* pLogFont);
  int GetDeviceCaps(HDC hdc, int nIndex);

  // Host-side views for the backend and the tests.
  const QFont* FontOf(HGDIOBJ hFont) const;
  const QImage* BitmapOf(HGDIOBJ hBitmap) const;
  HGDIOBJ SelectedObject(HDC hdc, int nKind) const;  // nKind: kBitmap, kFont, kBrush
  size_t LiveObjects() const;                        // created and not deleted, stock excluded
  size_t LiveContexts() const;

  static constexpr int kBitmap = 0;
  static constexpr int kFont = 1;
  static constexpr int kBrush = 2;

 private:
  enum class EDcKind { Screen, Memory, Paint, Image };
  struct CObject {
    explicit CObject(int nKindOf) : nKind(nKindOf) {}
    int nKind;
    bool bStock = false;
    QImage image;
    bool bMono = false;
    std::vector<CDrawnText> texts;  // bitmaps: what was drawn into them
    QFont font;
    QColor color;
    bool bNullBrush = false;
  };
  struct CContext {
    explicit CContext(EDcKind eKindOf) : eKind(eKindOf) {}
    EDcKind eKind;
    QPainter* pPainter = nullptr;
    QImage* pImage = nullptr;
    HGDIOBJ hSelected[3] = {nullptr, nullptr, nullptr};
    int nBkMode = OPAQUE;
    COLORREF crText = RGB(0, 0, 0);
    std::vector<CDrawnText> texts;
  };

  HDC NewContext(CContext dc);
  HGDIOBJ NewObject(CObject obj);
  CContext* Context(HDC hdc);
  const CContext* Context(HDC hdc) const;
  CObject* Object(HGDIOBJ h);
  const CObject* Object(HGDIOBJ h) const;
  // The pixels a context draws into, or null (screen context, initial bitmap).
  QImage* TargetImage(CContext& dc);
  std::vector<CDrawnText>* TextLog(CContext& dc);
  bool IsMonoTarget(CContext& dc);
  // Panel pixels per display pixel of what the context draws into.
  qreal PixelRatio(CContext& dc);
  // Runs draw with a painter on the context's target; false when it has none.
  template <class F>
  bool Paint(CContext& dc, F draw);
  bool IsSelectedAnywhere(HGDIOBJ h) const;

  std::map<HDC, CContext> m_contexts;
  std::map<HGDIOBJ, CObject> m_objects;
  std::map<int, HGDIOBJ> m_stock;
  HGDIOBJ m_hInitialBitmap = nullptr;
  UINT_PTR m_nNextHandle = 0x100;
};
