// The recovery screens against the recording fake: what each screen draws, in which order, with
// which fonts, and that every drawing object is released in the right order.
#include <thread>

#include "tests/ui/screen_fixture.h"
#include "ui/progress_scale.h"

namespace {

using Lines = std::vector<std::string>;

// What every frame starts with: the erase context, a black surface the size of the client area,
// painted white.
Lines FrameStart(const Lines& screenQueries) {
  Lines l = {"> WM_PAINT(dlg102)", "DefWindowProcW(dlg102, WM_PAINT, 0, 0)",
             "> WM_ERASEBKGND(dlg102, dc1)"};
  l.insert(l.end(), screenQueries.begin(), screenQueries.end());
  Lines rest = {
      "CreateCompatibleDC(dc1) -> dc2",
      "CreateCompatibleBitmap(dc1, 240, 320) -> bmp1",
      "SelectObject(dc2, bmp1) -> DEFAULT_BITMAP",
      "GetStockObject(BLACK_BRUSH) -> BLACK_BRUSH",
      "FillRect(dc2, (0,0,240,320), BLACK_BRUSH)",
      "GetStockObject(WHITE_BRUSH) -> WHITE_BRUSH",
      "FillRect(dc2, (0,0,240,320), WHITE_BRUSH)",
  };
  l.insert(l.end(), rest.begin(), rest.end());
  return l;
}

Lines Join(std::initializer_list<Lines> parts) {
  Lines out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const Lines kClientRect = {"GetClientRect(dlg102) -> (0,0,240,320)"};

// The progress screens' font and text state.
const Lines kProgressFont = {
    "CreateFontIndirectW(\"Arial\" 28 700) -> font1",
    "SelectObject(dc2, font1) -> SYSTEM_FONT",
    "SetBkMode(dc2, TRANSPARENT) -> OPAQUE",
    "SetTextColor(dc2, RGB(0,0,0)) -> RGB(0,0,0)",
};

// One transfer to the screen, then the font deselected and deleted, the surface last.
const Lines kProgressEnd = {
    "BitBlt(dc1, 0, 0, 240, 320, dc2, 0, 0, SRCCOPY)",
    "SelectObject(dc2, SYSTEM_FONT) -> font1",
    "DeleteObject(font1)",
    "SelectObject(dc2, DEFAULT_BITMAP) -> bmp1",
    "DeleteObject(bmp1)",
    "DeleteDC(dc2)",
};

std::string Describe(const CFakeText& t) {
  char sz[256];
  std::snprintf(sz, sizeof sz, " (%d,%d,%d,%d) 0x%x %d %d rgb=%06x bk=%d", t.rc.left, t.rc.top,
                t.rc.right, t.rc.bottom, t.uFormat, static_cast<int>(t.nHeight),
                static_cast<int>(t.nWeight), t.crText, t.nBkMode);
  return CString(t.strText).ToUtf8() + " / " + CString(t.strFace).ToUtf8() + sz;
}

}  // namespace

class ScreensTest : public CScreenFixture {
 protected:
  Lines Texts() {
    Lines out;
    for (const auto& t : Fake().Texts()) out.push_back(Describe(t));
    return out;
  }
  void ExpectClean() {
    EXPECT_EQ(Fake().Violations(), Lines{});
    EXPECT_EQ(Fake().AliveObjects(), Lines{});
  }
};

TEST_F(ScreensTest, QuestionScreenDrawsTitleAndQuestionAndLeavesTheBarAlone) {
  // Whatever the other members hold, the question screen is drawn and the bar keeps its place.
  struct {
    BOOL bSuccess;
    DWORD dwCopied, dwTotal;
  } cases[] = {{FALSE, 0, 0}, {TRUE, 3, 7}, {FALSE, 37, 120}};
  for (const auto& c : cases) {
    Fresh();
    SetBarRange(120);
    ::SendMessageW(Bar(), PBM_SETPOS, 11, 0);
    SetProgress(c.bSuccess, c.dwCopied, c.dwTotal);
    m_pDlg->m_bAskMode = TRUE;
    const Lines expected = Join({
        FrameStart(Join({kClientRect, kClientRect})),
        {
            "CreateFontIndirectW(\"Arial\" 26 700) -> font1",
            "SelectObject(dc2, font1) -> SYSTEM_FONT",
            "SetBkMode(dc2, TRANSPARENT) -> OPAQUE",
            "SetTextColor(dc2, RGB(0,0,0)) -> RGB(0,0,0)",
            "DrawTextW(dc2, \"Orvane Emergency Recovery\", -1, (0,40,240,160), 0x11) font "
            "\"Arial\" 26 700",
            "CreateFontIndirectW(\"Arial\" 18 700) -> font2",
            "SelectObject(dc2, font2) -> font1",
            "DrawTextW(dc2, \"All user's settings will be lost, continue?\", -1, (0,80,240,160), "
            "0x15) font \"Arial\" 18 700",
            "BitBlt(dc1, 0, 0, 240, 320, dc2, 0, 0, SRCCOPY)",
            // Deselected first; the question font, then the title font, then the surface.
            "SelectObject(dc2, SYSTEM_FONT) -> font2",
            "DeleteObject(font2)",
            "DeleteObject(font1)",
            "SelectObject(dc2, DEFAULT_BITMAP) -> bmp1",
            "DeleteObject(bmp1)",
            "DeleteDC(dc2)",
        },
    });
    EXPECT_EQ(Paint(), expected) << c.dwCopied << " of " << c.dwTotal;
    EXPECT_EQ(BarPos(), 11);
    EXPECT_EQ(Fake().Frames().back().texts,
              (std::vector<std::wstring>{L"Orvane Emergency Recovery",
                                         L"All user's settings will be lost, continue?"}));
    ExpectClean();
  }
}

TEST_F(ScreensTest, PreparingScreenWithoutTotalDividesNothing) {
  // A copied count with a total of 0 (the job zeroes both, then counts) must not be divided.
  for (DWORD dwCopied : {0u, 5u}) {
    Fresh();
    SetProgress(FALSE, dwCopied, 0);
    const Lines expected = Join({
        FrameStart(kClientRect),
        kProgressFont,
        {"SendMessageW(dlg102/1010, PBM_SETPOS, " + std::to_string(dwCopied) + ", 0)",
         "DrawTextW(dc2, \"Recovering....\", -1, (0,80,240,160), 0x5) font \"Arial\" 28 700"},
        kProgressEnd,
    });
    EXPECT_EQ(Paint(), expected);
    ExpectClean();
  }
}

TEST_F(ScreensTest, CopyingScreenShowsTruncatedPercentAndMovesTheBar) {
  struct {
    DWORD dwCopied, dwTotal;
    const char* pszText;
    int nBarPos;  // on the range the job gives the bar
  } cases[] = {
      {3, 7, "Recovering Orvane...42%", 3},
      {37, 120, "Recovering Orvane...30%", 37},
      {120, 120, "Recovering Orvane...100%", 120},
      {0, 120, "Recovering Orvane...0%", 0},
      // Not clamped: more copied than counted shows above 100 (the bar stops at its end).
      {130, 120, "Recovering Orvane...108%", 120},
      {65535, 65535, "Recovering Orvane...100%", 65535},
      // Past 16 bits the counts must not wrap: 70,000 files, half and nearly all of them copied.
      {35000, 70000, "Recovering Orvane...50%", 32767},
      {69999, 70000, "Recovering Orvane...99%", 65534},
      {70000, 70000, "Recovering Orvane...100%", 65535},
      {4000000000u, 4000000000u, "Recovering Orvane...100%", 65535},
  };
  for (const auto& c : cases) {
    Fresh();
    SetBarRange(ProgressRangeUpper(c.dwTotal));
    SetProgress(FALSE, c.dwCopied, c.dwTotal);
    const std::string strPos = std::to_string(ProgressBarPos(c.dwCopied, c.dwTotal));
    const Lines expected = Join({
        FrameStart(kClientRect),
        kProgressFont,
        {"SendMessageW(dlg102/1010, PBM_SETPOS, " + strPos + ", 0)",
         std::string("DrawTextW(dc2, \"") + c.pszText +
             "\", -1, (0,80,240,160), 0x15) font \"Arial\" 28 700"},
        kProgressEnd,
    });
    EXPECT_EQ(Paint(), expected) << c.pszText;
    EXPECT_EQ(BarPos(), c.nBarPos) << c.dwCopied << " of " << c.dwTotal;
    ExpectClean();
  }
}

TEST_F(ScreensTest, CompletionScreenWinsOverATotalAndShowsTheCountdown) {
  struct {
    DWORD dwCopied, dwTotal;
    LONG nCountdown;
  } cases[] = {{120, 120, 5}, {7, 120, 3}, {0, 0, 0}};
  for (const auto& c : cases) {
    Fresh();
    SetBarRange(static_cast<WORD>(c.dwTotal));
    SetProgress(TRUE, c.dwCopied, c.dwTotal, c.nCountdown);
    const Lines expected = Join({
        FrameStart(kClientRect),
        kProgressFont,
        {"SendMessageW(dlg102/1010, PBM_SETPOS, " + std::to_string(c.dwCopied) + ", 0)",
         "DrawTextW(dc2, \"Recovery completed!\", -1, (0,80,240,160), 0x19) font \"Arial\" 28 700",
         "DrawTextW(dc2, \"Restart in " + std::to_string(c.nCountdown) +
             " s\", -1, (0,20,240,190), 0x19) font \"Arial\" 28 700"},
        kProgressEnd,
    });
    EXPECT_EQ(Paint(), expected);
    ExpectClean();
  }
}

TEST_F(ScreensTest, TextsAreBlackOnTransparentCellsWithTheirFonts) {
  struct {
    BOOL bAsk, bSuccess;
    DWORD dwCopied, dwTotal;
    Lines texts;
  } cases[] = {
      {TRUE,
       FALSE,
       0,
       0,
       {"Orvane Emergency Recovery / Arial (0,40,240,160) 0x11 26 700 rgb=000000 bk=1",
        "All user's settings will be lost, continue? / Arial (0,80,240,160) 0x15 18 700 "
        "rgb=000000 bk=1"}},
      {FALSE, FALSE, 0, 0, {"Recovering.... / Arial (0,80,240,160) 0x5 28 700 rgb=000000 bk=1"}},
      {FALSE,
       FALSE,
       3,
       7,
       {"Recovering Orvane...42% / Arial (0,80,240,160) 0x15 28 700 rgb=000000 bk=1"}},
      {FALSE,
       TRUE,
       7,
       7,
       {"Recovery completed! / Arial (0,80,240,160) 0x19 28 700 rgb=000000 bk=1",
        "Restart in 4 s / Arial (0,20,240,190) 0x19 28 700 rgb=000000 bk=1"}},
  };
  for (const auto& c : cases) {
    Fresh();
    SetProgress(c.bSuccess, c.dwCopied, c.dwTotal, 4);
    m_pDlg->m_bAskMode = c.bAsk;
    Paint();
    EXPECT_EQ(Texts(), c.texts);
  }
}

TEST_F(ScreensTest, RectanglesFollowTheClientArea) {
  // h/2 is the client height halved toward zero; a low client area inverts the text rectangles.
  struct {
    int w, h;
    Lines texts;
  } cases[] = {
      {320,
       240,
       {"Recovery completed! / Arial (0,80,320,120) 0x19 28 700 rgb=000000 bk=1",
        "Restart in 5 s / Arial (0,20,320,150) 0x19 28 700 rgb=000000 bk=1"}},
      {241,
       101,
       {"Recovery completed! / Arial (0,80,241,50) 0x19 28 700 rgb=000000 bk=1",
        "Restart in 5 s / Arial (0,20,241,80) 0x19 28 700 rgb=000000 bk=1"}},
  };
  for (const auto& c : cases) {
    Fresh();
    ::MoveWindow(m_hDlg, 0, 0, c.w, c.h, FALSE);
    SetProgress(TRUE, 1, 1);
    Paint();
    EXPECT_EQ(Texts(), c.texts);
    EXPECT_EQ(Fake().Calls({"CreateCompatibleBitmap", "BitBlt"}).size(), 2u);
    ExpectClean();
  }
}

TEST_F(ScreensTest, BarPositionIsSetUnderTheCopyMutex) {
  // At the moment the position goes out, another thread cannot take the mutex; after the redraw
  // it can.
  SetProgress(FALSE, 3, 7);
  HANDLE hMutex = m_pDlg->m_hMutex;
  std::vector<DWORD> waits;
  Fake().SetCallObserver([&](const std::string& line) {
    if (line.rfind("SendMessageW(dlg102/1010, PBM_SETPOS", 0) != 0) return;
    std::thread([&] {
      DWORD r = WaitForSingleObject(hMutex, 0);
      waits.push_back(r);
      if (r == WAIT_OBJECT_0) ReleaseMutex(hMutex);
    }).join();
  });
  Paint();
  Fake().SetCallObserver(nullptr);
  std::thread([&] {
    DWORD r = WaitForSingleObject(hMutex, 0);
    waits.push_back(r);
    if (r == WAIT_OBJECT_0) ReleaseMutex(hMutex);
  }).join();
  EXPECT_EQ(waits, (std::vector<DWORD>{WAIT_TIMEOUT, WAIT_OBJECT_0}));
}

TEST_F(ScreensTest, FailedMutexWaitSkipsTheBarButDrawsTheTexts) {
  // A closed handle fails the wait: no position goes out, the frame is complete all the same.
  SetBarRange(7);
  SetProgress(FALSE, 3, 7);
  CloseHandle(m_pDlg->m_hMutex);
  Lines calls = Paint();
  m_pDlg->m_hMutex = CreateMutexW(nullptr, FALSE, L"MUTEX_FOR_COPY");
  EXPECT_EQ(Fake().Calls({"SendMessageW"}), Lines{});
  EXPECT_EQ(Fake().Frames().back().texts, std::vector<std::wstring>{L"Recovering Orvane...42%"});
  EXPECT_EQ(BarPos(), 0);
  ExpectClean();
}

TEST_F(ScreensTest, NothingIsKeptBetweenRedraws) {
  // Three redraws make and release three surfaces and three fonts; every frame is complete.
  SetProgress(FALSE, 1, 4);
  for (int i = 0; i < 3; ++i) Paint();
  ExpectClean();
  Fake().ClearCalls();
  for (int i = 0; i < 3; ++i) Fake().Repaint();
  EXPECT_EQ(Fake().Calls({"CreateCompatibleDC", "CreateFontIndirectW", "DeleteDC"}).size(), 9u);
  EXPECT_EQ(Fake().Frames().size(), 6u);
  for (const auto& f : Fake().Frames())
    EXPECT_EQ(f.texts, std::vector<std::wstring>{L"Recovering Orvane...25%"});
}

TEST_F(ScreensTest, SurfaceOrFontFailureLeavesNoObjectBehind) {
  struct {
    const char* pszFail;
    Lines screen;  // what reaches the screen
  } cases[] = {
      {"CreateCompatibleDC", {}},
      {"CreateCompatibleBitmap", {}},
      // The system font stays; the frame still reaches the screen.
      {"CreateFontIndirectW", {"BitBlt(dc1, 0, 0, 240, 320, dc2, 0, 0, SRCCOPY)"}},
  };
  for (const auto& c : cases) {
    for (BOOL bAsk : {TRUE, FALSE}) {
      Fresh();
      SetProgress(FALSE, 1, 2);
      m_pDlg->m_bAskMode = bAsk;
      Fake().FailNext(c.pszFail, 2);
      Paint();
      EXPECT_EQ(Canonical(Fake().Calls({"BitBlt"})), c.screen) << c.pszFail;
      EXPECT_EQ(Fake().AliveObjects(), Lines{}) << c.pszFail;
    }
  }
}
