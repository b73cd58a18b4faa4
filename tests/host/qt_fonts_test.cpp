// Font requests on the host: faces through fontconfig (the device's own names mapped to installed
// families), a positive height as the largest cell that fits, a negative one as the character
// height, the weight as asked.
#include <QFontInfo>
#include <QFontMetrics>
#include <string>
#include <tuple>

#include "platform/afxwin.h"
#include "platform/host/qt/fonts.h"
#include "tests/support/qt_fixture.h"
#include "ui/auto_font.h"

namespace {

using QtFonts = CQtBackendTest;

TEST_F(QtFonts, FaceCellHeightAndWeightAreMet) {
  // Face, height and weight asked; the family fontconfig gives, the cell (ascent + descent) or em
  // height in pixels, bold.
  const std::tuple<std::wstring, LONG, LONG, QString, int, bool> cases[] = {
      {L"Arial", 28, FW_BOLD, "Liberation Sans", 28, true},
      {L"Arial", 18, FW_BOLD, "Liberation Sans", 18, true},
      {L"Arial", -20, FW_NORMAL, "Liberation Sans", 20, false},
      {L"\u5b8b\u4f53", -26, 0, "AR PL UMing CN", 26, false},
      {L"MS Shell Dlg", -11, FW_NORMAL, "Liberation Sans", 11, false}};
  for (const auto& [strFace, lHeight, lWeight, family, nPixels, bBold] : cases) {
    SCOPED_TRACE(lHeight);
    LOGFONTW lf = MakeLogFont(strFace.c_str(), lHeight, lWeight);
    HFONT hFont = ::CreateFontIndirectW(&lf);
    const QFont font = *Backend().Gdi().FontOf(hFont);
    const QFontInfo info(font);
    // Whole pixel sizes cannot meet every cell exactly: the largest cell that fits.
    const int nGot = lHeight > 0
                         ? QFontMetrics(font).height() + (QFontMetrics(font).height() < nPixels)
                         : info.pixelSize();
    EXPECT_EQ(std::make_tuple(info.family(), nGot, info.bold()),
              std::make_tuple(family, nPixels, bBold));
    EXPECT_TRUE(::DeleteObject(hFont));
  }
  {  // A face of 32 characters is cut to 31 and the terminator by each maker of fonts.
    const std::wstring str32(32, L'F');
    CAutoFont bold;
    bold.Create(str32.c_str(), 20);
    CFont point, made;
    point.CreatePointFont(100, str32.c_str());
    const LOGFONTW lf = MakeLogFont(str32.c_str(), 20, 0);
    made.CreateFontIndirect(&lf);
    for (HFONT hFont : {bold.GetHandle(), point.GetSafeHandle(), made.GetSafeHandle()})
      EXPECT_EQ(Backend().Gdi().FontOf(hFont)->family(), QString(31, 'F'));
  }
  EXPECT_EQ(Backend().Gdi().LiveObjects(), 0u);
}

}  // namespace
