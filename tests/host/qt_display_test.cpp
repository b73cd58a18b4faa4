// The simulated display, task bar and work area of the host.
#include <QImage>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "tests/support/qt_fixture.h"

namespace {

using QtDisplay = CQtBackendTest;

LONG Change(DWORD dwFields, DWORD dwOrientation, DWORD dwFlags, WORD wSize = sizeof(DEVMODEW)) {
  DEVMODEW dm{};
  dm.dmSize = wSize;
  dm.dmFields = dwFields;
  dm.dmDisplayOrientation = dwOrientation;
  return ::ChangeDisplaySettingsEx(nullptr, &dm, nullptr, dwFlags, nullptr);
}

TEST_F(QtDisplay, TurnsByNinetyDegreesAndRefusesOnCommand) {
  // Refusing, fields, orientation, flags, record size; then the answer and the screen's size.
  using CStep = std::tuple<bool, DWORD, DWORD, DWORD, WORD, LONG, int, int>;
  const CStep steps[] = {
      {false, DM_DISPLAYQUERYORIENTATION, 0, CDS_TEST, 192, DISP_CHANGE_SUCCESSFUL, 320, 240},
      {false, DM_DISPLAYORIENTATION, DMDO_90, CDS_TEST, 192, DISP_CHANGE_SUCCESSFUL, 320, 240},
      {false, DM_DISPLAYORIENTATION, DMDO_90, CDS_RESET, 192, DISP_CHANGE_SUCCESSFUL, 240, 320},
      // 180 degrees is not a turn this display takes; nor is a short record.
      {false, DM_DISPLAYORIENTATION, 2, CDS_RESET, 192, DISP_CHANGE_BADMODE, 240, 320},
      {false, DM_DISPLAYORIENTATION, DMDO_0, CDS_RESET, 188, DISP_CHANGE_BADMODE, 240, 320},
      {true, DM_DISPLAYQUERYORIENTATION, 0, CDS_TEST, 192, DISP_CHANGE_FAILED, 240, 320},
      {true, DM_DISPLAYORIENTATION, DMDO_0, CDS_RESET, 192, DISP_CHANGE_FAILED, 240, 320},
      {false, DM_DISPLAYORIENTATION, DMDO_0, CDS_RESET, 192, DISP_CHANGE_SUCCESSFUL, 320, 240}};
  std::vector<CStep> got;
  for (auto [bRefusing, dwFields, dwOrientation, dwFlags, wSize, l, cx, cy] : steps) {
    m_display.SetRefusing(bRefusing);
    l = Change(dwFields, dwOrientation, dwFlags, wSize);
    got.emplace_back(bRefusing, dwFields, dwOrientation, dwFlags, wSize, l,
                     ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
  }
  EXPECT_EQ(got, std::vector<CStep>(std::begin(steps), std::end(steps)));
  EXPECT_EQ(m_display.SettingsCalls(), static_cast<int>(std::size(steps)));
}

TEST_F(QtDisplay, TaskBarWorkAreaAndPictureFollowTheShell) {
  HWND hBar = ::FindWindowW(L"HHTaskBar", nullptr);
  ASSERT_NE(hBar, nullptr);
  EXPECT_EQ(hBar, Backend().TaskBarWindow());
  EXPECT_EQ(::FindWindowW(L"NoSuchClass", nullptr), nullptr);
  RECT rcWork{};
  ASSERT_TRUE(::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0));
  EXPECT_EQ(std::vector<LONG>({rcWork.left, rcWork.top, rcWork.right, rcWork.bottom}),
            std::vector<LONG>({0, 0, 320, 240 - CHostDisplay::kTaskBarHeight}));
  QRgb barPixel = Backend().RenderDisplay().pixel(160, 235);

  Change(DM_DISPLAYORIENTATION, DMDO_90, CDS_RESET);
  EXPECT_TRUE(::ShowWindow(hBar, SW_HIDE));  // it was visible
  RECT rcFull{0, 0, 240, 320};
  EXPECT_TRUE(::SystemParametersInfoW(SPI_SETWORKAREA, 0, &rcFull, SPIF_SENDCHANGE));
  RECT rcEmpty{10, 10, 10, 20};
  EXPECT_FALSE(::SystemParametersInfoW(SPI_SETWORKAREA, 0, &rcEmpty, SPIF_SENDCHANGE));
  QImage turned = Backend().RenderDisplay();
  EXPECT_EQ(turned.size(), QSize(240, 320));
  EXPECT_NE(turned.pixel(120, 315), barPixel);  // no task bar drawn
  EXPECT_FALSE(m_display.TaskBarVisible());
  ASSERT_TRUE(::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0));
  EXPECT_EQ(std::vector<LONG>({rcWork.left, rcWork.top, rcWork.right, rcWork.bottom}),
            std::vector<LONG>({0, 0, 240, 320}));

  EXPECT_FALSE(::ShowWindow(hBar, SW_SHOW));
  EXPECT_TRUE(m_display.TaskBarVisible());
  EXPECT_EQ(Backend().RenderDisplay().pixel(120, 315), barPixel);  // at the new bottom edge
}

}  // namespace
