// The recording window system: set-up, driving, inspection and the modal loop.
#include "tests/fakes/fake_windows.h"

#include <algorithm>
#include <atomic>

#include "platform/afxwin.h"
#include "platform/runtime.h"
#include "tests/fakes/fake_windows_state.h"

namespace {

std::atomic<CFakeWindows*> g_pDiagFake{nullptr};

void DiagToFake(const std::string& strUtf8);

}  // namespace

namespace {

CFakeAction MakeAction(CFakeAction::Kind kind, int nId = 0) {
  CFakeAction a;
  a.kind = kind;
  a.nId = nId;
  return a;
}

}  // namespace

CFakeAction CFakeAction::Tap(int nId) { return MakeAction(Kind::kTap, nId); }
CFakeAction CFakeAction::Command(int nId) { return MakeAction(Kind::kCommand, nId); }
CFakeAction CFakeAction::Timer(int nId) { return MakeAction(Kind::kTimer, nId); }
CFakeAction CFakeAction::Repaint() { return MakeAction(Kind::kRepaint); }
CFakeAction CFakeAction::Click(int x, int y) {
  CFakeAction a = MakeAction(Kind::kClick);
  a.x = x;
  a.y = y;
  return a;
}
CFakeAction CFakeAction::Call(std::function<void()> fn) {
  CFakeAction a = MakeAction(Kind::kCall);
  a.fn = std::move(fn);
  return a;
}
CFakeAction CFakeAction::End(INT_PTR nResult) {
  CFakeAction a = MakeAction(Kind::kEnd);
  a.nResult = nResult;
  return a;
}

CFakeWindows::CFakeWindows() : m_pImpl(std::make_unique<CImpl>()) {
  CImpl& s = *m_pImpl;
  auto stock = [&s](int nId, CImpl::ObjKind kind) {
    HGDIOBJ h = static_cast<HGDIOBJ>(s.NewHandle());
    CImpl::CObject o;
    o.kind = kind;
    o.strName = FakeStockName(nId);
    o.bStock = true;
    s.objects[h] = o;
    s.stock[nId] = h;
    return h;
  };
  stock(WHITE_BRUSH, CImpl::ObjKind::kBrush);
  stock(BLACK_BRUSH, CImpl::ObjKind::kBrush);
  s.hSystemFont = stock(13, CImpl::ObjKind::kFont);
  s.hDefaultBitmap = static_cast<HGDIOBJ>(s.NewHandle());
  CImpl::CObject bmp;
  bmp.kind = CImpl::ObjKind::kBitmap;
  bmp.strName = "DEFAULT_BITMAP";
  bmp.bStock = true;
  bmp.cx = bmp.cy = 1;
  s.objects[s.hDefaultBitmap] = bmp;
  SetTaskBarPresent(true);
  s.pCloseSink = std::make_shared<CCloseSink>();
  s.pCloseSink->pFake = this;
}

CFakeWindows::~CFakeWindows() {
  CaptureDiagnostics(false);
  std::lock_guard<std::mutex> sinkLock(m_pImpl->pCloseSink->mutex);
  m_pImpl->pCloseSink->pFake = nullptr;
}

// --- Set-up

void CFakeWindows::SetScreenSize(int cx, int cy) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pImpl->cxNormal = cx;
  m_pImpl->cyNormal = cy;
  m_pImpl->rcWorkArea = {0, 0, m_pImpl->ScreenCx(), m_pImpl->ScreenCy() - 26};
}

void CFakeWindows::SetOrientation(DWORD dwOrientation) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pImpl->dwOrientation = dwOrientation;
}

void CFakeWindows::RefuseOrientation(bool bRefuse) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pImpl->bRefuseOrientation = bRefuse;
}

void CFakeWindows::SetWorkArea(const RECT& rc) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pImpl->rcWorkArea = rc;
}

void CFakeWindows::SetTaskBarPresent(bool bPresent) {
  std::lock_guard<std::mutex> lock(m_mutex);
  CImpl& s = *m_pImpl;
  if (!bPresent) {
    if (CImpl::CWindow* w = s.Find(s.hTaskBar)) w->bDestroyed = true;
    s.hTaskBar = nullptr;
    return;
  }
  if (s.hTaskBar) return;
  s.hTaskBar = static_cast<HWND>(s.NewHandle());
  CImpl::CWindow w;
  w.strName = "HHTaskBar";
  w.strClass = L"HHTaskBar";
  w.rc = {0, s.ScreenCy() - 26, s.ScreenCx(), s.ScreenCy()};
  w.bVisible = true;
  s.windows[s.hTaskBar] = w;
  s.windowOrder.push_back(s.hTaskBar);
}

