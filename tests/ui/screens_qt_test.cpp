// The screens and the message box on the Qt host backend, offscreen, through the program's own
// drawing code: white frames, black text only inside the rectangles given, identical renders,
// and what the simulator's frame record sees.
#include <gtest/gtest.h>

#include <QTimer>
#include <QWidget>

#include "tools/screen_rig.h"
#include "ui/msg_box.h"

namespace {

// The rows and columns that text may touch on each screen, at 240 x 320.
struct CScreenArea {
  const char* pszName;
  std::vector<QRect> textRects;  // the text rectangles (left, top, right, bottom) as QRects
  int nInkTop, nInkBottom;       // where the ink must lie: alignment of the flags
  std::vector<std::wstring> texts;
};

QRect Rc(int l, int t, int r, int b) { return QRect(QPoint(l, t), QPoint(r - 1, b - 1)); }

const CScreenArea& AreaOf(const std::string& strName) {
  static const std::vector<CScreenArea> areas = {
      // Title from the top of its rectangle; question centred in (80, 160).
      {"question",
       {Rc(0, 40, 240, 160), Rc(0, 80, 240, 160)},
       40,
       160,
       {L"Orvane Emergency Recovery", L"All user's settings will be lost, continue?"}},
      // One line centred on row 120.
      {"preparing", {Rc(0, 80, 240, 160)}, 100, 140, {L"Recovering...."}},
      // Two lines, centred in the rectangle.
      {"copying", {Rc(0, 80, 240, 160)}, 80, 160, {L"Recovering Orvane...42%"}},
      // Both texts sit on the bottoms of their rectangles, 160 and 190.
      {"completed",
       {Rc(0, 80, 240, 160), Rc(0, 20, 240, 190)},
       80,
       190,
       {L"Recovery completed!", L"Restart in 5 s"}},
  };
  for (const auto& a : areas)
    if (strName == a.pszName) return a;
  return areas.front();
}

struct CInk {
  int nOutside = 0;   // non-white pixels outside every text rectangle
  int nColoured = 0;  // pixels that are not a grey between black and white
  int nBlack = 0;     // pixels of full ink
  int nTop = 1 << 30, nBottom = -1;
};

CInk Inspect(const QImage& image, const std::vector<QRect>& rects) {
  CInk ink;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      QRgb c = image.pixel(x, y);
      if ((c & 0xFFFFFF) == 0xFFFFFF) continue;
      if (qRed(c) != qGreen(c) || qGreen(c) != qBlue(c)) ++ink.nColoured;
      if (qRed(c) < 0x20) ++ink.nBlack;
      bool bInside = false;
      for (const QRect& r : rects) bInside = bInside || r.contains(x, y);
      if (!bInside) ++ink.nOutside;
      ink.nTop = std::min(ink.nTop, y);
      ink.nBottom = std::max(ink.nBottom, y + 1);
    }
  return ink;
}

CHostOptions RigOptions() {
  CHostOptions options;
  options.fnRestart = [] { return FALSE; };
  return options;
}

}  // namespace

TEST(ScreensOnQt, WhiteFramesWithBlackTextOnlyInsideTheRectangles) {
  CScreenRig rig(RigOptions());
  for (const CScreenState& state : ScreenStates()) {
    const CScreenArea& area = AreaOf(state.pszName);
    rig.SetState(state);
    QImage frame = rig.RenderFrame();
    ASSERT_EQ(frame.size(), QSize(240, 320)) << state.pszName;
    CInk ink = Inspect(frame, area.textRects);
    EXPECT_EQ(ink.nOutside, 0) << state.pszName;
    EXPECT_EQ(ink.nColoured, 0) << state.pszName;
    EXPECT_GT(ink.nBlack, 100) << state.pszName;
    EXPECT_GE(ink.nTop, area.nInkTop) << state.pszName;
    EXPECT_LE(ink.nBottom, area.nInkBottom) << state.pszName;
    // Aligned as the flags say: centred text close to row 120, bottom text close to its bottom.
    if (area.nInkBottom == 140) {
      EXPECT_NEAR((ink.nTop + ink.nBottom) / 2, 120, 4) << state.pszName;
    }
    if (area.nInkBottom == 190) {
      EXPECT_GE(ink.nBottom, 180) << state.pszName;
    }
  }
}

