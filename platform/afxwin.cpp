#include "platform/afxwin.h"

#include <mutex>
#include "platform/window_backend.h"
#include <vector>

namespace {

std::mutex g_mapMutex;
std::map<HWND, CWnd*>& PermanentMap() {
  static std::map<HWND, CWnd*> map;
  return map;
}

struct CCurrentMsg {
  UINT nMsg;
  WPARAM wParam;
  LPARAM lParam;
};
thread_local const CCurrentMsg* t_pCurrentMsg = nullptr;

CWinApp* g_pApp = nullptr;

const AFX_MSGMAP_ENTRY* FindEntry(const AFX_MSGMAP* pMap, UINT nMsg, WPARAM wParam) {
  for (; pMap; pMap = pMap->pfnGetBaseMap ? pMap->pfnGetBaseMap() : nullptr) {
    for (const AFX_MSGMAP_ENTRY* e = pMap->lpEntries; e && e->pfn; ++e) {
      if (e->nMessage != nMsg) continue;
      if (nMsg == WM_COMMAND && (e->nID != LOWORD(wParam) || e->nCode != HIWORD(wParam))) continue;
      return e;
    }
  }
  return nullptr;
}

const AFX_MSGMAP_ENTRY g_emptyEntries[] = {{0, 0, 0, nullptr}};

}  // namespace

const CRuntimeClass CObject::classCObject = {"CObject", nullptr};
const CRuntimeClass* CObject::GetRuntimeClass() const { return &classCObject; }

bool CRuntimeClass::IsDerivedFrom(const CRuntimeClass* pBase) const {
  for (const CRuntimeClass* p = this; p; p = p->m_pBaseClass)
    if (p == pBase) return true;
  return false;
}

// --- CFont

BOOL CFont::CreatePointFont(int nPointSize, LPCWSTR pszFaceName, CDC* pDC) {
  HDC hdc = pDC ? pDC->m_hDC : ::GetDC(nullptr);
  int nDpi = ::GetDeviceCaps(hdc, LOGPIXELSY);
  if (!pDC) ::ReleaseDC(nullptr, hdc);
  LOGFONTW lf{};
  lf.lfHeight = -(nPointSize * nDpi / 720);
  lf.lfCharSet = DEFAULT_CHARSET;
  for (int i = 0; pszFaceName && pszFaceName[i] && i < LF_FACESIZE - 1; ++i)
    lf.lfFaceName[i] = pszFaceName[i];
  return CreateFontIndirect(&lf);
}

BOOL CFont::CreateFontIndirect(const LOGFONTW* pLogFont) {
  DeleteObject();
  m_hObject = ::CreateFontIndirectW(pLogFont);
  return m_hObject != nullptr;
}

BOOL CFont::DeleteObject() {
  if (!m_hObject) return FALSE;
  BOOL bOk = ::DeleteObject(m_hObject);
  m_hObject = nullptr;
  return bOk;
}

// --- CWnd

IMPLEMENT_DYNAMIC(CWnd, CObject)

const AFX_MSGMAP* CWnd::GetThisMessageMap() {
  static const AFX_MSGMAP map = {nullptr, g_emptyEntries};
  return &map;
}
const AFX_MSGMAP* CWnd::GetMessageMap() const { return GetThisMessageMap(); }

CWnd::~CWnd() { Detach(); }

BOOL CWnd::Attach(HWND hWnd) {
  if (!hWnd || m_hWnd) return FALSE;
  std::lock_guard<std::mutex> lock(g_mapMutex);
  m_hWnd = hWnd;
  PermanentMap()[hWnd] = this;
  return TRUE;
}

HWND CWnd::Detach() {
  HWND h = m_hWnd;
  if (!h) return nullptr;
  std::lock_guard<std::mutex> lock(g_mapMutex);
  auto it = PermanentMap().find(h);
  if (it != PermanentMap().end() && it->second == this) PermanentMap().erase(it);
  m_hWnd = nullptr;
  return h;
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
  std::lock_guard<std::mutex> lock(g_mapMutex);
  auto it = PermanentMap().find(hWnd);
  return it == PermanentMap().end() ? nullptr : it->second;
}

