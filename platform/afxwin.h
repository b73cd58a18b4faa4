// The dialog-based application framework: application, windows, dialogs, controls, fonts,
// device contexts and message maps, with only what the program uses. Backend-neutral: windows
// are driven through winuser.h.
#pragma once

#include <map>
#include <memory>

#include "platform/cstring.h"
#include "platform/winuser.h"

// Run-time class information (type identification only).
struct CRuntimeClass {
  const char* m_lpszClassName;
  const CRuntimeClass* m_pBaseClass;
  bool IsDerivedFrom(const CRuntimeClass* pBase) const;
};

class CObject {
 public:
  virtual ~CObject() = default;
  virtual const CRuntimeClass* GetRuntimeClass() const;
  static const CRuntimeClass classCObject;
};

#define RUNTIME_CLASS(theClass) (&theClass::class##theClass)
#define DECLARE_DYNAMIC(theClass)                        \
 public:                                                 \
  static const CRuntimeClass class##theClass;            \
  const CRuntimeClass* GetRuntimeClass() const override;
#define IMPLEMENT_DYNAMIC(theClass, baseClass)                                      \
  const CRuntimeClass theClass::class##theClass = {#theClass, RUNTIME_CLASS(baseClass)}; \
  const CRuntimeClass* theClass::GetRuntimeClass() const { return RUNTIME_CLASS(theClass); }

struct CPoint : POINT {
  CPoint() : POINT{0, 0} {}
  CPoint(LONG x0, LONG y0) : POINT{x0, y0} {}
};

struct CRect : RECT {
  CRect() : RECT{0, 0, 0, 0} {}
  CRect(LONG l, LONG t, LONG r, LONG b) : RECT{l, t, r, b} {}
  LONG Width() const { return right - left; }
  LONG Height() const { return bottom - top; }
  operator RECT*() { return this; }              // NOLINT
  operator const RECT*() const { return this; }  // NOLINT
};

// A device context handle wrapper; does not own the context.
class CDC {
 public:
  explicit CDC(HDC hDC = nullptr) : m_hDC(hDC) {}
  HDC GetSafeHdc() const { return m_hDC; }
  HDC m_hDC;
};

// A font owned by the object; deleted with it.
class CFont {
 public:
  CFont() = default;
  CFont(const CFont&) = delete;
  CFont& operator=(const CFont&) = delete;
  ~CFont() { DeleteObject(); }
  // Point size in tenths of a point, turned into pixels for the screen (or pDC):
  // height -(nPointSize * vertical dpi / 720), weight 0, DEFAULT_CHARSET.
  BOOL CreatePointFont(int nPointSize, LPCWSTR pszFaceName, CDC* pDC = nullptr);
  BOOL CreateFontIndirect(const LOGFONTW* pLogFont);
  BOOL DeleteObject();
  HFONT GetSafeHandle() const { return m_hObject; }
  operator HFONT() const { return m_hObject; }  // NOLINT
  HFONT m_hObject = nullptr;
};

class CWnd;
class CDataExchange;

// Message maps: a static table per class from message (and control id) to a handler thunk.
using AFX_PMSG_THUNK = LRESULT (*)(CWnd* pWnd, WPARAM wParam, LPARAM lParam);
struct AFX_MSGMAP_ENTRY {
  UINT nMessage;
  UINT nCode;  // notification code for WM_COMMAND
  UINT nID;    // control id for WM_COMMAND
  AFX_PMSG_THUNK pfn;
};
struct AFX_MSGMAP {
  const AFX_MSGMAP* (*pfnGetBaseMap)();
  const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                   \
 protected:                                     \
  static const AFX_MSGMAP* GetThisMessageMap(); \
  const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                    \
  const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
  const AFX_MSGMAP* theClass::GetThisMessageMap() {                               \
    using ThisClass [[maybe_unused]] = theClass;                                 \
    using TheBaseClass = baseClass;                                               \
    static const AFX_MSGMAP_ENTRY _messageEntries[] = {
#define END_MESSAGE_MAP()                                                      \
  {0, 0, 0, nullptr}                                                           \
  }                                                                            \
  ;                                                                            \
  static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, _messageEntries}; \
  return &messageMap;                                                          \
  }

#define ON_WM_ERASEBKGND()                                                  \
  {WM_ERASEBKGND, 0, 0, [](CWnd* w, WPARAM wp, LPARAM) -> LRESULT {          \
     CDC dc(reinterpret_cast<HDC>(wp));                                     \
     return static_cast<ThisClass*>(w)->OnEraseBkgnd(&dc);                  \
   }},
#define ON_WM_TIMER()                                                       \
  {WM_TIMER, 0, 0, [](CWnd* w, WPARAM wp, LPARAM) -> LRESULT {               \
     static_cast<ThisClass*>(w)->OnTimer(static_cast<UINT_PTR>(wp));        \
     return 0;                                                              \
   }},
#define ON_WM_LBUTTONDOWN()                                                         \
  {WM_LBUTTONDOWN, 0, 0, [](CWnd* w, WPARAM wp, LPARAM lp) -> LRESULT {              \
     static_cast<ThisClass*>(w)->OnLButtonDown(                                     \
         static_cast<UINT>(wp), CPoint(static_cast<short>(LOWORD(static_cast<UINT_PTR>(lp))), \
                                       static_cast<short>(HIWORD(static_cast<UINT_PTR>(lp))))); \
     return 0;                                                                      \
   }},
