// The pictures rendered while building (tools/render_pictures) and how the windows pick them.

#include "ui/Artwork.h"

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTest>

using namespace telvox;

namespace {

QImage drawn(const QString &name, QSize pixels)
{
    QSvgRenderer svg(QStringLiteral(":/telvox/ui/%1.svg").arg(name));
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    svg.render(&p, QRectF(QPointF(0, 0), QSizeF(pixels)));
    return image;
}

// The mean difference per channel (0-255) of two pictures of the same size.
double difference(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col)
            sum += qAbs(qRed(p[col]) - qRed(q[col])) + qAbs(qGreen(p[col]) - qGreen(q[col]))
                 + qAbs(qBlue(p[col]) - qBlue(q[col])) + qAbs(qAlpha(p[col]) - qAlpha(q[col]));
    }
    return sum / (4.0 * x.width() * x.height());
}

} // namespace

class tst_Artwork : public QObject
{
    Q_OBJECT
private slots:
    // Every picture a start shows, each language's background among them, is there at 1x and
    // 2x, at the drawing's size times the ratio, and is the drawing (not another one, not a
    // blank); a picture wanted at exactly that size comes out as it is.
    void renderingsOfEveryPicture()
    {
        for (const char *name : {"imgBG", "imgBGcn", "imgBGbig5", "logo", "check", "setup", "log", "backup", "search",
                                 "dial", "help", "exit", "min", "speaker", "play", "pause", "stop"}) {
            const QString picture = QLatin1String(name);
            const QSize size = QSvgRenderer(QStringLiteral(":/telvox/ui/%1.svg").arg(picture)).defaultSize();
            QCOMPARE(artworkSize(picture), size);
            for (const int ratio : {1, 2}) {
                const QImage built = artworkImage(picture, ratio);
                QCOMPARE(built.size(), size * ratio);
                const QPixmap pixmap = artworkPixmap(picture, size, ratio);
                QCOMPARE(pixmap.devicePixelRatio(), qreal(ratio));
                QCOMPARE(pixmap.toImage().convertToFormat(QImage::Format_ARGB32),
                         built.convertToFormat(QImage::Format_ARGB32));
                QVERIFY2(difference(built, drawn(picture, size * ratio)) < 1.0, name);
                QImage blank(built.size(), QImage::Format_ARGB32_Premultiplied);
                blank.fill(Qt::transparent);
                QVERIFY2(difference(built, blank) > 1.0, name);
            }
        }
    }

    // At 150 % the 2x rendering is scaled down, which is sharper than the 1x one scaled up;
    // beyond 2x the drawing itself is rendered; an unknown picture is none.
    void ratiosBetweenAndBeyond()
    {
        const QSize logical(680, 489);
        const QPixmap at150 = artworkPixmap(QStringLiteral("imgBG"), logical, 1.5);
        QCOMPARE(at150.size(), QSize(1020, 734));
        QCOMPARE(at150.devicePixelRatio(), 1.5);
        const QImage truth = drawn(QStringLiteral("imgBG"), at150.size());
        const QImage upscaled = artworkImage(QStringLiteral("imgBG"), 1)
                                    .scaled(at150.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QVERIFY(difference(at150.toImage(), truth) < difference(upscaled, truth));

        const QPixmap at3 = artworkPixmap(QStringLiteral("logo"), QSize(128, 128), 3);
        QCOMPARE(at3.size(), QSize(384, 384));
        QVERIFY(difference(at3.toImage(), drawn(QStringLiteral("logo"), at3.size())) < 1.0);

        QVERIFY(artworkPixmap(QStringLiteral("nothing"), QSize(10, 10), 1).isNull());
        QVERIFY(!artworkSize(QStringLiteral("nothing")).isValid());
    }

    // A picture kept for a size is made again for another size or ratio, and a new name
    // drops the earlier picture.
    void keptPictureFollowsSizeRatioAndName()
    {
        Artwork art(QStringLiteral("logo"));
        QCOMPARE(art.pixmap(QSize(56, 56), 1).size(), QSize(56, 56));
        QCOMPARE(art.pixmap(QSize(56, 56), 2).size(), QSize(112, 112));
        QCOMPARE(art.pixmap(QSize(72, 72), 2).size(), QSize(144, 144));
        const QImage logo = art.pixmap(QSize(24, 24), 1).toImage();
        art.setName(QStringLiteral("help"));
        QVERIFY(art.pixmap(QSize(24, 24), 1).toImage() != logo);
    }
};

QTEST_MAIN(tst_Artwork)
#include "tst_Artwork.moc"
