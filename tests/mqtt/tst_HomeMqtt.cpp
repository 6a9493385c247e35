// The smart-home links with real peers on loopback: `telvox --service` publishing a scenario
// call to a private mosquitto broker, the broker going away and coming back, commands from
// the broker (good and hostile), and the webhook against a small HTTP receiver.

#include "core/Settings.h"
#include "core/Texts.h"
#include "mqtt/HomePublisher.h"
#include "mqtt/Webhook.h"
#include "MqttPeers.h"
#include "platform/media/TestWave.h"
#include "records/MessageStore.h"
#include "support/Program.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

namespace {

QJsonObject json(const QByteArray &payload) { return QJsonDocument::fromJson(payload).object(); }

QStringList states(MqttWatcher &w, int line)
{
    QStringList out;
    for (const QByteArray &p : w.on(QStringLiteral("telvox/line/%1/state").arg(line)))
        out << json(p).value("state").toString();
    return out;
}

QMap<QString, QByteArray> byTopic(const QList<Seen> &seen)
{
    QMap<QString, QByteArray> m;
    for (const Seen &s : seen)
        m.insert(s.topic, s.payload);
    return m;
}

// The service, reading its output as it comes.
struct Service
{
    explicit Service(const ScratchDir &home, const QStringList &args = {})
    {
        process.setProcessEnvironment(programEnvironment(home.path()));
        process.start(TELVOX_EXECUTABLE, QStringList{"--service"} + args);
        process.waitForStarted();
    }
    ~Service()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    QString output()
    {
        out += QString::fromUtf8(process.readAllStandardOutput());
        return out;
    }
    bool stop()
    {
        process.terminate();
        const bool ended = process.waitForFinished(30000);
        output();
        return ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }
    QProcess process;
    QString out;
};

} // namespace

