#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace telvox {

class DesktopShell;

// The About window: title, version, and two links (mail and web page) opened by the desktop.
class frmAbout final : public QDialog
{
    Q_OBJECT
public:
    frmAbout(DesktopShell &shell, QWidget *parent = nullptr);

    void Label2_Click(); // mail
    void Label3_Click(); // web page
    void cmdOK_Click();

private:
    DesktopShell &m_shell;
};

} // namespace telvox
