// Names and text forms of the recording window system's record.
#include <cstdio>

#include "platform/cstring.h"
#include "tests/fakes/fake_windows_state.h"

std::string FakeQuote(LPCWSTR psz) {
  if (!psz) return "null";
  return FakeQuote(std::wstring(psz));
}

std::string FakeQuote(const std::wstring& s) { return "\"" + WideToUtf8(s) + "\""; }

std::string FakeRect(const RECT& rc) {
  return "(" + std::to_string(rc.left) + "," + std::to_string(rc.top) + "," +
         std::to_string(rc.right) + "," + std::to_string(rc.bottom) + ")";
}

std::string FakeRectText(const RECT& rc) { return FakeRect(rc); }

std::string FakeRect(const RECT* pRc) { return pRc ? FakeRect(*pRc) : "null"; }

std::string FakeHex(unsigned long long v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llx", v);
  return buf;
}

std::string FakeMessageName(UINT nMsg) {
  switch (nMsg) {
    case WM_DESTROY:
      return "WM_DESTROY";
    case WM_PAINT:
      return "WM_PAINT";
    case WM_CLOSE:
      return "WM_CLOSE";
    case WM_ERASEBKGND:
      return "WM_ERASEBKGND";
    case WM_SETFONT:
      return "WM_SETFONT";
    case WM_SETICON:
      return "WM_SETICON";
    case WM_INITDIALOG:
      return "WM_INITDIALOG";
    case WM_COMMAND:
      return "WM_COMMAND";
    case WM_TIMER:
      return "WM_TIMER";
    case WM_LBUTTONDOWN:
      return "WM_LBUTTONDOWN";
    case PBM_SETRANGE:
      return "PBM_SETRANGE";
    case PBM_SETPOS:
      return "PBM_SETPOS";
    case PBM_SETSTEP:
      return "PBM_SETSTEP";
    case PBM_GETPOS:
      return "PBM_GETPOS";
    default:
      return FakeHex(nMsg);
  }
}

std::string FakeShowName(int nCmdShow) {
  switch (nCmdShow) {
    case SW_HIDE:
      return "SW_HIDE";
    case SW_SHOWNORMAL:
      return "SW_SHOWNORMAL";
    case SW_SHOW:
      return "SW_SHOW";
    default:
      return std::to_string(nCmdShow);
  }
}

std::string FakeStockName(int nObject) {
  switch (nObject) {
    case WHITE_BRUSH:
      return "WHITE_BRUSH";
    case BLACK_BRUSH:
      return "BLACK_BRUSH";
    case 13:
      return "SYSTEM_FONT";
    default:
      return "STOCK_" + std::to_string(nObject);
  }
}

std::string FakeRgb(COLORREF c) {
  return "RGB(" + std::to_string(GetRValue(c)) + "," + std::to_string(GetGValue(c)) + "," +
         std::to_string(GetBValue(c)) + ")";
}

std::string FakeFontText(const LOGFONTW& lf) {
  std::wstring face;
  for (int i = 0; i < LF_FACESIZE && lf.lfFaceName[i]; ++i) face += lf.lfFaceName[i];
  std::string s =
      FakeQuote(face) + " " + std::to_string(lf.lfHeight) + " " + std::to_string(lf.lfWeight);
  auto field = [&s](const char* pszName, long v) {
    if (v) s += std::string(" ") + pszName + "=" + std::to_string(v);
  };
  field("width", lf.lfWidth);
  field("escapement", lf.lfEscapement);
  field("orientation", lf.lfOrientation);
  field("italic", lf.lfItalic);
  field("underline", lf.lfUnderline);
  field("strikeout", lf.lfStrikeOut);
  field("charset", lf.lfCharSet);
  field("outprecision", lf.lfOutPrecision);
  field("clipprecision", lf.lfClipPrecision);
  field("quality", lf.lfQuality);
  field("pitchandfamily", lf.lfPitchAndFamily);
  return s;
}

CFakeWindows::CImpl::CWindow* CFakeWindows::CImpl::Find(HWND h) {
  auto it = windows.find(h);
  return it == windows.end() ? nullptr : &it->second;
}

CFakeWindows::CImpl::CDc* CFakeWindows::CImpl::FindDc(HDC h) {
  auto it = dcs.find(h);
  return it == dcs.end() ? nullptr : &it->second;
}

CFakeWindows::CImpl::CObject* CFakeWindows::CImpl::FindObj(HGDIOBJ h) {
  auto it = objects.find(h);
  return it == objects.end() ? nullptr : &it->second;
}

std::string CFakeWindows::CImpl::WindowName(HWND h) const {
  if (!h) return "null";
  auto it = windows.find(h);
  return it == windows.end() ? "hwnd?" + FakeHex(reinterpret_cast<UINT_PTR>(h))
                             : it->second.strName;
}

std::string CFakeWindows::CImpl::DcName(HDC h) const {
  if (!h) return "null";
  auto it = dcs.find(h);
  return it == dcs.end() ? "hdc?" + FakeHex(reinterpret_cast<UINT_PTR>(h)) : it->second.strName;
}

std::string CFakeWindows::CImpl::ObjName(HGDIOBJ h) const {
  if (!h) return "null";
  auto it = objects.find(h);
  return it == objects.end() ? "obj?" + FakeHex(reinterpret_cast<UINT_PTR>(h)) : it->second.strName;
}

std::string CFakeWindows::CImpl::AnyName(const void* p) const {
  if (!p) return "null";
  auto key = const_cast<void*>(p);
  if (windows.count(static_cast<HWND>(key))) return WindowName(static_cast<HWND>(key));
  if (dcs.count(static_cast<HDC>(key))) return DcName(static_cast<HDC>(key));
  if (objects.count(static_cast<HGDIOBJ>(key))) return ObjName(static_cast<HGDIOBJ>(key));
  if (openDrivers.count(key)) return "PWR1:";
  UINT_PTR v = reinterpret_cast<UINT_PTR>(p);
  if (v >= 0x50000 && v < 0x60000) return "icon" + std::to_string(v - 0x50000);
  return "handle?" + FakeHex(v);
}

bool CFakeWindows::CImpl::ShouldFail(const std::string& strCall) {
  auto it = failNext.find(strCall);
  if (it == failNext.end() || it->second <= 0) return false;
  --it->second;
  return true;
}
