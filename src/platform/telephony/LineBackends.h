#pragma once

#include "platform/telephony/LineSettingsPage.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace telvox {

class EventLoop;
class SettingsStore;
class TelephonyService;
class Texts;
class WaveDeviceProvider;

// A line backend as the rest of the program sees it: the line service the call flow drives,
// the wave devices that carry its lines' audio, and the few moments of the program's life a
// backend may need to act on. The call flow, the line manager and the audio engine know only
// TelephonyService and the wave devices; nothing else of a backend reaches them.
class LineBackend
{
public:
    virtual ~LineBackend() = default;

    virtual TelephonyService &service() = 0;
    virtual WaveDeviceProvider &waveDevices() = 0;
    // Called once the wave devices are registered (the voice modems start talking to their
    // ports here).
    virtual void start() {}
    // Called just before the call flow initialises the line service (the modems wait up to a
    // few seconds for their identification, which names the lines).
    virtual void beforeLinesOpen() {}
    // Called after the line service was shut down, before the process ends (the modems get
    // their hang-up commands out).
    virtual void afterShutdown() {}
    // How many of the lines may record at the same time. Analog lines (voice modems) share the
    // computer's sound devices, two at a time; lines whose audio travels as data (SIP, the
    // virtual exchange) have no such limit.
    virtual int linesRecordingAtOnce() const { return 2; }
    // What `telvox --status` adds to line `line`'s state ("registered at sip.example.net,
    // refreshed 2026-12-06 10:15:02"); empty when the backend has nothing to add.
    virtual QString lineReport(int line, const Texts &texts) const
    {
        (void)line;
        (void)texts;
        return {};
    }
};

// A command-line option a backend takes, as `--<name> <valueName>`, given up to `maxValues`
// times (0: any number); more often, the program refuses to start and says `limit`.
struct LineBackendOption
{
    QString name;
    QString valueName;
    QString description;
    int maxValues = 0;
    QString limit;
};

// What a backend is probed and built with.
struct LineBackendContext
{
    EventLoop &loop;
    const SettingsStore &settings;
    const Texts &texts;
    // The values of the backends' options given for this run, by option name.
    QHash<QString, QStringList> options;
    // News of the lines once they run (registrations, a modem that stopped answering), as
    // status lines. Set before any backend is built.
    std::function<void(const QString &)> status;
    // A call the lines turned away before the call flow saw it (the line was busy): its
    // caller's number ("" when unknown), for the call records.
    std::function<void(const QString &number)> callRefused;
};

// One backend: its name, the question "are lines of mine configured or present?", its
// options and how it is built. `create` may still fail (a port that cannot be opened, an
// address that cannot be bound): it then returns null and says why in `notes`.
struct LineBackendFactory
{
    QString name;
    int labelText = 0; // the text the setup window shows beside the lines of this backend
    // The page of this backend's own settings in the setup window; unset for a backend with
    // none. Asked when the window is built, whichever backend carries the lines.
    std::function<LineSettingsPage()> settingsPage;
    std::function<bool(const LineBackendContext &)> probe;
    std::vector<LineBackendOption> options;
    std::function<std::unique_ptr<LineBackend>(const LineBackendContext &, QStringList &notes)> create;
};

// The line backends the program knows, in the order they are asked. Building asks first the
// backends for which an option was given on this run, then the others, each in the order they
// were registered; the first whose probe answers yes and that builds carries the lines.
// The last registered backend should always build (the virtual exchange does).
class LineBackendRegistry
{
public:
    void add(LineBackendFactory factory);
    const std::vector<LineBackendFactory> &backends() const { return m_backends; }
    // Every option of every backend (for the command line).
    std::vector<LineBackendOption> options() const;
    // Checks the option values against the options' limits; an empty text when they fit.
    QString checkOptions(const QHash<QString, QStringList> &given) const;
    // The settings pages of the backends that have one, in registration order.
    std::vector<LineSettingsPage> settingsPages() const;

    struct Built
    {
        std::unique_ptr<LineBackend> backend; // null only when no backend built
        QString name;                         // of the backend that carries the lines
        int labelText = 0;                    // and the text naming it beside its lines
        QStringList notes; // what the backends asked said while building (why one did not build)
    };
    Built build(const LineBackendContext &context) const;

private:
    std::vector<LineBackendFactory> m_backends;
};

} // namespace telvox
