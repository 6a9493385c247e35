#include "ui/ModalRunner.h"

#include <QDialog>
#include <QGuiApplication>
#include <QTextStream>

namespace telvox {

int WidgetModalRunner::runModal(QDialog &dialog)
{
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        QTextStream(stderr) << dialog.windowTitle() << ": shown without a screen" << Qt::endl;
        if (auto *answer = dynamic_cast<HeadlessAnswer *>(&dialog))
            answer->answerHeadless();
        else
            dialog.reject();
        return dialog.result();
    }
    return dialog.exec();
}

} // namespace telvox
