// The real display: one full-screen window on the platform's primary screen. The program's
// top-level windows live in its scene, laid out at the display's size in its current orientation
// and drawn scaled, turned and centred as the display's placement says; taps and clicks go back
// through the same transform, so that they land where the person sees the buttons.
#pragma once

#include <QGraphicsView>
#include <functional>
#include <vector>

#include "platform/host/qt/simulated_display.h"

class CQtScreen : public QGraphicsView {
 public:
  // The desktop behind the windows, on this screen and on the simulated display.
  static constexpr QRgb kDesktopRgb = qRgb(58, 110, 165);

  // Covers the primary screen at its own size; shown at once.
  CQtScreen();

  // The screen's own size in pixels.
  QSize NormalSize() const { return m_normalSize; }
  // The scene becomes the display's size in its current orientation (upright), shown on the
  // screen as place says.
  void Place(const CPanelPlacement& place, QSize displaySize);

  // Puts a top-level widget (no parent) into the scene; it stays the widget's own window for
  // geometry, showing and input. The scene item goes when the widget does.
  void Embed(QWidget* pWindow);
  // Stacking: later widgets above earlier ones.
  void Restack(const std::vector<QWidget*>& bottomFirst);

  // The screen as drawn now, in its own orientation: the scene as the program laid it out,
  // drawn at the screen's scale, turned and centred.
  QImage Grab();
  // Called when the window system asks the screen itself to close.
  void SetCloseHandler(std::function<void()> fnClose) { m_fnClose = std::move(fnClose); }

 protected:
  void paintEvent(QPaintEvent* pEvent) override;
  void closeEvent(QCloseEvent* pEvent) override;

 private:
  QSize m_normalSize;
  CPanelPlacement m_place{};
  std::function<void()> m_fnClose;
};
