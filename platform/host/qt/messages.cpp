// Messages: sends from any thread, the default processing, painting, and taps.
#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>

#include "platform/afxwin.h"
#include "platform/host/qt/window_backend.h"

LRESULT CQtWindowBackend::SendMessageW(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
  return OnUi([&]() -> LRESULT {
    if (!Find(hWnd)) return 0;
    return AfxCallWndProc(hWnd, nMsg, wParam, lParam);
  });
}

LRESULT CQtWindowBackend::DefWindowProcW(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
  return OnUi([&]() -> LRESULT {
    CWindow* w = Find(hWnd);
    if (!w) return 0;
    switch (nMsg) {
      case WM_PAINT: {
        HDC hdc = w->hPaintDC;
        if (!hdc) {
          if (w->pClient) w->pClient->update();
          return 0;
        }
        if (!AfxCallWndProc(hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0)) {
          if (CWindow* after = Find(hWnd); after && after->pClient)
            m_gdi.FillColor(hdc, RECT{0, 0, after->pClient->width(), after->pClient->height()},
                            m_dialogColor);
        }
        return 0;
      }
      case WM_ERASEBKGND:
        if (w->pClient)
          m_gdi.FillColor(reinterpret_cast<HDC>(wParam),
                          RECT{0, 0, w->pClient->width(), w->pClient->height()}, m_dialogColor);
        return 1;
      case WM_INITDIALOG:
        return TRUE;
      case WM_CLOSE:
        if (w->eKind == EKind::Dialog || w->eKind == EKind::MessageBox)
          AfxCallWndProc(hWnd, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(IDCANCEL), BN_CLICKED), 0);
        return 0;
      case WM_COMMAND:
        // A message box ends with the button pressed; a dialog's commands are the program's.
        if (w->eKind == EKind::MessageBox && HIWORD(wParam) == BN_CLICKED)
          EndDialog(hWnd, LOWORD(wParam));
        return 0;
      case WM_SETICON: {
        if (w->hParent || !w->pFrame) return 0;
        int nSlot = wParam == ICON_BIG ? 1 : 0;
        HICON hOld = w->hIcons[nSlot];
        w->hIcons[nSlot] = reinterpret_cast<HICON>(lParam);
        HICON hShown = w->hIcons[1] ? w->hIcons[1] : w->hIcons[0];
        auto it = m_icons.find(hShown);
        w->pFrame->setWindowIcon(it == m_icons.end() ? QIcon()
                                                     : QIcon(QPixmap::fromImage(it->second)));
        return reinterpret_cast<LRESULT>(hOld);
      }
      case WM_SETFONT: {
        w->hFont = reinterpret_cast<HFONT>(wParam);
        const QFont* pFont = m_gdi.FontOf(w->hFont);
        if (w->pClient) {
          // No font: the control goes back to the dialog's.
          if (pFont)
            w->pClient->setFont(*pFont);
          else
            w->pClient->setFont(QFont());
          if (lParam) w->pClient->update();
        }
        Touch(hWnd);
        return 0;
      }
      default:
        return ControlMessage(hWnd, *w, nMsg, wParam, lParam);
    }
  });
}

void CQtWindowBackend::ApplyProgress(CWindow& w) {
  auto* bar = qobject_cast<QProgressBar*>(w.pFrame.data());
  if (!bar) return;
  // QProgressBar repaints at once on a new value, and the erase handler sets it while its dialog
  // is being painted: with updates off the bar is only marked for its next paint.
  bar->setUpdatesEnabled(false);
  // An empty range would make Qt animate a busy bar; the device shows an empty one.
  if (w.nUpper > w.nLower) {
    bar->setRange(w.nLower, w.nUpper);
    bar->setValue(w.nPos);
  } else {
    bar->setRange(0, 1);
    bar->setValue(0);
  }
  bar->setUpdatesEnabled(true);
}