CWnd* CWnd::GetDlgItem(int nID) {
  HWND h = ::GetDlgItem(m_hWnd, nID);
  if (!h) return nullptr;
  if (CWnd* p = FromHandlePermanent(h)) return p;
  auto& slot = m_tempChildren[nID];
  if (!slot || slot->m_hWnd != h) {
    slot = std::make_unique<CWnd>();
    slot->m_hWnd = h;  // a plain wrapper: messages for the child stay with the backend
  }
  return slot.get();
}

BOOL CWnd::MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint) {
  return ::MoveWindow(m_hWnd, x, y, nWidth, nHeight, bRepaint);
}
BOOL CWnd::MoveWindow(const RECT* pRect, BOOL bRepaint) {
  return ::MoveWindow(m_hWnd, pRect->left, pRect->top, pRect->right - pRect->left,
                      pRect->bottom - pRect->top, bRepaint);
}
BOOL CWnd::ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
void CWnd::Invalidate(BOOL bErase) { ::InvalidateRect(m_hWnd, nullptr, bErase); }
void CWnd::GetClientRect(RECT* pRect) const { ::GetClientRect(m_hWnd, pRect); }
void CWnd::GetWindowRect(RECT* pRect) const { ::GetWindowRect(m_hWnd, pRect); }
void CWnd::SetWindowText(LPCWSTR pszText) { ::SetWindowTextW(m_hWnd, pszText); }

CString CWnd::GetWindowText() const {
  std::vector<WCHAR> buf(1024);
  int n = ::GetWindowTextW(m_hWnd, buf.data(), static_cast<int>(buf.size()));
  return CString(buf.data(), n < 0 ? 0 : n);
}

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT uElapse, TIMERPROC pfnTimer) {
  return ::SetTimer(m_hWnd, nIDEvent, uElapse, pfnTimer);
}
BOOL CWnd::KillTimer(UINT_PTR nIDEvent) { return ::KillTimer(m_hWnd, nIDEvent); }
LRESULT CWnd::SendMessage(UINT nMsg, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageW(m_hWnd, nMsg, wParam, lParam);
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
  return reinterpret_cast<HICON>(SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL,
                                             reinterpret_cast<LPARAM>(hIcon)));
}

void CWnd::SetFont(CFont* pFont, BOOL bRedraw) {
  SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(pFont ? pFont->m_hObject : nullptr), bRedraw);
}

int CWnd::MessageBox(LPCWSTR pszText, LPCWSTR pszCaption, UINT nType) {
  return ::MessageBoxW(m_hWnd, pszText, pszCaption, nType);
}

BOOL CWnd::DestroyWindow() {
  HWND h = m_hWnd;
  if (!h) return FALSE;
  m_tempChildren.clear();
  BOOL bOk = ::DestroyWindow(h);
  Detach();
  return bOk;
}

LRESULT CWnd::WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) {
  if (const AFX_MSGMAP_ENTRY* e = FindEntry(GetMessageMap(), nMsg, wParam))
    return e->pfn(this, wParam, lParam);
  return ::DefWindowProcW(m_hWnd, nMsg, wParam, lParam);
}

LRESULT CWnd::Default() {
  const CCurrentMsg* msg = t_pCurrentMsg;
  if (!msg) return 0;
  return ::DefWindowProcW(m_hWnd, msg->nMsg, msg->wParam, msg->lParam);
}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
  CDataExchange dx(this, bSaveAndValidate);
  DoDataExchange(&dx);
  return TRUE;
}

void CWnd::DoDataExchange(CDataExchange*) {}

BOOL CWnd::OnEraseBkgnd(CDC*) { return static_cast<BOOL>(Default()); }
void CWnd::OnTimer(UINT_PTR) { Default(); }
void CWnd::OnLButtonDown(UINT, CPoint) { Default(); }
void CWnd::OnClose() { Default(); }
BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
  if (rControl.m_hWnd) return;
  rControl.Attach(::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC));
}