TEST(ScreensOnQt, SameStateRendersTheSamePixels) {
  CScreenRig rig(RigOptions());
  for (const CScreenState& state : ScreenStates()) {
    rig.SetState(state);
    QImage first = rig.RenderFrame();
    rig.SetState(ScreenStates()[state.bAskMode ? 1 : 0]);  // another screen in between
    rig.RenderFrame();
    rig.SetState(state);
    EXPECT_TRUE(first == rig.RenderFrame()) << state.pszName;
  }
  // Nothing kept between frames: no drawing object or context outlives its redraw.
  size_t nObjects = rig.Windows().Gdi().LiveObjects();
  size_t nContexts = rig.Windows().Gdi().LiveContexts();
  for (int i = 0; i < 20; ++i) rig.RenderFrame();
  EXPECT_EQ(rig.Windows().Gdi().LiveObjects(), nObjects);
  EXPECT_EQ(rig.Windows().Gdi().LiveContexts(), nContexts);
}

TEST(ScreensOnQt, PaintedFrameIsWhatTheSimulatorRecords) {
  // Through the window system's own paint: the texts of each frame as the simulator's report
  // lists them, the question screen's two texts first.
  CScreenRig rig(RigOptions());
  for (const CScreenState& state : ScreenStates()) {
    rig.SetState(state);
    rig.Repaint();
    EXPECT_EQ(rig.PaintedTexts(), AreaOf(state.pszName).texts) << state.pszName;
  }
}

TEST(ScreensOnQt, MessageBoxShowsCaptionTextAndFontAndEndsBothWays) {
  CScreenRig rig(RigOptions());
  CQtWindowBackend& windows = rig.Windows();
  struct {
    bool bOk;
    INT_PTR nResult;
  } cases[] = {{true, IDOK}, {false, IDCANCEL}};
  for (const auto& c : cases) {
    CMsgBox box(L"Recover failed(112)!Press OK to reboot.", L"Recover");
    std::wstring strCaption, strText;
    int nTextPixels = 0, nOkPixels = 0;
    QString strTextFamily, strOkFamily;
    QTimer::singleShot(0, [&] {
      QCoreApplication::processEvents();
      ::UpdateWindow(box.m_hWnd);
      strCaption = CString(box.GetWindowText()).Str();
      HWND hText = ::GetDlgItem(box.m_hWnd, IDC_MSG_TEXT);
      HWND hOk = ::GetDlgItem(box.m_hWnd, IDOK);
      WCHAR sz[256] = {};
      ::GetWindowTextW(hText, sz, 256);
      strText = sz;
      nTextPixels = windows.WidgetOf(hText)->font().pixelSize();
      nOkPixels = windows.WidgetOf(hOk)->font().pixelSize();
      strTextFamily = windows.WidgetOf(hText)->font().family();
      strOkFamily = windows.WidgetOf(hOk)->font().family();
      if (c.bOk)
        windows.ClickButton(hOk);
      else
        windows.OnDialogKey(box.m_hWnd, Qt::Key_Escape);
    });
    EXPECT_EQ(box.DoModal(), c.nResult);
    EXPECT_EQ(strCaption, L"Recover");
    EXPECT_EQ(strText, L"Recover failed(112)!Press OK to reboot.");
    // 20 points at the screen's 96 dots per inch: 26 pixels, on the text and the button alike.
    EXPECT_EQ(nTextPixels, 26);
    EXPECT_EQ(nOkPixels, 26);
    EXPECT_FALSE(strTextFamily.isEmpty());
    EXPECT_EQ(strTextFamily, strOkFamily);
  }
}
