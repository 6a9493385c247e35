#pragma once

#include <QWidget>

namespace telvox {

class Texts;

// The splash window shown while Telvox starts (never on the very first start).
class frmSplash final : public QWidget
{
    Q_OBJECT
public:
    explicit frmSplash(const Texts &texts, QWidget *parent = nullptr);
};

} // namespace telvox
