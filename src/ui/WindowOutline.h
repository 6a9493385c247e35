#pragma once

#include <QPoint>
#include <QPolygon>
#include <QRegion>

#include <array>

class QScreen;

namespace telvox {

// The main window's outline: 67 vertices in twips (1/1440 inch) in the window's own
// coordinates, from (180, 30) round to (180, 45). It spans x 105..10185 and y 30..7320.
const std::array<QPoint, 67> &windowOutlineTwips();

// The outline in pixels: x divided by the horizontal and y by the vertical twips per pixel,
// each rounded to the nearest integer.
QPolygon windowOutlinePixels(double twipsPerPixelX, double twipsPerPixelY);

// The region of the outline (alternate fill), ready for QWidget::setMask().
QRegion windowOutlineRegion(double twipsPerPixelX, double twipsPerPixelY);

// Twips per logical pixel of a screen (15 at 96 dots per inch); 15 without a screen.
double twipsPerPixelX(const QScreen *screen);
double twipsPerPixelY(const QScreen *screen);

} // namespace telvox
