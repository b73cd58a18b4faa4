// The recording window system: windows, messages and timers.
#include <algorithm>

#include "platform/afxwin.h"
#include "res/resource.h"
#include "tests/fakes/fake_windows_state.h"

namespace {

RECT DialogUnitsToPixels(short x, short y, short cx, short cy) {
  int l = DialogUnitsToPixelsX(x), t = DialogUnitsToPixelsY(y);
  return {l, t, l + DialogUnitsToPixelsX(cx), t + DialogUnitsToPixelsY(cy)};
}

bool IsDeliveredMessage(UINT nMsg) {
  return nMsg == WM_INITDIALOG || nMsg == WM_PAINT || nMsg == WM_ERASEBKGND || nMsg == WM_TIMER ||
         nMsg == WM_LBUTTONDOWN || nMsg == WM_COMMAND;
}

std::string BoolTail(BOOL b) { return b ? "" : " -> 0"; }

}  // namespace

HWND CFakeWindows::CImpl::CreateWindowFromTemplate(UINT nTemplate, HWND hParent) {
  const CDialogTemplate* t = FindDialogTemplate(nTemplate);
  if (!t) return nullptr;
  int nSame = 1;
  for (HWND h : windowOrder)
    if (windows[h].nTemplate == nTemplate && !windows[h].hParent) ++nSame;
  HWND hDlg = static_cast<HWND>(NewHandle());
  CWindow dlg;
  dlg.strName = "dlg" + std::to_string(nTemplate) + (nSame > 1 ? "#" + std::to_string(nSame) : "");
  dlg.hParent = nullptr;  // owned by hParent, but a top-level window
  (void)hParent;
  dlg.strClass = L"Dialog";
  dlg.nTemplate = nTemplate;
  dlg.dwStyle = t->dwStyle;
  dlg.rc = DialogUnitsToPixels(t->x, t->y, t->cx, t->cy);
  dlg.strText = t->pszTitle ? t->pszTitle : L"";
  windows[hDlg] = dlg;
  windowOrder.push_back(hDlg);
  hLastDialog = hDlg;
  for (const CDialogItemTemplate& item : t->items) {
    HWND h = static_cast<HWND>(NewHandle());
    CWindow c;
    c.strName = dlg.strName + "/" + std::to_string(item.nID);
    c.hParent = hDlg;
    c.nId = item.nID;
    c.strClass = item.pszClass ? item.pszClass : L"";
    c.nTemplate = nTemplate;
    c.dwStyle = item.dwStyle;
    c.rc = DialogUnitsToPixels(item.x, item.y, item.cx, item.cy);
    c.bVisible = (item.dwStyle & WS_VISIBLE) != 0;
    c.strText = item.pszText ? item.pszText : L"";
    windows[h] = c;
    windowOrder.push_back(h);
  }
  return hDlg;
}

HWND CFakeWindows::CImpl::ActiveDialog() const {
  return modal.empty() ? hLastDialog : modal.back().hDlg;
}

HWND CFakeWindows::CImpl::ChildById(HWND hDlg, int nId) const {
  if (!hDlg) return nullptr;
  for (HWND h : windowOrder) {
    const CWindow& w = windows.at(h);
    if (w.hParent == hDlg && w.nId == nId && !w.bDestroyed) return h;
  }
  return nullptr;
}

BOOL CFakeWindows::EndDialog(HWND hDlg, INT_PTR nResult) {
  BOOL bOk = FALSE;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& f : m_pImpl->modal)
      if (f.hDlg == hDlg && !f.bEnded) {
        f.bEnded = true;
        f.nResult = nResult;
        bOk = TRUE;
      }
  }
  Record("EndDialog(" + Name(hDlg) + ", " + std::to_string(nResult) + ")" + BoolTail(bOk));
  return bOk;
}

BOOL CFakeWindows::DestroyWindow(HWND hWnd) {
  BOOL bOk = FALSE;
  std::string line;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    CImpl& s = *m_pImpl;
    line = "DestroyWindow(" + s.WindowName(hWnd) + ")";
    CImpl::CWindow* w = s.Find(hWnd);
    if (w && !w->bDestroyed) {
      bOk = TRUE;
      for (auto& [h, c] : s.windows)
        if (h == hWnd || c.hParent == hWnd) {
          c.bDestroyed = true;
          c.bVisible = false;
          std::erase_if(s.timers, [h = h](const CImpl::CTimer& t) { return t.hWnd == h; });
        }
      for (auto& f : s.modal)
        if (f.hDlg == hWnd) f.bEnded = true;
    }
  }
  Record(line + BoolTail(bOk));
  return bOk;
}