class tst_HomeMqtt : public QObject
{
    Q_OBJECT

private slots:
    void scenarioCallIsPublished()
    {
        MqttBroker broker;
        QVERIFY(broker.start());
        ScratchDir home;
        presetSettings(home.path(), {{"Config/Language", "0"}, {"Config/Line0", "1"}, {"Config/Rings", "2"},
                                     {"VoiceModem/Probe", "0"}, {"MQTT/Broker", broker.address()},
                                     {"Web/Enabled", "1"}, {"Web/Listen", "127.0.0.1:8780"}});
        // A caller whose name caller ID gives in Chinese.
        QVERIFY(writeBytes(home.file("call.scn"), "at 500 line 0 call number \"5551234\" name \"张三\" audio talk 7\n"
                                                  "at 14s line 0 hangup disconnect\n"));
        MqttWatcher watch(broker, {"telvox/#"});
        Service service(home, {"--scenario", home.file("call.scn")});
        QTRY_VERIFY2_WITH_TIMEOUT(watch.on("telvox/message").size() == 1, qPrintable(watch.dump() + service.output()), 40000);
        QTRY_VERIFY2_WITH_TIMEOUT(states(watch, 0).endsWith("idle") && states(watch, 0).size() > 1,
                                  qPrintable(watch.dump()), 10000);
        QVERIFY(service.output().contains("MQTT: connected to " + broker.address()));

        // What the line did, each change once.
        QCOMPARE(states(watch, 0), QStringList({"idle", "ringing", "answered", "recording", "idle"}));
        QCOMPARE(watch.on("telvox/status"), QList<QByteArray>{"online"});

        // The caller, the name in UTF-8 as it came.
        QCOMPARE(watch.on("telvox/call").size(), 1);
        const QByteArray callBytes = watch.on("telvox/call").first();
        QVERIFY2(callBytes.contains("\"name\":\"\xe5\xbc\xa0\xe4\xb8\x89\""), callBytes.constData());
        const QJsonObject call = json(callBytes);
        QCOMPARE(call.value("number").toString(), QString("5551234"));
        QCOMPARE(call.value("name").toString(), QString("张三"));
        QCOMPARE(call.value("line").toInt(-1), 0);
        QCOMPARE(call.value("blocked").toBool(true), false);
        QCOMPARE(call.value("event_type").toString(), QString("call"));
        QVERIFY(QDateTime::fromString(call.value("time").toString(), Qt::ISODate).isValid());

        // The message: the recording's name, its length, the web interface's link.
        const QStringList recordings = QDir(home.file("waveFiles")).entryList({"A*~5551234.wav"}, QDir::Files);
        QCOMPARE(recordings.size(), 1);
        const QJsonObject message = json(watch.on("telvox/message").first());
        QCOMPARE(message.value("id").toString(), recordings[0]);
        QCOMPARE(message.value("caller").toString(), QString("5551234"));
        const int seconds = message.value("seconds").toInt();
        QVERIFY2(seconds >= 2 && seconds <= 6, qPrintable(QString::number(seconds)));
        QCOMPARE(watch.on("telvox/unread"), (QList<QByteArray>{"{\"count\":0}", "{\"count\":1}"}));

        QVERIFY(service.stop());
        // The link names the message as the web interface does: by its number in the index.
        {
            const MessageStore store(home.file(MessageStore::defaultFileName()));
            const auto stored = store.messageAt(QDir(home.file("waveFiles")).filePath(recordings[0]));
            QVERIFY(stored);
            QCOMPARE(message.value("link").toString(),
                     QString("http://127.0.0.1:8780/api/messages/%1/audio").arg(stored->id));
        }
        // What stays for whoever looks later: offline, the last state of everything, and
        // Home Assistant's configs of one device.
        const QMap<QString, QByteArray> kept = byTopic(retainedOn(broker, {"telvox/#", "homeassistant/#"}));
        QCOMPARE(kept.value("telvox/status"), QByteArray("offline"));
        QCOMPARE(kept.value("telvox/unread"), QByteArray("{\"count\":1}"));
        QCOMPARE(json(kept.value("telvox/line/0/state")).value("state").toString(), QString("idle"));
        QCOMPARE(json(kept.value("telvox/last_caller")).value("name").toString(), QString("张三"));
        QVERIFY(!kept.contains("telvox/line/1/state")); // only the lines in use
        const QStringList configs{"homeassistant/sensor/telvox/unread/config", "homeassistant/sensor/telvox/last_caller/config",
                                  "homeassistant/sensor/telvox/line0/config", "homeassistant/event/telvox/call/config"};
        QSet<QString> ids;
        for (const QString &topic : configs) {
            QVERIFY2(kept.contains(topic), qPrintable(topic + "\n" + kept.keys().join("\n")));
            const QJsonObject c = json(kept.value(topic));
            ids << c.value("unique_id").toString();
            QCOMPARE(c.value("availability_topic").toString(), QString("telvox/status"));
            QCOMPARE(c.value("device").toObject().value("identifiers").toArray().first().toString(), QString("telvox_telvox"));
            // Every entity reads a topic Telvox really publishes.
            QVERIFY2(kept.contains(c.value("state_topic").toString()) || c.value("state_topic") == "telvox/call",
                     qPrintable(c.value("state_topic").toString()));
        }
        QCOMPARE(ids.size(), configs.size());
        QVERIFY(!kept.contains("homeassistant/sensor/telvox/line1/config"));
    }

