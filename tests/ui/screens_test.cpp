// The recovery dialog's screens through its own drawing code on the Qt backend, offscreen: the
// texts each screen draws (where, with which flags and font), the percentage and the bar, white
// frames with black text only inside the text rectangles, and nothing kept from one frame to the
// next.
#include <gtest/gtest.h>

#include <QProgressBar>
#include <cstdio>
#include <thread>

#include "tests/support/qt_fixture.h"
#include "tools/screen_rig.h"

namespace {

std::string Describe(const CDrawnText& t) {
  char sz[160];
  std::snprintf(sz, sizeof sz, " (%d,%d,%d,%d) 0x%x %s %d %d rgb=%06x %s", t.rc.left, t.rc.top,
                t.rc.right, t.rc.bottom, t.uFormat, WideToUtf8(t.strFace).c_str(), t.nPixelHeight,
                t.nWeight, t.crText, t.nBkMode == TRANSPARENT ? "transparent" : "opaque");
  return WideToUtf8(t.strText) + sz;
}

class ScreensTest : public ::testing::Test {
 protected:
  static CHostOptions Options() {
    CHostOptions options;
    options.fnRestart = [] { return FALSE; };
    return options;
  }
  // The members as the job leaves them; the bar's range as the job sets it, when given.
  void Set(BOOL bAsk, BOOL bSuccess, DWORD dwCopied, DWORD dwTotal, LONG nCountdown = 5) {
    CRecoveryDlg& dlg = m_rig.Dialog();
    dlg.m_bAskMode = bAsk;
    dlg.m_bSuccess = bSuccess;
    dlg.m_nFilesCopied = dwCopied;
    dlg.m_nFilesTotal = dwTotal;
    dlg.m_nCountdown = nCountdown;
  }
  // One repaint through the window system; the texts it drew.
  std::vector<std::string> Paint() {
    m_rig.Repaint();
    std::vector<std::string> out;
    for (const CDrawnText& t : m_rig.Windows().DrawnTexts(m_rig.DialogWindow())) {
      out.push_back(Describe(t));
      // The text lies across its rectangle as its flags say: centred, within a pixel.
      EXPECT_LE(std::abs((t.ink.left + t.ink.right) - (t.rc.left + t.rc.right)), 1) << out.back();
    }
    return out;
  }
  HWND Bar() { return ::GetDlgItem(m_rig.DialogWindow(), IDC_PROGRESS); }
  LRESULT BarPos() { return ::SendMessageW(Bar(), PBM_GETPOS, 0, 0); }
  void SetRange(DWORD dwTotal) {
    ::SendMessageW(Bar(), PBM_SETRANGE, 0, MAKELPARAM(0, ProgressRangeUpper(dwTotal)));
  }