#define ON_WM_CLOSE()                                         \
  {WM_CLOSE, 0, 0, [](CWnd* w, WPARAM, LPARAM) -> LRESULT {    \
     static_cast<ThisClass*>(w)->OnClose();                    \
     return 0;                                                 \
   }},
#define ON_BN_CLICKED(id, memberFxn)                                 \
  {WM_COMMAND, BN_CLICKED, static_cast<UINT>(id),                    \
   [](CWnd* w, WPARAM, LPARAM) -> LRESULT {                          \
     static_cast<ThisClass*>(w)->memberFxn();                        \
     return 0;                                                       \
   }},

class CWnd : public CObject {
  DECLARE_DYNAMIC(CWnd)

 public:
  CWnd() = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;
  ~CWnd() override;

  HWND m_hWnd = nullptr;
  HWND GetSafeHwnd() const { return m_hWnd; }

  // Binds this object to a window; messages for it reach WindowProc.
  BOOL Attach(HWND hWnd);
  HWND Detach();
  static CWnd* FromHandlePermanent(HWND hWnd);

  // The child with the id: its bound object, or a wrapper kept by this window; null if none.
  CWnd* GetDlgItem(int nID);
  BOOL MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE);
  BOOL MoveWindow(const RECT* pRect, BOOL bRepaint = TRUE);
  BOOL ShowWindow(int nCmdShow);
  void Invalidate(BOOL bErase = TRUE);
  void GetClientRect(RECT* pRect) const;
  void GetWindowRect(RECT* pRect) const;
  void SetWindowText(LPCWSTR pszText);
  CString GetWindowText() const;
  UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT uElapse, TIMERPROC pfnTimer);
  BOOL KillTimer(UINT_PTR nIDEvent);
  LRESULT SendMessage(UINT nMsg, WPARAM wParam = 0, LPARAM lParam = 0);
  HICON SetIcon(HICON hIcon, BOOL bBigIcon);
  void SetFont(CFont* pFont, BOOL bRedraw = TRUE);
  int MessageBox(LPCWSTR pszText, LPCWSTR pszCaption = nullptr, UINT nType = MB_OK);
  virtual BOOL DestroyWindow();

  // Message dispatch through the message map; unhandled messages get default processing.
  virtual LRESULT WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam);
  // Default processing of the message being handled.
  LRESULT Default();
  // A key message for this window or one of its controls, before the window or the dialog's
  // keyboard handling gets it; TRUE: handled here, it goes no further. FALSE by default.
  virtual BOOL PreTranslateMessage(MSG* pMsg);
  BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
  virtual void DoDataExchange(CDataExchange* pDX);

  // Handlers whose base behaviour is the default processing.
  BOOL OnEraseBkgnd(CDC* pDC);
  void OnTimer(UINT_PTR nIDEvent);
  void OnLButtonDown(UINT nFlags, CPoint point);
  void OnClose();

 protected:
  static const AFX_MSGMAP* GetThisMessageMap();
  virtual const AFX_MSGMAP* GetMessageMap() const;

 private:
  std::map<int, std::unique_ptr<CWnd>> m_tempChildren;
};

class CDataExchange {
 public:
  CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
      : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
  BOOL m_bSaveAndValidate;
  CWnd* m_pDlgWnd;
};

// Binds control nIDC of the dialog to rControl (once).
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

class CProgressCtrl : public CWnd {
 public:
  void SetRange(short nLower, short nUpper);
  int SetPos(int nPos);
  int SetStep(int nStep);
};

class CDialog : public CWnd {
  DECLARE_DYNAMIC(CDialog)

 public:
  explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
  // Runs the dialog modally; destroys its window (DestroyWindow) before it returns.
  virtual INT_PTR DoModal();
  virtual BOOL OnInitDialog();
  void EndDialog(int nResult);
  UINT GetTemplateId() const { return m_nIDTemplate; }

 protected:
  virtual void OnOK();
  virtual void OnCancel();
  LRESULT WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) override;
  DECLARE_MESSAGE_MAP()

 private:
  UINT m_nIDTemplate;
  CWnd* m_pParentWnd;
};

class CWinApp : public CObject {
 public:
  explicit CWinApp(LPCWSTR pszAppName = nullptr);
  ~CWinApp() override;
  virtual BOOL InitInstance();
  void SetRegistryKey(LPCWSTR pszRegistryKey);
  HICON LoadIcon(UINT nIDResource) const;
  CWnd* m_pMainWnd = nullptr;
  CString m_strRegistryKey;

 protected:
  static const AFX_MSGMAP* GetThisMessageMap();
  virtual const AFX_MSGMAP* GetMessageMap() const;
};

// The one application object.
CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
// Runs the application: InitInstance, and the exit code when it returns FALSE (0).
int AfxWinMain();
// Backends call this for every message to one of the program's windows.
LRESULT AfxCallWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
// Backends call this for a queued message on each window from pMsg->hwnd up to its top-level
// window, in that order: TRUE when the object bound to hWnd handled it (then it goes no further).
BOOL AfxPreTranslateMessage(HWND hWnd, MSG* pMsg);