    void brokerAwayAndBackThenCommands()
    {
        MqttBroker broker;
        QVERIFY(broker.start());
        ScratchDir home;
        const QString message = "A2026-03-02~09-15-00~5550000.wav";
        QVERIFY(QDir().mkpath(home.file("waveFiles")));
        QVERIFY(writeTestWave(home.file("waveFiles/" + message), 1000));
        presetSettings(home.path(), {{"Config/Language", "0"}, {"Config/Line0", "1"}, {"VoiceModem/Probe", "0"},
                                     {"DataUnread/ 0", message}, {"MQTT/Broker", broker.address()},
                                     {"MQTT/AcceptCommands", "1"}, {"MQTT/RetrySeconds", "1"}});
        Service service(home);
        QTRY_VERIFY2_WITH_TIMEOUT(service.output().contains("MQTT: connected to"), qPrintable(service.output()), 30000);

        // The broker goes and comes back empty: Telvox says so, and publishes its state again.
        broker.stop();
        QTRY_VERIFY2_WITH_TIMEOUT(service.output().contains("MQTT: connection to " + broker.address() + " lost"),
                                  qPrintable(service.output()), 10000);
        QVERIFY(broker.start());
        QTRY_VERIFY2_WITH_TIMEOUT(service.output().contains("MQTT: connection to " + broker.address() + " is back"),
                                  qPrintable(service.output()), 20000);
        QCOMPARE(service.output().count(" lost "), 1);
        QTest::qWait(300);
        const QMap<QString, QByteArray> kept = byTopic(retainedOn(broker, {"telvox/#", "homeassistant/#"}));
        QCOMPARE(kept.value("telvox/status"), QByteArray("online"));
        QCOMPARE(kept.value("telvox/unread"), QByteArray("{\"count\":1}"));
        QCOMPARE(json(kept.value("telvox/line/0/state")).value("state").toString(), QString("idle"));
        QVERIFY(kept.contains("homeassistant/sensor/telvox/unread/config"));

        // Commands: hostile ones are refused with a reason and change nothing.
        MqttWatcher watch(broker, {"telvox/command/result", "telvox/unread"});
        const QList<QPair<QString, QByteArray>> refused{
            {"telvox/command/read", "not json"},
            {"telvox/command/read", "{\"id\":\"../../settings.txt\"}"},
            {"telvox/command/read", "{\"id\":\"" + message.toUtf8() + "\",\"also\":1}"},
            {"telvox/command/block", "{\"number\":\"5550000\\n0900*\"}"},
            {"telvox/command/block", "{\"number\":\"5550000\",\"label\":\"x\\tevil\"}"},
            {"telvox/command/block", "{\"number\":\"5550000\",\"label\":\"" + QByteArray(2000, 'x') + "\"}"},
            {"telvox/command/read", "{\"id\":\"A2026-01-01~00-00-00~1.wav\"}"}, // no such message
        };
        for (const auto &[topic, payload] : refused)
            QVERIFY(mqttSend(broker, topic, payload));
        QTRY_COMPARE_WITH_TIMEOUT(watch.on("telvox/command/result").size(), refused.size(), 10000);
        for (const QByteArray &result : watch.on("telvox/command/result"))
            QVERIFY2(!json(result).value("ok").toBool(true) && !json(result).value("error").toString().isEmpty(),
                     result.constData());
        QVERIFY(!QFile::exists(home.file("BlockList.txt")));

        // Good ones are carried out.
        QVERIFY(mqttSend(broker, "telvox/command/read", "{\"id\":\"" + message.toUtf8() + "\"}"));
        QVERIFY(mqttSend(broker, "telvox/command/block", "{\"number\":\"+1 555-0100\",\"label\":\"推销\"}"));
        QTRY_COMPARE_WITH_TIMEOUT(watch.on("telvox/command/result").size(), refused.size() + 2, 10000);
        const QList<QByteArray> results = watch.on("telvox/command/result");
        QVERIFY2(json(results.at(refused.size())).value("ok").toBool(), results.at(refused.size()).constData());
        QVERIFY2(json(results.at(refused.size() + 1)).value("ok").toBool(), results.at(refused.size() + 1).constData());
        // The retained count the watcher found, then the new one.
        QCOMPARE(watch.on("telvox/unread"), (QList<QByteArray>{"{\"count\":1}", "{\"count\":0}"}));
        QCOMPARE(readAll(home.file("BlockList.txt")).trimmed(), QString("+1 555-0100\t推销").toUtf8());
        QVERIFY(service.output().contains("MQTT: message " + message + " marked as read"));
        QVERIFY(service.stop());
    }

