// The recording window system: device contexts, drawing objects and drawing calls, with the
// rules of the real system checked.
#include <algorithm>

#include "tests/fakes/fake_windows_state.h"

namespace {

std::string BoolTail(BOOL b) { return b ? "" : " -> 0"; }

}  // namespace

HDC CFakeWindows::CImpl::NewDc(DcKind kind, HWND hWnd) {
  HDC h = static_cast<HDC>(NewHandle());
  CDc dc;
  dc.strName = "dc" + std::to_string(nNextGdi++);
  dc.kind = kind;
  dc.hWnd = hWnd;
  dc.hFont = hSystemFont;
  dc.hBitmap = hDefaultBitmap;
  dc.hBrush = stock[WHITE_BRUSH];
  dcs[h] = dc;
  return h;
}

HGDIOBJ CFakeWindows::CImpl::NewObject(ObjKind kind, const std::string& strPrefix) {
  HGDIOBJ h = static_cast<HGDIOBJ>(NewHandle());
  CObject o;
  o.kind = kind;
  o.strName = strPrefix + std::to_string(nNextGdi++);
  objects[h] = o;
  return h;
}

HDC CFakeWindows::GetDC(HWND hWnd) {
  HDC h = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_pImpl->ShouldFail("GetDC")) h = m_pImpl->NewDc(CImpl::DcKind::kScreen, hWnd);
  }
  Record("GetDC(" + Name(hWnd) + ") -> " + Name(h));
  return h;
}

int CFakeWindows::ReleaseDC(HWND hWnd, HDC hdc) {
  int nOk = 0;
  std::string line;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    CImpl& s = *m_pImpl;
    line = "ReleaseDC(" + s.WindowName(hWnd) + ", " + s.DcName(hdc) + ")";
    CImpl::CDc* dc = s.FindDc(hdc);
    if (!dc || !dc->bAlive) {
      s.Violation(line + ": no such context");
    } else if (dc->kind != CImpl::DcKind::kScreen) {
      s.Violation(line + ": not obtained with GetDC");
    } else {
      dc->bAlive = false;
      nOk = 1;
    }
  }
  Record(line + BoolTail(nOk));
  return nOk;
}

HDC CFakeWindows::CreateCompatibleDC(HDC hdc) {
  HDC h = nullptr;
  std::string strRef;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    CImpl& s = *m_pImpl;
    strRef = s.DcName(hdc);
    const CImpl::CDc* ref = s.FindDc(hdc);
    if (hdc && (!ref || !ref->bAlive))
      s.Violation("CreateCompatibleDC(" + strRef + "): no such context");
    if (!s.ShouldFail("CreateCompatibleDC")) h = s.NewDc(CImpl::DcKind::kMemory, nullptr);
  }
  Record("CreateCompatibleDC(" + strRef + ") -> " + Name(h));
  return h;
}

HBITMAP CFakeWindows::CreateCompatibleBitmap(HDC hdc, int nWidth, int nHeight) {
  HGDIOBJ h = nullptr;
  std::string strRef;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    CImpl& s = *m_pImpl;
    strRef = s.DcName(hdc);
    const CImpl::CDc* ref = s.FindDc(hdc);
    if (!ref || !ref->bAlive) {
      s.Violation("CreateCompatibleBitmap(" + strRef + "): no such context");
    } else if (!s.ShouldFail("CreateCompatibleBitmap")) {
      h = s.NewObject(CImpl::ObjKind::kBitmap, "bmp");
      s.objects[h].cx = nWidth;
      s.objects[h].cy = nHeight;
    }
  }
  Record("CreateCompatibleBitmap(" + strRef + ", " + std::to_string(nWidth) + ", " +
         std::to_string(nHeight) + ") -> " + Name(h));
  return h;
}

BOOL CFakeWindows::DeleteDC(HDC hdc) {
  BOOL bOk = FALSE;
  std::string line;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    CImpl& s = *m_pImpl;
    line = "DeleteDC(" + s.DcName(hdc) + ")";
    CImpl::CDc* dc = s.FindDc(hdc);
    if (!dc || !dc->bAlive) {
      s.Violation(line + ": no such context");
    } else if (dc->kind != CImpl::DcKind::kMemory) {
      s.Violation(line + ": not created with CreateCompatibleDC");
    } else {
      if (dc->hBitmap != s.hDefaultBitmap)
        s.Violation(line + ": bitmap " + s.ObjName(dc->hBitmap) + " still selected");
      dc->bAlive = false;
      bOk = TRUE;
    }
  }
  Record(line + BoolTail(bOk));
  return bOk;
}

