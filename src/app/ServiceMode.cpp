#include "app/ServiceMode.h"

#include "core/LocalSocket.h"

#include "app/CompanionCommands.h"
#include "app/ServiceControl.h"
#include "app/TelvoxApplication.h"
#include "core/PrivateFiles.h"
#include "core/Settings.h"
#include "core/Texts.h"
#include "platform/telephony/LineBackends.h"
#include "records/MessageLists.h"
#include "records/StatusLog.h"
#include "sim/exchange/Scenario.h"
#include "sim/exchange/ScenarioDriver.h"
#include "sim/exchange/VirtualExchangeBackend.h"
#include "telephony/Dialler.h"
#include "telephony/TelephonyCore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>
#include <QTextStream>
#include <QTimer>

namespace telvox {

MessageResult ServicePrompts::messageBox(const QString &text, MessageIcon, const QString &, MessageButtons buttons)
{
    if (!m_written || !m_written(text))
        m_out << serviceTimeStamp() << ' ' << text << Qt::endl;
    return buttons == MessageButtons::YesNo || buttons == MessageButtons::YesNoCancel ? MessageResult::Yes
                                                                                      : MessageResult::Ok;
}

QString serviceTimeStamp() { return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")); }

QString withoutTimeOfDay(const QString &statusLine)
{
    static const QRegularExpression stamp(QStringLiteral("^\\d{1,2}:\\d{2}:\\d{2}( [AaPp][Mm])? "));
    QString text = statusLine;
    const QRegularExpressionMatch m = stamp.match(text);
    if (m.hasMatch())
        text.remove(0, m.capturedLength());
    return text;
}

ServiceMode::ServiceMode(TelvoxApplication &app, QTextStream &out)
    : m_app(app)
    , m_out(out)
{
}

ServiceMode::~ServiceMode() = default; // the listener removes its socket file

void ServiceMode::attach()
{
    // Only lines added now: the day's earlier lines, read back from its log, are not news.
    QObject::connect(&m_app.statusList(), &StatusListModel::statusAdded, this,
                     [this](int row) { say(withoutTimeOfDay(m_app.statusList().lines().at(row))); });
}

void ServiceMode::say(const QString &text)
{
    m_out << serviceTimeStamp() << ' ' << text << Qt::endl;
    m_recent << text;
    if (m_recent.size() > 32)
        m_recent.removeFirst();
}

bool ServiceMode::listen()
{
    const QString path = serviceSocketPath(m_app.paths(), true);
    if (path.isEmpty())
        return false;
    // The lock is ours, so a socket file left there belongs to a service that is gone.
    auto server = std::make_unique<LocalListener>();
    if (!server->listen(path))
        return false;
    // Another account's program never gets here: the listener closes it unheard.
    QObject::connect(server.get(), &LocalListener::newConnection, this, [this](LocalConnection *connection) {
        QObject::connect(connection, &LocalConnection::readyRead, this, [this, connection] { answer(connection); });
        QObject::connect(connection, &LocalConnection::disconnected, connection, &QObject::deleteLater);
    });
    m_server = std::move(server);
    return true;
}

void ServiceMode::answer(LocalConnection *connection)
{
    if (!connection->canReadLine())
        return;
    const QString request = QString::fromUtf8(connection->readLine()).trimmed();
    connection->write(handle(request).toUtf8());
    connection->close();
    connection->deleteLater();
}

QString ServiceMode::handle(const QString &request)
{
    if (request == QLatin1String("hello"))
        return QStringLiteral("telvox-service %1\n").arg(QCoreApplication::applicationPid());
    if (request == QLatin1String("status"))
        return statusReport();
    if (request.startsWith(QLatin1String("mark-read "))) {
        if (!m_app.isLoaded())
            return QStringLiteral("not loaded\n");
        return markRecordingRead(m_app.messageLists(), request.mid(10)) ? QStringLiteral("ok\n")
                                                                           : QStringLiteral("not unread\n");
    }
    if (request.startsWith(QLatin1String("dial ")) || request.startsWith(QLatin1String("hangup ")))
        return lineCommand(request);
    return QStringLiteral("unknown request\n");
}

// "dial LINE NUMBER" and "hangup LINE": what the dialler's Dial and Drop do, so a call placed
// here is recorded ("O"), listed and logged exactly as one placed in its window. The answer is
// "ok" or "refused: " and why (in English: the companion command puts it into words).
QString ServiceMode::lineCommand(const QString &request)
{
    if (!m_app.isLoaded())
        return QStringLiteral("refused: not loaded\n");
    const QStringList words = request.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    bool ok = false;
    const int line = words.value(1).toInt(&ok);
    if (!ok || line < 0 || line >= kLineCount)
        return QStringLiteral("refused: no such line\n");
    const LineSlot &slot = m_app.telephony().lineTable()[line];
    if (words.first() == QLatin1String("hangup")) {
        if (words.size() != 2)
            return QStringLiteral("refused: hangup LINE\n");
        if (slot.hCall == 0 && slot.recState == RecState::Idle)
            return QStringLiteral("refused: no call\n");
        m_app.dialler().Drop(QString::number(line));
        return QStringLiteral("ok\n");
    }
    // A number or a SIP address: printable, without blanks or control characters.
    const QString number = words.value(2);
    static const QRegularExpression sane(QStringLiteral("^[0-9A-Za-z+*#@:;=._~%!-]{1,128}$"));
    if (words.size() != 3 || !sane.match(number).hasMatch())
        return QStringLiteral("refused: dial LINE NUMBER\n");
    if (slot.hLine == 0)
        return QStringLiteral("refused: line not open\n");
    if (slot.hCall != 0 || slot.recState != RecState::Idle)
        return QStringLiteral("refused: line busy\n");
    return m_app.dialler().Dial(QString::number(line), number) ? QStringLiteral("ok\n")
                                                                : QStringLiteral("refused: the line did not take the call\n");
}

QString ServiceMode::statusReport()
{
    const Texts &texts = m_app.texts();
    QStringList lines;
    lines << texts.LoadText(1673) + QStringLiteral(" (%1)").arg(QCoreApplication::applicationPid());
    lines << texts.LoadText(1674) + QLatin1Char(':');
    if (m_app.isLoaded()) {
        const LineTable &table = m_app.telephony().lineTable();
        for (int n = 0; n < kLineCount; ++n) {
            const LineSlot &slot = table[n];
            int state = 1657; // not open
            if (slot.hLine != 0) {
                state = 1658; // idle
                if (slot.recState == RecState::AwaitingAnswer)
                    state = 1663;
                else if (slot.recState == RecState::Recording)
                    state = slot.mode == CallKind::Message ? 1661 : slot.mode == CallKind::Dialled ? 1664 : 1662;
                else if (slot.playing)
                    state = 1660;
                else if (slot.hCall != 0)
                    state = 1659;
            }
            // The state, then the kind of line and what its backend adds (a SIP line's
            // registration): "Line0: idle (SIP line; registered at ..., last refreshed ...)".
            QStringList about;
            if (const int kind = m_app.system().lineLabelText(); kind != 0 && slot.hLine != 0)
                about << texts.LoadText(kind);
            if (const QString more = m_app.system().lineBackend().lineReport(n, texts); !more.isEmpty() && slot.hLine != 0)
                about << more;
            QString line = texts.LoadText(state);
            if (!about.isEmpty())
                line += QStringLiteral(" (") + about.join(QStringLiteral("; ")) + QLatin1Char(')');
            lines << QStringLiteral("  Line%1: %2").arg(n).arg(line);
        }
    }
    lines << lastCallsReport(m_app.messageLists().store(), texts);
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

bool ServiceMode::loadScenario(const QString &file, QString *error)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read ") + file;
        return false;
    }
    sim::ScenarioError parseError;
    auto scenario = sim::parseScenario(QString::fromUtf8(in.readAll()), &parseError);
    if (!scenario) {
        *error = sim::formatScenarioError(file, parseError);
        return false;
    }
    m_scenario = std::make_unique<sim::Scenario>(std::move(*scenario));
    m_scenarioFolder = QFileInfo(file).absolutePath();
    return true;
}

void ServiceMode::loaded()
{
    if (!m_scenario)
        return;
    // The steps drive the virtual exchange's far ends.
    VirtualExchange *exchange = virtualExchangeOf(&m_app.system().lineBackend());
    if (!exchange) {
        say(QStringLiteral("scenario ignored: the lines are not on the virtual exchange"));
        return;
    }
    // The steps' times count from now, in real time.
    for (const sim::ScenarioStep &step : m_scenario->steps) {
        QTimer::singleShot(static_cast<int>(step.atMs), this, [this, exchange, &step] {
            using A = sim::ScenarioStep::Action;
            QString error;
            bool done = true;
            if (sim::isFarEndStep(step)) {
                done = sim::applyFarEndStep(*exchange, step, m_scenarioFolder, &error);
            } else if (step.line < kLineCount) {
                if (step.action == A::Dial)
                    done = m_app.dialler().Dial(QString::number(step.line), step.text);
                else if (step.action == A::ClickAnswer)
                    m_app.telephony().cmdAnswer_Click(step.line);
                else
                    m_app.telephony().cmdHangup_Click(step.line);
            }
            if (!done)
                say(QStringLiteral("scenario: line %1: %2").arg(step.pos.line).arg(error));
        });
    }
}

} // namespace telvox
