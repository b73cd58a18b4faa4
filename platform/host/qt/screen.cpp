#include "platform/host/qt/screen.h"

#include <QCloseEvent>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

namespace {

// Content turned a quarter anticlockwise: its top edge along the screen's left edge.
QTransform Turn(const QSize& normal) { return QTransform(0, -1, 1, 0, 0, normal.height()); }

}  // namespace

CQtScreen::CQtScreen() {
  QScreen* pScreen = QGuiApplication::primaryScreen();
  m_normalSize = pScreen->geometry().size();
  setScene(new QGraphicsScene(this));
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  setTransformationAnchor(QGraphicsView::NoAnchor);
  // The view's own repaint bookkeeping lives in the paint this class replaces: every change of
  // the scene repaints the whole screen instead.
  setViewportUpdateMode(QGraphicsView::NoViewportUpdate);
  connect(scene(), &QGraphicsScene::changed, viewport(), [this] { viewport()->update(); });
  setScreen(pScreen);
  setGeometry(pScreen->geometry());
  SetTurned(false);
  showFullScreen();
}

void CQtScreen::SetTurned(bool bTurned) {
  m_bTurned = bTurned;
  const QSize laid = bTurned ? m_normalSize.transposed() : m_normalSize;
  scene()->setSceneRect(QRectF(QPointF(0, 0), QSizeF(laid)));
  setSceneRect(scene()->sceneRect());
  setTransform(bTurned ? Turn(m_normalSize) : QTransform());
  viewport()->update();
}

void CQtScreen::Embed(QWidget* pWindow) {
  const QRect rect = pWindow->geometry();  // the proxy would put it at the scene's origin
  scene()->addWidget(pWindow, Qt::Widget)->setGeometry(rect);
}

void CQtScreen::Restack(const std::vector<QWidget*>& bottomFirst) {
  qreal z = 0;
  QGraphicsProxyWidget* pTop = nullptr;
  for (QWidget* pWindow : bottomFirst) {
    QGraphicsProxyWidget* pProxy = pWindow ? pWindow->graphicsProxyWidget() : nullptr;
    if (!pProxy) continue;
    pProxy->setZValue(++z);
    if (pWindow->isVisible()) pTop = pProxy;
  }
  // Keys go to the window on top, as they do on the device.
  if (pTop) scene()->setActiveWindow(pTop);
}

QImage CQtScreen::Grab() {
  QImage laid(scene()->sceneRect().size().toSize(), QImage::Format_RGB32);
  laid.fill(kDesktopRgb);
  {
    QPainter painter(&laid);
    scene()->render(&painter, QRectF(laid.rect()), scene()->sceneRect());
  }
  // An exact quarter turn: pixels move, none is resampled.
  return m_bTurned ? laid.transformed(Turn(m_normalSize)) : laid;
}

void CQtScreen::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.drawImage(0, 0, Grab());
}

void CQtScreen::closeEvent(QCloseEvent* pEvent) {
  pEvent->ignore();  // the program decides; its own window gets the request
  if (m_fnClose) m_fnClose();
}
