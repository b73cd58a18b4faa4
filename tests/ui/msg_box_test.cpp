// The program's own message box on the Qt backend: its caption and text as given (text first),
// the 20-point font on the text and the button, both ways of closing it, nothing left behind.
#include "ui/msg_box.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include "tests/support/qt_fixture.h"

namespace {

using MsgBoxTest = CQtBackendTest;

TEST_F(MsgBoxTest, ShowsCaptionAndTextInItsFontAndEndsBothWays) {
  const std::wstring strLong(600, L'x');
  struct {
    std::wstring strText, strCaption;
    int nKey;  // pressed to close it; 0: a tap on OK
    INT_PTR nResult;
  } cases[] = {
      {L"Recover failed(112)!Press OK to reboot.", L"Recover", 0, IDOK},
      {L"", L"", Qt::Key_Escape, IDCANCEL},
      {strLong, L"\u6062\u590d", Qt::Key_Return, IDOK},
  };
  const size_t nObjects = Backend().Gdi().LiveObjects();
  for (const auto& c : cases) {
    CMsgBox box(c.strText.c_str(), c.strCaption.c_str());
    std::vector<std::wstring> seen;
    QTimer::singleShot(0, [&] {
      for (int nPaint = 0; nPaint < 2; ++nPaint) {  // the same after a second erase
        QCoreApplication::processEvents();          // shown and exposed: a paint really happens
        ::InvalidateRect(box.m_hWnd, nullptr, TRUE);
        ::UpdateWindow(box.m_hWnd);
        HWND hText = ::GetDlgItem(box.m_hWnd, IDC_MSG_TEXT);
        seen.push_back(WindowText(box.m_hWnd) + L"|" + WindowText(hText));
      }
      // Where nothing is drawn the box shows the dialog's own colour.
      const QImage shown = Backend().RenderWindow(box.m_hWnd);
      seen.push_back(shown.pixel(shown.width() - 2, shown.height() - 2) ==
                             Backend().DialogColor().rgb()
                         ? L"dialog colour"
                         : L"another colour");
      for (int nId : {IDC_MSG_TEXT, IDOK}) {
        // 20 points at the screen's 96 dots per inch: 26 pixels, on the text and the button.
        const QFont font = Backend().WidgetOf(::GetDlgItem(box.m_hWnd, nId))->font();
        seen.push_back(std::to_wstring(font.pixelSize()) + L" " + font.family().toStdWString());
      }
      if (c.nKey)
        Backend().OnDialogKey(box.m_hWnd, c.nKey);
      else
        Backend().ClickButton(::GetDlgItem(box.m_hWnd, IDOK));
    });
    EXPECT_EQ(box.DoModal(), c.nResult);
    const std::wstring strBoth = c.strCaption + L"|" + c.strText;
    EXPECT_EQ(seen, (std::vector<std::wstring>{strBoth, strBoth, L"dialog colour",
                                               L"26 \u5b8b\u4f53", L"26 \u5b8b\u4f53"}));
  }
  EXPECT_EQ(Backend().Gdi().LiveObjects(), nObjects);
}

}  // namespace
