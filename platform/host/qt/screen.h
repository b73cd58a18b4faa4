// The real display: one full-screen window on the platform's primary screen. The program's
// top-level windows live in its scene; turned by 90 degrees, the scene is laid out for the turned
// size and drawn turned into the whole screen, and taps and clicks are turned back, so that they
// land where the person sees the buttons.
#pragma once

#include <QGraphicsView>
#include <functional>
#include <vector>

class CQtScreen : public QGraphicsView {
 public:
  // The desktop behind the windows, on this screen and on the simulated display.
  static constexpr QRgb kDesktopRgb = qRgb(58, 110, 165);

  // Covers the primary screen at its own size; shown at once.
  CQtScreen();

  // The screen's size, which is the device's normal orientation.
  QSize NormalSize() const { return m_normalSize; }
  // Turned (DMDO_90): the scene is the normal size with width and height swapped, drawn a
  // quarter turn anticlockwise, as the device's own display turns.
  void SetTurned(bool bTurned);

  // Puts a top-level widget (no parent) into the scene; it stays the widget's own window for
  // geometry, showing and input. The scene item goes when the widget does.
  void Embed(QWidget* pWindow);
  // Stacking: later widgets above earlier ones.
  void Restack(const std::vector<QWidget*>& bottomFirst);

  // The screen as drawn now, in its own orientation: the scene as the program laid it out,
  // upright, then turned when the display is.
  QImage Grab();
  // Called when the window system asks the screen itself to close.
  void SetCloseHandler(std::function<void()> fnClose) { m_fnClose = std::move(fnClose); }

 protected:
  void paintEvent(QPaintEvent* pEvent) override;
  void closeEvent(QCloseEvent* pEvent) override;

 private:
  QSize m_normalSize;
  bool m_bTurned = false;
  std::function<void()> m_fnClose;
};