  CScreenRig m_rig{Options()};
};

using Texts = std::vector<std::string>;
const std::string kProgressLine = " (0,80,240,160) 0x5 Arial 25 700 rgb=000000 transparent";

TEST_F(ScreensTest, EachScreenDrawsItsTextsInItsRectanglesWithItsFonts) {
  struct {
    const char* name;
    BOOL bAsk, bSuccess;
    DWORD dwCopied, dwTotal;
    LONG nCountdown;
    Texts texts;
  } cases[] = {
      // The question screen, whatever the other members hold.
      {"question",
       TRUE,
       TRUE,
       3,
       7,
       5,
       {"Orvane Emergency Recovery (0,40,240,160) 0x11 Arial 23 700 rgb=000000 transparent",
        "All user's settings will be lost, continue? (0,80,240,160) 0x15 Arial 16 700 "
        "rgb=000000 transparent"}},
      // A copied count with a total of 0 (the job zeroes both, then counts) is not divided.
      {"preparing", FALSE, FALSE, 5, 0, 5, {"Recovering...." + kProgressLine}},
      {"copying", FALSE, FALSE, 3, 7, 5, {"Recovering Orvane...42%" + kProgressLine}},
      // Completion wins over a total and shows the countdown.
      {"completed",
       FALSE,
       TRUE,
       7,
       120,
       3,
       {"Recovery completed! (0,80,240,160) 0x19 Arial 25 700 rgb=000000 transparent",
        "Restart in 3 s (0,20,240,190) 0x19 Arial 25 700 rgb=000000 transparent"}},
      {"completed at 0",
       FALSE,
       TRUE,
       0,
       0,
       0,
       {"Recovery completed! (0,80,240,160) 0x19 Arial 25 700 rgb=000000 transparent",
        "Restart in 0 s (0,20,240,190) 0x19 Arial 25 700 rgb=000000 transparent"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Set(c.bAsk, c.bSuccess, c.dwCopied, c.dwTotal, c.nCountdown);
    EXPECT_EQ(Paint(), c.texts);
  }
}

TEST_F(ScreensTest, PercentageIsTruncatedAndTheBarFollowsOnTheJobsRange) {
  struct {
    DWORD dwCopied, dwTotal;
    const char* pszText;
    LRESULT nBarPos;
  } cases[] = {
      {3, 7, "Recovering Orvane...42%", 3},
      {37, 120, "Recovering Orvane...30%", 37},
      {120, 120, "Recovering Orvane...100%", 120},
      {0, 120, "Recovering Orvane...0%", 0},
      // Not clamped: more copied than counted shows above 100 (the bar stops at its end).
      {130, 120, "Recovering Orvane...108%", 120},
      {65535, 65535, "Recovering Orvane...100%", 65535},
      // Past 16 bits the counts must not wrap: the bar's range is the largest 16-bit one.
      {35000, 70000, "Recovering Orvane...50%", 32767},
      {69999, 70000, "Recovering Orvane...99%", 65534},
      {70000, 70000, "Recovering Orvane...100%", 65535},
      {4000000000u, 4000000000u, "Recovering Orvane...100%", 65535},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszText);
    SetRange(c.dwTotal);
    Set(FALSE, FALSE, c.dwCopied, c.dwTotal);
    EXPECT_EQ(Paint(), Texts{c.pszText + kProgressLine});
    EXPECT_EQ(BarPos(), c.nBarPos);
  }
  // The question screen leaves the bar where it was.
  Set(TRUE, FALSE, 1, 120);
  Paint();
  EXPECT_EQ(BarPos(), 65535);
}

TEST_F(ScreensTest, RectanglesFollowTheClientArea) {
  // h/2 is the client height halved toward zero; a low client area inverts the text rectangles.
  struct {
    int w, h;
    Texts texts;
  } cases[] = {
      {320,
       240,
       {"Recovery completed! (0,80,320,120) 0x19 Arial 25 700 rgb=000000 transparent",
        "Restart in 5 s (0,20,320,150) 0x19 Arial 25 700 rgb=000000 transparent"}},
      {241,
       101,
       {"Recovery completed! (0,80,241,50) 0x19 Arial 25 700 rgb=000000 transparent",
        "Restart in 5 s (0,20,241,80) 0x19 Arial 25 700 rgb=000000 transparent"}},
  };
  for (const auto& c : cases) {
    ::MoveWindow(m_rig.DialogWindow(), 0, 0, c.w, c.h, FALSE);
    Set(FALSE, TRUE, 1, 1);
    EXPECT_EQ(Paint(), c.texts);
  }
}

TEST_F(ScreensTest, BarPositionGoesOutUnderTheCopyMutexAndAFailedWaitSkipsOnlyTheBar) {
  // At the moment the position reaches the bar another thread cannot take the mutex.
  CRecoveryDlg& dlg = m_rig.Dialog();
  SetRange(7);
  Set(FALSE, FALSE, 3, 7);
  std::vector<DWORD> waits;
  auto* bar = qobject_cast<QProgressBar*>(m_rig.Windows().WidgetOf(Bar()));
  ASSERT_NE(bar, nullptr);
  QMetaObject::Connection watch = QObject::connect(bar, &QProgressBar::valueChanged, [&] {
    std::thread([&] {
      DWORD r = WaitForSingleObject(dlg.m_hMutex, 0);
      waits.push_back(r);
      if (r == WAIT_OBJECT_0) ReleaseMutex(dlg.m_hMutex);
    }).join();
  });
  Paint();
  QObject::disconnect(watch);
  EXPECT_EQ(waits, std::vector<DWORD>{WAIT_TIMEOUT});
  EXPECT_EQ(BarPos(), 3);
  // A closed handle fails the wait: no position goes out, the frame is whole all the same.
  CloseHandle(dlg.m_hMutex);
  Set(FALSE, FALSE, 5, 7);
  EXPECT_EQ(Paint(), Texts{"Recovering Orvane...71%" + kProgressLine});
  EXPECT_EQ(BarPos(), 3);
  dlg.m_hMutex = CreateMutexW(nullptr, FALSE, L"MUTEX_FOR_COPY");
}

// The rows and columns that text may touch on each screen, at 240 x 320.
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

TEST_F(ScreensTest, WhiteFramesWithBlackTextOnlyInsideTheRectanglesAndTheSamePixelsEachTime) {
  struct {
    std::vector<QRect> rects;  // the text rectangles
    int nInkTop, nInkBottom;   // where the ink must lie: alignment of the flags
  } areas[] = {
      // Title from the top of its rectangle; question centred in (80, 160).
      {{QRect(0, 40, 240, 120), QRect(0, 80, 240, 80)}, 40, 160},
      // One line centred on row 120.
      {{QRect(0, 80, 240, 80)}, 100, 140},
      {{QRect(0, 80, 240, 80)}, 100, 140},
      // Both texts sit on the bottoms of their rectangles, 160 and 190.
      {{QRect(0, 80, 240, 80), QRect(0, 20, 240, 170)}, 80, 190},
  };
  const size_t nObjects = m_rig.Windows().Gdi().LiveObjects();
  const size_t nContexts = m_rig.Windows().Gdi().LiveContexts();
  for (size_t i = 0; i < ScreenStates().size(); ++i) {
    const CScreenState& state = ScreenStates()[i];
    SCOPED_TRACE(state.pszName);
    m_rig.SetState(state);
    QImage frame = m_rig.RenderFrame();
    ASSERT_EQ(frame.size(), QSize(240, 320));
    CInk ink = Inspect(frame, areas[i].rects);
    EXPECT_EQ(ink.nOutside, 0);
    EXPECT_EQ(ink.nColoured, 0);
    EXPECT_GT(ink.nBlack, 100);
    EXPECT_GE(ink.nTop, areas[i].nInkTop);
    EXPECT_LE(ink.nBottom, areas[i].nInkBottom);
    if (areas[i].nInkBottom == 140) {
      EXPECT_NEAR((ink.nTop + ink.nBottom) / 2, 120, 4);
    }
    if (areas[i].nInkBottom == 190) {
      EXPECT_GE(ink.nBottom, 180);
    }
    m_rig.SetState(ScreenStates()[state.bAskMode ? 1 : 0]);  // another screen in between
    m_rig.RenderFrame();
    m_rig.SetState(state);
    EXPECT_TRUE(frame == m_rig.RenderFrame());
  }
  // Nothing kept between frames: no drawing object or context outlives its redraw, also when
  // the client area is too small for a surface at all.
  ::MoveWindow(m_rig.DialogWindow(), 0, 0, 0, 0, FALSE);
  for (BOOL bAsk : {TRUE, FALSE}) {
    Set(bAsk, FALSE, 1, 2);
    EXPECT_TRUE(m_rig.RenderFrame().isNull());
  }
  EXPECT_EQ(m_rig.Windows().Gdi().LiveObjects(), nObjects);
  EXPECT_EQ(m_rig.Windows().Gdi().LiveContexts(), nContexts);
}

}  // namespace
