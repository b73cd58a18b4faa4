#include "ui/msg_box.h"

#include <utility>

namespace {
constexpr int kFontTenthsOfPoint = 200;
constexpr LPCWSTR kFontFace = L"宋体";
}  // namespace

IMPLEMENT_DYNAMIC(CMsgBox, CDialog)

BEGIN_MESSAGE_MAP(CMsgBox, CDialog)
ON_WM_ERASEBKGND()
ON_BN_CLICKED(IDOK, OnBnClickedOk)
END_MESSAGE_MAP()

CMsgBox::CMsgBox(CString strText, CString strCaption, CWnd* pParent)
    : CDialog(IDD_MSGBOX, pParent),
      m_strCaption(std::move(strCaption)),
      m_strText(std::move(strText)) {}

CMsgBox::~CMsgBox() = default;

BOOL CMsgBox::OnInitDialog() {
  CDialog::OnInitDialog();
  m_font.CreatePointFont(kFontTenthsOfPoint, kFontFace);
  // A font that could not be made goes out as null: the controls keep the system font.
  if (CWnd* pText = GetDlgItem(IDC_MSG_TEXT)) pText->SetFont(&m_font, TRUE);
  if (CWnd* pOk = GetDlgItem(IDOK)) pOk->SetFont(&m_font, TRUE);
  return TRUE;
}

BOOL CMsgBox::OnEraseBkgnd(CDC*) {
  // The template's title and text start empty; they are filled in here, at the first erase.
  SetWindowText(m_strCaption);
  if (CWnd* pText = GetDlgItem(IDC_MSG_TEXT)) pText->SetWindowText(m_strText);
  return static_cast<BOOL>(Default());
}

void CMsgBox::OnBnClickedOk() { OnOK(); }
