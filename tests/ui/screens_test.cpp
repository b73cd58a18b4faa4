// The recovery dialog's screens through its own drawing code on the Qt backend, offscreen: the
// texts each screen draws (where, with which flags and font), the percentage and the bar, white
// frames with black text only where the texts lie, and nothing kept from one frame to the next.
#include <gtest/gtest.h>

#include <QProgressBar>
#include <algorithm>
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

using Texts = std::vector<std::string>;
const std::string kProgressLine = " (0,80,240,160) 0x5 Arial 25 700 rgb=000000 transparent";
// The percentage is wider than the turned screen: it breaks between its words.
const std::string kCopyingLine = " (0,80,240,160) 0x15 Arial 25 700 rgb=000000 transparent";
const std::string kCompleted =
    "Recovery completed! (0,80,240,160) 0x19 Arial 25 700 rgb=000000 transparent";
const std::string kRestartLine = " s (0,20,240,190) 0x19 Arial 25 700 rgb=000000 transparent";

class ScreensTest : public ::testing::Test {
 protected:
  // The members as the job leaves them.
  void Set(BOOL bAsk, BOOL bSuccess, DWORD dwCopied, DWORD dwTotal, LONG nCountdown = 5) {
    m_rig.SetState({"", bAsk, bSuccess, dwCopied, dwTotal, nCountdown});
  }
  // One repaint through the window system; the texts it drew. (Where the ink of a rectangle and
  // its flags lands is the drawing backend's, tested with it.)
  Texts Paint() {
    m_rig.Repaint();
    Texts out;
    for (const CDrawnText& t : m_rig.Windows().DrawnTexts(m_rig.DialogWindow())) {
      out.push_back(Describe(t));
      // Whole on the screen: the ink never leaves its rectangle's sides.
      if (t.rc.bottom <= t.rc.top) continue;  // an inverted rectangle shows nothing
      EXPECT_TRUE(t.ink.left >= t.rc.left && t.ink.right <= t.rc.right) << out.back();
    }
    return out;
  }
  HWND Bar() { return ::GetDlgItem(m_rig.DialogWindow(), IDC_PROGRESS); }
  LRESULT BarPos() { return ::SendMessageW(Bar(), PBM_GETPOS, 0, 0); }

  CScreenRig m_rig{{.strProgramPath = {}, .fnRestart = [] { return FALSE; }}};
};

TEST_F(ScreensTest, EachScreenDrawsItsTextsInItsRectanglesWithItsFonts) {
  // The question screen whatever the other members hold; a copied count with a total of 0 (the
  // job zeroes both, then counts) not divided; completion over a total, with the countdown.
  const Texts kQuestion = {
      "Orvane Emergency Recovery (0,40,240,160) 0x11 Arial 23 700 rgb=000000 transparent",
      "All user's settings will be lost, continue? (0,80,240,160) 0x15 Arial 16 700 "
      "rgb=000000 transparent"};
  const std::tuple<BOOL, BOOL, DWORD, DWORD, LONG, Texts> cases[] = {
      {TRUE, TRUE, 3, 7, 5, kQuestion},
      {FALSE, FALSE, 5, 0, 5, {"Recovering...." + kProgressLine}},
      {FALSE, FALSE, 3, 7, 5, {"Recovering Orvane...42%" + kCopyingLine}},
      {FALSE, TRUE, 7, 120, 3, {kCompleted, "Restart in 3" + kRestartLine}},
      {FALSE, TRUE, 0, 0, 0, {kCompleted, "Restart in 0" + kRestartLine}},
  };
  for (const auto& [bAsk, bSuccess, dwCopied, dwTotal, nCountdown, texts] : cases) {
    Set(bAsk, bSuccess, dwCopied, dwTotal, nCountdown);
    EXPECT_EQ(Paint(), texts);
  }
}