LRESULT AfxCallWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
  CWnd* pWnd = CWnd::FromHandlePermanent(hWnd);
  if (!pWnd) return ::DefWindowProcW(hWnd, nMsg, wParam, lParam);
  CCurrentMsg msg{nMsg, wParam, lParam};
  // Restored also when an intercepted program exit unwinds through the handler.
  struct CRestore {
    const CCurrentMsg* pOld;
    ~CRestore() { t_pCurrentMsg = pOld; }
  } restore{t_pCurrentMsg};
  t_pCurrentMsg = &msg;
  return pWnd->WindowProc(nMsg, wParam, lParam);
}

BOOL AfxPreTranslateMessage(HWND hWnd, MSG* pMsg) {
  CWnd* pWnd = CWnd::FromHandlePermanent(hWnd);
  return pWnd && pWnd->PreTranslateMessage(pMsg);
}

// --- CProgressCtrl

void CProgressCtrl::SetRange(short nLower, short nUpper) {
  SendMessage(PBM_SETRANGE, 0, MAKELPARAM(static_cast<WORD>(nLower), static_cast<WORD>(nUpper)));
}
int CProgressCtrl::SetPos(int nPos) {
  return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(nPos), 0));
}
int CProgressCtrl::SetStep(int nStep) {
  return static_cast<int>(SendMessage(PBM_SETSTEP, static_cast<WPARAM>(nStep), 0));
}

// --- CDialog

IMPLEMENT_DYNAMIC(CDialog, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
{WM_COMMAND, BN_CLICKED, IDOK, [](CWnd* w, WPARAM, LPARAM) -> LRESULT {
   static_cast<CDialog*>(w)->OnOK();
   return 0;
 }},
{WM_COMMAND, BN_CLICKED, IDCANCEL, [](CWnd* w, WPARAM, LPARAM) -> LRESULT {
   static_cast<CDialog*>(w)->OnCancel();
   return 0;
 }},
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

INT_PTR CDialog::DoModal() {
  IWindowBackend* pBackend = WindowBackend();
  if (!pBackend) return -1;
  INT_PTR nResult = pBackend->RunModalDialog(m_nIDTemplate, m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr, this);
  DestroyWindow();
  return nResult;
}

LRESULT CDialog::WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) {
  if (nMsg == WM_INITDIALOG) return OnInitDialog();
  return CWnd::WindowProc(nMsg, wParam, lParam);
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::EndDialog(int nResult) { ::EndDialog(m_hWnd, nResult); }
void CDialog::OnOK() {
  UpdateData(TRUE);
  EndDialog(IDOK);
}
void CDialog::OnCancel() { EndDialog(IDCANCEL); }

// --- CWinApp

const AFX_MSGMAP* CWinApp::GetThisMessageMap() {
  static const AFX_MSGMAP map = {nullptr, g_emptyEntries};
  return &map;
}
const AFX_MSGMAP* CWinApp::GetMessageMap() const { return GetThisMessageMap(); }

CWinApp::CWinApp(LPCWSTR) { g_pApp = this; }
CWinApp::~CWinApp() {
  if (g_pApp == this) g_pApp = nullptr;
}
BOOL CWinApp::InitInstance() { return TRUE; }
void CWinApp::SetRegistryKey(LPCWSTR pszRegistryKey) { m_strRegistryKey = pszRegistryKey; }
HICON CWinApp::LoadIcon(UINT nIDResource) const { return ::LoadIconW(nIDResource); }

CWinApp* AfxGetApp() { return g_pApp; }
CWnd* AfxGetMainWnd() { return g_pApp ? g_pApp->m_pMainWnd : nullptr; }

int AfxWinMain() {
  CWinApp* pApp = AfxGetApp();
  if (!pApp) return 1;
  pApp->InitInstance();
  return 0;
}
