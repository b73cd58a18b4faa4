// Painting on the host: WM_PAINT's default processing hands the erase handler a context over the
// window's painter, memory contexts keep the device's rules, and what a frame shows (pixels and
// texts) reaches the simulator.
#include <QImage>
#include <string>
#include <vector>

#include "platform/host/qt/fonts.h"
#include "res/resource.h"
#include "tests/host/qt_test_window.h"
#include "tests/support/qt_fixture.h"

namespace {

using QtPaint = CQtBackendTest;

// Captures the dialog's paints.
class CPaintWatcher : public IQtWindowObserver {
 public:
  void OnWindowPainted(HWND hWnd) override { m_painted.push_back(hWnd); }
  void OnMessageBoxShown(HWND) override {}
  std::vector<HWND> m_painted;
};

TEST_F(QtPaint, EraseHandlerDrawsTheFrameThroughAMemoryContext) {
  struct CCase {
    const char* name;
    bool bHandlerErases;  // returns TRUE after drawing its frame
    std::vector<std::wstring> texts;
  };
  const std::vector<CCase> cases = {
      {"handler draws and answers TRUE", true, {L"Recovering....", L"Restart in 5 s"}},
      {"handler answers FALSE", false, {}},
  };
  for (const CCase& c : cases) {
    SCOPED_TRACE(c.name);
    HWND hDlg = Backend().CreateDialogFromTemplate(IDD_RECOVERY, nullptr);
    ::MoveWindow(hDlg, 0, 0, kShownWidth, kShownHeight, TRUE);
    CTestWnd wnd;
    wnd.Attach(hDlg);
    std::vector<HDC> erased;
    wnd.Answer(WM_ERASEBKGND, [&](WPARAM wParam, LPARAM) -> LRESULT {
      HDC hdc = reinterpret_cast<HDC>(wParam);
      erased.push_back(hdc);
      if (!c.bHandlerErases) return FALSE;
      RECT rc{};
      ::GetClientRect(hDlg, &rc);
      HDC hMem = ::CreateCompatibleDC(hdc);
      HBITMAP hBitmap = ::CreateCompatibleBitmap(hdc, rc.right, rc.bottom);
      HGDIOBJ hOld = ::SelectObject(hMem, hBitmap);
      ::FillRect(hMem, &rc, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
      RECT rcBlack{0, 0, 40, 30};
      ::FillRect(hMem, &rcBlack, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
      ::SetBkMode(hMem, TRANSPARENT);
      for (const std::wstring& t : c.texts) {
        RECT rcText{0, 80, rc.right, rc.bottom / 2};
        ::DrawTextW(hMem, t.c_str(), -1, &rcText, DT_CENTER | DT_BOTTOM | DT_WORDBREAK);
      }
      ::BitBlt(hdc, 0, 0, rc.right, rc.bottom, hMem, 0, 0, SRCCOPY);
      ::SelectObject(hMem, hOld);
      ::DeleteObject(hBitmap);
      ::DeleteDC(hMem);
      return TRUE;
    });
    CPaintWatcher watcher;
    Backend().SetObserver(&watcher);
    ::ShowWindow(hDlg, SW_SHOW);
    ASSERT_TRUE(PumpUntil([&] { return !watcher.m_painted.empty(); }));
    Backend().SetObserver(nullptr);

    QImage frame = Backend().RenderWindow(hDlg);
    QRgb corner = frame.pixel(5, 5);
    QRgb inside = frame.pixel(60, 5);
    if (c.bHandlerErases) {
      EXPECT_EQ(corner, qRgb(0, 0, 0));
      EXPECT_EQ(inside, qRgb(255, 255, 255));
    } else {
      EXPECT_EQ(corner, Backend().DialogColor().rgb());
      EXPECT_EQ(inside, Backend().DialogColor().rgb());
    }
    EXPECT_EQ(Backend().PaintedTexts(hDlg), c.texts);
    ASSERT_FALSE(erased.empty());
    // The paint's own context is gone with the paint.
    EXPECT_EQ(::SelectObject(erased.front(), ::GetStockObject(WHITE_BRUSH)), nullptr);
    EXPECT_EQ(watcher.m_painted.front(), hDlg);
    wnd.Detach();
    Backend().DestroyWindow(hDlg);
    // Nothing left behind: the frame's objects, and the dialog's font with the dialog.
    EXPECT_EQ(Backend().Gdi().LiveObjects(), 0u);
    EXPECT_EQ(Backend().Gdi().LiveContexts(), 0u);
  }
}

TEST_F(QtPaint, MemoryContextsKeepTheDevicesRules) {
  HDC hScreen = ::GetDC(nullptr);
  HDC hMem = ::CreateCompatibleDC(hScreen);
  // A bitmap made from a fresh memory context is monochrome, as on the device; from the screen,
  // colour. Both start black.
  HBITMAP hMono = ::CreateCompatibleBitmap(hMem, 8, 8);
  HBITMAP hColour = ::CreateCompatibleBitmap(hScreen, 8, 8);
  EXPECT_EQ(Backend().Gdi().BitmapOf(hColour)->pixel(3, 3), qRgb(0, 0, 0));
  HGDIOBJ hInitial = ::SelectObject(hMem, hMono);
  EXPECT_NE(hInitial, nullptr);
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
