// Modal dialogs on Qt: built from their templates, driven by real clicks and keys, and a modal box
// opened from a timer handler keeps the dialog's timers ticking, as on the device.
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <string>
#include <vector>

#include "platform/afxwin.h"
#include "res/resource.h"
#include "tests/support/qt_fixture.h"
#include "ui/msg_box.h"

namespace {

// A dialog that answers its buttons and keys by ending with a code, recording what it saw.
class CAnswerDialog : public CDialog {
 public:
  explicit CAnswerDialog(UINT nTemplate) : CDialog(nTemplate) {}
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    ++m_nInits;
    m_bVisibleAtInit = ::IsWindowVisible(m_hWnd);
    MoveWindow(0, 0, kShownWidth, kShownHeight);
    if (m_onInit) m_onInit(this);
    return TRUE;
  }
  LRESULT WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) override {
    if (nMsg != WM_PAINT && nMsg != WM_ERASEBKGND && nMsg != WM_TIMER)
      m_seen.push_back({nMsg, wParam});
    return CDialog::WindowProc(nMsg, wParam, lParam);
  }
  void OnYes() { EndDialog(IDC_YES); }
  void OnNo() { EndDialog(IDC_NO); }

  int m_nInits = 0;
  BOOL m_bVisibleAtInit = TRUE;
  std::vector<std::pair<UINT, WPARAM>> m_seen;
  std::function<void(CAnswerDialog*)> m_onInit;
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CAnswerDialog, CDialog)
ON_BN_CLICKED(IDC_YES, OnYes)
ON_BN_CLICKED(IDC_NO, OnNo)
END_MESSAGE_MAP()

using QtDialogs = CQtBackendTest;

TEST_F(QtDialogs, TemplatesBecomeWindowsAtTheirDialogUnitRectangles) {
  // The client area, then each control's rectangle in it.
  const std::pair<UINT, std::vector<std::pair<int, QRect>>> cases[] = {
      {IDD_RECOVERY,
       {{0, QRect(0, 0, 543, 248)},
        {IDC_PROGRESS, QRect(147, 79, 213, 22)},
        {IDC_YES, QRect(223, 117, 82, 32)},
        {IDC_NO, QRect(100, 117, 82, 32)}}},
      {IDD_MSGBOX,
       {{0, QRect(0, 0, 174, 178)},
        {IDC_MSG_TEXT, QRect(0, 0, 172, 115)},
        {IDOK, QRect(34, 126, 103, 40)}}},
  };
  for (const auto& [nTemplate, rects] : cases) {
    HWND hDlg = Backend().CreateDialogFromTemplate(nTemplate, nullptr);
    RECT rc{};
    ::GetClientRect(hDlg, &rc);
    std::vector<std::pair<int, QRect>> got = {{0, QRect(0, 0, rc.right, rc.bottom)}};
    for (size_t i = 1; i < rects.size(); ++i) {
      HWND hCtl = ::GetDlgItem(hDlg, rects[i].first);
      got.push_back({::GetDlgCtrlID(hCtl), hCtl ? Backend().WidgetOf(hCtl)->geometry() : QRect()});
    }
    EXPECT_EQ(got, rects) << nTemplate;
    Backend().DestroyWindow(hDlg);
  }
}

