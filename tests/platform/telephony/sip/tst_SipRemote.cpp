// Remote retrieval on a SIP line against Debian's baresip on the loopback interface, in real
// time: baresip keys "*" and the PIN as RFC 4733 events, and what it heard back holds the
// message (by correlation with what was recorded).
#include "SipCallSystem.h"
#include "audio/RemoteRetrieval.h"
#include "telephony/RemotePin.h"

#include <QTest>

using namespace telvox;
using namespace telvox::test;

class tst_SipRemote : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(!BaresipPeer::modules().isEmpty(), "baresip or its modules are missing: run scripts/setup (baresip-core)");
    }

    void pinKeyedByTheCallerPlaysTheMessageBack()
    {
        System s(1);
        QVERIFY2(s.startFailure.isEmpty(), qPrintable(s.startFailure));
        // Three seconds of a voice as the message, listed unread.
        std::vector<std::int16_t> message = readLineWav(speechFile().toStdString());
        message.resize(std::min<std::size_t>(message.size(), 3 * 8000));
        const QString name = QStringLiteral("A2026-01-05~09-00-00~5559999.wav");
        writeLineWav(s.dir.file("waveFiles/" + name), message);
        NewMessage m;
        m.entry = name;
        m.path = s.dir.file("waveFiles/" + name);
        m.unread = true;
        m.seconds = 3;
        MessageStore &store = s.system->messageStore();
        QVERIFY(store.addMessage(m));
        QCOMPARE(remotepin::store(s.system->settings(), "4711"), remotepin::Result::Stored);
        RemoteRetrieval &remote = s.system->remoteRetrieval();

        BaresipCall call = s.caller();
        std::vector<std::int16_t> quiet(8000 * 30, 0);
        ScratchDir voiceDir;
        writeLineWav(call.voiceWav = voiceDir.file("quiet.wav"), quiet);
        call.quitAfterSeconds = 25;
        BaresipPeer peer(call);
        QVERIFY2(waitFor([&] { return s.slot().recState == 1; }, 10000), qPrintable(peer.output()));
        peer.command(QStringLiteral("/sndcode *4711"));
        QVERIFY2(waitFor([&] { return remote.inSession(0); }, 6000), qPrintable(s.statusText()));
        // Summary, introduction, then the message to its end: read.
        QVERIFY2(waitFor([&] { return store.messages(MessageStore::List::Unread).isEmpty(); }, 20000),
                 qPrintable(s.statusText()));
        QVERIFY(peer.finished(15000));
        // The owner's call itself left no message; the PIN is nowhere.
        QCOMPARE(s.recordings(), QStringList({name}));
        QVERIFY(!s.statusText().contains("4711"));
        const auto [matched, pieces] = voicePieces(message, peer.heard(), 200);
        QVERIFY2(matched >= 3, qPrintable(QStringLiteral("%1 of %2 loud half-seconds are the message").arg(matched).arg(pieces)));
    }
};

QTEST_GUILESS_MAIN(tst_SipRemote)
#include "tst_SipRemote.moc"
