// The off-screen surface and the font holder against the recording fake: every step, every
// failure path, and the order in which they give their objects back.
#include "ui/mem_surface.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_windows.h"
#include "tests/ui/screen_fixture.h"
#include "ui/auto_font.h"

namespace {

using Lines = std::vector<std::string>;

class SurfaceTest : public ::testing::Test {
 protected:
  SurfaceTest() : m_scope(m_fake) {
    m_hdcRef = ::GetDC(nullptr);
    m_hdcDest = ::GetDC(nullptr);
    m_fake.ClearCalls();
  }
  ~SurfaceTest() override {
    ::ReleaseDC(nullptr, m_hdcRef);
    ::ReleaseDC(nullptr, m_hdcDest);
  }
  // The calls since the last look, with the screen contexts named ref and dest.
  Lines Calls() {
    Lines out;
    for (std::string line : m_fake.Calls()) {
      for (auto [h, name] : {std::pair{m_hdcRef, "ref"}, std::pair{m_hdcDest, "dest"}}) {
        const std::string strOld = m_fake.Name(h);
        for (size_t p; (p = line.find(strOld + ",")) != std::string::npos ||
                       (p = line.find(strOld + ")")) != std::string::npos;)
          line.replace(p, strOld.size(), name);
      }
      out.push_back(line);
    }
    m_fake.ClearCalls();
    return Canonical(out);
  }

  CFakeWindows m_fake;
  CFakeWindowsScope m_scope;
  HDC m_hdcRef = nullptr;
  HDC m_hdcDest = nullptr;
};

const Lines kMade = {
    "CreateCompatibleDC(ref) -> dc1",
    "CreateCompatibleBitmap(ref, 240, 320) -> bmp1",
    "SelectObject(dc1, bmp1) -> DEFAULT_BITMAP",
    "GetStockObject(BLACK_BRUSH) -> BLACK_BRUSH",
    "FillRect(dc1, (0,0,240,320), BLACK_BRUSH)",
};
const Lines kReleased = {
    "SelectObject(dc1, DEFAULT_BITMAP) -> bmp1",
    "DeleteObject(bmp1)",
    "DeleteDC(dc1)",
};

}  // namespace

TEST_F(SurfaceTest, MadeBlackAndReleasedBitmapFirst) {
  {
    CMemSurface surface;
    EXPECT_EQ(surface.m_hDC, nullptr);
    surface.Create(m_hdcRef, 240, 320);
    EXPECT_NE(surface.m_hDC, nullptr);
    EXPECT_EQ(Calls(), kMade);
  }
  EXPECT_EQ(Calls(), kReleased);
  EXPECT_EQ(m_fake.Violations(), Lines{});
  EXPECT_EQ(m_fake.AliveObjects(), (Lines{m_fake.Name(m_hdcRef), m_fake.Name(m_hdcDest)}));
}

TEST_F(SurfaceTest, FailurePathsLeaveItEmptyAndTheReferenceToTheCaller) {
  struct {
    const char* pszFail;  // null: the reference context is null
    Lines calls;
    int nWidth;  // recorded only once a context was made
  } cases[] = {
      {nullptr, {}, 0},
      {"CreateCompatibleDC", {"CreateCompatibleDC(ref) -> null"}, 0},
      {"CreateCompatibleBitmap",
       {"CreateCompatibleDC(ref) -> dc1", "CreateCompatibleBitmap(ref, 240, 320) -> null",
        "DeleteDC(dc1)"},
       240},
  };
  for (const auto& c : cases) {
    if (c.pszFail) m_fake.FailNext(c.pszFail);
    CMemSurface surface;
    surface.Create(c.pszFail ? m_hdcRef : nullptr, 240, 320);
    EXPECT_EQ(surface.m_hDC, nullptr);
    EXPECT_EQ(surface.m_nWidth, c.nWidth);
    // An empty surface transfers nothing and gives nothing back.
    EXPECT_FALSE(surface.BlitTo(m_hdcDest, 0, 0, 0, 0, 0, 0));
    surface.Destroy();
    EXPECT_EQ(Calls(), c.calls) << (c.pszFail ? c.pszFail : "null reference");
    EXPECT_EQ(m_fake.Violations(), Lines{});
    // The reference context is still the caller's: nothing released it.
    EXPECT_EQ(m_fake.AliveObjects(), (Lines{m_fake.Name(m_hdcRef), m_fake.Name(m_hdcDest)}));
  }
}

