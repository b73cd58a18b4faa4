#include "platform/winuser.h"
#include "res/resource.h"

namespace {

const CDialogItemTemplate kRecoveryItems[] = {
    {IDC_PROGRESS, L"msctls_progress32", L"", WS_CHILD | WS_VISIBLE, WS_EX_CLIENTEDGE, 98, 49, 142, 14},
    {IDC_YES, L"button", L"YES", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 149, 72, 55, 20},
    {IDC_NO, L"button", L"NO", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 67, 72, 55, 20},
};

const CDialogItemTemplate kMsgBoxItems[] = {
    {IDC_MSG_TEXT, L"static", L"", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 0, 0, 0, 115, 71},
    {IDOK, L"button", L"OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 23, 78, 69, 25},
};

const CDialogTemplate kTemplates[] = {
    {IDD_RECOVERY, WS_POPUP | WS_VISIBLE | WS_SYSMENU | DS_SETFONT | DS_FIXEDSYS,
     WS_EX_CAPTIONOKBTN | WS_EX_APPWINDOW, 0, 0, 362, 153, L"", L"MS Shell Dlg", 8, kRecoveryItems},
    {IDD_MSGBOX, WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_SETFONT | DS_FIXEDSYS, 0, 0, 0,
     116, 110, L"", L"MS Shell Dlg", 8, kMsgBoxItems},
};

static_assert((WS_POPUP | WS_VISIBLE | WS_SYSMENU | DS_SETFONT | DS_FIXEDSYS) == 0x90080048);
static_assert((WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_SETFONT | DS_FIXEDSYS) == 0x90C80048);
static_assert((WS_EX_CAPTIONOKBTN | WS_EX_APPWINDOW) == 0x80040000);
static_assert((WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT) == 0x50020000);
static_assert((WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON) == 0x50010001);

}  // namespace

const CDialogTemplate* FindDialogTemplate(UINT nID) {
  for (const auto& t : kTemplates)
    if (t.nID == nID) return &t;
  return nullptr;
}
