#include "ui/Artwork.h"

#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QResource>
#include <QSysInfo>
#include <QtEndian>

#include <cstring>

namespace telvox {

namespace {

QString resource(const QString &name, const char *suffix)
{
    return QStringLiteral(":/telvox/ui/") + name + QLatin1String(suffix);
}

// A picture as telvox-render-pictures writes it: an 8-byte mark, the width and the height
// (32 bits, little-endian), then premultiplied ARGB pixels of 32 bits, little-endian, row by
// row. The resource compiler keeps it compressed; reading it only copies the pixels out.
class PixelResource
{
public:
    explicit PixelResource(const QString &file)
    {
        const QResource resource(file);
        if (!resource.isValid())
            return;
        // The header alone, without unpacking the pixels, when the data is stored as it is.
        m_data = resource.compressionAlgorithm() == QResource::NoCompression
            ? QByteArray::fromRawData(reinterpret_cast<const char *>(resource.data()), resource.size())
            : resource.uncompressedData();
        if (m_data.size() < kHeader || !m_data.startsWith(QByteArrayView("TVXPIX\0\1", 8)))
            return;
        const QSize size(int(word(8)), int(word(12)));
        if (size.isEmpty() || m_data.size() != kHeader + qsizetype(size.width()) * size.height() * 4)
            return;
        m_size = size;
    }

    QSize size() const { return m_size; }
    QImage read() const
    {
        if (m_size.isEmpty())
            return {};
        QImage image(m_size, QImage::Format_ARGB32_Premultiplied);
        if (image.isNull())
            return {};
        const char *pixels = m_data.constData() + kHeader;
        const qsizetype rowBytes = qsizetype(m_size.width()) * 4;
        for (int row = 0; row < m_size.height(); ++row) {
            uchar *line = image.scanLine(row);
            std::memcpy(line, pixels + row * rowBytes, size_t(rowBytes));
            if constexpr (QSysInfo::ByteOrder == QSysInfo::BigEndian) {
                auto *values = reinterpret_cast<quint32 *>(line);
                for (int col = 0; col < m_size.width(); ++col)
                    values[col] = qFromLittleEndian(values[col]);
            }
        }
        return image;
    }

private:
    static constexpr qsizetype kHeader = 16;
    quint32 word(qsizetype at) const { return qFromLittleEndian<quint32>(m_data.constData() + at); }

    QByteArray m_data;
    QSize m_size;
};

} // namespace

QSize artworkSize(const QString &name)
{
    return PixelResource(resource(name, ".pix")).size();
}

QImage artworkImage(const QString &name, int ratio)
{
    QImage image = PixelResource(resource(name, ratio == 1 ? ".pix" : "@2x.pix")).read();
    image.setDevicePixelRatio(ratio);
    return image;
}

QPixmap artworkPixmap(const QString &name, QSize size, qreal dpr)
{
    const QSize pixels(qRound(size.width() * dpr), qRound(size.height() * dpr));
    if (name.isEmpty() || pixels.isEmpty())
        return {};
    QImage image;
    for (const char *suffix : {".pix", "@2x.pix"}) {
        const PixelResource rendering(resource(name, suffix));
        const QSize available = rendering.size();
        if (available.isValid() && available.width() >= pixels.width() && available.height() >= pixels.height()) {
            image = rendering.read();
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
    // Reading the size unpacks the whole picture when it is stored compressed.
    if (!m_drawingSize.isValid())
        m_drawingSize = artworkSize(m_artwork.name());
    return m_drawingSize.isValid() ? m_drawingSize : QWidget::sizeHint();
}

void ArtworkWidget::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.drawPixmap(0, 0, m_artwork.pixmap(size(), devicePixelRatioF()));
}

} // namespace telvox
