#include "ui/frmAbout.h"
#include "ui/Artwork.h"
#include "ui/ScreenFit.h"

#include "core/Texts.h"
#include "ui/ProductInfo.h"

#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace telvox {

namespace {
constexpr int kAbout = 1711;
constexpr int kVersion = 1712;
} // namespace

frmAbout::frmAbout(const Texts &texts, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(texts.LoadText(kAbout).arg(product::title()));

    auto *frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("Frame1"));
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setCursor(Qt::ArrowCursor);
    auto *logo = new ArtworkWidget(QStringLiteral("logo"), frame);
    logo->setObjectName(QStringLiteral("imgLogo"));
    logo->setFixedSize(72, 72);
    auto *title = new QLabel(product::title(), frame);
    title->setObjectName(QStringLiteral("lblTitle"));
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 2);
    big.setBold(true);
    title->setFont(big);
    auto *version = new QLabel(texts.LoadText(kVersion).arg(product::version()), frame);
    version->setObjectName(QStringLiteral("lblVersion"));
    auto *label5 = new QLabel(frame);
    label5->setObjectName(QStringLiteral("Label5"));
    label5->setText(texts.LoadText(1304));
    label5->setWordWrap(true);
    label5->setCursor(Qt::ArrowCursor);

        auto *ok = new QPushButton(texts.LoadText(1037), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);

    auto *inner = new QGridLayout(frame);
    inner->addWidget(logo, 0, 0, 3, 1, Qt::AlignTop);
    inner->addWidget(title, 0, 1);
    inner->addWidget(version, 1, 1);
    inner->addWidget(label5, 2, 1);
    inner->setColumnStretch(1, 1);
    auto *outer = new QGridLayout(this);
    outer->addWidget(frame, 0, 0, 1, 2);
    outer->addWidget(ok, 1, 1);
    outer->setColumnStretch(0, 1);
    resize(sizeHint().expandedTo(QSize(420, 240)));
    fitOnScreen(*this);

    connect(ok, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
}

void frmAbout::cmdOK_Click() { accept(); }

} // namespace telvox
