#include "ui/frmSplash.h"

#include "core/Texts.h"

#include <QLabel>
#include <QVBoxLayout>

namespace telvox {

frmSplash::frmSplash(const Texts &texts, QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmSplash"));
    auto *title = new QLabel(texts.LoadText(1004), this);
    QFont big = title->font();
    big.setPointSize(big.pointSize() * 3);
    big.setBold(true);
    title->setFont(big);
    title->setAlignment(Qt::AlignCenter);
    auto *version = new QLabel(QStringLiteral("2.4.5"), this);
    version->setAlignment(Qt::AlignCenter);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addWidget(version);
    resize(420, 220);
}

} // namespace telvox
