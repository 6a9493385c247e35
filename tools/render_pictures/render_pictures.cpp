// telvox-render-pictures <source folder> <output folder> <name>...
// Renders <source folder>/<name>.svg to <output folder>/<name>.pix at the drawing's own size and
// to <name>@2x.pix at twice it (encodePixels below). Ends with an error (and writes nothing for that picture) when a
// drawing cannot be read or names a font family that is not installed: a fallback font would
// bake a wrong picture into the program without anyone noticing.
// Runs on Qt's offscreen platform (QT_QPA_PLATFORM=offscreen), without a display.

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QSvgRenderer>

#include <cstdio>

namespace {

void fail(const QString &message)
{
    std::fprintf(stderr, "telvox-render-pictures: %s\n", qPrintable(message));
}

// The font families a drawing asks for, from font-family attributes and style properties.
QStringList fontFamilies(const QByteArray &svg)
{
    static const QRegularExpression attribute(QStringLiteral(R"(font-family\s*[=:]\s*["']?([^"';>]+))"));
    QSet<QString> families;
    auto it = attribute.globalMatch(QString::fromUtf8(svg));
    while (it.hasNext()) {
        const QString list = it.next().captured(1);
        // Only the first family of a list must be there: the rest are the drawing's own fallbacks.
        QString first = list.section(QLatin1Char(','), 0, 0).trimmed();
        first.remove(QLatin1Char('\'')).remove(QLatin1Char('"'));
        if (!first.isEmpty())
            families.insert(first);
    }
    return families.values();
}

bool familyInstalled(const QString &family)
{
    static const QStringList generic{QStringLiteral("serif"), QStringLiteral("sans-serif"), QStringLiteral("monospace")};
    if (generic.contains(family, Qt::CaseInsensitive))
        return true;
    // The font Qt would really use: fontconfig answers any name with some font.
    return QFontInfo(QFont(family)).family().compare(family, Qt::CaseInsensitive) == 0
        || QFontDatabase::families().contains(family, Qt::CaseInsensitive);
}

// The picture as its pixels, ready to draw: an 8-byte mark, the width and the height (32 bits,
// little-endian), then the rows, each pixel a premultiplied ARGB value of 32 bits, little-endian
// (Artwork.cpp reads it). The resource compiler compresses the file; a start then only copies
// the pixels out, where decoding a PNG cost it more than the rest of painting the window.
QByteArray encodePixels(const QImage &premultiplied)
{
    QByteArray out("TVXPIX\0\1", 8);
    const auto put = [&out](quint32 value) {
        for (int shift = 0; shift < 32; shift += 8)
            out.append(char((value >> shift) & 0xFF));
    };
    put(quint32(premultiplied.width()));
    put(quint32(premultiplied.height()));
    out.reserve(out.size() + qsizetype(premultiplied.width()) * premultiplied.height() * 4);
    for (int row = 0; row < premultiplied.height(); ++row) {
        const auto *pixels = reinterpret_cast<const QRgb *>(premultiplied.constScanLine(row));
        for (int col = 0; col < premultiplied.width(); ++col)
            put(pixels[col]);
    }
    return out;
}

bool render(const QString &source, const QString &output, const QString &name)
{
    QFile file(QDir(source).filePath(name + QStringLiteral(".svg")));
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("cannot read %1").arg(file.fileName()));
        return false;
    }
    const QByteArray svg = file.readAll();
    bool fontsThere = true;
    for (const QString &family : fontFamilies(svg)) {
        if (!familyInstalled(family)) {
            fail(QStringLiteral("%1 needs the font \"%2\", which is not installed (scripts/setup installs it)")
                     .arg(file.fileName(), family));
            fontsThere = false;
        }
    }
    if (!fontsThere)
        return false;
    QSvgRenderer drawing(svg);
    const QSize size = drawing.defaultSize();
    if (!drawing.isValid() || size.isEmpty()) {
        fail(QStringLiteral("%1 is not a drawing with a size").arg(file.fileName()));
        return false;
    }
    for (const int ratio : {1, 2}) {
        QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            drawing.render(&p, QRectF(QPointF(0, 0), QSizeF(size * ratio)));
        }
        const QString target = QDir(output).filePath(name + (ratio == 1 ? QString() : QStringLiteral("@2x"))
                                                     + QStringLiteral(".pix"));
        QDir().mkpath(QFileInfo(target).path());
        const QByteArray encoded = encodePixels(image);
        QSaveFile out(target);
        if (!out.open(QIODevice::WriteOnly) || out.write(encoded) != encoded.size() || !out.commit()) {
            fail(QStringLiteral("cannot write %1").arg(target));
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() < 3) {
        fail(QStringLiteral("usage: telvox-render-pictures <source folder> <output folder> <name>..."));
        return 2;
    }
    bool ok = true;
    for (const QString &name : args.mid(2))
        ok = render(args.at(0), args.at(1), name) && ok;
    return ok ? 0 : 1;
}