HWND CFakeWindows::GetDlgItem(HWND hDlg, int nID) {
  HWND h;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    h = m_pImpl->ChildById(hDlg, nID);
  }
  Record("GetDlgItem(" + Name(hDlg) + ", " + std::to_string(nID) + ") -> " + Name(h));
  return h;
}

int CFakeWindows::GetDlgCtrlID(HWND hWnd) {
  int n = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (const CImpl::CWindow* w = m_pImpl->Find(hWnd)) n = w->nId;
  }
  Record("GetDlgCtrlID(" + Name(hWnd) + ") -> " + std::to_string(n));
  return n;
}

BOOL CFakeWindows::MoveWindow(HWND hWnd, int x, int y, int nWidth, int nHeight, BOOL bRepaint) {
  BOOL bOk = FALSE;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    CImpl::CWindow* w = m_pImpl->Find(hWnd);
    if (w && !w->bDestroyed) {
      w->rc = {x, y, x + nWidth, y + nHeight};
      if (bRepaint) w->bInvalid = w->bErasePending = true;
      bOk = TRUE;
    }
  }
  Record("MoveWindow(" + Name(hWnd) + ", " + std::to_string(x) + ", " + std::to_string(y) + ", " +
         std::to_string(nWidth) + ", " + std::to_string(nHeight) + ", " + std::to_string(bRepaint) +
         ")" + BoolTail(bOk));
  return bOk;
}

BOOL CFakeWindows::ShowWindow(HWND hWnd, int nCmdShow) {
  BOOL bWasVisible = FALSE;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    CImpl::CWindow* w = m_pImpl->Find(hWnd);
    if (w && !w->bDestroyed) {
      bWasVisible = w->bVisible;
      w->bVisible = nCmdShow != SW_HIDE;
    }
  }
  Record("ShowWindow(" + Name(hWnd) + ", " + FakeShowName(nCmdShow) + ")");
  return bWasVisible;
}

BOOL CFakeWindows::IsWindowVisible(HWND hWnd) {
  BOOL b = FALSE;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    const CImpl::CWindow* w = m_pImpl->Find(hWnd);
    b = w && !w->bDestroyed && w->bVisible;
  }
  Record("IsWindowVisible(" + Name(hWnd) + ") -> " + std::to_string(b));
  return b;
}

BOOL CFakeWindows::InvalidateRect(HWND hWnd, const RECT* pRect, BOOL bErase) {
  BOOL bOk = FALSE;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    CImpl::CWindow* w = m_pImpl->Find(hWnd);
    if (w && !w->bDestroyed) {
      w->bInvalid = true;
      if (bErase) w->bErasePending = true;
      bOk = TRUE;
    }
  }
  Record("InvalidateRect(" + Name(hWnd) + ", " + FakeRect(pRect) + ", " + std::to_string(bErase) +
         ")" + BoolTail(bOk));
  return bOk;
}

BOOL CFakeWindows::UpdateWindow(HWND hWnd) {
  bool bPaint = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    const CImpl::CWindow* w = m_pImpl->Find(hWnd);
    bPaint = w && !w->bDestroyed && w->bInvalid;
  }
  Record("UpdateWindow(" + Name(hWnd) + ")");
  if (bPaint) PaintWindow(hWnd, false);
  return TRUE;
}

BOOL CFakeWindows::GetClientRect(HWND hWnd, RECT* pRect) {
  BOOL bOk = FALSE;
  RECT rc{};
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (const CImpl::CWindow* w = m_pImpl->Find(hWnd); w && !w->bDestroyed) {
      rc = {0, 0, w->rc.right - w->rc.left, w->rc.bottom - w->rc.top};
      bOk = TRUE;
    }
  }
  if (bOk && pRect) *pRect = rc;
  Record("GetClientRect(" + Name(hWnd) + ") -> " + (bOk ? FakeRect(rc) : "0"));
  return bOk;
}