LRESULT CQtWindowBackend::ControlMessage(HWND hWnd, CWindow& w, UINT nMsg, WPARAM wParam,
                                         LPARAM lParam) {
  if (w.eKind != EKind::Progress) return 0;
  // A bar that shows what it showed is not drawn again: the dialog's erase handler sets the
  // position at every frame, and the bar's repaint would bring the next frame at once.
  const int nOldLower = w.nLower, nOldUpper = w.nUpper, nOldPos = w.nPos;
  auto applyIfChanged = [&] {
    if (w.nLower == nOldLower && w.nUpper == nOldUpper && w.nPos == nOldPos) return;
    Touch(hWnd);
    ApplyProgress(w);
  };
  switch (nMsg) {
    case PBM_SETRANGE: {
      LRESULT old = MAKELPARAM(static_cast<WORD>(w.nLower), static_cast<WORD>(w.nUpper));
      w.nLower = LOWORD(static_cast<UINT_PTR>(lParam));
      w.nUpper = HIWORD(static_cast<UINT_PTR>(lParam));
      w.nPos = std::clamp(w.nPos, w.nLower, std::max(w.nLower, w.nUpper));
      applyIfChanged();
      return old;
    }
    case PBM_SETPOS: {
      LRESULT old = w.nPos;
      w.nPos = std::clamp(static_cast<int>(wParam), w.nLower, std::max(w.nLower, w.nUpper));
      applyIfChanged();
      return old;
    }
    case PBM_SETSTEP: {
      LRESULT old = w.nStep;
      w.nStep = static_cast<int>(wParam);
      return old;
    }
    case PBM_GETPOS:
      return w.nPos;
    default:
      return 0;
  }
}

void CQtWindowBackend::PaintClient(HWND hWnd, QWidget* pClient) {
  CWindow* w = Find(hWnd);
  if (!w) return;
  std::shared_ptr<QImage> pContent = Content(*w, pClient->size());
  // A screenshot, or a paint inside the program's own paint, shows what was painted last.
  if (!m_bReplaying && !w->hPaintDC) {
    QPainter painter(pContent.get());
    HDC hdc = m_gdi.CreatePaintDC(&painter);
    w->hPaintDC = hdc;
    AfxCallWndProc(hWnd, WM_PAINT, 0, 0);
    w = Find(hWnd);
    if (w) {
      w->hPaintDC = nullptr;
      w->painted = m_gdi.DrawnOf(hdc);
    }
    m_gdi.EndPaintDC(hdc);
    painter.end();
    if (w && !w->hParent) NotifyPainted(hWnd);
  }
  QPainter(pClient).drawImage(0, 0, *pContent);
}

void CQtWindowBackend::Touch(HWND hWnd) {
  CWindow* w = Find(hWnd);
  if (w && w->hParent) w = Find(w->hParent);
  if (w) ++w->nChanges;
}

void CQtWindowBackend::NotifyPainted(HWND hWnd) {
  if (!m_pObserver) return;
  // After the paint has finished and the controls have painted over it; a paint that no longer
  // shows the window as it is goes unnoticed (the change brings a paint of its own).
  unsigned nStamp = Find(hWnd)->nChanges;
  QMetaObject::invokeMethod(
      &m_timers,
      [this, hWnd, nStamp] {
        CWindow* w = Find(hWnd);
        if (!w || !m_pObserver || w->nChanges != nStamp) return;
        if (w->eKind == EKind::MessageBox) {
          if (w->bBoxShown) return;
          w->bBoxShown = true;
          m_pObserver->OnMessageBoxShown(hWnd);
        } else if (w->eKind == EKind::Dialog) {
          m_pObserver->OnWindowPainted(hWnd);
        }
      },
      Qt::QueuedConnection);
}

BOOL CQtWindowBackend::ClickButton(HWND hButton) {
  return OnUi([&]() -> BOOL {
    const CWindow* w = Find(hButton);
    if (!w || w->eKind != EKind::Button || !w->pFrame || !w->pFrame->isVisible() ||
        !w->pFrame->isEnabled())
      return FALSE;
    QWidget* pButton = w->pFrame;
    QWidget* pTop = pButton->window();
    QWidget* pModal = QApplication::activeModalWidget();
    if (pModal && pModal != pTop) return FALSE;
    QPoint ptTop = pButton->mapTo(pTop, pButton->rect().center());
    QWidget* pHit = pTop->childAt(ptTop);
    if (pHit != pButton && !pButton->isAncestorOf(pHit)) return FALSE;
    QPointF ptLocal = pHit->mapFrom(pTop, ptTop);
    QPointF ptGlobal = pTop->mapToGlobal(ptTop);
    QPointer<QWidget> pTarget = pHit;
    QMouseEvent press(QEvent::MouseButtonPress, ptLocal, QPointF(ptTop), ptGlobal, Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(pTarget, &press);
    if (!pTarget) return TRUE;
    QMouseEvent release(QEvent::MouseButtonRelease, ptLocal, QPointF(ptTop), ptGlobal,
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(pTarget, &release);
    return TRUE;
  });
}