TEST_F(ScreensTest, PercentageIsTruncatedAndTheBarFollowsOnTheJobsRange) {
  // Not clamped: more copied than counted shows above 100, the bar stops at its end; past 16 bits
  // the counts do not wrap and the bar's range is the largest 16-bit one.
  const std::tuple<DWORD, DWORD, const char*, LRESULT> cases[] = {
      {3, 7, "42", 3},
      {37, 120, "30", 37},
      {120, 120, "100", 120},
      {0, 120, "0", 0},
      {130, 120, "108", 120},
      {65535, 65535, "100", 65535},
      {35000, 70000, "50", 32767},
      {69999, 70000, "99", 65534},
      {70000, 70000, "100", 65535},
      {4000000000u, 4000000000u, "100", 65535}};
  for (const auto& [dwCopied, dwTotal, pszPercent, nBarPos] : cases) {
    SCOPED_TRACE(pszPercent);
    Set(FALSE, FALSE, dwCopied, dwTotal);  // the bar's range as the job sets it
    EXPECT_EQ(Paint(),
              Texts{"Recovering Orvane..." + std::string(pszPercent) + "%" + kCopyingLine});
    EXPECT_EQ(BarPos(), nBarPos);
  }
  // The question screen leaves the bar where it was.
  m_rig.Dialog().m_bAskMode = TRUE;
  Paint();
  EXPECT_EQ(BarPos(), 65535);
  // h/2 is the client height halved toward zero; a low client area inverts the rectangles.
  for (auto [w, h, strRects] : {std::tuple{320, 240, "(0,80,320,120)|(0,20,320,150)"},
                                {241, 101, "(0,80,241,50)|(0,20,241,80)"}}) {
    ::MoveWindow(m_rig.DialogWindow(), 0, 0, w, h, FALSE);
    Set(FALSE, TRUE, 1, 1);
    std::string strDrawn;
    for (const std::string& t : Paint())
      strDrawn +=
          (strDrawn.empty() ? "" : "|") + t.substr(t.find('('), t.find(')') - t.find('(') + 1);
    EXPECT_EQ(strDrawn, strRects);
  }
}

TEST_F(ScreensTest, BarPositionGoesOutUnderTheCopyMutexAndAFailedWaitSkipsOnlyTheBar) {
  // At the moment the position reaches the bar another thread cannot take the mutex.
  CRecoveryDlg& dlg = m_rig.Dialog();
  Set(FALSE, FALSE, 3, 7);
  std::vector<DWORD> waits;
  auto* bar = qobject_cast<QProgressBar*>(m_rig.Windows().WidgetOf(Bar()));
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
  EXPECT_EQ(Paint(), Texts{"Recovering Orvane...71%" + kCopyingLine});
  EXPECT_EQ(BarPos(), 3);
  dlg.m_hMutex = CreateMutexW(nullptr, FALSE, L"MUTEX_FOR_COPY");
}

TEST_F(ScreensTest, WhiteFramesWithBlackTextOnlyWhereTheTextsLieAndTheSamePixelsEachTime) {
  const size_t nObjects = m_rig.Windows().Gdi().LiveObjects();
  const size_t nContexts = m_rig.Windows().Gdi().LiveContexts();
  for (const CScreenState& state : ScreenStates()) {
    SCOPED_TRACE(state.pszName);
    m_rig.SetState(state);
    Paint();
    std::vector<QRect> ink;
    for (const CDrawnText& t : m_rig.Windows().DrawnTexts(m_rig.DialogWindow()))
      ink.push_back(
          QRect(QPoint(t.ink.left, t.ink.top), QPoint(t.ink.right - 1, t.ink.bottom - 1)));
    const QImage frame = m_rig.RenderFrame();
    ASSERT_EQ(frame.size(), QSize(240, 320));
    int nOutside = 0, nColoured = 0, nBlack = 0, nGrey = 0;
    for (int y = 0; y < frame.height(); ++y)
      for (int x = 0; x < frame.width(); ++x) {
        const QRgb c = frame.pixel(x, y);
        if ((c & 0xFFFFFF) == 0xFFFFFF) continue;
        nColoured += qRed(c) != qGreen(c) || qGreen(c) != qBlue(c);
        nBlack += qRed(c) < 0x20;
        nGrey += qRed(c) >= 0x20;  // smoothed edges: the surface is the screen's, not monochrome
        nOutside +=
            std::none_of(ink.begin(), ink.end(), [&](const QRect& r) { return r.contains(x, y); });
      }
    EXPECT_EQ(std::make_tuple(nOutside, nColoured, nBlack > 100, nGrey > 0),
              std::make_tuple(0, 0, true, true));
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
