// The program's own message box: a captioned box with one text and an OK button, in a 20-point
// font large enough to read on the device.
#pragma once

#include "platform/afxwin.h"
#include "res/resource.h"

class CMsgBox : public CDialog {
  DECLARE_DYNAMIC(CMsgBox)

 public:
  // A box from template IDD_MSGBOX showing strText under the caption strCaption; note the order.
  CMsgBox(CString strText, CString strCaption, CWnd* pParent = nullptr);
  // Deletes the font, if it was made.
  ~CMsgBox() override;

  // Makes the 20-point "宋体" font and gives it to the text and the OK button; TRUE.
  BOOL OnInitDialog() override;
  // Puts the caption and the text in place at every erase, then erases as usual.
  BOOL OnEraseBkgnd(CDC* pDC);
  // Ends the box with IDOK.
  void OnBnClickedOk();

  CFont m_font;          // font of the text and the button; empty until initialised
  CString m_strCaption;  // becomes the window title
  CString m_strText;     // becomes the text of IDC_MSG_TEXT

 protected:
  DECLARE_MESSAGE_MAP()
};
