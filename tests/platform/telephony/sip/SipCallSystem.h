#pragma once

// The call flow, the audio engine and SIP lines in one test program, and how the call tests
// judge a recording: what tst_SipCall and tst_SipSafety share.
#include "SipTestSupport.h"
#include "platform/telephony/LineProgram.h"
#include "platform/telephony/sip/SipTelephony.h"

#include <QTest>

#include <utility>

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

// The SIP lines as the call flow sees them, with one step of its clean-up that a test can
// hold: while held, the call flow's lineDeallocateCall returns at once and reaches the lines
// only on release(), so the lines stay busy with the call that ended for as long as the test
// likes (a caller may then call again "while the call is being let go", every time).
class HeldCleanUp final : public TelephonyService, public WaveDeviceProvider
{
public:
    explicit HeldCleanUp(sip::SipTelephony &lines)
        : m_lines(lines)
    {
    }
    void hold() { m_held = true; }
    int heldCalls() const { return static_cast<int>(m_calls.size()); }
    void release()
    {
        m_held = false;
        for (const HCall call : std::exchange(m_calls, {}))
            QCOMPARE(m_lines.lineDeallocateCall(call), 0);
    }

    std::int32_t lineDeallocateCall(HCall call) override
    {
        if (!m_held)
            return m_lines.lineDeallocateCall(call);
        m_calls.push_back(call);
        return 0;
    }
    std::int32_t lineInitialize(HLineApp &app, LineCallback callback, const QString &name, std::uint32_t &devs) override
    {
        return m_lines.lineInitialize(app, std::move(callback), name, devs);
    }
    std::int32_t lineNegotiateAPIVersion(HLineApp app, std::uint32_t device, std::uint32_t low, std::uint32_t high,
                                         std::uint32_t &version, std::uint64_t &extension) override
    {
        return m_lines.lineNegotiateAPIVersion(app, device, low, high, version, extension);
    }
    std::int32_t lineGetDevCaps(HLineApp app, std::uint32_t device, std::uint32_t version, std::uint32_t ext,
                                LineDevCaps &caps) override
    {
        return m_lines.lineGetDevCaps(app, device, version, ext, caps);
    }
    std::int32_t lineOpen(HLineApp app, std::uint32_t device, HLine &line, std::uint32_t version, std::uint32_t ext,
                          std::uintptr_t instance, std::uint32_t privileges, std::uint32_t modes) override
    {
        return m_lines.lineOpen(app, device, line, version, ext, instance, privileges, modes);
    }
    std::int32_t lineSetStatusMessages(HLine line, std::uint32_t states, std::uint32_t addressStates) override
    {
        return m_lines.lineSetStatusMessages(line, states, addressStates);
    }
    std::int32_t lineGetCallInfo(HCall call, LineCallInfo &info) override { return m_lines.lineGetCallInfo(call, info); }
    std::int32_t lineAnswer(HCall call) override { return m_lines.lineAnswer(call); }
    std::int32_t lineDrop(HCall call) override { return m_lines.lineDrop(call); }
    std::int32_t lineReject(HCall call, RejectReason reason) override { return m_lines.lineReject(call, reason); }
    std::int32_t lineGenerateDigits(HCall call, std::uint32_t mode, const QString &digits, std::uint32_t ms) override
    {
        return m_lines.lineGenerateDigits(call, mode, digits, ms);
    }
    std::int32_t lineMonitorDigits(HCall call, std::uint32_t modes) override { return m_lines.lineMonitorDigits(call, modes); }
    std::int32_t lineGetID(HLine line, std::uint32_t address, HCall call, std::uint32_t select, std::uint32_t &device,
                           const QString &deviceClass) override
    {
        return m_lines.lineGetID(line, address, call, select, device, deviceClass);
    }
    std::int32_t lineMakeCall(HLine line, HCall &call, const QString &to, std::uint32_t country) override
    {
        return m_lines.lineMakeCall(line, call, to, country);
    }
    std::int32_t lineClose(HLine line) override { return m_lines.lineClose(line); }
    std::int32_t lineShutdown(HLineApp app) override { return m_lines.lineShutdown(app); }

    bool hasInput(int id) const override { return m_lines.hasInput(id); }
    bool hasOutput(int id) const override { return m_lines.hasOutput(id); }
    WaveResult openIn(int id, const PcmFormat &format, WaveCallback callback, std::unique_ptr<WaveIn> &device) override
    {
        return m_lines.openIn(id, format, std::move(callback), device);
    }
    WaveResult openOut(int id, const PcmFormat &format, WaveCallback callback, std::unique_ptr<WaveOut> &device) override
    {
        return m_lines.openOut(id, format, std::move(callback), device);
    }

private:
    sip::SipTelephony &m_lines;
    bool m_held = false;
    std::vector<HCall> m_calls;
};

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
        cleanUp = std::make_unique<HeldCleanUp>(*sipLines);
        start(*cleanUp);
    }
    ~System() { stop(); }
    std::vector<std::int16_t> recording(const QString &name) const
    {
        return readLineWav(dir.file("waveFiles/" + name).toStdString());
    }
    BaresipCall caller(int line = 0) const { return {QString::fromLatin1(sipLines->contactUri(line)), speechFile()}; }

    std::unique_ptr<sip::SipTelephony> sipLines;
    std::unique_ptr<HeldCleanUp> cleanUp; // the call flow's way to the lines
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
