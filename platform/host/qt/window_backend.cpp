// Construction, the window table and the plain window operations.
#include "platform/host/qt/window_backend.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QGraphicsProxyWidget>
#include <QLabel>
#include <QPalette>
#include <algorithm>
#include <cwctype>

#include "platform/afxwin.h"
#include "platform/kernel.h"

namespace {

bool SameClass(const std::wstring& a, LPCWSTR b) {
  size_t n = 0;
  for (; b[n]; ++n)
    if (n >= a.size() || std::towlower(a[n]) != std::towlower(b[n])) return false;
  return n == a.size();
}

}  // namespace

CQtWindowBackend::CQtWindowBackend(CHostDisplay* pDisplay, CHostPower* pPower, bool bDrawCaptions,
                                   CQtScreen* pScreen)
    : m_uiThread(std::this_thread::get_id()),
      m_pDisplay(pDisplay),
      m_pPower(pPower),
      m_pScreen(pScreen),
      m_bDrawCaptions(bDrawCaptions),
      m_dialogColor(QApplication::palette().color(QPalette::Window)),
      m_pCalls(std::make_unique<CQtCrossThreadCalls>()) {
  // Our modal loops end only through EndDialog, never because the last window was hidden.
  QGuiApplication::setQuitOnLastWindowClosed(false);
  if (m_pScreen) {
    // A real display has no stand-in task bar: the program finds none, as on a device without
    // a shell. A close request for the screen goes to the program's top window.
    PlaceScreen();
    m_pScreen->SetCloseHandler([this] {
      for (auto it = m_zOrder.rbegin(); it != m_zOrder.rend(); ++it)
        if (CWindow* w = Find(*it); w && w->pFrame && w->pFrame->isVisible())
          return OnCloseRequest(*it);
    });
    m_pDisplay->SetOrientationCallback([this] { OnUi([this] { PlaceScreen(); }); });
    return;
  }
  CWindow bar;
  bar.eKind = EKind::TaskBar;
  bar.pFrame = new CQtTaskBarWidget();
  bar.pClient = bar.pFrame;
  bar.strClass = L"HHTaskBar";
  bar.bTopMost = true;
  m_hTaskBar = Register(std::move(bar));
  m_zOrder.push_back(m_hTaskBar);
  LayoutTaskBar();
  m_pDisplay->SetOrientationCallback([this] { OnUi([this] { LayoutTaskBar(); }); });
}

CQtWindowBackend::~CQtWindowBackend() {
  m_pDisplay->SetOrientationCallback(nullptr);
  m_pCalls.reset();  // threads still waiting for us get their calls back unrun
  for (auto& [h, w] : m_windows) {
    if (w.pModal && w.pModal->pLoop) w.pModal->pLoop->exit(-1);
    if (!w.hParent && w.pFrame) delete w.pFrame.data();
  }
  m_windows.clear();
}

CQtWindowBackend::CWindow* CQtWindowBackend::Find(HWND hWnd) {
  auto it = m_windows.find(hWnd);
  return it == m_windows.end() ? nullptr : &it->second;
}

const CQtWindowBackend::CWindow* CQtWindowBackend::Find(HWND hWnd) const {
  auto it = m_windows.find(hWnd);
  return it == m_windows.end() ? nullptr : &it->second;
}

HWND CQtWindowBackend::Register(CWindow window) {
  HWND h = reinterpret_cast<HWND>(m_nNextHandle);
  m_nNextHandle += 4;
  m_windows.emplace(h, std::move(window));
  return h;
}