    void commandsIgnoredUnlessAccepted()
    {
        MqttBroker broker;
        QVERIFY(broker.start());
        const Texts texts(builtInStrings(), 0);
        MqttOptions options;
        QVERIFY(parseBroker(broker.address(), &options.host, &options.port));
        options.prefix = "house/telvox";
        QStringList said;
        HomePublisher publisher({texts, [&said](const QString &s) { said << s; }, "1"}, options, {}, 2);
        QSignalSpy read(&publisher, &HomePublisher::markReadRequested);
        publisher.start();
        QTRY_VERIFY_WITH_TIMEOUT(said.join('\n').contains("MQTT: connected"), 10000);
        QVERIFY(mqttSend(broker, "house/telvox/command/read", "{\"id\":\"A.wav\"}"));
        QTest::qWait(1000);
        QCOMPARE(read.count(), 0);
        // The prefix heads every topic, discovery ids included.
        const QMap<QString, QByteArray> kept = byTopic(retainedOn(broker, {"#"}));
        QVERIFY2(kept.contains("homeassistant/sensor/house_telvox/line1/config"), qPrintable(kept.keys().join(' ')));
        QVERIFY(kept.contains("house/telvox/line/1/state"));
        publisher.stop();
        QCOMPARE(byTopic(retainedOn(broker, {"house/telvox/status"})).value("house/telvox/status"), QByteArray("offline"));
    }

    void callDuringOutageArrivesLater()
    {
        MqttBroker broker;
        QVERIFY(broker.start());
        const Texts texts(builtInStrings(), 0);
        MqttOptions options;
        QVERIFY(parseBroker(broker.address(), &options.host, &options.port));
        QStringList said;
        HomePublisher publisher({texts, [&said](const QString &s) { said << s; }, "1"}, options, {}, 1);
        publisher.start();
        QTRY_VERIFY_WITH_TIMEOUT(said.join('\n').contains("MQTT: connected"), 10000);
        broker.stop();
        QTRY_VERIFY_WITH_TIMEOUT(said.join('\n').contains(" lost "), 10000);
        // A caller while the broker is away: kept, and sent once it is back (the reconnection
        // waits grow 0, 1, 4 seconds: the watcher is in place well before the third).
        publisher.callerIdentified(CallerEvent{0, "5551234", "ANNA", false, QDateTime::currentDateTime()});
        QTest::qWait(1500);
        QVERIFY(broker.start());
        MqttWatcher watch(broker, {"telvox/call"});
        QTRY_VERIFY_WITH_TIMEOUT(said.join('\n').contains(" is back"), 15000);
        QTRY_COMPARE_WITH_TIMEOUT(watch.on("telvox/call").size(), 1, 5000);
        QCOMPARE(json(watch.on("telvox/call").first()).value("name").toString(), QString("ANNA"));
    }

