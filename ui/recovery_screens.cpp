// The recovery dialog's screens: every redraw composes one whole frame off-screen and puts it on
// the screen in one transfer, so the 200 ms refresh never flickers.
#include "app/recovery_dlg.h"
#include "platform/kernel.h"
#include "ui/auto_font.h"
#include "ui/mem_surface.h"
#include "ui/progress_scale.h"

namespace {

constexpr LPCWSTR kFontFace = L"Arial";
constexpr int kTitleHeight = 26;
constexpr int kQuestionHeight = 18;
constexpr int kProgressHeight = 28;

constexpr LPCWSTR kTitle = L"Orvane Emergency Recovery";
constexpr LPCWSTR kQuestion = L"All user's settings will be lost, continue?";
constexpr LPCWSTR kPreparing = L"Recovering....";
constexpr LPCWSTR kCopying = L"Recovering Orvane...%d%%";
constexpr LPCWSTR kCompleted = L"Recovery completed!";
constexpr LPCWSTR kRestartIn = L"Restart in %d s";

constexpr UINT kTitleFormat = DT_CENTER | DT_WORDBREAK;                  // 0x11
constexpr UINT kQuestionFormat = DT_CENTER | DT_VCENTER | DT_WORDBREAK;  // 0x15
constexpr UINT kPreparingFormat = DT_CENTER | DT_VCENTER;                // 0x05
// The percentage is wider than the turned screen at 28 pixels: it breaks between its words.
constexpr UINT kCopyingFormat = DT_CENTER | DT_VCENTER | DT_WORDBREAK;   // 0x15
constexpr UINT kCompletedFormat = DT_CENTER | DT_BOTTOM | DT_WORDBREAK;  // 0x19

void DrawLine(HDC hdc, LPCWSTR pszText, RECT rc, UINT uFormat) {
  DrawTextW(hdc, pszText, -1, &rc, uFormat);
}

// White over the whole client area; text in black without filled cells.
void PrepareFrame(HDC hdc, const RECT& rcClient) {
  FillRect(hdc, &rcClient, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
}
void PrepareText(HDC hdc) {
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, RGB(0, 0, 0));
}

}  // namespace

BOOL CRecoveryDlg::OnEraseBkgnd(CDC* pDC) {
  CRect rcClient;
  GetClientRect(&rcClient);
  if (m_bAskMode) {
    DrawAskScreen(pDC);
    return TRUE;
  }
  const LONG w = rcClient.Width();
  const LONG h = rcClient.Height();

  CMemSurface surface;
  surface.Create(pDC->GetSafeHdc(), w, h);
  PrepareFrame(surface.m_hDC, rcClient);
  CAutoFont font;
  font.Create(kFontFace, kProgressHeight);
  HGDIOBJ hOldFont = SelectObject(surface.m_hDC, font.GetHandle());
  PrepareText(surface.m_hDC);

  if (WaitForSingleObject(m_hMutex, INFINITE) == WAIT_OBJECT_0) {
    DWORD dwPos = ProgressBarPos(m_nFilesCopied.load(), m_nFilesTotal.load());
    m_progress.SendMessage(PBM_SETPOS, dwPos, 0);
    ReleaseMutex(m_hMutex);
  }

  const DWORD dwTotal = m_nFilesTotal.load();
  CString strText;
  if (m_bSuccess.load()) {
    DrawLine(surface.m_hDC, kCompleted, {0, 80, w, h / 2}, kCompletedFormat);
    strText.Format(kRestartIn, static_cast<int>(m_nCountdown.load()));
    DrawLine(surface.m_hDC, strText, {0, 20, w, h / 2 + 30}, kCompletedFormat);
  } else if (dwTotal != 0) {
    strText.Format(kCopying, ProgressPercent(m_nFilesCopied.load(), dwTotal));
    DrawLine(surface.m_hDC, strText, {0, 80, w, h / 2}, kCopyingFormat);
  } else {
    DrawLine(surface.m_hDC, kPreparing, {0, 80, w, h / 2}, kPreparingFormat);
  }

  surface.BlitTo(pDC->GetSafeHdc(), 0, 0, 0, 0, 0, 0);
  // Deselected before the font's owner deletes it; the surface goes last, as it was made first.
  SelectObject(surface.m_hDC, hOldFont);
  return TRUE;
}

void CRecoveryDlg::DrawAskScreen(CDC* pDC) {
  CRect rcClient;
  GetClientRect(&rcClient);
  const LONG w = rcClient.Width();
  const LONG h = rcClient.Height();

  CMemSurface surface;
  surface.Create(pDC->GetSafeHdc(), w, h);
  PrepareFrame(surface.m_hDC, rcClient);
  CAutoFont titleFont;
  titleFont.Create(kFontFace, kTitleHeight);
  HGDIOBJ hOldFont = SelectObject(surface.m_hDC, titleFont.GetHandle());
  PrepareText(surface.m_hDC);
  DrawLine(surface.m_hDC, kTitle, {0, 40, w, h / 2}, kTitleFormat);

  CAutoFont questionFont;
  questionFont.Create(kFontFace, kQuestionHeight);
  // The title font it replaces needs no keeping: the font kept above is what goes back.
  SelectObject(surface.m_hDC, questionFont.GetHandle());
  DrawLine(surface.m_hDC, kQuestion, {0, 80, w, h / 2}, kQuestionFormat);

  surface.BlitTo(pDC->GetSafeHdc(), 0, 0, 0, 0, 0, 0);
  // Then the question font, the title font and the surface go, in reverse order of making.
  SelectObject(surface.m_hDC, hOldFont);
}
