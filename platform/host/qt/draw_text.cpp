#include "platform/host/qt/draw_text.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

namespace {

int AlignmentFlags(UINT uFormat) {
  int nFlags = 0;
  if (uFormat & DT_RIGHT)
    nFlags |= Qt::AlignRight;
  else if (uFormat & DT_CENTER)
    nFlags |= Qt::AlignHCenter;
  else
    nFlags |= Qt::AlignLeft;
  if (uFormat & DT_BOTTOM)
    nFlags |= Qt::AlignBottom;
  else if (uFormat & DT_VCENTER)
    nFlags |= Qt::AlignVCenter;
  else
    nFlags |= Qt::AlignTop;
  if (uFormat & DT_SINGLELINE)
    nFlags |= Qt::TextSingleLine;
  else if (uFormat & DT_WORDBREAK)
    nFlags |= Qt::TextWordWrap;
  return nFlags;
}

}  // namespace

int DrawTextInRect(QPainter* pPainter, const QFont& font, const RECT& rc, UINT uFormat,
                   const QString& strText, const QColor& textColor, const QColor* pOpaqueBack,
                   QRect* pInk) {
  // An inverted rectangle lays out in no room and shows nothing, as on the device.
  QRect rect(rc.left, rc.top, std::max<LONG>(0, rc.right - rc.left),
             std::max<LONG>(0, rc.bottom - rc.top));
  int nFlags = AlignmentFlags(uFormat);
  QRect bound = QFontMetrics(font).boundingRect(rect, nFlags, strText);
  if (pInk) *pInk = bound;
  if (pPainter && !rect.isEmpty()) {
    pPainter->save();
    pPainter->setClipRect(rect, Qt::IntersectClip);
    if (pOpaqueBack) pPainter->fillRect(bound, *pOpaqueBack);
    pPainter->setFont(font);
    pPainter->setPen(textColor);
    pPainter->drawText(rect, nFlags, strText);
    pPainter->restore();
  }
  if (uFormat & (DT_VCENTER | DT_BOTTOM)) return bound.bottom() + 1 - rc.top;
  return bound.height();
}