BOOL CFakeWindows::GetWindowRect(HWND hWnd, RECT* pRect) {
  BOOL bOk = FALSE;
  RECT rc{};
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (const CImpl::CWindow* w = m_pImpl->Find(hWnd); w && !w->bDestroyed) {
      rc = w->rc;
      for (HWND p = w->hParent; const CImpl::CWindow* pw = m_pImpl->Find(p); p = pw->hParent) {
        rc.left += pw->rc.left;
        rc.right += pw->rc.left;
        rc.top += pw->rc.top;
        rc.bottom += pw->rc.top;
      }
      bOk = TRUE;
    }
  }
  if (bOk && pRect) *pRect = rc;
  Record("GetWindowRect(" + Name(hWnd) + ") -> " + (bOk ? FakeRect(rc) : "0"));
  return bOk;
}

BOOL CFakeWindows::SetWindowTextW(HWND hWnd, LPCWSTR pszText) {
  BOOL bOk = FALSE;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (CImpl::CWindow* w = m_pImpl->Find(hWnd); w && !w->bDestroyed) {
      w->strText = pszText ? pszText : L"";
      bOk = TRUE;
    }
  }
  Record("SetWindowTextW(" + Name(hWnd) + ", " + FakeQuote(pszText) + ")" + BoolTail(bOk));
  return bOk;
}

int CFakeWindows::GetWindowTextW(HWND hWnd, LPWSTR pszBuffer, int nMaxCount) {
  std::wstring text;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (const CImpl::CWindow* w = m_pImpl->Find(hWnd); w && !w->bDestroyed) text = w->strText;
  }
  int n = 0;
  if (pszBuffer && nMaxCount > 0) {
    n = std::min(static_cast<int>(text.size()), nMaxCount - 1);
    std::copy_n(text.begin(), n, pszBuffer);
    pszBuffer[n] = 0;
  }
  Record("GetWindowTextW(" + Name(hWnd) + ", " + std::to_string(nMaxCount) + ") -> " +
         FakeQuote(text.substr(0, static_cast<size_t>(n))));
  return n;
}

HWND CFakeWindows::FindWindowW(LPCWSTR pszClassName, LPCWSTR pszWindowName) {
  HWND hFound = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (HWND h : m_pImpl->windowOrder) {
      const CImpl::CWindow& w = m_pImpl->windows[h];
      if (w.hParent || w.bDestroyed) continue;
      if (pszClassName && w.strClass != pszClassName) continue;
      if (pszWindowName && w.strText != pszWindowName) continue;
      hFound = h;
      break;
    }
  }
  Record("FindWindowW(" + FakeQuote(pszClassName) + ", " + FakeQuote(pszWindowName) + ") -> " +
         Name(hFound));
  return hFound;
}

LRESULT CFakeWindows::SendMessageW(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
  std::string strW = std::to_string(wParam), strL = std::to_string(lParam);
  if (nMsg == WM_SETICON) {
    strW = wParam == ICON_BIG ? "ICON_BIG" : wParam == ICON_SMALL ? "ICON_SMALL" : strW;
    strL = Name(reinterpret_cast<void*>(lParam));
  } else if (nMsg == WM_SETFONT) {
    strW = Name(reinterpret_cast<void*>(wParam));
  } else if (nMsg == PBM_SETRANGE) {
    strL = std::to_string(LOWORD(static_cast<UINT_PTR>(lParam))) + ".." +
           std::to_string(HIWORD(static_cast<UINT_PTR>(lParam)));
  } else if (nMsg == WM_ERASEBKGND) {
    strW = Name(reinterpret_cast<void*>(wParam));
  }
  Record("SendMessageW(" + Name(hWnd) + ", " + FakeMessageName(nMsg) + ", " + strW + ", " + strL +
         ")");
  if (IsDeliveredMessage(nMsg)) return AfxCallWndProc(hWnd, nMsg, wParam, lParam);

  std::lock_guard<std::mutex> lock(m_mutex);
  CImpl::CWindow* w = m_pImpl->Find(hWnd);
  if (!w || w->bDestroyed) return 0;
  CFakeProgress& p = w->progress;
  switch (nMsg) {
    case WM_SETICON: {
      HICON& slot = wParam == ICON_BIG ? w->hIconBig : w->hIconSmall;
      HICON hOld = slot;
      slot = reinterpret_cast<HICON>(lParam);
      return reinterpret_cast<LRESULT>(hOld);
    }
    case WM_SETFONT:
      w->hFont = reinterpret_cast<HFONT>(wParam);
      return 0;
    case PBM_SETRANGE: {
      LRESULT old = MAKELPARAM(static_cast<WORD>(p.nLower), static_cast<WORD>(p.nUpper));
      p.nLower = LOWORD(static_cast<UINT_PTR>(lParam));
      p.nUpper = HIWORD(static_cast<UINT_PTR>(lParam));
      p.nPos = std::clamp(p.nPos, p.nLower, std::max(p.nLower, p.nUpper));
      return old;
    }
    case PBM_SETSTEP: {
      int old = p.nStep;
      p.nStep = static_cast<int>(wParam);
      return old;
    }
    case PBM_SETPOS: {
      int old = p.nPos;
      p.nPos = std::clamp(static_cast<int>(wParam), p.nLower, std::max(p.nLower, p.nUpper));
      return old;
    }
    case PBM_GETPOS:
      return p.nPos;
    default:
      return 0;
  }
}

