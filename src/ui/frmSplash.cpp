#include "ui/frmSplash.h"

#include "core/Texts.h"
#include "ui/ProductInfo.h"

#include <QLinearGradient>
#include <QPainter>

namespace telvox {

frmSplash::frmSplash(const Texts &texts, QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
    , m_title(texts.LoadText(1004))
    , m_tagline(texts.LoadText(1304))
{
    setObjectName(QStringLiteral("frmSplash"));
    setFixedSize(460, 250);
}

void frmSplash::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient body(0, 0, width() * 0.3, height());
    body.setColorAt(0, QColor(0x1b, 0x4d, 0x78));
    body.setColorAt(1, QColor(0x0b, 0x22, 0x38));
    p.fillRect(rect(), body);
    // The frame, and an amber band along the bottom.
    p.setPen(QPen(QColor(0x8c, 0xc6, 0xf2), 2));
    p.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    p.fillRect(QRect(2, height() - 10, width() - 4, 8), QColor(0xe8, 0x8a, 0x25));

    p.drawPixmap(28, 50, m_logo.pixmap(QSize(120, 120), devicePixelRatioF()));
    p.setPen(Qt::white);
    QFont f = font();
    f.setPixelSize(46);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRect(170, 50, 270, 60), Qt::AlignLeft | Qt::AlignVCenter, m_title);
    f.setPixelSize(14);
    f.setBold(false);
    p.setFont(f);
    p.setPen(QColor(0xcf, 0xe6, 0xfb));
    p.drawText(QRect(172, 110, 270, 40), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, m_tagline);
    f.setPixelSize(11);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    p.setFont(f);
    p.drawText(QRect(172, 160, 270, 20), Qt::AlignLeft, QStringLiteral("FOR LINUX DESKTOPS"));
    p.drawText(QRect(172, 180, 270, 20), Qt::AlignLeft, QStringLiteral("VERSION ") + product::version());
}

} // namespace telvox
