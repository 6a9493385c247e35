#pragma once

// The call flow, the audio engine and SIP lines in one test program, and how the call tests
// judge a recording: what tst_SipCall and tst_SipSafety share.
#include "SipTestSupport.h"
#include "platform/telephony/LineProgram.h"
#include "platform/telephony/sip/SipTelephony.h"

#include <QTest>

namespace telvox::test {

// A certificate for a TLS line on 127.0.0.1, made by openssl: key and certificate in one file.
inline QString makeCertificate(const ScratchDir &dir)
{
    QProcess openssl;
    openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1",
                              "-keyout", dir.file("key.pem"), "-out", dir.file("cert.pem")});
    openssl.waitForFinished(30000);
    writeBytes(dir.file("line.pem"), readAll(dir.file("key.pem")) + readAll(dir.file("cert.pem")));
    return dir.file("line.pem");
}

inline sip::SipLineSetup loopbackLine(const QString &registrar = {}, const QString &password = QStringLiteral("secret"))
{
    sip::SipLineSetup setup;
    setup.listenAddress = QStringLiteral("127.0.0.1:0");
    setup.registrar = registrar;
    setup.password = password;
    setup.expiresSeconds = 10;
    setup.retrySeconds = 1;
    return setup;
}

// The call flow, the audio engine and one SIP line (its news in the status list), answering at
// `rings` rings (one ring a second) with a one-second 440 Hz greeting.
struct System : LineProgram
{
    explicit System(int rings, const sip::SipLineSetup &setup = loopbackLine())
        : System(rings, std::vector<sip::SipLineSetup>{setup})
    {
    }
    System(int rings, const std::vector<sip::SipLineSetup> &setups)
        : LineProgram(rings, static_cast<int>(setups.size()))
    {
        std::vector<std::int16_t> greeting;
        appendTone(greeting, 440, 440, 1000, 3000);
        writeLineWav(dir.file("greeting.wav"), greeting);
        std::vector<sip::SipLineConfig> lines;
        for (const sip::SipLineSetup &setup : setups)
            lines.push_back({setup, {400, 600}});
        sipLines = std::make_unique<sip::SipTelephony>(loop, lines);
        sipLines->setStatusHandler([this](const sip::SipNotice &n) { news(n.format(texts)); });
        sipLines->setRefusedHandler([this](const QString &number) { refusedNumbers << number; });
        startFailure = sipLines->start();
        start(*sipLines);
    }
    ~System() { stop(); }
    std::vector<std::int16_t> recording(const QString &name) const
    {
        return readLineWav(dir.file("waveFiles/" + name).toStdString());
    }
    BaresipCall caller(int line = 0) const { return {QString::fromLatin1(sipLines->contactUri(line)), speechFile()}; }

    std::unique_ptr<sip::SipTelephony> sipLines;
    QStringList refusedNumbers; // callers turned away as busy
    QString startFailure;
};

// How many of the loud half-seconds of `recorded` (the first `most` of them) are found in
// `sent` (correlation > 0.9), of how many. baresip plays its file in a loop.
inline std::pair<int, int> voicePieces(std::vector<std::int16_t> sent, const std::vector<std::int16_t> &recorded,
                                       int most = 1000)
{
    sent.insert(sent.end(), sent.begin(), sent.end());
    int matched = 0, pieces = 0;
    for (std::size_t at = 0; at + 4000 <= recorded.size() && pieces < most; at += 4000) {
        if (rms(recorded.data() + at, 4000) < 300)
            continue;
        ++pieces;
        if (bestMatch(sent, recorded.data() + at, 4000).first > 0.9)
            ++matched;
    }
    return {matched, pieces};
}

// Every loud half-second of `recorded` is found in `sent` (correlation > 0.9, all but one
// piece) at the level sent (G.711 keeps it within a decibel). baresip plays its file in a loop.
inline void checkSameVoice(std::vector<std::int16_t> sent, const std::vector<std::int16_t> &recorded)
{
    sent.insert(sent.end(), sent.begin(), sent.end());
    int matched = 0, pieces = 0;
    double levelDb = 0;
    for (std::size_t at = 0; at + 4000 <= recorded.size(); at += 4000) {
        if (rms(recorded.data() + at, 4000) < 300)
            continue; // a pause in the speech, ring-back's silence, or after the file ended
        const auto [corr, lag] = bestMatch(sent, recorded.data() + at, 4000);
        ++pieces;
        if (corr > 0.9 && ++matched)
            levelDb += 20 * std::log10(rms(recorded.data() + at, 4000) / rms(sent.data() + lag, 4000));
    }
    QVERIFY2(pieces >= 3 && matched >= pieces - 1, qPrintable(QStringLiteral("%1 of %2").arg(matched).arg(pieces)));
    QVERIFY2(std::abs(levelDb / matched) < 1.0, qPrintable(QString::number(levelDb / matched)));
}

} // namespace telvox::test