LRESULT CFakeWindows::DefWindowProcW(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
  std::string strW =
      nMsg == WM_ERASEBKGND ? Name(reinterpret_cast<void*>(wParam)) : std::to_string(wParam);
  Record("DefWindowProcW(" + Name(hWnd) + ", " + FakeMessageName(nMsg) + ", " + strW + ", " +
         std::to_string(lParam) + ")");
  if (nMsg == WM_PAINT) {
    HDC hdc = nullptr;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      CImpl::CWindow* w = m_pImpl->Find(hWnd);
      if (!w || w->bDestroyed || !w->bErasePending) return 0;
      w->bErasePending = false;
      hdc = m_pImpl->NewDc(CImpl::DcKind::kPaint, hWnd);
    }
    // The paint's own erase, as BeginPaint sends it; the context ends with the paint.
    Deliver(hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (CImpl::CDc* dc = m_pImpl->FindDc(hdc)) dc->bAlive = false;
    return 0;
  }
  if (nMsg == WM_ERASEBKGND) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (CImpl::CWindow* w = m_pImpl->Find(hWnd)) w->shown.clear();
    return 1;
  }
  return 0;
}

UINT_PTR CFakeWindows::SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC pfnTimer) {
  UINT_PTR nResult = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    CImpl& s = *m_pImpl;
    const CImpl::CWindow* w = s.Find(hWnd);
    if (w && !w->bDestroyed && !s.ShouldFail("SetTimer")) {
      std::erase_if(s.timers,
                    [&](const CImpl::CTimer& t) { return t.hWnd == hWnd && t.nId == nIDEvent; });
      s.timers.push_back({hWnd, nIDEvent, uElapse});
      nResult = nIDEvent;
    }
  }
  Record("SetTimer(" + Name(hWnd) + ", " + std::to_string(nIDEvent) + ", " +
         std::to_string(uElapse) + ", " + (pfnTimer ? "fn" : "null") + ") -> " +
         std::to_string(nResult));
  return nResult;
}

BOOL CFakeWindows::KillTimer(HWND hWnd, UINT_PTR nIDEvent) {
  BOOL bOk = FALSE;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    bOk = std::erase_if(m_pImpl->timers, [&](const CImpl::CTimer& t) {
            return t.hWnd == hWnd && t.nId == nIDEvent;
          }) > 0;
  }
  Record("KillTimer(" + Name(hWnd) + ", " + std::to_string(nIDEvent) + ")" + BoolTail(bOk));
  return bOk;
}

int CFakeWindows::MessageBoxW(HWND hWnd, LPCWSTR pszText, LPCWSTR pszCaption, UINT uType) {
  int nAnswer;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    nAnswer = m_pImpl->nMessageBoxAnswer;
    m_pImpl->boxes.push_back({m_pImpl->WindowName(hWnd), pszText ? pszText : L"(null)",
                              pszCaption ? pszCaption : L"(null)", uType});
  }
  Record("MessageBoxW(" + Name(hWnd) + ", " + FakeQuote(pszText) + ", " + FakeQuote(pszCaption) +
         ", " + FakeHex(uType) + ") -> " + std::to_string(nAnswer));
  return nAnswer;
}

HICON CFakeWindows::LoadIconW(UINT nIDResource) {
  HICON h = nIDResource == IDR_MAINFRAME
                ? reinterpret_cast<HICON>(static_cast<UINT_PTR>(0x50000 + nIDResource))
                : nullptr;
  Record("LoadIconW(" + std::to_string(nIDResource) + ") -> " + Name(h));
  return h;
}
