#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace telvox {

class Texts;

// The About window: title, version and what the program does, in the interface language.
class frmAbout final : public QDialog
{
    Q_OBJECT
public:
    explicit frmAbout(const Texts &texts, QWidget *parent = nullptr);

    void cmdOK_Click();
};

} // namespace telvox
