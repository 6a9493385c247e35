#include "audio/WaveFile.h"
#include "support/FakeShell.h"
#include "support/Files.h"
#include "support/WaveBytes.h"

#include <QFile>
#include <QTest>
#include <QtEndian>

#include <cmath>

using namespace telvox;
using namespace telvox::test;

namespace {

QByteArray sine16(int rate, int channels, int frames, double hz)
{
    QByteArray b(frames * channels * 2, Qt::Uninitialized);
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            qToLittleEndian<qint16>(static_cast<qint16>(std::lround(10000 * std::sin(2 * M_PI * hz * i / rate))),
                                    b.data() + (i * channels + c) * 2);
    return b;
}

// A parsed wave file of the given format holding `data`.
WaveData wave(quint16 tag, quint16 channels, quint32 rate, quint16 bits, const QByteArray &data)
{
    return *parseWave(riff(chunk("fmt ", fmtBody(tag, channels, rate, bits)) + chunk("data", data)));
}

} // namespace

class tst_WaveFile : public QObject
{
    Q_OBJECT
private slots:
    void findsChunksAnywhereAndSkipsOddSizedOnes()
    {
        const QByteArray data("\x01\x00\x02\x00\x03\x00", 6);
        const QByteArray file = riff(chunk("LIST", "odd") + chunk("fmt ", fmtBody(1, 1, 8000, 16))
                                     + chunk("fact", QByteArray(4, '\0')) + chunk("junk", "12345") + chunk("data", data));
        const auto w = parseWave(file);
        QVERIFY(w);
        QVERIFY(w->format.isLinePcm());
        QCOMPARE(w->format.extraSize, quint16(0)); // a 16-byte "fmt " chunk has no extra size
        QCOMPARE(w->data, data);

        // "data" before "fmt " is found too.
        const auto reversed = parseWave(riff(chunk("data", data) + chunk("fmt ", fmtBody(1, 1, 8000, 16, 0))));
        QVERIFY(reversed);
        QCOMPARE(reversed->data, data);

        // A data chunk cut short yields what is there.
        const QByteArray cut = riff(chunk("fmt ", fmtBody(1, 1, 8000, 16)) + chunk("data", QByteArray(1000, 'z')));
        QCOMPARE(parseWave(cut.left(cut.size() - 400))->data.size(), 600);
    }

    void rejectsWhatIsNotAWave_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray good = riff(chunk("fmt ", fmtBody(1, 1, 8000, 16)) + chunk("data", QByteArray(100, 'a')));
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not riff") << QByteArray("RIFX") + good.mid(4);
        QTest::newRow("not wave") << good.left(8) + "AVI " + good.mid(12);
        QTest::newRow("no data chunk") << riff(chunk("fmt ", fmtBody(1, 1, 8000, 16)));
        QTest::newRow("no fmt chunk") << riff(chunk("data", "abcd"));
        QTest::newRow("fmt too short") << riff(chunk("fmt ", QByteArray(10, '\0')) + chunk("data", "abcd"));
        QTest::newRow("truncated inside fmt") << good.left(30);
        QTest::newRow("chunk size past the end") << riff(chunk("junk", "") .left(4) + QByteArray("\xff\xff\xff\xff", 4)
                                                        + chunk("fmt ", fmtBody(1, 1, 8000, 16)));
    }
    void rejectsWhatIsNotAWave()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(!parseWave(bytes));
    }

    void promptsAreConvertedToTheLineFormat()
    {
        // 11025 Hz stereo 16-bit, one second of 400 Hz: 8000 mono samples of the same tone.
        const auto line = toLineFormat(wave(1, 2, 11025, 16, sine16(11025, 2, 11025, 400)));
        QVERIFY(line);
        QCOMPARE(line->size(), 2 * 8000);
        // Count zero crossings: 400 Hz gives about 800 per second.
        int crossings = 0;
        qint16 prev = 0;
        for (int i = 0; i < 8000; ++i) {
            const qint16 s = qFromLittleEndian<qint16>(line->constData() + 2 * i);
            if ((s >= 0) != (prev >= 0))
                ++crossings;
            prev = s;
        }
        QVERIFY2(std::abs(crossings - 800) <= 4, qPrintable(QString::number(crossings)));

        const auto converted = toLineFormat(wave(1, 1, 8000, 8, QByteArray("\x80\xff\x00", 3)));
        QVERIFY(converted);
        QCOMPARE(qFromLittleEndian<qint16>(converted->constData()), qint16(0));
        QCOMPARE(qFromLittleEndian<qint16>(converted->constData() + 2), qint16(127 * 256));
        QCOMPARE(qFromLittleEndian<qint16>(converted->constData() + 4), qint16(-128 * 256));
        QVERIFY(!toLineFormat(wave(7, 1, 8000, 8, "abc"))); // mu-law
    }

    // A header's rate decides how much the conversion allocates: only 4000..48000 Hz and 1 to 8
    // channels are taken, and the result is never more than twice the data.
    void promptsWithImpossibleHeadersAreRefused_data()
    {
        QTest::addColumn<quint32>("rate");
        QTest::addColumn<quint16>("channels");
        QTest::addColumn<int>("problem");
        QTest::addColumn<int>("lineBytes"); // from 8000 bytes of 16-bit data
        QTest::newRow("1 Hz") << 1u << quint16(1) << int(PromptProblem::Rate) << -1;
        QTest::newRow("3999 Hz") << 3999u << quint16(1) << int(PromptProblem::Rate) << -1;
        QTest::newRow("4000 Hz") << 4000u << quint16(1) << int(PromptProblem::None) << 16000;
        QTest::newRow("48000 Hz") << 48000u << quint16(1) << int(PromptProblem::None) << 1332;
        QTest::newRow("48001 Hz") << 48001u << quint16(1) << int(PromptProblem::Rate) << -1;
        QTest::newRow("4 GHz") << 0xFFFFFFFFu << quint16(1) << int(PromptProblem::Rate) << -1;
        QTest::newRow("8 channels") << 8000u << quint16(8) << int(PromptProblem::None) << 1000;
        QTest::newRow("9 channels") << 8000u << quint16(9) << int(PromptProblem::Format) << -1;
        QTest::newRow("no channels") << 8000u << quint16(0) << int(PromptProblem::Format) << -1;
    }
    void promptsWithImpossibleHeadersAreRefused()
    {
        QFETCH(quint32, rate);
        QFETCH(quint16, channels);
        QFETCH(int, problem);
        QFETCH(int, lineBytes);
        const WaveData w = wave(1, channels, rate, 16, QByteArray(8000, '\x10'));
        QCOMPARE(int(promptProblem(w.format)), problem);
        const auto line = toLineFormat(w);
        QCOMPARE(line ? int(line->size()) : -1, lineBytes);

        // From a file: the problem and the claimed rate are told, nothing is converted.
        ScratchDir dir;
        QVERIFY(writeBytes(dir.file("p.wav"), riff(chunk("fmt ", fmtBody(1, channels, rate, 16)) + chunk("data", w.data))));
        const LinePrompt prompt = readLinePrompt(dir.file("p.wav"));
        QCOMPARE(int(prompt.problem), problem);
        QCOMPARE(prompt.claimedRate, rate);
        QCOMPARE(bool(prompt.audio), problem == int(PromptProblem::None));
        QVERIFY(!readLinePrompt(dir.file("missing.wav")).audio);
        QCOMPARE(int(readLinePrompt(dir.file("missing.wav")).problem), int(PromptProblem::None));
    }
};

QTEST_GUILESS_MAIN(tst_WaveFile)
#include "tst_WaveFile.moc"
