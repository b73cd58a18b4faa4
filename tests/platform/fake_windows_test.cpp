// The recording window system keeps the rules that the tests of the screens rely on.
#include "tests/fakes/fake_windows.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/afxwin.h"
#include "platform/runtime.h"
#include "res/resource.h"
#include "tests/fakes/fake_exit.h"

namespace {

using Lines = std::vector<std::string>;

TEST(FakeWindows, DrawingRulesOfTheRealSystemAreChecked) {
  struct Case {
    const char* name;
    std::function<void(HDC hdcRef)> draw;
    Lines violations;
    Lines alive;
  };
  const Case cases[] = {
      {"surface released in order",
       [](HDC hdcRef) {
         HDC hdc = CreateCompatibleDC(hdcRef);
         HBITMAP hBmp = CreateCompatibleBitmap(hdcRef, 10, 10);
         HGDIOBJ hOld = SelectObject(hdc, hBmp);
         SelectObject(hdc, hOld);
         DeleteObject(hBmp);
         DeleteDC(hdc);
       },
       {},
       {}},
      {"font deleted while selected",
       [](HDC hdcRef) {
         LOGFONTW lf{};
         lf.lfHeight = 28;
         HFONT hFont = CreateFontIndirectW(&lf);
         SelectObject(hdcRef, hFont);
         DeleteObject(hFont);
       },
       {"DeleteObject(font2): still selected into dc1"},
       {"font2"}},
      {"bitmap deleted while selected, then its context",
       [](HDC hdcRef) {
         HDC hdc = CreateCompatibleDC(hdcRef);
         HBITMAP hBmp = CreateCompatibleBitmap(hdcRef, 10, 10);
         SelectObject(hdc, hBmp);
         DeleteObject(hBmp);
         DeleteDC(hdc);
       },
       {"DeleteObject(bmp3): still selected into dc2", "DeleteDC(dc2): bitmap bmp3 still selected"},
       {"bmp3"}},
      {"deleted twice, released wrongly, left alive",
       [](HDC hdcRef) {
         HDC hdc = CreateCompatibleDC(hdcRef);
         HBITMAP hBmp = CreateCompatibleBitmap(hdcRef, 10, 10);
         DeleteObject(hBmp);
         DeleteObject(hBmp);
         ReleaseDC(nullptr, hdc);
       },
       {"DeleteObject(bmp3): no such object", "ReleaseDC(null, dc2): not obtained with GetDC"},
       {"dc2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CFakeWindows fake;
    CFakeWindowsScope scope(fake);
    HDC hdcRef = GetDC(nullptr);
    c.draw(hdcRef);
    ReleaseDC(nullptr, hdcRef);
    EXPECT_EQ(fake.Violations(), c.violations);
    EXPECT_EQ(fake.AliveObjects(), c.alive);
  }
}

// A dialog that shows a nested box on timer 7 and ends the program on button NO.
class CTestDlg : public CDialog {
 public:
  CTestDlg() : CDialog(IDD_RECOVERY) {}
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    SetTimer(7, 100, nullptr);
    return TRUE;
  }
  void OnTimer(UINT_PTR) {
    CDialog box(IDD_MSGBOX);
    m_nBox = box.DoModal();
  }
  void OnNo() { ExitProgram(3); }
  INT_PTR m_nBox = 0;
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestDlg, CDialog)
ON_WM_TIMER()
ON_BN_CLICKED(IDC_NO, OnNo)
END_MESSAGE_MAP()

TEST(FakeWindows, ModalLoopsShareOneScriptAndLetTheExitThrough) {
  CFakeWindows fake;
  CFakeWindowsScope scope(fake);
  CFakeExitScope exitScope;
  CTestDlg dlg;
  fake.Script({CFakeAction::Timer(7), CFakeAction::Tap(IDOK), CFakeAction::Tap(IDC_PROGRESS + 99),
               CFakeAction::Timer(8), CFakeAction::Tap(IDC_NO)});
  int nExit = -1;
  try {
    dlg.DoModal();
  } catch (const CFakeExit& e) {
    nExit = e.nCode;
  }
  EXPECT_EQ(nExit, 3);
  EXPECT_EQ(dlg.m_nBox, IDOK);
  EXPECT_EQ(fake.Calls({">", "RunModalDialog", "EndDialog", "DestroyWindow", "SetTimer"}),
            (Lines{"RunModalDialog(102, null) -> dlg102", "> WM_INITDIALOG(dlg102)",
                   "SetTimer(dlg102, 7, 100, null) -> 7", "> WM_TIMER(dlg102, 7)",
                   "RunModalDialog(130, null) -> dlg130", "> WM_INITDIALOG(dlg130)",
                   "> WM_COMMAND(dlg130, 1, BN_CLICKED)", "EndDialog(dlg130, 1)",
                   "DestroyWindow(dlg130)", "> WM_COMMAND(dlg102, 1018, BN_CLICKED)"}));
  EXPECT_EQ(fake.Violations(),
            (Lines{"Tap(1109): no such button in dlg102", "timer 8 is not set"}));
  // The loop that the exit left is gone: a later action finds no modal loop to end.
  EXPECT_FALSE(fake.Act(CFakeAction::End()));
}

}  // namespace