TEST_F(SurfaceTest, CreateTwiceReleasesTheFirstBeforeMakingTheSecond) {
  CMemSurface surface;
  surface.Create(m_hdcRef, 240, 320);
  surface.Create(m_hdcRef, 100, 50);
  EXPECT_EQ(surface.m_nWidth, 100);
  EXPECT_EQ(surface.m_nHeight, 50);
  surface.Destroy();
  surface.Destroy();
  Lines expected = kMade;
  expected.insert(expected.end(), kReleased.begin(), kReleased.end());
  for (const char* psz : {
           "CreateCompatibleDC(ref) -> dc2",
           "CreateCompatibleBitmap(ref, 100, 50) -> bmp2",
           "SelectObject(dc2, bmp2) -> DEFAULT_BITMAP",
           "GetStockObject(BLACK_BRUSH) -> BLACK_BRUSH",
           "FillRect(dc2, (0,0,100,50), BLACK_BRUSH)",
           "SelectObject(dc2, DEFAULT_BITMAP) -> bmp2",
           "DeleteObject(bmp2)",
           "DeleteDC(dc2)",
       })
    expected.push_back(psz);
  EXPECT_EQ(Calls(), expected);
  EXPECT_EQ(m_fake.Violations(), Lines{});
}

TEST_F(SurfaceTest, BlitToUsesTheRecordedSizeForZero) {
  CMemSurface surface;
  surface.Create(m_hdcRef, 240, 320);
  Calls();
  struct {
    int x, y, xSrc, ySrc, cx, cy;
    const char* pszCall;
  } cases[] = {
      {0, 0, 0, 0, 0, 0, "BitBlt(dest, 0, 0, 240, 320, dc1, 0, 0, SRCCOPY)"},
      {5, 6, 7, 8, 10, 0, "BitBlt(dest, 5, 6, 10, 320, dc1, 7, 8, SRCCOPY)"},
      {0, 0, 0, 0, 0, 20, "BitBlt(dest, 0, 0, 240, 20, dc1, 0, 0, SRCCOPY)"},
      // No clipping to the surface: larger values are passed as given.
      {1, 2, 3, 4, 500, 600, "BitBlt(dest, 1, 2, 500, 600, dc1, 3, 4, SRCCOPY)"},
  };
  Lines expected, got;
  for (const auto& c : cases) {
    EXPECT_TRUE(surface.BlitTo(m_hdcDest, c.x, c.y, c.xSrc, c.ySrc, c.cx, c.cy));
    expected.push_back(c.pszCall);
  }
  for (std::string line : Calls()) got.push_back(line);
  // The surface's context keeps the name the fake gave it; Canonical saw it first here.
  EXPECT_EQ(got, expected);
}

TEST_F(SurfaceTest, FontHolderOwnsOneBoldFontAtATime) {
  {
    CAutoFont font;
    EXPECT_EQ(font.GetHandle(), nullptr);
    EXPECT_TRUE(font.Create(L"Arial", 28));
    HFONT hFirst = font.GetHandle();
    EXPECT_TRUE(font.Create(L"Arial", 18));
    EXPECT_NE(font.GetHandle(), hFirst);
    // A face longer than the field is cut to its 31 characters, never run past it.
    EXPECT_TRUE(font.Create(L"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", -12));
    m_fake.FailNext("CreateFontIndirectW");
    EXPECT_FALSE(font.Create(L"Arial", 26));
    EXPECT_EQ(font.GetHandle(), nullptr);
    EXPECT_TRUE(font.Create(L"Arial", 26));
  }
  EXPECT_EQ(Calls(),
            (Lines{
                "CreateFontIndirectW(\"Arial\" 28 700) -> font1",
                "DeleteObject(font1)",
                "CreateFontIndirectW(\"Arial\" 18 700) -> font2",
                "DeleteObject(font2)",
                "CreateFontIndirectW(\"ABCDEFGHIJKLMNOPQRSTUVWXYZ01234\" -12 700) -> font3",
                "DeleteObject(font3)",
                "CreateFontIndirectW(\"Arial\" 26 700) -> null",
                "CreateFontIndirectW(\"Arial\" 26 700) -> font4",
                "DeleteObject(font4)",
            }));
  EXPECT_EQ(m_fake.Violations(), Lines{});
}
