// The state of the recording window system, shared by its source files. Every member is read
// and written under CFakeWindows::m_mutex.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/fakes/fake_windows.h"

struct CCloseSink;

struct CFakeWindows::CImpl {
  struct CWindow {
    std::string strName;
    HWND hParent = nullptr;
    int nId = 0;
    std::wstring strClass;
    UINT nTemplate = 0;
    DWORD dwStyle = 0;
    RECT rc{};
    bool bVisible = false;
    bool bDestroyed = false;
    bool bInvalid = false;
    bool bErasePending = false;
    std::wstring strText;
    HICON hIconBig = nullptr;
    HICON hIconSmall = nullptr;
    HFONT hFont = nullptr;
    CFakeProgress progress;
    std::vector<std::wstring> shown;
  };

  enum class ObjKind { kFont, kBitmap, kBrush };
  struct CObject {
    ObjKind kind = ObjKind::kBrush;
    std::string strName;
    bool bStock = false;
    bool bAlive = true;
    LOGFONTW lf{};
    int cx = 0, cy = 0;
    std::vector<CFakeText> content;  // bitmaps: texts drawn on it since it was last cleared
  };

  enum class DcKind { kScreen, kPaint, kMemory };
  struct CDc {
    std::string strName;
    DcKind kind = DcKind::kMemory;
    HWND hWnd = nullptr;
    bool bAlive = true;
    HGDIOBJ hFont = nullptr;
    HGDIOBJ hBitmap = nullptr;
    HGDIOBJ hBrush = nullptr;
    int nBkMode = OPAQUE;
    COLORREF crText = 0;
  };

  struct CModalFrame {
    HWND hDlg;
    bool bEnded = false;
    INT_PTR nResult = 0;
  };

  struct CTimer {
    HWND hWnd;
    UINT_PTR nId;
    UINT uElapse;
  };

  // Windows, contexts and objects by handle value; handles are never reused.
  std::map<HWND, CWindow> windows;
  std::vector<HWND> windowOrder;
  std::map<HDC, CDc> dcs;
  std::map<HGDIOBJ, CObject> objects;
  std::map<int, HGDIOBJ> stock;
  HGDIOBJ hDefaultBitmap = nullptr;
  HGDIOBJ hSystemFont = nullptr;
  UINT_PTR nNextHandle = 0x100000;  // above the icons (0x50000 + id)
  int nNextGdi = 1;

  std::vector<CModalFrame> modal;
  HWND hLastDialog = nullptr;
  std::deque<CFakeAction> script;
  std::function<void(HWND)> fnIdle;
  std::vector<CTimer> timers;

  std::vector<std::string> calls;
  std::vector<std::string> violations;
  std::vector<CFakeText> texts;
  std::vector<CFakeFrame> frames;
  std::vector<CFakeMessageBox> boxes;
  std::map<std::string, int> failNext;

  // Display, shell and drivers.
  int cxNormal = 320, cyNormal = 240;
  DWORD dwOrientation = DMDO_0;
  bool bRefuseOrientation = false;
  RECT rcWorkArea{0, 0, 320, 214};
  HWND hTaskBar = nullptr;
  bool bPowerDriver = true;
  BOOL bRestartResult = TRUE;
  bool bThrowOnRestart = false;
  int nLogPixelsY = 96;
  int nMessageBoxAnswer = IDOK;
  int nRestarts = 0;
  int nPowerControls = 0;
  std::set<HANDLE> openDrivers;
  std::shared_ptr<CCloseSink> pCloseSink;

  // Helpers; all expect the lock held.
  HANDLE NewHandle() { return reinterpret_cast<HANDLE>(nNextHandle++); }
  CWindow* Find(HWND h);
  CDc* FindDc(HDC h);
  CObject* FindObj(HGDIOBJ h);
  std::string WindowName(HWND h) const;
  std::string DcName(HDC h) const;
  std::string ObjName(HGDIOBJ h) const;
  std::string AnyName(const void* p) const;
  bool ShouldFail(const std::string& strCall);
  HWND CreateWindowFromTemplate(UINT nTemplate, HWND hParent);
  HWND ActiveDialog() const;
  HWND ChildById(HWND hDlg, int nId) const;
  HDC NewDc(DcKind kind, HWND hWnd);
  HGDIOBJ NewObject(ObjKind kind, const std::string& strPrefix);
  int ScreenCx() const {
    return dwOrientation == DMDO_0 || dwOrientation == 2 ? cxNormal : cyNormal;
  }
  int ScreenCy() const {
    return dwOrientation == DMDO_0 || dwOrientation == 2 ? cyNormal : cxNormal;
  }
  void Violation(std::string strText) { violations.push_back(std::move(strText)); }
};

// Lets a driver handle tell the fake that it was closed, even after the fake is gone.
struct CCloseSink {
  std::mutex mutex;
  CFakeWindows* pFake = nullptr;
};

// Text helpers of the record format.
std::string FakeQuote(LPCWSTR psz);
std::string FakeQuote(const std::wstring& s);
std::string FakeRect(const RECT& rc);
std::string FakeRect(const RECT* pRc);
std::string FakeHex(unsigned long long v);
std::string FakeMessageName(UINT nMsg);
std::string FakeShowName(int nCmdShow);
std::string FakeStockName(int nObject);
std::string FakeRgb(COLORREF c);
std::string FakeFontText(const LOGFONTW& lf);