void CFakeWindows::SetPowerDriverPresent(bool bPresent) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pImpl->bPowerDriver = bPresent;
}

void CFakeWindows::SetRestartResult(BOOL bResult) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pImpl->bRestartResult = bResult;
}

void CFakeWindows::ThrowOnRestart(bool bThrow) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pImpl->bThrowOnRestart = bThrow;
}

void CFakeWindows::SetLogPixelsY(int nDpi) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pImpl->nLogPixelsY = nDpi;
}

void CFakeWindows::SetMessageBoxAnswer(int nAnswer) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pImpl->nMessageBoxAnswer = nAnswer;
}

void CFakeWindows::FailNext(const std::string& strCall, int nTimes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pImpl->failNext[strCall] = nTimes;
}

HWND CFakeWindows::CreateDialogWindow(UINT nTemplate) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_pImpl->CreateWindowFromTemplate(nTemplate, nullptr);
}

// --- Driving

void CFakeWindows::Script(std::vector<CFakeAction> actions) {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (auto& a : actions) m_pImpl->script.push_back(std::move(a));
}

void CFakeWindows::OnIdle(std::function<void(HWND)> fn) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pImpl->fnIdle = std::move(fn);
}

BOOL CFakeWindows::Tap(int nId) { return Act(CFakeAction::Tap(nId)); }
BOOL CFakeWindows::Command(int nId) { return Act(CFakeAction::Command(nId)); }
BOOL CFakeWindows::FireTimer(UINT_PTR nId) {
  return Act(CFakeAction::Timer(static_cast<int>(nId)));
}
BOOL CFakeWindows::Repaint() { return Act(CFakeAction::Repaint()); }
BOOL CFakeWindows::Click(int x, int y) { return Act(CFakeAction::Click(x, y)); }

void CFakeWindows::SetCallObserver(std::function<void(const std::string&)> fn) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_fnObserver = std::move(fn);
}

void CFakeWindows::CaptureDiagnostics(bool bCapture) {
  if (bCapture) {
    g_pDiagFake = this;
    SetDiagSink(&DiagToFake);
  } else {
    CFakeWindows* pThis = this;
    if (g_pDiagFake.compare_exchange_strong(pThis, nullptr)) SetDiagSink(nullptr);
  }
}

void CFakeWindows::Record(std::string strLine) {
  std::function<void(const std::string&)> fn;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pImpl->calls.push_back(strLine);
    fn = m_fnObserver;
  }
  if (fn) fn(strLine);
}

namespace {

void DiagToFake(const std::string& strUtf8) {
  CFakeWindows* pFake = g_pDiagFake.load();
  if (!pFake) return;
  std::string line = strUtf8;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  pFake->Note("diag: " + line);
}

}  // namespace

void CFakeWindows::Note(const std::string& strLine) { Record(strLine); }

// --- Inspection

std::vector<std::string> CFakeWindows::Calls() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_pImpl->calls;
}

std::vector<std::string> CFakeWindows::Calls(const std::vector<std::string>& prefixes) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<std::string> out;
  for (const auto& line : m_pImpl->calls)
    for (const auto& p : prefixes)
      if (line.compare(0, p.size(), p) == 0) {
        out.push_back(line);
        break;
      }
  return out;
}

void CFakeWindows::ClearCalls() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pImpl->calls.clear();
}

std::vector<std::string> CFakeWindows::Violations() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_pImpl->violations;
}

std::vector<std::string> CFakeWindows::AliveObjects() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<std::string> out;
  for (const auto& [h, dc] : m_pImpl->dcs)
    if (dc.bAlive && dc.kind != CImpl::DcKind::kPaint) out.push_back(dc.strName);
  for (const auto& [h, o] : m_pImpl->objects)
    if (o.bAlive && !o.bStock) out.push_back(o.strName);
  return out;
}

std::vector<CFakeText> CFakeWindows::Texts() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_pImpl->texts;
}

std::vector<CFakeFrame> CFakeWindows::Frames() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_pImpl->frames;
}

std::vector<CFakeMessageBox> CFakeWindows::MessageBoxes() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_pImpl->boxes;
}

HWND CFakeWindows::Dialog(UINT nTemplate) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (auto it = m_pImpl->windowOrder.rbegin(); it != m_pImpl->windowOrder.rend(); ++it) {
    const CImpl::CWindow& w = m_pImpl->windows.at(*it);
    if (!w.hParent && w.nTemplate == nTemplate) return *it;
  }
  return nullptr;
}

HWND CFakeWindows::Control(HWND hDlg, int nId) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (HWND h = m_pImpl->ChildById(hDlg, nId)) return h;
  for (HWND h : m_pImpl->windowOrder) {
    const CImpl::CWindow& w = m_pImpl->windows.at(h);
    if (hDlg && w.hParent == hDlg && w.nId == nId) return h;
  }
  return nullptr;
}

