// The display's picture on its panel: drawn upright at the panel's scale, so that texts and lines
// have the panel's resolution, then turned by whole quarter turns (no pixel resampled) and
// centred on the desktop colour.
#pragma once

#include <QImage>
#include <QTransform>
#include <functional>

#include "platform/host/qt/simulated_display.h"

class QPainter;

// The panel's pixels: fnDraw paints the display, upright and sized displaySize in its current
// orientation, in display pixels through a painter already scaled.
QImage ComposePanel(const CPanelPlacement& place, QSize displaySize,
                    const std::function<void(QPainter&)>& fnDraw);
// Display pixels to panel pixels, as ComposePanel lays them.
QTransform PanelTransform(const CPanelPlacement& place, QSize displaySize);
