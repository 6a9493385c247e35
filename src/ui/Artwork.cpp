#include "ui/Artwork.h"

#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QResource>
#include <QSysInfo>

#include <png.h>

namespace telvox {

namespace {

QString resource(const QString &name, const char *suffix)
{
    return QStringLiteral(":/telvox/ui/") + name + QLatin1String(suffix);
}

// Our own PNGs are read with libpng (which Qt's own PNG reader uses too) rather than through
// QImageReader: that one lists, and for a format it is told loads, every image format plugin
// (SVG among them) before it settles on its built-in PNG reader.
class PngResource
{
public:
    explicit PngResource(const QString &file)
        : m_data(QResource(file).uncompressedData())
    {
        m_image.version = PNG_IMAGE_VERSION;
        m_ok = !m_data.isEmpty()
            && png_image_begin_read_from_memory(&m_image, m_data.constData(), size_t(m_data.size())) != 0;
    }
    ~PngResource() { png_image_free(&m_image); }
    PngResource(const PngResource &) = delete;
    PngResource &operator=(const PngResource &) = delete;

    QSize size() const { return m_ok ? QSize(int(m_image.width), int(m_image.height)) : QSize(); }
    QImage read()
    {
        if (!m_ok)
            return {};
        // B, G, R, A in memory is QImage's ARGB32 on a little-endian machine.
        m_image.format = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? PNG_FORMAT_BGRA : PNG_FORMAT_ARGB;
        QImage image(size(), QImage::Format_ARGB32);
        if (image.isNull()
            || png_image_finish_read(&m_image, nullptr, image.bits(), png_int_32(image.bytesPerLine()), nullptr) == 0)
            return {};
        m_ok = false; // read once
        return image;
    }

private:
    QByteArray m_data;
    png_image m_image{};
    bool m_ok = false;
};

} // namespace

QSize artworkSize(const QString &name)
{
    return PngResource(resource(name, ".png")).size();
}

QPixmap artworkPixmap(const QString &name, QSize size, qreal dpr)
{
    const QSize pixels(qRound(size.width() * dpr), qRound(size.height() * dpr));
    if (name.isEmpty() || pixels.isEmpty())
        return {};
    QImage image;
    for (const char *suffix : {".png", "@2x.png"}) {
        // The header alone says the size; only the rendering used is decoded.
        PngResource png(resource(name, suffix));
        const QSize available = png.size();
        if (available.isValid() && available.width() >= pixels.width() && available.height() >= pixels.height()) {
            image = png.read();
            break;
        }
    }
    if (image.isNull()) {
        // Larger than the 2x rendering: drawn from the SVG at the size asked for.
        QImageReader drawing(resource(name, ".svg"), "svg");
        drawing.setScaledSize(pixels);
        image = drawing.read();
        if (image.isNull())
            return {};
    }
    if (image.size() != pixels)
        image = image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPixmap pixmap = QPixmap::fromImage(std::move(image));
    pixmap.setDevicePixelRatio(dpr);
    return pixmap;
}

void Artwork::setName(const QString &name)
{
    if (name == m_name)
        return;
    m_name = name;
    m_pixmap = QPixmap(); // the earlier picture is not kept
    m_size = QSize();
}

const QPixmap &Artwork::pixmap(QSize size, qreal dpr)
{
    if (size != m_size || !qFuzzyCompare(dpr, m_dpr)) {
        m_pixmap = QPixmap(); // freed before the next one is made
        m_pixmap = artworkPixmap(m_name, size, dpr);
        m_size = size;
        m_dpr = dpr;
    }
    return m_pixmap;
}

ArtworkWidget::ArtworkWidget(const QString &name, QWidget *parent)
    : QWidget(parent)
    , m_artwork(name)
{
}

QSize ArtworkWidget::sizeHint() const
{
    const QSize drawing = artworkSize(m_artwork.name());
    return drawing.isValid() ? drawing : QWidget::sizeHint();
}

void ArtworkWidget::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.drawPixmap(0, 0, m_artwork.pixmap(size(), devicePixelRatioF()));
}

} // namespace telvox
