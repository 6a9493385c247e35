// SIP lines against real peers on the loopback interface, in real time: Debian's baresip
// calls (its voice a spoken wave file, which Telvox's recording is compared with), keys touch
// tones, is called and answers (at once, or after early media); kamailio is the registrar
// (kamailio.cfg) and rings a group of phones. Calls go through the call flow and the audio
// engine, and one through the whole program.
#include "SipCallSystem.h"
#include "telephony/Dialler.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>

#include <ctime>

using namespace telvox;
using namespace telvox::test;

class tst_SipCall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // CI installs the peers (scripts/setup); a missing one is a failure, not a skip.
        QVERIFY2(!BaresipPeer::modules().isEmpty(), "baresip or its modules are missing: run scripts/setup (baresip-core)");
        QVERIFY2(!Registrar::modules().isEmpty(), "kamailio or its modules are missing: run scripts/setup (kamailio)");
    }

    // Rings at the line's cadence, the answer at the ring count, greeting and "*" heard by the
    // caller, the caller's voice recorded until its BYE.
    void answeredMessageIsRecordedFromTheCallersVoice()
    {
        System s(2);
        QVERIFY2(s.startFailure.isEmpty(), qPrintable(s.startFailure));
        BaresipCall call = s.caller();
        QVERIFY2(call.target.startsWith("sip:telvox@127.0.0.1:"), qPrintable(call.target));
        call.from = QStringLiteral("\"张伟 Anna\" <sip:5551234@127.0.0.1>"); // a UTF-8 display name
        call.quitAfterSeconds = 9;
        BaresipPeer peer(call);
        QVERIFY2(waitFor([&] { return s.slot().hCall != 0; }, 8000), qPrintable(peer.output()));
        QElapsedTimer offered;
        offered.start();
        const std::clock_t cpuBefore = std::clock(); // the process's CPU time
        LineCallInfo info;
        QCOMPARE(s.sipLines->lineGetCallInfo(s.slot().hCall, info), 0);
        QCOMPARE(textField(info.callerIdName), QStringLiteral("张伟 Anna"));
        QVERIFY(waitFor([&] { return s.slot().recState == 1; }, 10000));
        QVERIFY2(s.slot().mode == "A" && offered.elapsed() > 300, "answered before the second ring");

        // baresip hangs up (BYE) when its time is up: the message ends and is listed.
        QVERIFY(waitFor([&] { return !s.recordings().isEmpty(); }, 15000));
        const double cpuCall = double(std::clock() - cpuBefore) / CLOCKS_PER_SEC, callSeconds = offered.elapsed() / 1000.0;
        QVERIFY(waitFor([&] { return s.slot().hCall == 0; }, 5000));
        const QStringList files = s.recordings();
        QVERIFY2(files.size() == 1 && files[0].startsWith("A") && files[0].endsWith("~5551234.wav"), qPrintable(files.join(',')));
        QCOMPARE(s.lists().unreadEntries(), files);
        QVERIFY(s.statusText().contains("CallerID:5551234"));
        checkSameVoice(readLineWav(speechFile().toStdString()), s.recording(files[0]));

        // The caller heard the greeting, and the "*" both as a telephone event and as a tone
        // (941 Hz with 1209 Hz): a person hears it whatever their phone does with events.
        peer.finished(5000);
        QVERIFY2(peer.output().contains("received event: '*'"), qPrintable(peer.output().right(1500)));
        const std::vector<std::int16_t> heard = peer.heard();
        QVERIFY2(bestToneShare(heard, 4000, 440, 440) > 0.8, qPrintable(QString::number(heard.size())));
        QVERIFY2(bestToneShare(heard, 640, 941, 1209) > 0.3, "no \"*\" in the audio");

        const sip::JitterBuffer::Stats jb = s.sipLines->stack().media(0).rx.stats();
        qInfo("SIP call: %.1f s from the INVITE, CPU %.3f s (%.1f %% of one core); receive delay %.1f ms mean, "
              "send queue %.1f ms mean, %llu late, %llu concealed samples",
              callSeconds, cpuCall, 100 * cpuCall / callSeconds,
              jb.reads ? double(jb.delaySum) / double(jb.reads) / 8.0 : 0.0, s.sipLines->stack().media(0).meanSendingDelay() / 8.0,
              static_cast<unsigned long long>(jb.late), static_cast<unsigned long long>(jb.concealed));
    }

    // The caller's touch tones: heard in the audio while its phone sends no telephone events
    // (though it could), then as RFC 4733 events, after which the audio is no longer searched.
    void callersTouchTonesInTheAudioThenAsEvents()
    {
        System s(1);
        QVERIFY2(s.startFailure.isEmpty(), qPrintable(s.startFailure));
        BaresipCall call = s.caller();
        std::vector<std::int16_t> voice(20000, 0);
        appendTone(voice, 770, 1336, 120); // "5"
        voice.insert(voice.end(), 800, 0);
        appendTone(voice, 941, 1477, 120); // "#"
        voice.insert(voice.end(), 40000, 0);
        appendTone(voice, 852, 1477, 120); // "9", after the events: not to be taken
        voice.insert(voice.end(), 16000, 0);
        call.quitAfterSeconds = 14;
        ScratchDir voiceDir;
        writeLineWav(call.voiceWav = voiceDir.file("keys.wav"), voice);
        BaresipPeer keyed(call);
        QString seen, last; // the digits the call flow got, however often it cleared its list
        const auto digits = [&] {
            seen += s.slot().digits.startsWith(last) ? s.slot().digits.mid(last.size()) : s.slot().digits;
            return (last = s.slot().digits, seen);
        };
        QVERIFY2(waitFor([&] { return digits().contains("5#"); }, 12000), qPrintable(seen));
        keyed.command(QStringLiteral("/sndcode 47"));
        QVERIFY2(waitFor([&] { return digits().contains("5#47"); }, 4000), qPrintable(seen));
        QVERIFY(waitFor([&] { return s.slot().hCall == 0; }, 15000));
        QCOMPARE(digits(), QStringLiteral("5#47"));
    }

    // A call to a ring group: kamailio rings Telvox's registered line and another phone at
    // once; the other phone answers, and the CANCEL Telvox gets says so (RFC 3326). The line
    // goes idle unanswered, nothing is recorded, and the status list tells why.
    void callAnsweredByAnotherPhoneOfTheGroup()
    {
        const quint16 port = freePort();
        Registrar registrar(port);
        QVERIFY(registrar.ready());
        const QString account = QStringLiteral("127.0.0.1:%1").arg(port);
        System s(8, loopbackLine(account));
        QVERIFY2(waitFor([&] { return s.sipLines->registered(0); }, 8000), qPrintable(s.statusText()));
        BaresipCall other{{}, speechFile(), "<sip:telvox@" + account + ">", ";auth_pass=secret;regint=60"};
        BaresipPeer otherPhone(other);
        QVERIFY(waitFor([&] { return otherPhone.output().contains("200 OK"); }, 8000)); // registered
        BaresipPeer caller({"sip:telvox@" + account, speechFile()});
        QVERIFY2(waitFor([&] { return s.statusText().contains("Line0: the call was answered by another phone"); }, 10000),
                 qPrintable(s.statusText() + otherPhone.output()));
        QVERIFY(s.statusText().contains("Line0 Ring..."));
        QVERIFY(waitFor([&] { return s.slot().hCall == 0; }, 2000));
        QTest::qWait(1000);
        QVERIFY(s.recordings().isEmpty() && s.slot().recState == 0);
    }

    // Registration at kamailio: the right password (told once), a wrong one
    // (told once with the registrar's reason, though retried every second), and the registrar
    // going away (noticed at the refresh) and coming back.
    void registration()
    {
        const quint16 port = freePort();
        auto registrar = std::make_unique<Registrar>(port);
        QVERIFY(registrar->ready());
        const QString where = QStringLiteral("127.0.0.1:%1").arg(port);
        {
            System wrong(1, loopbackLine(where, QStringLiteral("wrong")));
            QVERIFY2(waitFor([&] { return wrong.statusText().contains("failed ("); }, 8000), qPrintable(wrong.statusText()));
            QTest::qWait(2500);
            QVERIFY2(wrong.statusText().count(QStringLiteral("Line0: registration at %1 failed (401 ").arg(where)) == 1,
                     qPrintable(wrong.statusText()));
            QVERIFY(!wrong.sipLines->registered(0));
        }
        sip::SipLineSetup setup = loopbackLine(where);
        setup.transport = QStringLiteral("tcp");
        System s(1, setup);
        QVERIFY2(waitFor([&] { return s.sipLines->registered(0); }, 8000), qPrintable(s.statusText()));
        QCOMPARE(s.statusText().count(QStringLiteral("Line0: registered at %1").arg(where)), 1);
        registrar.reset();
        QVERIFY2(waitFor([&] { return s.statusText().contains("network lost"); }, 15000), qPrintable(s.statusText()));
        QVERIFY(!s.sipLines->registered(0));
        registrar = std::make_unique<Registrar>(port);
        QVERIFY(registrar->ready());
        QVERIFY2(waitFor([&] { return s.sipLines->registered(0); }, 8000), qPrintable(s.statusText()));
        QVERIFY2(s.statusText().endsWith(QStringLiteral("Line0: registered at %1 again").arg(where)), qPrintable(s.statusText()));
    }

    // Dialling out: the called party first sends a 183 with a media description (early media:
    // the line is connected for the call flow's audio judge, which waits) and answers later, or
    // answers and says nothing: the 200 OK alone starts the recording. The call is recorded
    // until the called party hangs up. (baresip 1.0.0 sends no audio before it answers.)
    void dialledCallIsAnsweredAndRecorded_data()
    {
        QTest::addColumn<bool>("early");
        QTest::addColumn<bool>("silent");
        QTest::newRow("183 early media, then 200 OK") << true << false;
        QTest::newRow("200 OK, the called party says nothing") << false << true;
    }
    void dialledCallIsAnsweredAndRecorded()
    {
        QFETCH(bool, early);
        QFETCH(bool, silent);
        System s(2);
        QVERIFY2(s.startFailure.isEmpty(), qPrintable(s.startFailure));
        ScratchDir quiet;
        const QString voice = silent ? quiet.file("silence.wav") : speechFile();
        if (silent)
            writeLineWav(voice, std::vector<std::int16_t>(8000 * 8, 0));
        BaresipCall callee{{}, voice, "<sip:bob@127.0.0.1>", ";regint=0", early ? "early" : "auto", early ? 16 : 12,
                           freePort()};
        BaresipPeer peer(callee);
        QTest::qWait(700); // baresip binds its port
        QVERIFY(s.dialler().Dial(QStringLiteral("0"), QStringLiteral("bob@127.0.0.1:%1").arg(callee.listenPort)));
        QVERIFY2(waitFor([&] { return s.slot().recState != 0; }, 8000), qPrintable(s.statusText()));
        QCOMPARE(s.slot().mode, QStringLiteral("O"));
        if (early) { // the 183 is not an answer; the 200 OK is
            QTest::qWait(3000);
            QCOMPARE(s.slot().recState, 2);
            peer.command(QStringLiteral("/accept"));
        }
        QVERIFY2(waitFor([&] { return s.slot().recState == 1; }, silent ? 3000 : 8000),
                 qPrintable(s.statusText() + peer.output()));
        QVERIFY(waitFor([&] { return !s.recordings().isEmpty(); }, 20000));
        QVERIFY(waitFor([&] { return s.slot().hCall == 0; }, 5000));
        const QStringList files = s.recordings();
        QVERIFY2(files.size() == 1 && files[0].startsWith("O"), qPrintable(files.join(',')));
        if (!silent)
            checkSameVoice(readLineWav(speechFile().toStdString()), s.recording(files[0]));
    }

    // Our own calls offer SRTP as the line's option says: "offered" puts a key under the
    // plain profile, and a far end that takes it encrypts, one that does not stays plain;
    // "required" uses the encrypted profile, which a far end insisting on SRTP accepts. The
    // recording is the called party's voice either way.
    void dialledCallOffersSrtp_data()
    {
        QTest::addColumn<int>("option");
        QTest::addColumn<QString>("calleeMedia");
        QTest::addColumn<bool>("encrypted");
        const int offered = int(sip::SipLineSetup::Srtp::WhenOffered);
        QTest::newRow("offered, far end takes SRTP") << offered << ";mediaenc=srtp" << true;
        QTest::newRow("offered, far end plain") << offered << "" << false;
        QTest::newRow("required, far end insists") << int(sip::SipLineSetup::Srtp::Required) << ";mediaenc=srtp-mand" << true;
    }
    void dialledCallOffersSrtp()
    {
        QFETCH(int, option);
        QFETCH(QString, calleeMedia);
        QFETCH(bool, encrypted);
        sip::SipLineSetup setup = loopbackLine();
        setup.srtp = sip::SipLineSetup::Srtp(option);
        System s(2, setup);
        QVERIFY2(s.startFailure.isEmpty(), qPrintable(s.startFailure));
        BaresipCall callee{{}, speechFile(), "<sip:bob@127.0.0.1>", ";regint=0" + calleeMedia, "auto", 10, freePort()};
        BaresipPeer peer(callee);
        QTest::qWait(700); // baresip binds its port
        QVERIFY(s.dialler().Dial(QStringLiteral("0"), QStringLiteral("bob@127.0.0.1:%1").arg(callee.listenPort)));
        QVERIFY2(waitFor([&] { return s.slot().recState == 1; }, 8000), qPrintable(s.statusText() + peer.output()));
        QCOMPARE(s.sipLines->stack().stats(0).encrypted, encrypted);
        QVERIFY(waitFor([&] { return !s.recordings().isEmpty(); }, 20000));
        checkSameVoice(readLineWav(speechFile().toStdString()), s.recording(s.recordings().first()));
    }

    // Dialling over TLS checks the far end's certificate: a self-signed one is refused unless
    // the line's CA file vouches for it.
    void tlsFarEndCertificateIsChecked()
    {
        ScratchDir keys, calleeKeys;
        const QString calleeCertificate = makeCertificate(calleeKeys);
        for (const bool trusted : {false, true}) {
            sip::SipLineSetup setup = loopbackLine();
            setup.transport = QStringLiteral("tls");
            setup.certificate = makeCertificate(keys);
            if (trusted)
                setup.caFile = calleeKeys.file("cert.pem");
            System s(1, setup);
            QVERIFY2(s.startFailure.isEmpty(), qPrintable(s.startFailure));
            BaresipCall callee{{}, speechFile(), "<sip:bob@127.0.0.1>", ";regint=0", "auto", 12, freePort()};
            callee.certificate = calleeCertificate;
            BaresipPeer peer(callee);
            QTest::qWait(700); // baresip binds its ports
            QVERIFY(s.dialler().Dial(QStringLiteral("0"),
                                 QStringLiteral("sip:bob@127.0.0.1:%1;transport=tls").arg(callee.listenPort + 1)));
            const bool answered = waitFor([&] { return s.slot().recState == 1; }, 8000);
            QVERIFY2(answered == trusted, qPrintable(s.statusText() + peer.output().right(800)));
            if (!trusted)
                QVERIFY(!peer.output().contains("Incoming call"));
        }
    }

    // The real program (telvox --service) with a TLS SIP line in its settings, called by
    // baresip: the call is answered, the caller's voice recorded and listed, and mailed with
    // the caller's SIP display name (the phonebook has none); the status list names the caller.
    void wholeProgramRecordsASipCall()
    {
        ScratchDir home;
        const quint16 port = freePort();
        Peer mail;
        // Debian's interpreter, the one with python3-aiosmtpd.
        mail.process.start("/usr/bin/python3", {qEnvironmentVariable("TELVOX_SOURCE_DIR") + "/tests/records/smtp_sink.py",
                                                "--folder", mail.dir.path()});
        QVERIFY(mail.process.waitForReadyRead(20000));
        const QByteArray mailPort = mail.process.readLine().trimmed().mid(5);
        QVERIFY(mailPort.toInt() > 0);
        {
            SettingsStore settings(home.file("telvox.ini"), home.file("settings.txt"));
            for (const auto &[section, key, value] : {std::tuple{"Config", "Language", "0"}, {"Config", "Line0", "1"},
                                                      {"Config", "Rings", "1"}, {"VoiceModem", "Probe", "0"},
                                                      {"Forward", "Enabled", "1"}, {"Forward", "To", "me@example.org"},
                                                      {"Forward", "Host", "127.0.0.1"}, {"Forward", "Security", "none"},
                                                      {"Forward", "Attach", "wav"}})
                settings.WriteSetting(section, key, value);
            settings.WriteSetting("Forward", "Port", QString::fromLatin1(mailPort));
            settings.WriteSetting("SIP", "Line0Listen", QStringLiteral("127.0.0.1:%1").arg(port));
            settings.WriteSetting("SIP", "Line0Transport", "tls");
            settings.WriteSetting("SIP", "Line0Certificate", makeCertificate(home));
        }
        QProcess service;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TELVOX_HOME", home.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        service.setProcessEnvironment(env);
        service.start(TELVOX_EXECUTABLE, {"--service"});
        QVERIFY(waitFor([&] { return !QTcpServer().listen(QHostAddress::LocalHost, port); }, 15000)); // listening
        BaresipPeer peer({QStringLiteral("sip:telvox@127.0.0.1:%1;transport=tls").arg(port), speechFile(),
                          "\"Anna\" <sip:5551234@127.0.0.1>",
                          ";regint=0", "auto", 8});
        QStringList files;
        QString out;
        QVERIFY2(waitFor([&] {
            out += QString::fromUtf8(service.readAllStandardOutput());
            return !(files = QDir(home.file("waveFiles")).entryList({"A*~5551234.wav"}, QDir::Files)).isEmpty();
        }, 25000), qPrintable(out + peer.output()));
        QVERIFY2(waitFor([&] { return QFile::exists(mail.dir.file("001.json")); }, 20000),
                 qPrintable(out + QString::fromUtf8(service.readAllStandardOutput())));
        const QJsonObject mailed = QJsonDocument::fromJson(readAll(mail.dir.file("001.json"))).object();
        QVERIFY2(mailed.value("subject").toString().startsWith("Message from Anna, "), qPrintable(mailed.value("subject").toString()));
        QVERIFY2(mailed.value("text").toString().contains("Anna (5551234)"), qPrintable(mailed.value("text").toString()));
        service.terminate();
        QVERIFY(service.waitForFinished(20000) && service.exitCode() == 0);
        QVERIFY2((out += QString::fromUtf8(service.readAllStandardOutput())).contains("CallerID:5551234"), qPrintable(out));
        QVERIFY2(out.contains(QRegularExpression("CallerID:5551234\n[-0-9: ]+ Anna\n")), qPrintable(out));
        checkSameVoice(readLineWav(speechFile().toStdString()), readLineWav(home.file("waveFiles/" + files[0]).toStdString()));
    }

    // The service as a whole telephone: an account line registered at kamailio, which
    // `telvox --status` shows; `telvox --dial` places a call that is recorded as a dialled
    // call ("O") and `telvox --hangup` ends it.
    void wholeProgramDialsAndReportsTheRegistration()
    {
        const quint16 registrarPort = freePort();
        Registrar registrar(registrarPort);
        QVERIFY(registrar.ready());
        ScratchDir home;
        {
            SettingsStore settings(home.file("telvox.ini"), home.file("settings.txt"));
            for (const auto &[section, key, value] : {std::tuple{"Config", "Language", "0"}, {"Config", "Line0", "1"},
                                                      {"Config", "Rings", "1"}, {"VoiceModem", "Probe", "0"},
                                                      {"SIP", "Line0Listen", "127.0.0.1:0"}, {"SIP", "Line0Password", "secret"},
                                                      {"SIP", "Line0Expires", "60"}})
                settings.WriteSetting(section, key, value);
            settings.WriteSetting("SIP", "Line0Registrar", QStringLiteral("127.0.0.1:%1").arg(registrarPort));
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TELVOX_HOME", home.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        const auto companion = [&](const QStringList &arguments) {
            QProcess p;
            p.setProcessEnvironment(env);
            p.setProcessChannelMode(QProcess::MergedChannels);
            p.start(TELVOX_EXECUTABLE, arguments);
            p.waitForFinished(20000);
            return std::pair{p.exitCode(), QString::fromUtf8(p.readAll())};
        };
        QCOMPARE(companion({"--dial", "0", "123"}).first, 1); // no service yet
        QProcess service;
        service.setProcessEnvironment(env);
        service.start(TELVOX_EXECUTABLE, {"--service"});
        QString status;
        QVERIFY2(waitFor([&] { return (status = companion({"--status"}).second).contains("registered at"); }, 20000),
                 qPrintable(status + service.readAll()));
        QVERIFY2(status.contains(QRegularExpression(QStringLiteral("Line0: idle \\(SIP line; registered at 127.0.0.1:%1, "
                                                                   "last refreshed \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d")
                                                        .arg(registrarPort))),
                 qPrintable(status));

        BaresipCall callee{{}, speechFile(), "<sip:bob@127.0.0.1>", ";regint=0", "auto", 30, freePort()};
        BaresipPeer peer(callee);
        QTest::qWait(700); // baresip binds its port
        const auto refused = companion({"--dial", "7", "123"});
        QVERIFY2(refused.first == 1 && refused.second.contains("no such line"), qPrintable(refused.second));
        const auto dialled = companion({"--dial", "0", QStringLiteral("bob@127.0.0.1:%1").arg(callee.listenPort)});
        QVERIFY2(dialled.first == 0, qPrintable(dialled.second));
        QVERIFY2(waitFor([&] { return (status = companion({"--status"}).second).contains("recording a dialled call"); }, 15000),
                 qPrintable(status + peer.output()));
        QTest::qWait(3000);
        const auto hungUp = companion({"--hangup", "0"});
        QVERIFY2(hungUp.first == 0, qPrintable(hungUp.second));
        QStringList files;
        QVERIFY(waitFor([&] { return !(files = QDir(home.file("waveFiles")).entryList({"O*.wav"}, QDir::Files)).isEmpty(); }, 15000));
        QVERIFY2(files.size() == 1, qPrintable(files.join(',')));
        service.terminate();
        QVERIFY(service.waitForFinished(20000) && service.exitCode() == 0);
        QVERIFY(readLineWav(home.file("waveFiles/" + files[0]).toStdString()).size() > 8000 * 2);
    }
};

QTEST_GUILESS_MAIN(tst_SipCall)
#include "tst_SipCall.moc"