HWND CFakeWindows::TaskBar() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_pImpl->hTaskBar;
}

CFakeWindowInfo CFakeWindows::Window(HWND hWnd) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  CFakeWindowInfo info;
  const CImpl::CWindow* w = m_pImpl->Find(hWnd);
  if (!w) return info;
  info.bExists = true;
  info.strName = w->strName;
  info.hParent = w->hParent;
  info.nId = w->nId;
  info.strClass = w->strClass;
  info.rc = w->rc;
  info.bVisible = w->bVisible;
  info.bDestroyed = w->bDestroyed;
  info.strText = w->strText;
  info.hIconBig = w->hIconBig;
  info.hIconSmall = w->hIconSmall;
  info.hFont = w->hFont;
  info.progress = w->progress;
  info.shown = w->shown;
  return info;
}

std::string CFakeWindows::Name(const void* pHandle) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_pImpl->AnyName(pHandle);
}

std::vector<std::string> CFakeWindows::Timers() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<std::string> out;
  for (const auto& t : m_pImpl->timers)
    out.push_back(m_pImpl->WindowName(t.hWnd) + ":" + std::to_string(t.nId) + "/" +
                  std::to_string(t.uElapse) + "ms");
  return out;
}

bool CFakeWindows::HasTimer(HWND hWnd, UINT_PTR nId) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const auto& t : m_pImpl->timers)
    if (t.hWnd == hWnd && t.nId == nId) return true;
  return false;
}

DWORD CFakeWindows::Orientation() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_pImpl->dwOrientation;
}

std::pair<int, int> CFakeWindows::ScreenSize() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return {m_pImpl->ScreenCx(), m_pImpl->ScreenCy()};
}

RECT CFakeWindows::WorkArea() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_pImpl->rcWorkArea;
}

bool CFakeWindows::TaskBarVisible() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  const CImpl::CWindow* w = m_pImpl->Find(m_pImpl->hTaskBar);
  return w && !w->bDestroyed && w->bVisible;
}

int CFakeWindows::RestartRequests() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_pImpl->nRestarts;
}

int CFakeWindows::PowerDriverControls() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_pImpl->nPowerControls;
}

// --- The modal loop and the actions

INT_PTR CFakeWindows::RunModalDialog(UINT nIDTemplate, HWND hParent, CDialog* pDialog) {
  HWND hDlg;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    hDlg = m_pImpl->CreateWindowFromTemplate(nIDTemplate, hParent);
    if (hDlg) m_pImpl->modal.push_back({hDlg});
  }
  Record("RunModalDialog(" + std::to_string(nIDTemplate) + ", " + Name(hParent) + ") -> " +
         Name(hDlg));
  if (!hDlg) return -1;

  // Pops this loop's frame also when the program's exit unwinds through it.
  struct CFramePop {
    CFakeWindows* pFake;
    HWND hDlg;
    ~CFramePop() {
      std::lock_guard<std::mutex> lock(pFake->m_mutex);
      auto& modal = pFake->m_pImpl->modal;
      for (auto it = modal.rbegin(); it != modal.rend(); ++it)
        if (it->hDlg == hDlg) {
          modal.erase(std::next(it).base());
          break;
        }
    }
  } pop{this, hDlg};

  pDialog->Attach(hDlg);
  Deliver(hDlg, WM_INITDIALOG, 0, 0);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    CImpl::CWindow* w = m_pImpl->Find(hDlg);
    if (w && !w->bDestroyed && (w->dwStyle & WS_VISIBLE)) {
      w->bVisible = true;
      w->bInvalid = w->bErasePending = true;
    }
  }

  auto frame = [this, hDlg]() -> CImpl::CModalFrame* {
    for (auto& f : m_pImpl->modal)
      if (f.hDlg == hDlg) return &f;
    return nullptr;
  };
  for (;;) {
    std::function<void(HWND)> fnIdle;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      CImpl::CModalFrame* f = frame();
      if (!f || f->bEnded) return f ? f->nResult : -1;
      if (m_pImpl->script.empty()) fnIdle = m_pImpl->fnIdle;
    }
    if (fnIdle) fnIdle(hDlg);
    CFakeAction action;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      CImpl::CModalFrame* f = frame();
      if (!f || f->bEnded) return f ? f->nResult : -1;
      if (m_pImpl->script.empty()) {
        m_pImpl->Violation("modal loop of " + m_pImpl->WindowName(hDlg) + " ran out of actions");
        return -1;
      }
      action = std::move(m_pImpl->script.front());
      m_pImpl->script.pop_front();
    }
    Act(action);
  }
}

