// Drawing on the host: DrawTextW lands text where its flags say, also wrapped text aligned down,
// never outside its rectangle (nothing in an inverted or empty one), and its record tells where;
// memory contexts keep the device's rules.
#include <QImage>
#include <string>
#include <tuple>
#include <vector>

#include "platform/host/qt/fonts.h"
#include "tests/support/qt_fixture.h"

namespace {

// Bounding box of the dark pixels of an image; empty when there are none.
QRect InkBox(const QImage& image) {
  QRect box;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (qGray(image.pixel(x, y)) < 128) box |= QRect(x, y, 1, 1);
  return box;
}

using QtDrawText = CQtBackendTest;

TEST_F(QtDrawText, FormatFlagsPlaceTheTextInItsRectangle) {
  const RECT kRect{20, 30, 280, 170};  // 260 x 140 in a 300 x 200 surface
  const std::wstring kShort = L"Restart in 5 s";
  const std::wstring kLong = L"All user's settings will be lost, continue?";
  struct CCase {
    const char* name;
    std::wstring text;
    UINT uFormat;
    char across;  // 'L'eft, 'C'entre, 'R'ight
    char down;    // 'T'op, 'M'iddle, 'B'ottom
    bool bWrapped;
  };
  const std::vector<CCase> cases = {
      {"top left", kShort, DT_LEFT | DT_TOP, 'L', 'T', false},
      {"centre", kShort, DT_CENTER, 'C', 'T', false},
      {"right", kShort, DT_RIGHT, 'R', 'T', false},
      {"single line, middle", kShort, DT_CENTER | DT_VCENTER | DT_SINGLELINE, 'C', 'M', false},
      {"single line, bottom", kShort, DT_RIGHT | DT_BOTTOM | DT_SINGLELINE, 'R', 'B', false},
      {"middle without single line", kShort, DT_CENTER | DT_VCENTER, 'C', 'M', false},
      {"wrapped, top", kLong, DT_CENTER | DT_WORDBREAK, 'C', 'T', true},
      {"wrapped, middle", kLong, DT_CENTER | DT_VCENTER | DT_WORDBREAK, 'C', 'M', true},
      {"wrapped, bottom", kLong, DT_CENTER | DT_BOTTOM | DT_WORDBREAK, 'C', 'B', true},
      {"wrapped, left", kLong, DT_LEFT | DT_WORDBREAK, 'L', 'T', true},
  };
  HDC hScreen = ::GetDC(nullptr);
  HDC hdc = ::CreateCompatibleDC(hScreen);
  HBITMAP hBitmap = ::CreateCompatibleBitmap(hScreen, 300, 200);
  HGDIOBJ hOldBitmap = ::SelectObject(hdc, hBitmap);
  LOGFONTW lf = MakeLogFont(L"Arial", 28, FW_BOLD);
  HFONT hFont = ::CreateFontIndirectW(&lf);
  HGDIOBJ hOldFont = ::SelectObject(hdc, hFont);
  ::SetBkMode(hdc, TRANSPARENT);
  ::SetTextColor(hdc, RGB(0, 0, 0));
  const int kLine = 28;
  for (const CCase& c : cases) {
    SCOPED_TRACE(c.name);
    RECT rcAll{0, 0, 300, 200};
    ::FillRect(hdc, &rcAll, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    RECT rc = kRect;
    int nHeight = ::DrawTextW(hdc, c.text.c_str(), -1, &rc, c.uFormat);
    QRect ink = InkBox(*Backend().Gdi().BitmapOf(hBitmap));
    ASSERT_FALSE(ink.isEmpty());
    // The drawing record's extent lies around the ink. (The call as recorded shows in the
    // screens' texts.)
    const CDrawnText drawn = Backend().Gdi().DrawnOf(hdc).back();
    const QRect extent(QPoint(drawn.ink.left, drawn.ink.top),
                       QPoint(drawn.ink.right - 1, drawn.ink.bottom - 1));
    EXPECT_TRUE(extent.contains(ink))
        << extent.x() << "," << extent.y() << " " << extent.width() << "x" << extent.height();
    EXPECT_LE(extent.height() - ink.height(), 12);
    // Never outside the rectangle.
    EXPECT_TRUE(QRect(20, 30, 260, 140).contains(ink)) << ink.x() << "," << ink.y();
    // Across, the ink hugs the named side or is centred within a pixel or two; down, it lies
    // within the line's cell margins of its place; wrapped text takes several lines.
    const int nAcross = c.across == 'L'   ? ink.left() - 20
                        : c.across == 'R' ? 279 - ink.right()
                                          : std::abs(ink.left() + ink.right() + 1 - 300);
    const int nDown = c.down == 'T'   ? ink.top() - 30
                      : c.down == 'B' ? 169 - ink.bottom()
                                      : std::abs(ink.top() + ink.bottom() + 1 - 200);
    EXPECT_LE(nAcross, 4);
    EXPECT_LE(nDown, 8);
    EXPECT_EQ(ink.height() > 2 * kLine, c.bWrapped);
    EXPECT_EQ(ink.height() < kLine, !c.bWrapped);
    // The answer: the text's height, or how far down from the top its bottom lies.
    if (c.uFormat & (DT_VCENTER | DT_BOTTOM)) {
      EXPECT_NEAR(nHeight, ink.bottom() + 1 - kRect.top, 8);
    } else {
      EXPECT_NEAR(nHeight, ink.height(), 10);
    }
  }
  for (RECT rc : {RECT{0, 80, 240, 60}, RECT{0, 40, 0, 100}}) {  // inverted or empty: nothing
    RECT rcAll{0, 0, 300, 200};
    ::FillRect(hdc, &rcAll, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    ::DrawTextW(hdc, L"Recovering....", -1, &rc, DT_CENTER | DT_VCENTER);
    EXPECT_TRUE(InkBox(*Backend().Gdi().BitmapOf(hBitmap)).isEmpty());
  }
  ::SelectObject(hdc, hOldFont);
  ::DeleteObject(hFont);
  ::SelectObject(hdc, hOldBitmap);
  ::DeleteObject(hBitmap);
  ::DeleteDC(hdc);
  ::ReleaseDC(nullptr, hScreen);
  EXPECT_EQ(Backend().Gdi().LiveObjects(), 0u);
  EXPECT_EQ(Backend().Gdi().LiveContexts(), 0u);
}

TEST_F(QtDrawText, MemoryContextsKeepTheDevicesRules) {
  HDC hScreen = ::GetDC(nullptr);
  HDC hMem = ::CreateCompatibleDC(hScreen);
  // A bitmap made from a fresh memory context is monochrome, as on the device; from the screen,
  // colour. Both start black.
  HBITMAP hMono = ::CreateCompatibleBitmap(hMem, 8, 8);
  HBITMAP hColour = ::CreateCompatibleBitmap(hScreen, 8, 8);
  EXPECT_EQ(Backend().Gdi().BitmapOf(hColour)->pixel(3, 3), qRgb(0, 0, 0));
  HGDIOBJ hInitial = ::SelectObject(hMem, hMono);  // given back at the end
  RECT rc{0, 0, 8, 8};
  ::FillRect(hMem, &rc, static_cast<HBRUSH>(::GetStockObject(4 - 2)));  // GRAY_BRUSH
  QRgb mono = Backend().Gdi().BitmapOf(hMono)->pixel(3, 3);
  EXPECT_TRUE(mono == qRgb(0, 0, 0) || mono == qRgb(255, 255, 255));
  // Selection answers the previous bitmap; a bitmap is in one context at a time.
  EXPECT_EQ(::SelectObject(hMem, hColour), hMono);
  HDC hOther = ::CreateCompatibleDC(hScreen);
  EXPECT_EQ(::SelectObject(hOther, hColour), nullptr);
  // A selected object cannot be deleted; once deselected it can.
  EXPECT_FALSE(::DeleteObject(hColour));
  ::FillRect(hMem, &rc, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  RECT rcDot{2, 2, 3, 3};
  ::FillRect(hMem, &rcDot, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
  // A block transfer copies pixels unchanged.
  HBITMAP hCopy = ::CreateCompatibleBitmap(hScreen, 8, 8);
  ::SelectObject(hOther, hCopy);
  EXPECT_TRUE(::BitBlt(hOther, 1, 1, 8, 8, hMem, 0, 0, SRCCOPY));
  const QImage* copy = Backend().Gdi().BitmapOf(hCopy);
  EXPECT_EQ(copy->pixel(3, 3), qRgb(0, 0, 0));
  EXPECT_EQ(copy->pixel(4, 4), qRgb(255, 255, 255));
  EXPECT_EQ(copy->pixel(0, 0), qRgb(0, 0, 0));  // outside what was copied: still black
  EXPECT_EQ(::SelectObject(hMem, hInitial), hColour);
  EXPECT_TRUE(::DeleteObject(hColour));
  EXPECT_TRUE(::DeleteObject(hMono));
  EXPECT_TRUE(::DeleteDC(hOther));
  EXPECT_TRUE(::DeleteObject(hCopy));
  EXPECT_TRUE(::DeleteDC(hMem));
  EXPECT_EQ(::ReleaseDC(nullptr, hScreen), 1);
  EXPECT_EQ(Backend().Gdi().LiveObjects(), 0u);
  EXPECT_EQ(Backend().Gdi().LiveContexts(), 0u);
}

}  // namespace
