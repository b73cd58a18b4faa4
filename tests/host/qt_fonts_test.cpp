// Font requests on the host: faces through fontconfig, a positive height as the cell height, a
// negative one as the character height, the weight as asked.
#include <QFontInfo>
#include <QFontMetrics>
#include <string>
#include <vector>

#include "platform/afxwin.h"
#include "platform/host/qt/fonts.h"
#include "tests/host/qt_fixture.h"

namespace {

using QtFonts = CQtBackendTest;

TEST_F(QtFonts, FaceCellHeightAndWeightAreMet) {
  struct CCase {
    std::wstring face;
    LONG lHeight;
    LONG lWeight;
    QString family;  // what fontconfig resolves it to
    int nCell;       // ascent + descent, at most this and at most one pixel less; 0: not checked
    int nPixels;     // em height; 0: not checked
    bool bBold;
  };
  const std::vector<CCase> cases = {
      {L"Arial", 28, FW_BOLD, "Liberation Sans", 28, 25, true},
      {L"Arial", 26, FW_BOLD, "Liberation Sans", 26, 0, true},
      {L"Arial", 18, FW_BOLD, "Liberation Sans", 18, 0, true},
      {L"Arial", -20, FW_NORMAL, "Liberation Sans", 0, 20, false},
      {L"宋体", -26, 0, "AR PL UMing CN", 0, 26, false},
      {L"MS Shell Dlg", -11, FW_NORMAL, "Liberation Sans", 0, 11, false},
  };
  for (const CCase& c : cases) {
    SCOPED_TRACE(QString::fromStdWString(c.face).toStdString() + " " + std::to_string(c.lHeight));
    LOGFONTW lf = MakeLogFont(c.face.c_str(), c.lHeight, c.lWeight);
    HFONT hFont = ::CreateFontIndirectW(&lf);
    ASSERT_NE(hFont, nullptr);
    QFont font = *Backend().Gdi().FontOf(hFont);
    QFontInfo info(font);
    EXPECT_EQ(info.family(), c.family);
    EXPECT_EQ(info.bold(), c.bBold);
    if (c.nCell) {
      // Whole pixel sizes cannot meet every cell exactly: the largest cell that fits.
      EXPECT_LE(QFontMetrics(font).height(), c.nCell);
      EXPECT_GE(QFontMetrics(font).height(), c.nCell - 1);
    }
    if (c.nPixels) {
      EXPECT_EQ(info.pixelSize(), c.nPixels);
    }
    EXPECT_TRUE(::DeleteObject(hFont));
  }
  EXPECT_EQ(Backend().Gdi().LiveObjects(), 0u);
}

TEST_F(QtFonts, PointSizeFontOfTheFrameworkUsesTheScreensDpi) {
  EXPECT_EQ(::GetDeviceCaps(nullptr, LOGPIXELSY), 96);
  CFont font;
  ASSERT_TRUE(font.CreatePointFont(200, L"宋体"));
  QFontInfo info(*Backend().Gdi().FontOf(font.GetSafeHandle()));
  EXPECT_EQ(info.pixelSize(), 200 * 96 / 720);
  EXPECT_EQ(info.family(), "AR PL UMing CN");
}

}  // namespace
