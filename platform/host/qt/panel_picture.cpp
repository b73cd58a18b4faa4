#include "platform/host/qt/panel_picture.h"

#include <QPainter>
#include <cmath>

#include "platform/host/qt/real_screen.h"

QImage ComposePanel(const CPanelPlacement& place, QSize displaySize,
                    const std::function<void(QPainter&)>& fnDraw) {
  const QSize size(static_cast<int>(std::lround(displaySize.width() * place.dScale)),
                   static_cast<int>(std::lround(displaySize.height() * place.dScale)));
  QImage picture(size, QImage::Format_RGB32);
  picture.fill(CQtScreen::kDesktopRgb);
  {
    QPainter painter(&picture);
    if (place.dScale != 1) painter.scale(place.dScale, place.dScale);
    fnDraw(painter);
  }
  if (place.nTurns) picture = picture.transformed(QTransform().rotate(90 * place.nTurns));
  const QSize panel(place.nPanelWidth, place.nPanelHeight);
  if (picture.size() == panel) return picture;
  QImage image(panel, QImage::Format_RGB32);
  image.fill(CQtScreen::kDesktopRgb);
  QPainter(&image).drawImage(place.nLeft, place.nTop, picture);
  return image;
}

QTransform PanelTransform(const CPanelPlacement& place, QSize displaySize) {
  QTransform turn = QTransform::fromScale(place.dScale, place.dScale);
  turn.rotate(90 * place.nTurns);
  const QRectF laid = turn.mapRect(QRectF(QPointF(0, 0), QSizeF(displaySize)));
  return turn * QTransform::fromTranslate(place.nLeft - laid.left(), place.nTop - laid.top());
}