HGDIOBJ CFakeWindows::SelectObject(HDC hdc, HGDIOBJ hObject) {
  HGDIOBJ hOld = nullptr;
  std::string line;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    CImpl& s = *m_pImpl;
    line = "SelectObject(" + s.DcName(hdc) + ", " + s.ObjName(hObject) + ")";
    CImpl::CDc* dc = s.FindDc(hdc);
    CImpl::CObject* o = s.FindObj(hObject);
    if (!dc || !dc->bAlive) {
      s.Violation(line + ": no such context");
    } else if (hObject && (!o || !o->bAlive)) {
      s.Violation(line + ": no such object");
    } else if (o) {
      HGDIOBJ* slot = o->kind == CImpl::ObjKind::kFont     ? &dc->hFont
                      : o->kind == CImpl::ObjKind::kBitmap ? &dc->hBitmap
                                                           : &dc->hBrush;
      bool bInUse = false;
      if (o->kind == CImpl::ObjKind::kBitmap && !o->bStock)
        for (const auto& [h, other] : s.dcs)
          if (h != hdc && other.bAlive && other.hBitmap == hObject) bInUse = true;
      if (bInUse) {
        s.Violation(line + ": bitmap already selected into another context");
      } else {
        hOld = *slot;
        *slot = hObject;
      }
    }
  }
  Record(line + " -> " + Name(hOld));
  return hOld;
}

BOOL CFakeWindows::DeleteObject(HGDIOBJ hObject) {
  BOOL bOk = FALSE;
  std::string line;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    CImpl& s = *m_pImpl;
    line = "DeleteObject(" + s.ObjName(hObject) + ")";
    CImpl::CObject* o = s.FindObj(hObject);
    if (!o || !o->bAlive) {
      s.Violation(line + ": no such object");
    } else if (o->bStock) {
      bOk = TRUE;  // the system ignores it
    } else {
      std::string strHolder;
      for (const auto& [h, dc] : s.dcs)
        if (dc.bAlive && (dc.hFont == hObject || dc.hBitmap == hObject || dc.hBrush == hObject))
          strHolder = dc.strName;
      if (!strHolder.empty()) {
        s.Violation(line + ": still selected into " + strHolder);
      } else {
        o->bAlive = false;
        bOk = TRUE;
      }
    }
  }
  Record(line + BoolTail(bOk));
  return bOk;
}

HGDIOBJ CFakeWindows::GetStockObject(int nObject) {
  HGDIOBJ h = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_pImpl->stock.find(nObject);
    if (it != m_pImpl->stock.end()) h = it->second;
  }
  Record("GetStockObject(" + FakeStockName(nObject) + ") -> " + Name(h));
  return h;
}

int CFakeWindows::FillRect(HDC hdc, const RECT* pRect, HBRUSH hBrush) {
  int nOk = 0;
  std::string line;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    CImpl& s = *m_pImpl;
    line = "FillRect(" + s.DcName(hdc) + ", " + FakeRect(pRect) + ", " + s.ObjName(hBrush) + ")";
    CImpl::CDc* dc = s.FindDc(hdc);
    const CImpl::CObject* brush = s.FindObj(hBrush);
    if (!dc || !dc->bAlive) {
      s.Violation(line + ": no such context");
    } else if (!brush || !brush->bAlive || brush->kind != CImpl::ObjKind::kBrush) {
      s.Violation(line + ": no such brush");
    } else if (pRect) {
      nOk = 1;
      if (dc->kind == CImpl::DcKind::kMemory) {
        CImpl::CObject& bmp = s.objects[dc->hBitmap];
        if (pRect->left <= 0 && pRect->top <= 0 && pRect->right >= bmp.cx &&
            pRect->bottom >= bmp.cy)
          bmp.content.clear();
      } else if (CImpl::CWindow* w = s.Find(dc->hWnd)) {
        if (pRect->left <= 0 && pRect->top <= 0 && pRect->right >= w->rc.right - w->rc.left &&
            pRect->bottom >= w->rc.bottom - w->rc.top)
          w->shown.clear();
      }
    }
  }
  Record(line + (nOk ? "" : " -> 0"));
  return nOk;
}

int CFakeWindows::SetBkMode(HDC hdc, int nMode) {
  int nOld = 0;
  std::string line;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    CImpl& s = *m_pImpl;
    line = "SetBkMode(" + s.DcName(hdc) + ", " +
           (nMode == TRANSPARENT ? "TRANSPARENT"
            : nMode == OPAQUE    ? "OPAQUE"
                                 : std::to_string(nMode)) +
           ")";
    CImpl::CDc* dc = s.FindDc(hdc);
    if (!dc || !dc->bAlive) {
      s.Violation(line + ": no such context");
    } else {
      nOld = dc->nBkMode;
      dc->nBkMode = nMode;
    }
  }
  Record(line + " -> " +
         (nOld == TRANSPARENT ? "TRANSPARENT"
          : nOld == OPAQUE    ? "OPAQUE"
                              : std::to_string(nOld)));
  return nOld;
}

COLORREF CFakeWindows::SetTextColor(HDC hdc, COLORREF color) {
  COLORREF old = 0;
  std::string line;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    CImpl& s = *m_pImpl;
    line = "SetTextColor(" + s.DcName(hdc) + ", " + FakeRgb(color) + ")";
    CImpl::CDc* dc = s.FindDc(hdc);
    if (!dc || !dc->bAlive) {
      s.Violation(line + ": no such context");
    } else {
      old = dc->crText;
      dc->crText = color;
    }
  }
  Record(line + " -> " + FakeRgb(old));
  return old;
}

