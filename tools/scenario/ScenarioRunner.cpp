#include "ScenarioRunner.h"

#include "app/CallSystem.h"
#include "core/AppPaths.h"
#include "core/Settings.h"
#include "core/VirtualEventLoop.h"
#include "platform/media/MediaDevice.h"
#include "platform/shell/UserPrompts.h"
#include "records/MessageLists.h"
#include "records/StatusLog.h"
#include "sim/exchange/ScenarioDriver.h"
#include "sim/exchange/VirtualExchange.h"
#include "telephony/Dialler.h"
#include "telephony/RemotePin.h"
#include "telephony/TelephonyCore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <optional>

namespace telvox {


namespace {

// The lists and call records live in the message index; a scenario still names them as the
// options file of earlier versions did: "Data" / "DataUnread" with keys " 0" to " 49" and
// "Made" / "Received" with keys " 1" (oldest) to " 10"; the blocked calls as "Blocked", " 1" the
// oldest kept.
std::optional<QString> indexedValue(const MessageStore &store, const QString &section, const QString &key)
{
    const bool list = section.compare(QLatin1String("Data"), Qt::CaseInsensitive) == 0
                      || section.compare(QLatin1String("DataUnread"), Qt::CaseInsensitive) == 0;
    QString kind;
    for (const char *k : {"Made", "Received", "Blocked"}) {
        if (section.compare(QLatin1String(k), Qt::CaseInsensitive) == 0)
            kind = QLatin1String(k);
    }
    const bool record = !kind.isEmpty();
    if (!list && !record)
        return std::nullopt;
    bool number = false;
    const int at = key.trimmed().toInt(&number) - (record ? 1 : 0);
    QStringList values;
    if (record) {
        values = store.callRecords(kind);
    } else {
        const bool unread = section.size() > 4;
        for (const StoredMessage &m : store.messages(unread ? MessageStore::List::Unread : MessageStore::List::Recent))
            values << m.entry;
    }
    return number && at >= 0 && at < values.size() ? values[at] : QString();
}

} // namespace

namespace {

// The computer's loudspeakers of a headless run: announcements are only written down.
class SilentSpeaker final : public MediaDevice
{
public:
    explicit SilentSpeaker(std::function<void(const QString &)> trace)
        : m_trace(std::move(trace))
    {
    }
    bool open(const QString &path) override
    {
        m_trace(QStringLiteral("announcement ") + path);
        return QFile::exists(path);
    }
    void close() override {}
    qint64 lengthMs() const override { return 0; }
    qint64 positionMs() const override { return 0; }
    void play() override {}
    void pause() override {}
    void seek(qint64) override {}
    bool isPlaying() const override { return false; }

private:
    std::function<void(const QString &)> m_trace;
};


// Message boxes are printed and answered with their first button.
class PrintingPrompts final : public UserPrompts
{
public:
    explicit PrintingPrompts(std::function<void(const QString &)> shown)
        : m_shown(std::move(shown))
    {
    }
    MessageResult messageBox(const QString &text, MessageIcon, const QString &, MessageButtons buttons) override
    {
        m_shown(text);
        return buttons == MessageButtons::YesNo || buttons == MessageButtons::YesNoCancel ? MessageResult::Yes
                                                                                          : MessageResult::Ok;
    }

private:
    std::function<void(const QString &)> m_shown;
};

QByteArray paddedField(const QByteArray &text, int length)
{
    QByteArray field = text.left(length);
    field.append(QByteArray(length - field.size(), ' '));
    return field;
}

void writePhoneBook(const QString &path, const std::vector<sim::PhoneBookPreset> &entries)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    for (const sim::PhoneBookPreset &e : entries) {
        QByteArray record = paddedField(e.name, phonebook::kNameBytes) + paddedField(e.number, phonebook::kTeleBytes);
        record.append(QByteArray(phonebook::kRecordBytes - record.size(), '\0'));
        file.write(record);
    }
}

QString withoutStamp(const QString &line)
{
    static const QRegularExpression stamp(QStringLiteral("^\\d{1,2}:\\d{2}:\\d{2}( [AaPp][Mm])? "));
    QString text = line;
    const QRegularExpressionMatch m = stamp.match(text);
    if (m.hasMatch())
        text.remove(0, m.capturedLength());
    return text;
}

// The virtual time in front of every printed line: seconds since the start, to the millisecond.
QString virtualTimeStamp(std::int64_t ms)
{
    return QStringLiteral("[%1.%2] ").arg(ms / 1000, 5).arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

bool hasWildcard(const QString &name)
{
    return name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?')) || name.contains(QLatin1Char('['));
}

// The files of `folder` that `pattern` names: itself, or those its wildcards (in the last
// part of the path) match.
QStringList matchingFiles(const QString &folder, const QString &pattern)
{
    const QFileInfo where(QDir(folder).filePath(pattern));
    if (!hasWildcard(pattern))
        return where.isFile() ? QStringList{where.filePath()} : QStringList{};
    QStringList files;
    const QDir dir = where.dir();
    for (const QString &name : dir.entryList({where.fileName()}, QDir::Files, QDir::Name))
        files << dir.filePath(name);
    return files;
}

} // namespace

ScenarioRunner::ScenarioRunner(AppPaths paths, const sim::Scenario &scenario, QString baseFolder, Options options,
                               std::function<void(const QString &)> print)
    : m_paths(std::move(paths))
    , m_scenario(scenario)
    , m_baseFolder(std::move(baseFolder))
    , m_options(options)
    , m_print(std::move(print))
{
}

int ScenarioRunner::run()
{
    QDir().mkpath(m_paths.programFolder);
    VirtualEventLoop loop(m_scenario.start.isValid() ? m_scenario.start : QDateTime(QDate(2026, 1, 5), QTime(9, 0, 0)));
    const auto print = [this, &loop](const QString &line) { m_print(virtualTimeStamp(loop.now()) + line); };
    // Every request the audio engine gets, from the call flow or from itself.
    const auto traceAudio = [this, &loop, &print](const QString &t) {
        m_audioRequests << t;
        m_audioTimes.push_back(loop.now());
        if (m_options.trace)
            print(QStringLiteral("  [audio] ") + t);
    };
    PrintingPrompts prompts([this, &print](const QString &text) {
        m_messages << text;
        print(QStringLiteral("message: ") + text);
    });
    SilentSpeaker speaker(traceAudio);
    VirtualExchange exchange(loop, m_scenario.exchange);
    exchange.setHangUpTone(m_scenario.hangUpTone);
    if (m_options.trace)
        exchange.setTraceHandler([&print](const QString &t) { print(QStringLiteral("  [far end] ") + t); });
    CallSystem system({.paths = m_paths,
                       .loop = loop,
                       .prompts = prompts,
                       .announcements = speaker,
                       .lineService = &exchange,
                       .lineDevices = &exchange,
                       .audioTrace = traceAudio});
    SettingsStore &settings = system.settings();
    for (const sim::SettingPreset &p : m_scenario.settings)
        settings.WriteSetting(p.section, p.key, p.value);
    if (m_scenario.pin) {
        const remotepin::Result stored = remotepin::store(settings, m_scenario.pin->toLatin1());
        if (stored != remotepin::Result::Stored && stored != remotepin::Result::Cleared)
            print(QStringLiteral("scenario: pin: ") + remotepin::problemText(stored));
    }
    // The far end keeps what it hears only on the lines a scenario checks it on.
    for (const sim::Expectation &e : m_scenario.expectations) {
        if (e.kind == sim::Expectation::Kind::HeardTone || e.kind == sim::Expectation::Kind::NoHeardTone)
            exchange.keepHeardAudio(e.line, true);
    }
    if (!m_scenario.phoneBook.empty())
        writePhoneBook(m_paths.file(QStringLiteral("PhoneBook.txt")), m_scenario.phoneBook);
    for (const sim::FilePreset &f : m_scenario.files) {
        QFile file(m_paths.file(f.name));
        QDir().mkpath(QFileInfo(file).absolutePath());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(f.bytes) != f.bytes.size())
            print(QStringLiteral("scenario: cannot write ") + file.fileName());
    }

    // The entry procedure's language choice: a first start runs in Simplified Chinese.
    QString language = settings.ReadSetting(QStringLiteral("Config"), QStringLiteral("Language"));
    if (language.isEmpty()) {
        settings.WriteSettingJournaled(QStringLiteral("Config"), QStringLiteral("Language"), QStringLiteral("1"));
        language = QStringLiteral("1");
    }
    system.useLanguage(language);

    StatusListModel &statusList = system.statusList();
    QObject::connect(&statusList, &QAbstractItemModel::rowsInserted, [&](const QModelIndex &, int first, int last) {
        for (int row = first; row <= last; ++row) {
            const QString &line = statusList.lines().at(row);
            m_statusTexts << withoutStamp(line);
            m_statusTimes.push_back(loop.now());
            print(line);
        }
    });
    system.build();
    TelephonyCore &core = system.telephony();
    LoadedState state;
    if (system.load(state) == LoadResult::TelephonyUnavailable) {
        m_ended = true;
    } else {
        system.start(state);

        std::int64_t last = 0;
        for (const sim::ScenarioStep &step : m_scenario.steps) {
            loop.advance(step.atMs - loop.now());
            last = step.atMs;
            QString error;
            bool done = true;
            using A = sim::ScenarioStep::Action;
            if (sim::isFarEndStep(step)) {
                done = sim::applyFarEndStep(exchange, step, m_baseFolder, &error);
            } else if (step.action == A::Dial) {
                done = system.dialler().Dial(QString::number(step.line), step.text);
                if (!done)
                    error = QStringLiteral("the dialler could not place the call");
            } else if (step.line < kLineCount) {
                if (step.action == A::ClickAnswer)
                    core.cmdAnswer_Click(step.line);
                else
                    core.cmdHangup_Click(step.line);
            }
            if (!done)
                print(QStringLiteral("scenario: line %1: %2").arg(QString::number(step.pos.line), error));
        }
        const std::int64_t end = m_scenario.endMs >= 0 ? m_scenario.endMs : last + 60000;
        loop.advance(end - loop.now());
        // What a user finds afterwards: the recordings in their lists.
        for (const QString &name : system.messageLists().unreadEntries() + system.messageLists().lastTenEntries())
            print(QStringLiteral("recording: %1 (%2 bytes)")
                      .arg(name, QString::number(QFileInfo(QDir(state.recordingFolder).filePath(name)).size())));
        system.shutdown();
    }

    int failed = 0;
    for (const sim::Expectation &e : m_scenario.expectations) {
        bool ok = false;
        QString found;
        using K = sim::Expectation::Kind;
        switch (e.kind) {
        case K::Status:
            ok = m_statusTexts.contains(e.a);
            break;
        case K::NoStatus:
            ok = !m_statusTexts.contains(e.a);
            break;
        case K::Setting:
            found = indexedValue(system.messageLists().store(), e.a, e.b)
                        .value_or(settings.ReadSetting(e.a, e.b, QStringLiteral("<missing>")));
            ok = found == e.c;
            break;
        case K::Message:
            ok = m_messages.contains(e.a);
            break;
        case K::Audio:
            ok = m_audioRequests.contains(e.a);
            break;
        case K::NoAudio:
            ok = !m_audioRequests.contains(e.a);
            break;
        case K::AudioAt:
        case K::StatusAt: {
            const bool audioKind = e.kind == K::AudioAt;
            const QStringList &said = audioKind ? m_audioRequests : m_statusTexts;
            const std::vector<std::int64_t> &times = audioKind ? m_audioTimes : m_statusTimes;
            QStringList at;
            for (qsizetype i = 0; i < said.size(); ++i) {
                if (said[i] != e.a)
                    continue;
                const std::int64_t t = times[static_cast<std::size_t>(i)];
                ok = ok || (t >= e.fromMs && t <= e.toMs);
                at << QStringLiteral("%1 ms").arg(t);
            }
            if (!ok)
                found = at.isEmpty() ? QStringLiteral("never") : QStringLiteral("at ") + at.join(QStringLiteral(", "));
            break;
        }
        case K::File: {
            // A fixed file of the program folder, or else a recording in the recording folder.
            QStringList files = matchingFiles(m_paths.programFolder, e.a);
            if (files.isEmpty())
                files = matchingFiles(
                    recordingFolderFor(m_paths.programFolder, settings.ReadSetting(QStringLiteral("Config"), QStringLiteral("SaveFile"))),
                    e.a);
            QStringList seen;
            for (const QString &path : files) {
                QFile file(path);
                const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
                const bool contentOk = !e.hasContent || bytes == e.c.toUtf8();
                const bool lengthOk = e.minBytes < 0 || (bytes.size() >= e.minBytes && bytes.size() <= e.maxBytes);
                ok = ok || (contentOk && lengthOk);
                seen << (e.hasContent ? QString::fromUtf8(bytes)
                                      : QStringLiteral("%1: %2 bytes").arg(QFileInfo(path).fileName()).arg(bytes.size()));
            }
            if (!ok)
                found = files.isEmpty() ? QStringLiteral("<missing>") : seen.join(QStringLiteral("; "));
            break;
        }
        case K::Ended:
            ok = m_ended;
            break;
        case K::HeardTone:
        case K::NoHeardTone: {
            const bool heard = sim::heardTone(exchange.heardByFarEnd(e.line), exchange.heardMarks(e.line), e.fromMs,
                                              e.toMs, e.hz);
            ok = heard == (e.kind == K::HeardTone);
            break;
        }
        case K::Sequence: {
            qsizetype from = 0;
            ok = true;
            for (const QString &item : e.items) {
                from = m_statusTexts.indexOf(item, from);
                if (from < 0) {
                    ok = false;
                    found = QStringLiteral("not in order: ") + item;
                    break;
                }
                ++from;
            }
            break;
        }
        }
        if (!ok) {
            ++failed;
            QString report = QStringLiteral("FAILED line %1: %2").arg(QString::number(e.pos.line), e.sourceText);
            if (!found.isNull())
                report += QStringLiteral(" (found \"") + found + QStringLiteral("\")");
            m_print(report);
        }
    }
    return failed;
}

} // namespace telvox