TEST_F(QtDialogs, ModalDialogEndsWithTheCodeItsButtonsAndKeysGive) {
  struct CCase {
    const char* name;
    std::function<void(HWND)> act;  // run once the dialog shows
    INT_PTR nExpected;              // also the command the dialog gets
  };
  // A tap that cannot land ends the dialog with -2, so the test fails instead of hanging.
  auto tap = [this](HWND hDlg, int nID) {
    if (!Backend().ClickButton(::GetDlgItem(hDlg, nID))) ::EndDialog(hDlg, -2);
  };
  auto key = [this](HWND hDlg, int nKey) {
    QKeyEvent press(QEvent::KeyPress, nKey, Qt::NoModifier);
    QApplication::sendEvent(Backend().WidgetOf(hDlg), &press);
  };
  const std::vector<CCase> cases = {
      {"tap NO", [tap](HWND h) { tap(h, IDC_NO); }, IDC_NO},
      {"Escape", [key](HWND h) { key(h, Qt::Key_Escape); }, IDCANCEL},
      {"Enter", [key](HWND h) { key(h, Qt::Key_Return); }, IDOK},
  };
  for (const CCase& c : cases) {
    SCOPED_TRACE(c.name);
    CAnswerDialog dlg(IDD_RECOVERY);
    dlg.m_onInit = [&](CAnswerDialog* p) {
      // An answer that never comes fails the test instead of hanging it.
      QTimer::singleShot(20000, Backend().WidgetOf(p->m_hWnd),
                         [h = p->m_hWnd] { ::EndDialog(h, -2); });
      // Focus away from the buttons, so Enter is the dialog's own.
      QTimer::singleShot(0, [&, h = p->m_hWnd] {
        Backend().WidgetOf(h)->setFocus();
        c.act(h);
      });
    };
    INT_PTR nResult = dlg.DoModal();
    EXPECT_EQ(nResult, c.nExpected);
    EXPECT_EQ(dlg.m_nInits, 1);
    EXPECT_FALSE(dlg.m_bVisibleAtInit);
    EXPECT_EQ(dlg.m_hWnd, nullptr);  // DoModal destroyed it
    // WM_INITDIALOG (with the focus window) first, then the command.
    ASSERT_GE(dlg.m_seen.size(), 2u);
    EXPECT_EQ(
        std::make_tuple(dlg.m_seen[0].first, dlg.m_seen[0].second != 0, dlg.m_seen[1].first,
                        dlg.m_seen[1].second),
        std::make_tuple(WM_INITDIALOG, true, WM_COMMAND, MAKEWPARAM(c.nExpected, BN_CLICKED)));
  }
}

// Opens a modal box from its first tick, and ends once the box is answered.
class CTickingDialog : public CDialog {
 public:
  explicit CTickingDialog(std::function<int()> showBox)
      : CDialog(IDD_RECOVERY), m_showBox(showBox) {}
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    MoveWindow(0, 0, kShownWidth, kShownHeight);
    SetTimer(10, 20, nullptr);
    return TRUE;
  }
  void OnTimer(UINT_PTR) {
    ++m_nTicks;
    if (m_bInBox) ++m_nTicksInBox;
    if (m_nTicks != 1) return;
    m_bInBox = true;
    m_nBoxResult = m_showBox();
    m_bInBox = false;
    EndDialog(IDOK);
  }
  std::function<int()> m_showBox;
  std::atomic<int> m_nTicks{0};
  std::atomic<int> m_nTicksInBox{0};
  bool m_bInBox = false;
  int m_nBoxResult = 0;
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTickingDialog, CDialog)
ON_WM_TIMER()
END_MESSAGE_MAP()

TEST_F(QtDialogs, ModalBoxInsideModalDialogKeepsItsTimersTicking) {
  struct CCase {
    const char* name;
    std::function<int()> showBox;
    std::pair<std::wstring, std::wstring> box;
  };
  const std::vector<CCase> cases = {
      {"MessageBoxW",
       [] {
         return ::MessageBoxW(nullptr, L"Recover failed(112)!", L"Recover", MB_OK | MB_TOPMOST);
       },
       {L"Recover", L"Recover failed(112)!"}},
      {"the program's own box, dialog 130",
       [] { return static_cast<int>(CMsgBox(L"Recover failed(0)!", L"Recover").DoModal()); },
       {L"Recover", L"Recover failed(0)!"}},
  };
  for (const CCase& c : cases) {
    SCOPED_TRACE(c.name);
    CTickingDialog dlg(c.showBox);
    // The box is answered once the dialog behind it has ticked three times.
    CBoxAnswerer user(Backend(), [&] { return dlg.m_nTicksInBox >= 3; });
    INT_PTR nResult = dlg.DoModal();
    EXPECT_EQ(nResult, IDOK);
    EXPECT_EQ(dlg.m_nBoxResult, IDOK);
    EXPECT_GE(dlg.m_nTicksInBox.load(), 3);
    EXPECT_EQ(user.m_boxes, CBoxes{c.box});
  }
}

}  // namespace
