#include "platform/host/qt/real_screen.h"

#include <QCloseEvent>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include "platform/host/qt/panel_picture.h"

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
  Place(CPanelPlacement{0, 1, 0, 0, m_normalSize.width(), m_normalSize.height()}, m_normalSize);
  showFullScreen();
}

void CQtScreen::Place(const CPanelPlacement& place, QSize displaySize) {
  m_place = place;
  scene()->setSceneRect(QRectF(QPointF(0, 0), QSizeF(displaySize)));
  // The view shows the part of the scene that covers the whole screen, so that the transform
  // alone places the display (no alignment of the view's own).
  const QTransform transform = PanelTransform(place, displaySize);
  setSceneRect(transform.inverted().mapRect(QRectF(0, 0, place.nPanelWidth, place.nPanelHeight)));
  setTransform(transform);
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
  const QRectF laid = scene()->sceneRect();
  return ComposePanel(m_place, laid.size().toSize(),
                      [&](QPainter& painter) { scene()->render(&painter, laid, laid); });
}

void CQtScreen::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.drawImage(0, 0, Grab());
}

void CQtScreen::closeEvent(QCloseEvent* pEvent) {
  pEvent->ignore();  // the program decides; its own window gets the request
  if (m_fnClose) m_fnClose();
}
