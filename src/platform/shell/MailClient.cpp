#include "platform/shell/MailClient.h"

#include <QProcess>

namespace telvox {

int XdgEmailClient::composeWithAttachment(const QString &subject, const QString &attachmentPath)
{
    QProcess process;
    process.setProgram(m_program);
    QStringList arguments{QStringLiteral("--subject"), subject};
    if (!attachmentPath.isEmpty())
        arguments << QStringLiteral("--attach") << attachmentPath;
    process.setArguments(arguments);
    process.start();
    if (!process.waitForStarted(10000))
        return 3;
    // xdg-email returns once the mail program has its compose window open.
    if (!process.waitForFinished(120000)) {
        process.kill();
        return 1;
    }
    if (process.exitStatus() != QProcess::NormalExit)
        return 1;
    return process.exitCode();
}

} // namespace telvox
