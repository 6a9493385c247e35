// Remote retrieval on a voice modem (telvox-modemsim on a pseudo-terminal, real time): the
// caller's "*" and PIN arrive as the modem's <DLE> digit reports, the session speaks and plays
// a message through the modem's voice transmit, and the message heard to its end is read.
#include "EmulatedModems.h"
#include "audio/RemoteRetrieval.h"
#include "core/Settings.h"
#include "platform/telephony/LineProgram.h"
#include "platform/telephony/modem/ModemTelephony.h"
#include "support/WaveBytes.h"
#include "telephony/RemotePin.h"

#include <QScopeGuard>
#include <QTest>

#include <cmath>
#include <numbers>

using namespace telvox;
using namespace telvox::test;

class tst_ModemRemote : public QObject
{
    Q_OBJECT

private slots:
    void pinByModemDigitsPlaysTheMessage()
    {
        LineProgram p(2, 1);
        QFile::copy(QStringLiteral(":/telvox/prompts/greeting.wav"), p.dir.file("greeting.wav"));
        // A one-second message of 700 Hz, listed unread.
        QByteArray pcm;
        for (int i = 0; i < 8000; ++i) {
            const auto v = static_cast<qint16>(6000 * std::sin(2 * std::numbers::pi * 700 * i / 8000.0));
            pcm.append(reinterpret_cast<const char *>(&v), 2);
        }
        QFile wav(p.dir.file("waveFiles/A2026-01-05~09-00-00~5551234.wav"));
        QVERIFY(wav.open(QIODevice::WriteOnly));
        wav.write(riff(chunk("fmt ", fmtBody(1, 1, 8000, 16)) + chunk("data", pcm)));
        wav.close();
        NewMessage m;
        m.entry = QFileInfo(wav).fileName();
        m.path = wav.fileName();
        m.unread = true;
        m.seconds = 1;

        EmulatedModems sim(1, QStringLiteral("conexant"));
        modem::ModemTelephony modems(p.loop, sim.ports({}));
        modems.start();
        QVERIFY(modems.waitForIdentification(8000));
        p.start(modems);
        // The call flow goes before the modems it uses, whatever the outcome.
        const auto stop = qScopeGuard([&] { p.stop(); });
        MessageStore &store = p.system->messageStore();
        QVERIFY(store.addMessage(m));
        QCOMPARE(remotepin::store(p.system->settings(), "4711"), remotepin::Result::Stored);
        RemoteRetrieval &remote = p.system->remoteRetrieval();

        sim.tell("at 0 line 0 call number \"5550000\" cadence 300/700 audio silence");
        QVERIFY(waitFor([&] { return p.slot().recState == 1; }, 10000));
        const qint64 playedBefore = sim.figure(0, QStringLiteral("played"));
        sim.tell("at 0 line 0 digits \"*4711\"");
        QVERIFY2(waitFor([&] { return remote.inSession(0); }, 8000), qPrintable(p.statusText()));
        QVERIFY(p.statusText().contains("Line0 remote retrieval opened by caller 5550000"));
        // Summary, introduction and the message go out through the modem; heard to its end,
        // the message is read. The owner's own call is no message.
        QVERIFY2(waitFor([&] { return store.messages(MessageStore::List::Unread).isEmpty(); }, 30000),
                 qPrintable(p.statusText()));
        QVERIFY(sim.figure(0, QStringLiteral("played")) > playedBefore + 8000 * 3);
        sim.tell("at 0 line 0 digits \"#\"");
        QVERIFY(waitFor([&] { return p.statusText().contains("Line0 remote retrieval ended"); }, 15000));
        QCOMPARE(p.recordings(), QStringList({m.entry}));
        QVERIFY(!p.statusText().contains("4711"));
    }
};

QTEST_GUILESS_MAIN(tst_ModemRemote)
#include "tst_ModemRemote.moc"
