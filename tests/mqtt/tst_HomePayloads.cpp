// What the smart-home links accept from the outside: commands from the broker (anyone on the
// network may send them), the options, and the password file's permissions.

#include "core/Settings.h"
#include "mqtt/HomeOptions.h"
#include "mqtt/HomePayloads.h"
#include "support/FakeShell.h"
#include "support/Files.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

namespace {

// JSON written with single quotes, as the tests read best.
QByteArray j(const char *text) { return QByteArray(text).replace('\'', '"'); }

} // namespace

class tst_HomePayloads : public QObject
{
    Q_OBJECT

private slots:
    void commands_data()
    {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("expected"); // "read:<id>", "block:<number>|<label>" or "refused"
        const QString read = "telvox/command/read";
        const QString block = "telvox/command/block";
        QTest::newRow("read") << read << j("{'id':'A2026-03-02~09-15-00~5550000.wav'}")
                              << "read:A2026-03-02~09-15-00~5550000.wav";
        QTest::newRow("read path") << read << j("{'id':'../x.wav'}") << "refused";
        QTest::newRow("read backslash") << read << j("{'id':'a\\\\b'}") << "refused";
        QTest::newRow("read control") << read << j("{'id':'a\\u0000b'}") << "refused";
        QTest::newRow("read extra key") << read << j("{'id':'a','x':1}") << "refused";
        QTest::newRow("garbage") << read << QByteArray("\xff\xfe{") << "refused";
        QTest::newRow("other topic") << "telvox/command/delete" << j("{'id':'a'}") << "refused";
        QTest::newRow("block") << block << j("{'number':' +1 (555) 010-0 ','label':'推销'}")
                               << "block:+1 (555) 010-0|推销";
        QTest::newRow("block prefix") << block << j("{'number':'0900*'}") << "block:0900*|";
        QTest::newRow("block letters") << block << j("{'number':'anonymous'}") << "refused";
        QTest::newRow("block newline") << block << j("{'number':'555\\n0900*'}") << "refused";
        QTest::newRow("block star inside") << block << j("{'number':'55*5'}") << "refused";
        QTest::newRow("block too long") << block << ("{\"number\":\"" + QByteArray(41, '5') + "\"}") << "refused";
        QTest::newRow("label tab") << block << j("{'number':'5','label':'a\\tb'}") << "refused";
        QTest::newRow("label comment") << block << j("{'number':'5','label':'a # b'}") << "refused";
        QTest::newRow("label long") << block << ("{\"number\":\"5\",\"label\":\"" + QByteArray(65, 'x') + "\"}")
                                    << "refused";
        QTest::newRow("oversize") << block
                                  << ("{\"number\":\"5\",\"label\":\"x\"" + QByteArray(kMaxCommandBytes, ' ') + "}")
                                  << "refused";
    }
    void commands()
    {
        QFETCH(QString, topic);
        QFETCH(QByteArray, payload);
        QFETCH(QString, expected);
        const CommandParse parsed = parseHomeCommand(HomeTopics{"telvox"}, topic, payload);
        QString got = "refused";
        if (parsed.command && parsed.command->kind == HomeCommand::Kind::MarkRead)
            got = "read:" + parsed.command->id;
        else if (parsed.command)
            got = "block:" + parsed.command->number + "|" + parsed.command->label;
        QCOMPARE(got, expected);
        QCOMPARE(parsed.error.isEmpty(), expected != "refused");
    }

    void discoveryIsOneDeviceOfDistinctEntities()
    {
        const auto configs = discoveryConfigs(HomeTopics{"home/telvox"}, 3, "2.4.5");
        QSet<QString> topics, ids;
        for (const DiscoveryConfig &c : configs) {
            const QJsonObject o = QJsonDocument::fromJson(c.payload).object();
            QVERIFY2(c.topic.startsWith("homeassistant/") && c.topic.endsWith("/home_telvox/" + o.value("unique_id").toString().mid(12) + "/config"),
                     qPrintable(c.topic));
            topics << c.topic;
            ids << o.value("unique_id").toString();
            QCOMPARE(o.value("device").toObject().value("sw_version").toString(), QString("2.4.5"));
            QCOMPARE(o.value("availability_topic").toString(), QString("home/telvox/status"));
        }
        QCOMPARE(configs.size(), std::size_t(6)); // unread, last caller, 3 lines, calls
        QCOMPARE(topics.size(), 6);
        QCOMPARE(ids.size(), 6);
        QVERIFY(topics.contains("homeassistant/sensor/home_telvox/line2/config"));
        QVERIFY(topics.contains("homeassistant/event/home_telvox/call/config"));
    }

    void brokers()
    {
        const auto parse = [](const QString &text) {
            QString host;
            int port = 1883;
            return parseBroker(text, &host, &port) ? host + "|" + QString::number(port) : QString("bad");
        };
        QCOMPARE(parse("mqtt.local"), QString("mqtt.local|1883"));
        QCOMPARE(parse(" 192.168.1.5:1884 "), QString("192.168.1.5|1884"));
        QCOMPARE(parse("[::1]:8883"), QString("::1|8883"));
        QCOMPARE(parse("[::1]"), QString("::1|1883"));
        for (const char *bad : {"", "host:0", "host:65536", "host:x", "ho st", "[::1", "[::1]x", "a;rm -rf"})
            QCOMPARE(parse(bad), QString("bad"));
    }

    void optionsAndPasswordFile()
    {
        ScratchDir dir;
        SettingsStore settings(dir.file("telvox.ini"), dir.file("settings.txt"));
        settings.WriteSetting("MQTT", "Broker", "broker.lan");
        settings.WriteSetting("MQTT", "User", "telvox");
        settings.WriteSetting("MQTT", "TopicPrefix", "bad/#");
        settings.WriteSetting("MQTT", "CaFile", "/etc/ssl/ca.pem");
        settings.WriteSetting("Webhook", "URL", "file:///etc/passwd");
        const QString passwordFile = dir.file(mqttPasswordFileName());
        QVERIFY(writeBytes(passwordFile, "s3cret\r\nsecond line\n"));

        // Readable by others: not used, and said so.
        QFile::setPermissions(passwordFile, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        OptionProblems problems;
        MqttOptions o = readMqttOptions(settings, dir.path(), &problems);
        QCOMPARE(o.password, QString());
        QCOMPARE(problems.password, passwordFile);
        QCOMPARE(o.host, QString("broker.lan"));
        QCOMPARE(o.port, 8883); // TLS by default with a CA file
        QCOMPARE(o.prefix, QString("telvox"));
        QCOMPARE(problems.prefix, QString("bad/#"));
        QCOMPARE(readWebhookOptions(settings, &problems).enabled(), false);
        QCOMPARE(problems.webhook, QString("file:///etc/passwd"));

        // The owner's only: its first line.
        QFile::setPermissions(passwordFile, QFile::ReadOwner | QFile::WriteOwner);
        problems = {};
        o = readMqttOptions(settings, dir.path(), &problems);
        QCOMPARE(o.password, QString("s3cret"));
        QVERIFY(problems.password.isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_HomePayloads)
#include "tst_HomePayloads.moc"
