// The smart-home links wired to the call system's events and commands.

#include "app/HomeLink.h"

#include "app/CallSystem.h"
#include "app/CompanionCommands.h"
#include "core/EventLoop.h"
#include "core/Settings.h"
#include "core/Texts.h"
#include "mqtt/HomePublisher.h"
#include "records/CallBlockList.h"
#include "records/MessageLists.h"
#include "records/MessageStore.h"
#include "records/StatusLog.h"
#include "telephony/TelephonyCore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>
#include <QUrl>

namespace telvox {

namespace {

bool optionOn(const QString &value)
{
    const QString v = value.trimmed().toLower();
    return v == QLatin1String("1") || v == QLatin1String("true") || v == QLatin1String("yes") || v == QLatin1String("on");
}

} // namespace

QString homeMessageId(const QString &listedName) { return QFileInfo(listedName).fileName(); }

QString webAudioLink(const SettingsStore &settings, const QString &messageId)
{
    if (!optionOn(settings.ReadSetting(QStringLiteral("Web"), QStringLiteral("Enabled"))))
        return QString();
    QString listen = settings.ReadSetting(QStringLiteral("Web"), QStringLiteral("Listen")).trimmed();
    if (listen.isEmpty())
        listen = QStringLiteral("127.0.0.1:8780");
    // Listening on every address: the link names this computer.
    const QString host = listen.section(QLatin1Char(':'), 0, -2);
    if (host == QLatin1String("0.0.0.0") || host == QLatin1String("[::]") || host.isEmpty())
        listen = QSysInfo::machineHostName() + listen.mid(host.size());
    return QStringLiteral("http://") + listen + QStringLiteral("/api/messages/")
           + QString::fromLatin1(QUrl::toPercentEncoding(messageId)) + QStringLiteral("/audio");
}

HomeLink::HomeLink(CallSystem &system, HomeEvents *events)
    : m_system(system)
    , m_events(events)
{
    SettingsStore &settings = system.settings();
    const Texts &texts = system.texts();
    if (!m_events) {
        OptionProblems problems;
        const MqttOptions mqtt = readMqttOptions(settings, system.paths().programFolder, &problems);
        const WebhookOptions hook = readWebhookOptions(settings, &problems);
        if (!problems.broker.isEmpty())
            say(texts.LoadText(1370).arg(QStringLiteral("[MQTT] Broker"), problems.broker));
        if (!problems.prefix.isEmpty())
            say(texts.LoadText(1370).arg(QStringLiteral("[MQTT] TopicPrefix"), problems.prefix));
        if (!problems.webhook.isEmpty())
            say(texts.LoadText(1370).arg(QStringLiteral("[Webhook] URL"), problems.webhook));
        if (!problems.password.isEmpty())
            say(texts.LoadText(1364).arg(problems.password));
        if (!mqtt.enabled() && !hook.enabled())
            return; // nothing to tell anyone
        // Discovery offers the lines up to the last open one.
        int lines = 1;
        for (int n = 0; n < kLineCount; ++n) {
            if (system.telephony().lineTable()[n].hLine != 0)
                lines = n + 1;
        }
        m_publisher = std::make_unique<HomePublisher>(
            HomePublisher::Services{texts, [this](const QString &text) { say(text); }, QCoreApplication::applicationVersion()},
            mqtt, hook, lines);
        connect(m_publisher.get(), &HomePublisher::markReadRequested, this, &HomeLink::markRead);
        connect(m_publisher.get(), &HomePublisher::blockRequested, this, &HomeLink::block);
        m_events = m_publisher.get();
    }

    system.telephony().setCallWatch(CallWatch{
        [this](int line, std::uint32_t state) { callState(line, state); },
        [this](int line, const QString &number, const QString &name, bool blocked) {
            // "UNKNOWN" is what the call flow shows for a missing name; the house gets none.
            const QString shown = name == QLatin1String("UNKNOWN") ? QString() : name;
            m_events->callerIdentified(CallerEvent{line, number, shown, blocked, m_system.loop().currentDateTime()});
        }});
    MessageLists &lists = system.messageLists();
    connect(&lists, &MessageLists::recordingListed, this, &HomeLink::recordingListed);
    QStringListModel &unread = lists.unread();
    connect(&unread, &QAbstractItemModel::rowsInserted, this, &HomeLink::publishUnread);
    connect(&unread, &QAbstractItemModel::rowsRemoved, this, &HomeLink::publishUnread);
    connect(&unread, &QAbstractItemModel::modelReset, this, &HomeLink::publishUnread);
    connect(&unread, &QAbstractItemModel::dataChanged, this, &HomeLink::publishUnread);
    // A recording starts and ends inside the call flow's own steps: looked at a few times a second.
    m_watch = system.loop().createTimer(kWatchMs, [this] { updateLines(); });
    m_watch->setEnabled(true);
    publishUnread();
    updateLines();
    if (m_publisher)
        m_publisher->start();
}

HomeLink::~HomeLink()
{
    m_system.telephony().setCallWatch({});
    if (m_publisher)
        m_publisher->stop();
}

void HomeLink::say(const QString &text) { m_system.statusLog().AddStatus(text); }

void HomeLink::callState(int line, std::uint32_t state)
{
    if (line < 0 || line >= kLineCount)
        return;
    LineActivity &a = m_callActivity.at(static_cast<std::size_t>(line));
    if (state == LineCallState::Offering)
        a = LineActivity::Ringing;
    else if (state == LineCallState::Connected)
        a = LineActivity::Answered;
    else
        a = LineActivity::Idle;
    updateLines();
}

void HomeLink::updateLines()
{
    const LineTable &table = m_system.telephony().lineTable();
    for (int n = 0; n < kLineCount; ++n) {
        LineActivity a = m_callActivity.at(static_cast<std::size_t>(n));
        if (table[n].hCall == 0)
            a = LineActivity::Idle; // gone without the house hearing of it
        else if (a == LineActivity::Answered && table[n].recState == RecState::Recording)
            a = LineActivity::Recording;
        m_events->lineState(n, a);
    }
}

void HomeLink::recordingListed(const QString &folder, const QString &name, int line)
{
    (void)line;
    // A message is what waits to be heard; conversations and dialled calls are only recorded.
    if (!m_system.messageLists().unreadEntries().contains(name))
        return;
    const RecordingInfo info = describeRecording(folder, name, m_system.paths().file(QStringLiteral("PhoneBook.txt")));
    MessageEvent e;
    e.id = homeMessageId(name);
    e.caller = info.number;
    e.name = info.phoneBookName;
    e.seconds = info.lengthMs < 0 ? 0 : static_cast<int>((info.lengthMs + 500) / 1000);
    e.time = info.when.isValid() ? info.when : m_system.loop().currentDateTime();
    // The web interface knows a message by its number in the message index.
    if (const auto stored = m_system.messageStore().messageAt(QDir(folder).filePath(name)))
        e.link = webAudioLink(m_system.settings(), QString::number(stored->id));
    m_events->messageKept(e);
}

void HomeLink::publishUnread()
{
    int count = 0;
    for (const QString &entry : m_system.messageLists().unreadEntries())
        count += entry.isEmpty() ? 0 : 1;
    m_events->unreadCount(count);
}

void HomeLink::markRead(const QString &id)
{
    const Texts &texts = m_system.texts();
    for (const QString &entry : m_system.messageLists().unreadEntries()) {
        if (homeMessageId(entry) == id && markRecordingRead(m_system.messageLists(), entry)) {
            say(texts.LoadText(1366).arg(id));
            m_publisher->commandDone(QStringLiteral("read"), true, id);
            return;
        }
    }
    m_publisher->commandDone(QStringLiteral("read"), false, QStringLiteral("no unread message %1").arg(id));
}

void HomeLink::block(const QString &number, const QString &label)
{
    CallBlockList &list = m_system.blockList();
    // Blocked already: nothing to add twice.
    const QString wanted = comparableNumber(number);
    for (const BlockEntry &entry : list.blocked()) {
        if (entry.text.trimmed() == number || (!wanted.isEmpty() && comparableNumber(entry.text) == wanted)) {
            m_publisher->commandDone(QStringLiteral("block"), true, number);
            return;
        }
    }
    if (!list.appendEntry(true, number, label)) {
        m_publisher->commandDone(QStringLiteral("block"), false, QStringLiteral("the block list cannot be written"));
        return;
    }
    say(m_system.texts().LoadText(1367).arg(number));
    m_publisher->commandDone(QStringLiteral("block"), true, number);
}

} // namespace telvox
