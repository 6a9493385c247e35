#include "ui/frmAbout.h"
#include "ui/ScreenFit.h"

#include "ui/DesktopShell.h"
#include "ui/HotLabel.h"
#include "ui/ProductInfo.h"

#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSvgWidget>
#include <QUrlQuery>

namespace telvox {

frmAbout::frmAbout(DesktopShell &shell, QWidget *parent)
    : QDialog(parent)
    , m_shell(shell)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About ") + product::title());

    auto *frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("Frame1"));
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setCursor(Qt::ArrowCursor);
    auto *logo = new QSvgWidget(QStringLiteral(":/telvox/ui/logo.svg"), frame);
    logo->setObjectName(QStringLiteral("imgLogo"));
    logo->setFixedSize(72, 72);
    auto *title = new QLabel(product::title(), frame);
    title->setObjectName(QStringLiteral("lblTitle"));
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 2);
    big.setBold(true);
    title->setFont(big);
    auto *version = new QLabel(QStringLiteral("Version: ") + product::version(), frame);
    version->setObjectName(QStringLiteral("lblVersion"));
    auto *label5 = new QLabel(frame);
    label5->setObjectName(QStringLiteral("Label5"));
    label5->setText(QStringLiteral("Telephone call recorder and answering machine for Linux.\n"
                                   "Records calls on up to four voice-modem lines."));
    label5->setWordWrap(true);
    label5->setCursor(Qt::ArrowCursor);

    auto link = [frame](const char *name, const QString &text) {
        auto *l = new HotLabel(QString::fromLatin1(name), QString(), frame);
        l->setText(text);
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, p.color(QPalette::Link));
        l->setPalette(p);
        QFont f = l->font();
        f.setUnderline(true);
        l->setFont(f);
        l->setAlignment(Qt::AlignVCenter | Qt::AlignLeft);
        l->setMinimumHeight(l->fontMetrics().height() + 6);
        return l;
    };
    HotLabel *mail = link("Label2", product::mailAddress());
    HotLabel *web = link("Label3", product::webPage());

    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);

    auto *inner = new QGridLayout(frame);
    inner->addWidget(logo, 0, 0, 3, 1, Qt::AlignTop);
    inner->addWidget(title, 0, 1);
    inner->addWidget(version, 1, 1);
    inner->addWidget(label5, 2, 1);
    inner->addWidget(mail, 3, 1);
    inner->addWidget(web, 4, 1);
    inner->setColumnStretch(1, 1);
    auto *outer = new QGridLayout(this);
    outer->addWidget(frame, 0, 0, 1, 2);
    outer->addWidget(ok, 1, 1);
    outer->setColumnStretch(0, 1);
    resize(sizeHint().expandedTo(QSize(420, 240)));
    fitOnScreen(*this);

    connect(mail, &HotLabel::clicked, this, &frmAbout::Label2_Click);
    connect(web, &HotLabel::clicked, this, &frmAbout::Label3_Click);
    connect(ok, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
}

void frmAbout::Label2_Click()
{
    QUrl mail(QStringLiteral("mailto:") + product::mailAddress());
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("subject"), QStringLiteral("Help"));
    mail.setQuery(query);
    m_shell.openUrl(mail);
}

void frmAbout::Label3_Click() { m_shell.openUrl(QUrl(product::webPage())); }

void frmAbout::cmdOK_Click() { accept(); }

} // namespace telvox
