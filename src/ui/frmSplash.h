#pragma once

#include "ui/Artwork.h"

#include <QWidget>

namespace telvox {

class Texts;

// The splash window shown while Telvox starts (never on the very first start): the logo,
// the product name, the platform line and the version on a painted panel.
class frmSplash final : public QWidget
{
    Q_OBJECT
public:
    explicit frmSplash(const Texts &texts, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_title;
    QString m_tagline;
    Artwork m_logo{QStringLiteral("logo")};
};

} // namespace telvox
