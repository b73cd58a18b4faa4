// DrawTextW on a QPainter: the device's format flags mapped onto Qt's alignment and wrapping.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include "platform/winuser.h"

class QPainter;

// Draws text into rc, clipped to it: DT_CENTER or DT_RIGHT across (left otherwise), DT_VCENTER
// or DT_BOTTOM down (top otherwise), also for text that DT_WORDBREAK wraps at word boundaries;
// DT_SINGLELINE keeps it on one line. pOpaqueBack fills the text's cells first (OPAQUE mode).
// pPainter null only measures. Returns the text's height in pixels, or with DT_VCENTER or
// DT_BOTTOM the offset from rc.top to the bottom of the text; where the text lies (before
// clipping) in *pInk when given.
int DrawTextInRect(QPainter* pPainter, const QFont& font, const RECT& rc, UINT uFormat,
                   const QString& strText, const QColor& textColor, const QColor* pOpaqueBack,
                   QRect* pInk = nullptr);
