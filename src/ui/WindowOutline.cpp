#include "ui/WindowOutline.h"

#include <QScreen>

namespace telvox {

const std::array<QPoint, 67> &windowOutlineTwips()
{
    static const std::array<QPoint, 67> outline = {{
        {180, 30},    {3195, 30},   {3195, 45},   {3225, 45},   {3225, 60},   {3255, 60},   {3465, 255},
        {8895, 255},  {8895, 270},  {8910, 270},  {9120, 420},  {9150, 435},  {9165, 450},  {9195, 465},
        {10065, 855}, {10095, 870}, {10125, 885}, {10140, 900}, {10155, 915}, {10170, 930}, {10185, 945},
        {10185, 5220}, {10170, 5220}, {10170, 5250}, {10155, 5250}, {10155, 5280}, {10140, 5280},
        {10140, 5295}, {10125, 5295}, {8220, 7125}, {8145, 7200}, {8130, 7215}, {8115, 7230}, {8100, 7245},
        {8070, 7260}, {8040, 7275}, {8010, 7290}, {7965, 7305}, {7920, 7320}, {5250, 7320}, {5205, 7320},
        {5175, 7310}, {5140, 7300}, {5070, 7260}, {4800, 6990}, {4770, 6975}, {4755, 6960}, {4725, 6945},
        {4695, 6930}, {4650, 6915}, {4605, 6900}, {4560, 6885}, {165, 6885},  {150, 6885},  {150, 6870},
        {135, 6870},  {135, 6855},  {120, 6855},  {120, 6825},  {105, 6825},  {105, 120},   {120, 120},
        {120, 90},    {135, 75},    {150, 60},    {165, 45},    {180, 45},
    }};
    return outline;
}

QPolygon windowOutlinePixels(double twipsPerPixelX, double twipsPerPixelY)
{
    QPolygon polygon;
    polygon.reserve(67);
    for (const QPoint &v : windowOutlineTwips())
        polygon << QPoint(qRound(v.x() / twipsPerPixelX), qRound(v.y() / twipsPerPixelY));
    return polygon;
}

QRegion windowOutlineRegion(double twipsPerPixelX, double twipsPerPixelY)
{
    return QRegion(windowOutlinePixels(twipsPerPixelX, twipsPerPixelY), Qt::OddEvenFill);
}

double twipsPerPixelX(const QScreen *screen)
{
    const double dpi = screen ? screen->logicalDotsPerInchX() : 96.0;
    return dpi > 0 ? 1440.0 / dpi : 15.0;
}

double twipsPerPixelY(const QScreen *screen)
{
    const double dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    return dpi > 0 ? 1440.0 / dpi : 15.0;
}

} // namespace telvox