int CFakeWindows::DrawTextW(HDC hdc, LPCWSTR pszText, int nCount, RECT* pRect, UINT uFormat) {
  int nHeight = 0;
  std::string line;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    CImpl& s = *m_pImpl;
    std::wstring text = pszText ? (nCount < 0 ? std::wstring(pszText)
                                              : std::wstring(pszText, static_cast<size_t>(nCount)))
                                : std::wstring();
    line = "DrawTextW(" + s.DcName(hdc) + ", " + FakeQuote(text) + ", " + std::to_string(nCount) +
           ", " + FakeRect(pRect) + ", " + FakeHex(uFormat) + ")";
    CImpl::CDc* dc = s.FindDc(hdc);
    if (!dc || !dc->bAlive) {
      s.Violation(line + ": no such context");
    } else if (pRect) {
      const CImpl::CObject& font = s.objects[dc->hFont];
      std::wstring face;
      if (!font.bStock)
        for (int i = 0; i < LF_FACESIZE && font.lf.lfFaceName[i]; ++i)
          face += font.lf.lfFaceName[i];
      CFakeText t{dc->strName,
                  text,
                  *pRect,
                  uFormat,
                  face,
                  font.bStock ? 0 : font.lf.lfHeight,
                  font.bStock ? 0 : font.lf.lfWeight,
                  dc->crText,
                  dc->nBkMode};
      line += font.bStock ? " font " + font.strName
                          : " font " + FakeQuote(face) + " " + std::to_string(t.nHeight) + " " +
                                std::to_string(t.nWeight);
      s.texts.push_back(t);
      if (dc->kind == CImpl::DcKind::kMemory) {
        if (dc->hBitmap != s.hDefaultBitmap) s.objects[dc->hBitmap].content.push_back(t);
      } else if (CImpl::CWindow* w = s.Find(dc->hWnd)) {
        w->shown.push_back(text);
      }
      nHeight = t.nHeight < 0 ? -t.nHeight : (t.nHeight ? t.nHeight : 16);
    }
  }
  Record(line);
  return nHeight;
}

BOOL CFakeWindows::BitBlt(HDC hdcDest, int xDest, int yDest, int nWidth, int nHeight, HDC hdcSrc,
                          int xSrc, int ySrc, DWORD dwRop) {
  BOOL bOk = FALSE;
  std::string line;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    CImpl& s = *m_pImpl;
    line = "BitBlt(" + s.DcName(hdcDest) + ", " + std::to_string(xDest) + ", " +
           std::to_string(yDest) + ", " + std::to_string(nWidth) + ", " + std::to_string(nHeight) +
           ", " + s.DcName(hdcSrc) + ", " + std::to_string(xSrc) + ", " + std::to_string(ySrc) +
           ", " + (dwRop == SRCCOPY ? std::string("SRCCOPY") : FakeHex(dwRop)) + ")";
    CImpl::CDc* dst = s.FindDc(hdcDest);
    CImpl::CDc* src = s.FindDc(hdcSrc);
    if (!dst || !dst->bAlive || !src || !src->bAlive) {
      s.Violation(line + ": no such context");
    } else {
      bOk = TRUE;
      std::vector<CFakeText> content;
      if (src->kind == CImpl::DcKind::kMemory) content = s.objects[src->hBitmap].content;
      if (dst->kind == CImpl::DcKind::kMemory) {
        if (dst->hBitmap != s.hDefaultBitmap) s.objects[dst->hBitmap].content = content;
      } else if (CImpl::CWindow* w = s.Find(dst->hWnd)) {
        CFakeFrame frame{w->strName, {}};
        for (const auto& t : content) frame.texts.push_back(t.strText);
        w->shown = frame.texts;
        s.frames.push_back(std::move(frame));
      }
    }
  }
  Record(line + BoolTail(bOk));
  return bOk;
}

HFONT CFakeWindows::CreateFontIndirectW(const LOGFONTW* pLogFont) {
  HGDIOBJ h = nullptr;
  std::string strFont = pLogFont ? FakeFontText(*pLogFont) : "null";
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (pLogFont && !m_pImpl->ShouldFail("CreateFontIndirectW")) {
      h = m_pImpl->NewObject(CImpl::ObjKind::kFont, "font");
      m_pImpl->objects[h].lf = *pLogFont;
    }
  }
  Record("CreateFontIndirectW(" + strFont + ") -> " + Name(h));
  return h;
}

int CFakeWindows::GetDeviceCaps(HDC hdc, int nIndex) {
  int n = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (nIndex == LOGPIXELSY) n = m_pImpl->nLogPixelsY;
  }
  Record("GetDeviceCaps(" + Name(hdc) + ", " +
         (nIndex == LOGPIXELSY ? std::string("LOGPIXELSY") : std::to_string(nIndex)) + ") -> " +
         std::to_string(n));
  return n;
}
