// The off-screen surface and the font holder on the Qt backend's drawing objects: what they make,
// what a transfer copies, and that every object goes back, also when one cannot be made.
#include <gtest/gtest.h>

#include "platform/host/qt/fonts.h"
#include "tests/support/qt_fixture.h"
#include "ui/auto_font.h"
#include "ui/mem_surface.h"

namespace {

using SurfaceTest = CQtBackendTest;

TEST_F(SurfaceTest, MadeBlackTransferredWholeAndReleasedOnEveryPath) {
  CQtGdi& gdi = Backend().Gdi();
  HDC hdcRef = ::GetDC(nullptr);
  HDC hdcDest = ::CreateCompatibleDC(hdcRef);
  HBITMAP hDest = ::CreateCompatibleBitmap(hdcRef, 300, 400);
  ::SelectObject(hdcDest, hDest);
  RECT rcAll{0, 0, 300, 400};
  ::FillRect(hdcDest, &rcAll, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  const size_t nObjects = gdi.LiveObjects(), nContexts = gdi.LiveContexts();
  {
    CMemSurface surface;
    // A null reference, and a bitmap that cannot be made: empty, nothing to transfer.
    surface.Create(nullptr, 240, 320);
    EXPECT_EQ(surface.m_hDC, nullptr);
    surface.Create(hdcRef, 0, 320);
    EXPECT_EQ(surface.m_hDC, nullptr);
    EXPECT_FALSE(surface.BlitTo(hdcDest, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(gdi.LiveContexts(), nContexts);
    // Made twice: the first released before the second is made.
    surface.Create(hdcRef, 100, 50);
    surface.Create(hdcRef, 20, 10);
    EXPECT_EQ(gdi.LiveObjects(), nObjects + 1);
    EXPECT_EQ(gdi.LiveContexts(), nContexts + 1);
    EXPECT_EQ(gdi.BitmapOf(gdi.SelectedObject(surface.m_hDC, CQtGdi::kBitmap))->size(),
              QSize(20, 10));
    // 0 stands for the recorded size; other sizes are passed as given.
    EXPECT_TRUE(surface.BlitTo(hdcDest, 5, 6, 0, 0, 0, 0));
    EXPECT_TRUE(surface.BlitTo(hdcDest, 100, 200, 0, 0, 7, 0));
    const QImage* dest = gdi.BitmapOf(hDest);
    EXPECT_EQ(dest->pixel(5, 6), qRgb(0, 0, 0));
    EXPECT_EQ(dest->pixel(24, 15), qRgb(0, 0, 0));
    EXPECT_EQ(dest->pixel(25, 16), qRgb(255, 255, 255));
    EXPECT_EQ(dest->pixel(106, 209), qRgb(0, 0, 0));
    EXPECT_EQ(dest->pixel(107, 209), qRgb(255, 255, 255));
    surface.Destroy();
    surface.Destroy();
    EXPECT_EQ(gdi.LiveObjects(), nObjects);
    surface.Create(hdcRef, 20, 10);
  }
  EXPECT_EQ(gdi.LiveObjects(), nObjects);
  EXPECT_EQ(gdi.LiveContexts(), nContexts);
  // The reference context is still the caller's.
  EXPECT_EQ(::ReleaseDC(nullptr, hdcRef), 1);
  ::DeleteDC(hdcDest);
  ::DeleteObject(hDest);
}

TEST_F(SurfaceTest, FontHolderOwnsOneBoldFontAtATime) {
  CQtGdi& gdi = Backend().Gdi();
  const size_t nObjects = gdi.LiveObjects();
  {
    CAutoFont font;
    EXPECT_EQ(font.GetHandle(), nullptr);
    EXPECT_TRUE(font.Create(L"Arial", 28));
    EXPECT_TRUE(font.Create(L"Arial", 18));
    EXPECT_EQ(gdi.LiveObjects(), nObjects + 1);
    const QFont* pFont = gdi.FontOf(font.GetHandle());
    EXPECT_EQ(std::make_tuple(pFont->family(), pFont->weight(), pFont->pixelSize()),
              std::make_tuple(QString("Arial"), QFont::Bold,
                              FontFromLogFont(MakeLogFont(L"Arial", 18, FW_BOLD)).pixelSize()));
    // A face longer than the field is cut to its 31 characters, never run past it.
    EXPECT_TRUE(font.Create(L"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", -12));
    EXPECT_EQ(gdi.FontOf(font.GetHandle())->family(), "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
  }
  EXPECT_EQ(gdi.LiveObjects(), nObjects);
}

}  // namespace
