#include "platform/host/qt/widgets.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {

const QColor kCaptionColor(0, 0, 128);
const QColor kTaskBarColor(192, 192, 192);

QFont BoldFont(int nPixels) {
  QFont font(QStringLiteral("Liberation Sans"));
  font.setPixelSize(nPixels);
  font.setBold(true);
  return font;
}

void DrawRaisedBox(QPainter& p, const QRect& rc) {
  p.fillRect(rc, kTaskBarColor);
  p.setPen(Qt::white);
  p.drawLine(rc.topLeft(), rc.topRight());
  p.drawLine(rc.topLeft(), rc.bottomLeft());
  p.setPen(QColor(64, 64, 64));
  p.drawLine(rc.bottomLeft(), rc.bottomRight());
  p.drawLine(rc.topRight(), rc.bottomRight());
}

}  // namespace

CQtClientWidget::CQtClientWidget(IQtWindowHost* pHost, QWidget* pParent)
    : QWidget(pParent), m_pHost(pHost) {
  setFocusPolicy(Qt::ClickFocus);
  // The program paints every pixel of the client area itself (or its default erase does).
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CQtClientWidget::paintEvent(QPaintEvent*) {
  if (m_hWnd) m_pHost->PaintClient(m_hWnd, this);
}

void CQtClientWidget::mousePressEvent(QMouseEvent* pEvent) {
  if (m_hWnd && pEvent->button() == Qt::LeftButton)
    m_pHost->OnMouseDown(m_hWnd, pEvent->position().toPoint());
}

void CQtClientWidget::keyPressEvent(QKeyEvent* pEvent) {
  if (m_hWnd && m_pHost->OnDialogKey(m_hWnd, pEvent->key())) return;
  QWidget::keyPressEvent(pEvent);
}

CQtFrameWidget::CQtFrameWidget(IQtWindowHost* pHost, int nCaptionHeight, bool bCaptionOk,
                               bool bDecorated)
    : QWidget(nullptr, bDecorated ? Qt::Dialog : (Qt::Window | Qt::FramelessWindowHint)),
      m_pHost(pHost),
      m_nCaptionHeight(nCaptionHeight),
      m_bCaptionOk(bCaptionOk),
      m_pClient(new CQtClientWidget(pHost, this)) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  WatchKeys(m_pClient);
}

bool CQtFrameWidget::eventFilter(QObject* pWatched, QEvent* pEvent) {
  const bool bKey = pEvent->type() == QEvent::KeyPress || pEvent->type() == QEvent::KeyRelease;
  if (bKey && m_hWnd && pWatched->isWidgetType() &&
      m_pHost->PreTranslateKey(m_hWnd, static_cast<QWidget*>(pWatched),
                               *static_cast<QKeyEvent*>(pEvent)))
    return true;
  return QWidget::eventFilter(pWatched, pEvent);
}

void CQtFrameWidget::SetHandle(HWND hWnd) {
  m_hWnd = hWnd;
  m_pClient->SetHandle(hWnd);
}

void CQtFrameWidget::paintEvent(QPaintEvent*) {
  if (m_nCaptionHeight <= 0) return;
  QPainter p(this);
  QRect bar(0, 0, width(), m_nCaptionHeight);
  p.fillRect(bar, kCaptionColor);
  p.setFont(BoldFont(m_nCaptionHeight * 3 / 5));
  p.setPen(Qt::white);
  int nBox = m_nCaptionHeight - 4;
  QRect box(width() - nBox - 2, 2, nBox, nBox);
  p.drawText(bar.adjusted(4, 0, -nBox - 6, 0),
             Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, windowTitle());
  DrawRaisedBox(p, box);
  p.setPen(Qt::black);
  p.setFont(BoldFont(nBox * 3 / 5));
  p.drawText(box, Qt::AlignCenter, m_bCaptionOk ? QStringLiteral("OK") : QStringLiteral("×"));
}

void CQtFrameWidget::SetWindowGeometry(const QRect& rect) {
  setGeometry(rect);
  m_pClient->setGeometry(0, m_nCaptionHeight, rect.width(),
                         std::max(0, rect.height() - m_nCaptionHeight));
}

void CQtFrameWidget::resizeEvent(QResizeEvent*) {
  m_pClient->setGeometry(0, m_nCaptionHeight, width(), std::max(0, height() - m_nCaptionHeight));
}

void CQtFrameWidget::closeEvent(QCloseEvent* pEvent) {
  pEvent->ignore();
  if (m_hWnd) m_pHost->OnCloseRequest(m_hWnd);
}

CQtTaskBarWidget::CQtTaskBarWidget()
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CQtTaskBarWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), kTaskBarColor);
  p.setPen(Qt::white);
  p.drawLine(0, 0, width() - 1, 0);
  QRect start(2, 3, 48, std::max(0, height() - 6));
  DrawRaisedBox(p, start);
  p.setPen(Qt::black);
  p.setFont(BoldFont(11));
  p.drawText(start, Qt::AlignCenter, QStringLiteral("Start"));
}