BOOL CFakeWindows::Act(const CFakeAction& a) {
  using Kind = CFakeAction::Kind;
  if (a.kind == Kind::kCall) {
    if (a.fn) a.fn();
    return TRUE;
  }
  HWND hTarget = nullptr;
  HWND hButton = nullptr;
  std::string strEnded;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    CImpl& s = *m_pImpl;
    HWND hDlg = s.ActiveDialog();
    const CImpl::CWindow* pDlg = s.Find(hDlg);
    if (!pDlg || pDlg->bDestroyed) {
      s.Violation("no dialog for the action");
      return FALSE;
    }
    hTarget = hDlg;
    switch (a.kind) {
      case Kind::kTap: {
        hButton = s.ChildById(hDlg, a.nId);
        const CImpl::CWindow* b = s.Find(hButton);
        if (!b || !b->bVisible) {
          s.Violation("Tap(" + std::to_string(a.nId) + "): " +
                      (b ? b->strName + " is hidden" : "no such button in " + pDlg->strName));
          return FALSE;
        }
        break;
      }
      case Kind::kTimer: {
        auto owns = [&](HWND h) {
          return std::any_of(s.timers.begin(), s.timers.end(), [&](const CImpl::CTimer& t) {
            return t.hWnd == h && t.nId == static_cast<UINT_PTR>(a.nId);
          });
        };
        if (!owns(hDlg)) {
          hTarget = nullptr;
          for (const auto& t : s.timers)
            if (t.nId == static_cast<UINT_PTR>(a.nId)) {
              hTarget = t.hWnd;
              break;
            }
        }
        if (!hTarget) {
          s.Violation("timer " + std::to_string(a.nId) + " is not set");
          return FALSE;
        }
        break;
      }
      case Kind::kEnd:
        if (s.modal.empty()) {
          s.Violation("End: no modal loop runs");
          return FALSE;
        }
        s.modal.back().bEnded = true;
        s.modal.back().nResult = a.nResult;
        strEnded =
            "> End(" + s.WindowName(s.modal.back().hDlg) + ", " + std::to_string(a.nResult) + ")";
        break;
      default:
        break;
    }
  }
  switch (a.kind) {
    case Kind::kTap:
      Deliver(hTarget, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(a.nId), BN_CLICKED),
              reinterpret_cast<LPARAM>(hButton));
      break;
    case Kind::kCommand:
      Deliver(hTarget, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(a.nId), BN_CLICKED), 0);
      break;
    case Kind::kTimer:
      Deliver(hTarget, WM_TIMER, static_cast<WPARAM>(a.nId), 0);
      break;
    case Kind::kRepaint:
      PaintWindow(hTarget, true);
      break;
    case Kind::kClick:
      Deliver(hTarget, WM_LBUTTONDOWN, 1,
              MAKELPARAM(static_cast<WORD>(a.x), static_cast<WORD>(a.y)));
      break;
    case Kind::kEnd:
      Record(strEnded);
      break;
    case Kind::kCall:
      break;
  }
  return TRUE;
}

LRESULT CFakeWindows::Deliver(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
  std::string line = "> " + FakeMessageName(nMsg) + "(" + Name(hWnd);
  switch (nMsg) {
    case WM_COMMAND:
      line += ", " + std::to_string(LOWORD(wParam)) + ", " +
              (HIWORD(wParam) == BN_CLICKED ? std::string("BN_CLICKED")
                                            : std::to_string(HIWORD(wParam)));
      break;
    case WM_TIMER:
      line += ", " + std::to_string(wParam);
      break;
    case WM_ERASEBKGND:
      line += ", " + Name(reinterpret_cast<void*>(wParam));
      break;
    case WM_LBUTTONDOWN:
      line += ", " + std::to_string(static_cast<short>(LOWORD(static_cast<UINT_PTR>(lParam)))) +
              ", " + std::to_string(static_cast<short>(HIWORD(static_cast<UINT_PTR>(lParam))));
      break;
    default:
      break;
  }
  Record(line + ")");
  return AfxCallWndProc(hWnd, nMsg, wParam, lParam);
}

void CFakeWindows::PaintWindow(HWND hWnd, bool bErase) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    CImpl::CWindow* w = m_pImpl->Find(hWnd);
    if (!w || w->bDestroyed) return;
    w->bInvalid = false;
    if (bErase) w->bErasePending = true;
  }
  Deliver(hWnd, WM_PAINT, 0, 0);
}

// --- Scope

CFakeWindowsScope::CFakeWindowsScope(CFakeWindows& fake)
    : m_pPrevious(InstallWindowBackend(&fake)) {}
CFakeWindowsScope::~CFakeWindowsScope() { InstallWindowBackend(m_pPrevious); }