void CQtWindowBackend::LayoutTaskBar() {
  CWindow* bar = Find(m_hTaskBar);
  if (!bar || !bar->pFrame) return;
  RECT rc = m_pDisplay->TaskBarRect();
  bar->pFrame->setGeometry(rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
  bar->pFrame->setVisible(m_pDisplay->TaskBarVisible());
}

void CQtWindowBackend::PlaceScreen() {
  m_pScreen->Place(m_pDisplay->Placement(), QSize(m_pDisplay->Width(), m_pDisplay->Height()));
}

void CQtWindowBackend::BringToTop(HWND hWnd) {
  m_zOrder.erase(std::remove(m_zOrder.begin(), m_zOrder.end(), hWnd), m_zOrder.end());
  m_zOrder.push_back(hWnd);
  // Top-most windows stay above the others, each group in the order it was raised.
  std::stable_partition(m_zOrder.begin(), m_zOrder.end(),
                        [this](HWND h) { return !Find(h) || !Find(h)->bTopMost; });
  if (!m_pScreen) return;
  std::vector<QWidget*> frames;
  for (HWND h : m_zOrder)
    if (const CWindow* w = Find(h)) frames.push_back(w->pFrame);
  m_pScreen->Restack(frames);
}

void CQtWindowBackend::ShowTopLevel(HWND hWnd) {
  CWindow* w = Find(hWnd);
  if (!w || !w->pFrame) return;
  // Into the screen when first shown, with its controls: a widget made inside an embedded window
  // would stay hidden.
  if (m_pScreen && !w->pFrame->graphicsProxyWidget()) m_pScreen->Embed(w->pFrame);
  w->pFrame->show();
  if (!m_pScreen && QGuiApplication::platformName() != QLatin1String("offscreen")) {
    w->pFrame->raise();  // the offscreen platform stacks nothing and says so
    w->pFrame->activateWindow();
  }
  BringToTop(hWnd);
}

void CQtWindowBackend::DestroyRecord(HWND hWnd) {
  CWindow* w = Find(hWnd);
  if (!w) return;
  for (HWND hChild : std::vector<HWND>(w->children)) DestroyRecord(hChild);
  w = Find(hWnd);
  m_timers.KillAll(hWnd);
  if (w->pModal) {
    w->pModal->bEnded = true;
    w->pModal->nResult = -1;
    if (w->pModal->pLoop) w->pModal->pLoop->exit();
  }
  if (w->hOwnFont) m_gdi.DeleteObject(w->hOwnFont);
  if (!w->hParent && w->pFrame) {
    w->pFrame->hide();
    w->pFrame->deleteLater();  // the window may be inside one of its own event handlers
  }
  if (CWindow* parent = Find(w->hParent)) {
    ++parent->nChanges;
    parent->children.erase(std::remove(parent->children.begin(), parent->children.end(), hWnd),
                           parent->children.end());
  }
  m_zOrder.erase(std::remove(m_zOrder.begin(), m_zOrder.end(), hWnd), m_zOrder.end());
  m_windows.erase(hWnd);
}

BOOL CQtWindowBackend::DestroyWindow(HWND hWnd) {
  return OnUi([&]() -> BOOL {
    if (!Find(hWnd) || hWnd == m_hTaskBar) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    AfxCallWndProc(hWnd, WM_DESTROY, 0, 0);
    DestroyRecord(hWnd);
    return TRUE;
  });
}

HWND CQtWindowBackend::GetDlgItem(HWND hDlg, int nID) {
  return OnUi([&]() -> HWND {
    const CWindow* w = Find(hDlg);
    if (!w) return nullptr;
    for (HWND hChild : w->children)
      if (Find(hChild)->nID == nID) return hChild;
    return nullptr;
  });
}

int CQtWindowBackend::GetDlgCtrlID(HWND hWnd) {
  return OnUi([&]() -> int {
    const CWindow* w = Find(hWnd);
    return w && w->hParent ? w->nID : 0;
  });
}

BOOL CQtWindowBackend::MoveWindow(HWND hWnd, int x, int y, int nWidth, int nHeight, BOOL bRepaint) {
  return OnUi([&]() -> BOOL {
    CWindow* w = Find(hWnd);
    if (!w || !w->pFrame) return FALSE;
    QRect rect(x, y, std::max(0, nWidth), std::max(0, nHeight));
    if (auto* pProxy = w->pFrame->graphicsProxyWidget())
      pProxy->setGeometry(rect);  // a window in the screen's scene: its place in the scene
    else if (auto* pFrame = dynamic_cast<CQtFrameWidget*>(w->pFrame.data()))
      pFrame->SetWindowGeometry(rect);
    else
      w->pFrame->setGeometry(rect);
    if (bRepaint) w->pFrame->update();
    Touch(hWnd);
    return TRUE;
  });
}

BOOL CQtWindowBackend::ShowWindow(HWND hWnd, int nCmdShow) {
  return OnUi([&]() -> BOOL {
    CWindow* w = Find(hWnd);
    if (!w || !w->pFrame) return FALSE;
    BOOL bWasVisible = !w->pFrame->isHidden();
    bool bShow = nCmdShow != SW_HIDE;
    Touch(hWnd);
    if (hWnd == m_hTaskBar) {
      m_pDisplay->SetTaskBarVisible(bShow);
      LayoutTaskBar();
    } else if (!w->hParent && bShow) {
      ShowTopLevel(hWnd);
    } else {
      w->pFrame->setVisible(bShow);
    }
    return bWasVisible;
  });
}

BOOL CQtWindowBackend::IsWindowVisible(HWND hWnd) {
  return OnUi([&]() -> BOOL {
    const CWindow* w = Find(hWnd);
    return w && w->pFrame && w->pFrame->isVisible();
  });
}

BOOL CQtWindowBackend::InvalidateRect(HWND hWnd, const RECT* pRect, BOOL) {
  return OnUi([&]() -> BOOL {
    CWindow* w = Find(hWnd);
    if (!w || !w->pClient) return FALSE;
    // Every repaint erases: Qt keeps no pixels of a window between paints.
    if (pRect)
      w->pClient->update(
          QRect(pRect->left, pRect->top, pRect->right - pRect->left, pRect->bottom - pRect->top));
    else
      w->pClient->update();
    return TRUE;
  });
}

BOOL CQtWindowBackend::UpdateWindow(HWND hWnd) {
  return OnUi([&]() -> BOOL {
    CWindow* w = Find(hWnd);
    if (!w || !w->pClient) return FALSE;
    if (w->pClient->isVisible()) w->pClient->repaint();
    return TRUE;
  });
}

BOOL CQtWindowBackend::GetClientRect(HWND hWnd, RECT* pRect) {
  return OnUi([&]() -> BOOL {
    const CWindow* w = Find(hWnd);
    if (!w || !w->pClient || !pRect) return FALSE;
    *pRect = RECT{0, 0, w->pClient->width(), w->pClient->height()};
    return TRUE;
  });
}

BOOL CQtWindowBackend::GetWindowRect(HWND hWnd, RECT* pRect) {
  return OnUi([&]() -> BOOL {
    const CWindow* w = Find(hWnd);
    if (!w || !w->pFrame || !pRect) return FALSE;
    // In the display's own coordinates: a window in the screen's scene maps to the turned screen.
    QWidget* pTop = w->pFrame->window();
    QRect r = w->hParent ? QRect(pTop->geometry().topLeft() + w->pFrame->mapTo(pTop, QPoint(0, 0)),
                                 w->pFrame->size())
                         : w->pFrame->frameGeometry();
    *pRect = RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    return TRUE;
  });
}

BOOL CQtWindowBackend::SetWindowTextW(HWND hWnd, LPCWSTR pszText) {
  return OnUi([&]() -> BOOL {
    CWindow* w = Find(hWnd);
    if (!w || !w->pFrame) return FALSE;
    w->strText = pszText ? pszText : L"";
    Touch(hWnd);
    QString text = QString::fromStdWString(w->strText);
    switch (w->eKind) {
      case EKind::Dialog:
      case EKind::MessageBox:
        w->pFrame->setWindowTitle(text);
        w->pFrame->update();
        break;
      case EKind::Button:
        static_cast<QAbstractButton*>(w->pFrame.data())->setText(text);
        break;
      case EKind::Static:
        static_cast<QLabel*>(w->pFrame.data())->setText(text);
        break;
      default:
        break;
    }
    return TRUE;
  });
}

int CQtWindowBackend::GetWindowTextW(HWND hWnd, LPWSTR pszBuffer, int nMaxCount) {
  return OnUi([&]() -> int {
    const CWindow* w = Find(hWnd);
    if (!w || !pszBuffer || nMaxCount <= 0) return 0;
    int n = std::min<int>(static_cast<int>(w->strText.size()), nMaxCount - 1);
    std::copy_n(w->strText.data(), n, pszBuffer);
    pszBuffer[n] = L'\0';
    return n;
  });
}

HWND CQtWindowBackend::FindWindowW(LPCWSTR pszClassName, LPCWSTR pszWindowName) {
  return OnUi([&]() -> HWND {
    for (auto it = m_zOrder.rbegin(); it != m_zOrder.rend(); ++it) {
      const CWindow* w = Find(*it);
      if (pszClassName && !SameClass(w->strClass, pszClassName)) continue;
      if (pszWindowName && w->strText != pszWindowName) continue;
      return *it;
    }
    return nullptr;
  });
}

UINT_PTR CQtWindowBackend::SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse,
                                    TIMERPROC pfnTimer) {
  return OnUi([&]() -> UINT_PTR {
    if (!Find(hWnd)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return 0;
    }
    return m_timers.Set(hWnd, nIDEvent, uElapse, pfnTimer);
  });
}

BOOL CQtWindowBackend::KillTimer(HWND hWnd, UINT_PTR nIDEvent) {
  return OnUi([&]() -> BOOL { return m_timers.Kill(hWnd, nIDEvent); });
}

UINT CQtWindowBackend::TemplateOf(HWND hWnd) const {
  const CWindow* w = Find(hWnd);
  return w && w->eKind == EKind::Dialog ? w->nTemplate : 0;
}

std::vector<CDrawnText> CQtWindowBackend::DrawnTexts(HWND hWnd) const {
  const CWindow* w = Find(hWnd);
  return w ? w->painted : std::vector<CDrawnText>{};
}

std::vector<std::wstring> CQtWindowBackend::PaintedTexts(HWND hWnd) const {
  std::vector<std::wstring> texts;
  for (const CDrawnText& t : DrawnTexts(hWnd)) texts.push_back(t.strText);
  return texts;
}

QWidget* CQtWindowBackend::WidgetOf(HWND hWnd) const {
  const CWindow* w = Find(hWnd);
  return w ? w->pClient.data() : nullptr;
}
