// Resource identifiers and the dialog templates of the program, shared by every backend.
#pragma once

#include <span>

#include "platform/wintypes.h"

constexpr UINT IDD_RECOVERY = 102;
constexpr UINT IDD_MSGBOX = 130;
constexpr UINT IDR_MAINFRAME = 128;
constexpr int IDC_PROGRESS = 1010;
constexpr int IDC_YES = 1017;
constexpr int IDC_NO = 1018;
constexpr int IDC_MSG_TEXT = 1018;
// Resource language: Chinese (Simplified).
constexpr WORD RESOURCE_LANGUAGE = 2052;

// One control of a template; the rectangle is in dialog units.
struct CDialogItemTemplate {
  int nID;
  LPCWSTR pszClass;  // L"msctls_progress32", L"button", L"static"
  LPCWSTR pszText;
  DWORD dwStyle;
  DWORD dwExStyle;
  short x, y, cx, cy;
};

struct CDialogTemplate {
  UINT nID;
  DWORD dwStyle;
  DWORD dwExStyle;
  short x, y, cx, cy;  // dialog units
  LPCWSTR pszTitle;
  LPCWSTR pszFontFace;
  WORD wPointSize;
  std::span<const CDialogItemTemplate> items;  // in tab order
};

// The template with the id, or null.
const CDialogTemplate* FindDialogTemplate(UINT nID);

// Dialog units to pixels: x * nBaseX / 4 and y * nBaseY / 8, the base units of the template's
// font ("MS Shell Dlg" 8 points at 96 dpi: 6 by 13 pixels).
constexpr int kDialogBaseUnitX = 6;
constexpr int kDialogBaseUnitY = 13;
constexpr int DialogUnitsToPixelsX(int x) { return x * kDialogBaseUnitX / 4; }
constexpr int DialogUnitsToPixelsY(int y) { return y * kDialogBaseUnitY / 8; }
