#pragma once

#include "ui/AppRig.h"
#include "ui/frmMain.h"
#include "ui/frmTip.h"
#include "ui/frmVirtualExchange.h"

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QTimer>

#include <functional>

namespace telvox::test {

inline void settle()
{
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

// Starts the program in `rig` and opens every window the way a user reaches it, with the
// parents the program gives it; `visit` sees each one while it is shown. The ring rules and
// the greeting recorder are opened from the setup, the time editor from the ring rules, the
// phonebook editor and the dialled numbers from the dialler.
inline void openEveryWindow(AppRig &rig, const std::function<void(QWidget &)> &visit)
{
    // The windows a modal one opens run their own event loops: visited from the first turn.
    const auto visitNextModal = [&visit] {
        QTimer::singleShot(0, [&visit] {
            if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                visit(*d);
                d->reject();
            }
        });
    };
    rig.modal.answer = [&visit, visitNextModal](QDialog &d) {
        visit(d);
        const auto press = [&d](std::initializer_list<const char *> names) {
            for (const char *name : names)
                if (auto *b = d.findChild<QPushButton *>(QString::fromLatin1(name)); b && b->isEnabled())
                    b->click();
        };
        if (d.objectName() == QLatin1String("frmSetup"))
            press({"cmdRings", "Command1"});
        else if (d.objectName() == QLatin1String("frmSetRings")) {
            visitNextModal();
            press({"cmdAddEntry"});
        } else if (d.objectName() == QLatin1String("frmDialOut"))
            press({"cmdAdd", "cmdRecords"});
    };
    rig.app.Main();
    for (QWidget *top : QApplication::topLevelWidgets())
        if (top->objectName() == QLatin1String("frmSplash") && top->isVisible())
            visit(*top);
    rig.loop.advance(2600);
    settle();
    frmMain &main = *rig.app.mainWindow();
    visit(main);
    frmTip tip(rig.app.texts(), &main); // the first-start notice, as the program parents it
    visit(tip);
    tip.hide();
    rig.app.showSetup();
    rig.app.recordPrompt(QStringLiteral("Msg.wav"), false);
    rig.app.showBackup();
    rig.app.showDialOut();
    for (const char *command : {"cmdBrows", "cmdHelp", "cmdLog"}) {
        if (QLatin1String(command) == QLatin1String("cmdLog"))
            visitNextModal(); // the log viewer runs on its own event loop
        main.findChild<QPushButton *>(QString::fromLatin1(command))->click();
    }
    visit(*rig.app.showVirtualExchange());
    for (QWidget *top : QApplication::topLevelWidgets())
        if (top->objectName() == QLatin1String("frmPopCallID"))
            visit(*top);
}

} // namespace telvox::test
