#pragma once

#include "platform/shell/UserPrompts.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QTextStream;

namespace telvox {

class LocalConnection;
class LocalListener;

class TelvoxApplication;
namespace sim {
struct Scenario;
}

// Message boxes of the service: nobody can answer them, so each is written down as a status
// line would be and answered with its first button. A message that was just written as a
// status line (an alarm is both) is not written a second time.
class ServicePrompts final : public UserPrompts
{
public:
    explicit ServicePrompts(QTextStream &out)
        : m_out(out)
    {
    }
    MessageResult messageBox(const QString &text, MessageIcon icon, const QString &title,
                             MessageButtons buttons) override;
    void setAlreadyWritten(std::function<bool(const QString &)> written) { m_written = std::move(written); }

private:
    QTextStream &m_out;
    std::function<bool(const QString &)> m_written;
};

// The time stamp of the service's output lines: local date and time.
QString serviceTimeStamp();
// A status line without the time of day it begins with ("9:00:00 AM Line0 Ring..." gives
// "Line0 Ring...").
QString withoutTimeOfDay(const QString &statusLine);

// `telvox --service`: the whole program without windows. Every new status line goes to `out`
// with the date and time; the control socket answers the companion commands; an optional
// scenario file makes the virtual exchange's far ends call in real time.
class ServiceMode final : public QObject
{
public:
    ServiceMode(TelvoxApplication &app, QTextStream &out);
    ~ServiceMode() override;

    // Starts printing the status lines (call before the program loads).
    void attach();
    // Opens the control socket (once the single-instance lock is held). False when it cannot.
    bool listen();
    // Reads the scenario whose far-end and dialler steps are carried out once the program has
    // loaded. False (with `error`) when it cannot be read.
    bool loadScenario(const QString &file, QString *error);
    // The program has loaded: the scenario's steps start now (when the virtual exchange
    // carries the lines; otherwise it says the scenario is ignored).
    void loaded();
    // Writes a line with the time stamp.
    void say(const QString &text);
    // Whether `text` is one of the last lines written.
    bool saidRecently(const QString &text) const { return m_recent.contains(text); }

    // What `telvox --status` prints: the lines and what each does, the last calls.
    QString statusReport();

private:
    void answer(LocalConnection *connection);
    QString handle(const QString &request);
    QString lineCommand(const QString &request);

    TelvoxApplication &m_app;
    QTextStream &m_out;
    std::unique_ptr<LocalListener> m_server;
    std::unique_ptr<sim::Scenario> m_scenario;
    QString m_scenarioFolder;
    QStringList m_recent; // the last lines written, the newest last
};

} // namespace telvox
