#pragma once

#include <QImage>
#include <QPixmap>
#include <QString>
#include <QWidget>

namespace telvox {

// The windows' pictures (resources/ui/<name>.svg) come rendered at build time as
// :/telvox/ui/<name>.pix at the drawing's size and <name>@2x.pix at twice it (premultiplied
// pixels, compressed by the resource compiler), so that a start parses and draws no SVG and
// decodes no image. artworkPixmap() gives a picture at `size` device-independent pixels
// on a screen of device pixel ratio `dpr`: the 1x or 2x rendering as it is when it fits
// exactly, otherwise the smallest one at least as large, scaled down smoothly (125 %, 150 %,
// 175 %, or a face shrunk to fit a small screen). Only beyond twice the drawing's size is the
// drawing itself rendered, through Qt's SVG image plugin, loaded then and not before.
// An unknown name gives a null pixmap.
QPixmap artworkPixmap(const QString &name, QSize size, qreal dpr);
// The drawing's own size (its 1x rendering's), or an invalid size for an unknown name.
QSize artworkSize(const QString &name);
// The rendering at `ratio` (1 or 2) as it was built, of that device pixel ratio; null for an
// unknown name.
QImage artworkImage(const QString &name, int ratio);

// One picture kept at the size and ratio it was last asked for, remade when either changes.
class Artwork
{
public:
    explicit Artwork(QString name = QString()) : m_name(std::move(name)) {}

    const QString &name() const { return m_name; }
    void setName(const QString &name);
    bool isNull() const { return m_name.isEmpty(); }
    // The picture at `size` (device-independent pixels) for a device of ratio `dpr`.
    const QPixmap &pixmap(QSize size, qreal dpr);

private:
    QString m_name;
    QPixmap m_pixmap;
    QSize m_size;
    qreal m_dpr = 0;
};

// A widget that shows one picture filling it (the logos).
class ArtworkWidget final : public QWidget
{
    Q_OBJECT
public:
    ArtworkWidget(const QString &name, QWidget *parent);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Artwork m_artwork;
    mutable QSize m_drawingSize; // read once: layouts ask for the size hint again and again
};

} // namespace telvox
