// The Qt widgets behind the device's windows: a top-level frame (with the caption drawn in it when
// the platform gives no window decorations), its client area, which hands painting and input to
// the program's window procedure, and the shell's task bar. Keys reach the program before any
// widget of the window reacts to them, as a message loop hands them to PreTranslateMessage.
#pragma once

#include <QWidget>

#include "platform/winuser.h"

// What the widgets ask of the window backend; user-interface thread only.
class IQtWindowHost {
 public:
  virtual ~IQtWindowHost() = default;
  // Paints the client area of hWnd onto the widget (WM_PAINT and its erase).
  virtual void PaintClient(HWND hWnd, QWidget* pClient) = 0;
  virtual void OnMouseDown(HWND hWnd, QPoint ptClient) = 0;
  // A key pressed or released on pTarget, a part of the top-level window hWnd, before the
  // widget or the dialog's keyboard handling sees it; true: the program took it.
  virtual bool PreTranslateKey(HWND hWnd, QWidget* pTarget, const QKeyEvent& key) = 0;
  // Enter or Escape on the window; false when the key is not the dialog's.
  virtual bool OnDialogKey(HWND hWnd, int nKey) = 0;
  // The window's close box (WM_CLOSE).
  virtual void OnCloseRequest(HWND hWnd) = 0;
};

class CQtClientWidget : public QWidget {
 public:
  CQtClientWidget(IQtWindowHost* pHost, QWidget* pParent);
  void SetHandle(HWND hWnd) { m_hWnd = hWnd; }

 protected:
  void paintEvent(QPaintEvent* pEvent) override;
  void mousePressEvent(QMouseEvent* pEvent) override;
  void keyPressEvent(QKeyEvent* pEvent) override;

 private:
  IQtWindowHost* m_pHost;
  HWND m_hWnd = nullptr;
};

// A top-level window: nCaptionHeight pixels of caption (0 when the platform decorates windows),
// the client area below.
class CQtFrameWidget : public QWidget {
 public:
  CQtFrameWidget(IQtWindowHost* pHost, int nCaptionHeight, bool bCaptionOk, bool bDecorated);
  void SetHandle(HWND hWnd);
  CQtClientWidget* Client() const { return m_pClient; }
  int CaptionHeight() const { return m_nCaptionHeight; }
  // Window rectangle in screen pixels; the client area follows at once, shown or not (Qt
  // delivers a hidden widget's resize only when it is shown).
  void SetWindowGeometry(const QRect& rect);
  // The keys that reach pWidget, a control of this window, go to the program first.
  void WatchKeys(QWidget* pWidget) { pWidget->installEventFilter(this); }

 protected:
  bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
  void paintEvent(QPaintEvent* pEvent) override;
  void resizeEvent(QResizeEvent* pEvent) override;
  void closeEvent(QCloseEvent* pEvent) override;

 private:
  IQtWindowHost* m_pHost;
  HWND m_hWnd = nullptr;
  int m_nCaptionHeight;
  bool m_bCaptionOk;
  CQtClientWidget* m_pClient;
};

// The shell's task bar: a strip with a start button.
class CQtTaskBarWidget : public QWidget {
 public:
  CQtTaskBarWidget();

 protected:
  void paintEvent(QPaintEvent* pEvent) override;
};
