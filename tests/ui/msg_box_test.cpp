// The message box against the recording fake: template, font, caption and text at every erase,
// both ways of closing it.
#include "ui/msg_box.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_windows.h"
#include "tests/ui/screen_fixture.h"

namespace {

using Lines = std::vector<std::string>;

class MsgBoxTest : public ::testing::Test {
 protected:
  MsgBoxTest() : m_scope(m_fake) {}
  CFakeWindows m_fake;
  CFakeWindowsScope m_scope;
};

}  // namespace

TEST_F(MsgBoxTest, IsADialogOfItsOwnClass) {
  CMsgBox box(L"text", L"caption");
  const CRuntimeClass* pClass = box.GetRuntimeClass();
  EXPECT_STREQ(pClass->m_lpszClassName, "CMsgBox");
  EXPECT_EQ(pClass->m_pBaseClass, RUNTIME_CLASS(CDialog));
  EXPECT_TRUE(pClass->IsDerivedFrom(RUNTIME_CLASS(CWnd)));
  EXPECT_EQ(box.GetTemplateId(), IDD_MSGBOX);
  // The text comes first, the caption second.
  EXPECT_EQ(box.m_strText, CString(L"text"));
  EXPECT_EQ(box.m_strCaption, CString(L"caption"));
  EXPECT_EQ(box.m_font.GetSafeHandle(), nullptr);
}

TEST_F(MsgBoxTest, CaptionAndTextArriveAtEveryEraseUnchanged) {
  const std::wstring strLong(600, L'x');
  struct {
    std::wstring strText, strCaption;
  } cases[] = {
      {L"Recover failed(112)!Press OK to reboot.", L"Recover"},
      {L"", L""},
      {strLong, L"恢复"},
  };
  for (const auto& c : cases) {
    m_fake.ClearCalls();
    CMsgBox box(c.strText.c_str(), c.strCaption.c_str());
    Lines seen;
    auto look = [&] {
      HWND hBox = m_fake.Dialog(IDD_MSGBOX);
      seen.push_back(CString(m_fake.Window(hBox).strText).ToUtf8() + "|" +
                     CString(m_fake.Window(m_fake.Control(hBox, IDC_MSG_TEXT)).strText).ToUtf8());
    };
    // Empty until the first erase; the same after a second one.
    m_fake.Script({CFakeAction::Call(look), CFakeAction::Repaint(), CFakeAction::Call(look),
                   CFakeAction::Repaint(), CFakeAction::Call(look), CFakeAction::Tap(IDOK)});
    EXPECT_EQ(box.DoModal(), IDOK);
    const std::string strBoth =
        CString(c.strCaption.c_str()).ToUtf8() + "|" + CString(c.strText.c_str()).ToUtf8();
    EXPECT_EQ(seen, (Lines{"|", strBoth, strBoth}));
    EXPECT_EQ(m_fake.Calls({"SetWindowTextW"}).size(), 4u);
  }
  EXPECT_EQ(m_fake.Violations(), Lines{});
}

TEST_F(MsgBoxTest, TwentyPointFontOnTextAndButtonBothWaysOut) {
  struct {
    int nDpi;
    bool bFontFails;
    CFakeAction close;
    INT_PTR nResult;
    Lines fontCalls;
  } cases[] = {
      {96,
       false,
       CFakeAction::Tap(IDOK),
       IDOK,
       {"CreateFontIndirectW(\"宋体\" -26 0 charset=1) -> font1",
        "SendMessageW(dlg130/1018, WM_SETFONT, font1, 1)",
        "SendMessageW(dlg130/1, WM_SETFONT, font1, 1)", "DeleteObject(font1)"}},
      {120,
       false,
       CFakeAction::Command(IDCANCEL),
       IDCANCEL,
       {"CreateFontIndirectW(\"宋体\" -33 0 charset=1) -> font1",
        "SendMessageW(dlg130/1018, WM_SETFONT, font1, 1)",
        "SendMessageW(dlg130/1, WM_SETFONT, font1, 1)", "DeleteObject(font1)"}},
      // A font that cannot be made goes out as null: the system font stays.
      {96,
       true,
       CFakeAction::Command(IDOK),
       IDOK,
       {"CreateFontIndirectW(\"宋体\" -26 0 charset=1) -> null",
        "SendMessageW(dlg130/1018, WM_SETFONT, null, 1)",
        "SendMessageW(dlg130/1, WM_SETFONT, null, 1)"}},
  };
  for (const auto& c : cases) {
    CFakeWindows fake;
    CFakeWindowsScope scope(fake);
    fake.SetLogPixelsY(c.nDpi);
    if (c.bFontFails) fake.FailNext("CreateFontIndirectW");
    HFONT hText = nullptr, hOk = nullptr;
    {
      CMsgBox box(L"text", L"Recover");
      fake.Script({CFakeAction::Call([&] {
                     HWND hBox = fake.Dialog(IDD_MSGBOX);
                     hText = fake.Window(fake.Control(hBox, IDC_MSG_TEXT)).hFont;
                     hOk = fake.Window(fake.Control(hBox, IDOK)).hFont;
                     EXPECT_EQ(hText, box.m_font.GetSafeHandle());
                   }),
                   c.close});
      EXPECT_EQ(box.DoModal(), c.nResult);
    }
    EXPECT_EQ(hText, hOk);
    EXPECT_EQ(Canonical(fake.Calls({"CreateFontIndirectW", "SendMessageW", "DeleteObject"})),
              c.fontCalls);
    EXPECT_EQ(fake.Violations(), Lines{});
    EXPECT_EQ(fake.AliveObjects(), Lines{});
  }
}