    void tlsWithThePasswordFile()
    {
        ScratchDir dir;
        const QString cert = dir.file("cert.pem"), key = dir.file("key.pem");
        QProcess tool;
        tool.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "2",
                               "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
        QVERIFY(tool.waitForFinished(60000) && tool.exitCode() == 0);
        tool.start("mosquitto_passwd", {"-c", "-b", dir.file("passwd"), "telvox", "s3cret 密码"});
        QVERIFY(tool.waitForFinished(10000) && tool.exitCode() == 0);
        MqttBroker broker("cafile " + cert.toUtf8() + "\ncertfile " + cert.toUtf8() + "\nkeyfile " + key.toUtf8()
                          + "\nallow_anonymous false\npassword_file " + dir.file("passwd").toUtf8() + "\n");
        QVERIFY(broker.start());

        // The options as the user writes them; the password in its own file.
        SettingsStore settings(dir.file("telvox.ini"), dir.file("settings.txt"));
        settings.WriteSetting("MQTT", "Broker", broker.address());
        settings.WriteSetting("MQTT", "User", "telvox");
        settings.WriteSetting("MQTT", "CaFile", cert);
        const QString passwordFile = dir.file(mqttPasswordFileName());
        const Texts texts(builtInStrings(), 0);
        const auto connectWith = [&](const QByteArray &password) {
            writeBytes(passwordFile, password + "\n");
            QFile::setPermissions(passwordFile, QFile::ReadOwner | QFile::WriteOwner);
            OptionProblems problems;
            auto said = std::make_shared<QStringList>();
            auto publisher = std::make_unique<HomePublisher>(
                HomePublisher::Services{texts, [said](const QString &s) { *said << s; }, "1"},
                readMqttOptions(settings, dir.path(), &problems), WebhookOptions{}, 1);
            publisher->start();
            return std::make_pair(std::move(publisher), said);
        };
        {
            auto [publisher, said] = connectWith("s3cret 密码");
            QTRY_VERIFY2_WITH_TIMEOUT(said->join('\n').contains("MQTT: connected to " + broker.address()),
                                      qPrintable(said->join('\n')), 10000);
        }
        auto [publisher, said] = connectWith("wrong");
        QTRY_VERIFY2_WITH_TIMEOUT(said->join('\n').contains("MQTT: " + broker.address() + " refused the connection"),
                                  qPrintable(said->join('\n')), 10000);
        QTest::qWait(2500); // a few more attempts: said once
        QVERIFY2(said->size() == 1, qPrintable(said->join("\n")));
        QVERIFY(!said->join('\n').contains("connected to"));
    }

    void webhookRetriesUntilTaken()
    {
        ScratchDir dir;
        QProcess receiver;
        receiver.start("python3", {QFINDTESTDATA("webhook_receiver.py"), dir.file("port"), dir.file("log"), "2"});
        QVERIFY(receiver.waitForStarted());
        QTRY_VERIFY(QFile::exists(dir.file("port")));
        const QString port = QString::fromUtf8(readAll(dir.file("port")));

        WebhookOptions options;
        options.url = "http://127.0.0.1:" + port + "/telvox";
        options.retrySeconds = 1;
        Webhook hook(options);
        QSignalSpy delivered(&hook, &Webhook::delivered);
        QSignalSpy failed(&hook, &Webhook::failed);
        CallerEvent e{0, "5551234", "张三", false, QDateTime::currentDateTime()};
        hook.post("call", callPayload(e));
        hook.post("unread", unreadPayload(3));
        QTRY_COMPARE_WITH_TIMEOUT(delivered.count(), 2, 15000);
        QCOMPARE(failed.count(), 2); // two refusals, neither the last word
        QCOMPARE(failed.at(0).at(2).toBool(), false);
        receiver.kill();
        receiver.waitForFinished();

        // Three tries of the call (in order, the same body), then the count.
        const QList<QByteArray> lines = readAll(dir.file("log")).trimmed().split('\n');
        QCOMPARE(lines.size(), 4);
        for (int i = 0; i < 3; ++i) {
            const QJsonObject post = json(lines[i]);
            QCOMPARE(post.value("event").toString(), QString("call"));
            QCOMPARE(post.value("body").toString().toUtf8(), callPayload(e));
            QVERIFY(post.value("type").toString().startsWith("application/json"));
        }
        QCOMPARE(json(lines[3]).value("body").toString(), QString("{\"count\":3}"));
    }

    void webhookGivesUp()
    {
        WebhookOptions options;
        options.url = QStringLiteral("http://127.0.0.1:%1/").arg(freeLoopbackPort()); // nobody listens
        options.retrySeconds = 1;
        options.attempts = 2;
        Webhook hook(options);
        QSignalSpy failed(&hook, &Webhook::failed);
        hook.post("message", "{}");
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 2, 10000);
        QCOMPARE(failed.at(0).at(2).toBool(), false);
        QCOMPARE(failed.at(1).at(2).toBool(), true);
    }
};

QTEST_GUILESS_MAIN(tst_HomeMqtt)
#include "tst_HomeMqtt.moc"
