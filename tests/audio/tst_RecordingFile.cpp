#include "audio/RecordingFile.h"
#include "audio/RecordingJournal.h"
#include "audio/WaveFile.h"
#include "support/FakeShell.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace telvox;
using telvox::test::ScratchDir;
using telvox::test::le32;
using telvox::test::readAll;
using telvox::test::writeBytes;

namespace {

QByteArray pattern(qsizetype n)
{
    QByteArray b(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        b[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return b;
}

// A call whose audio is the file `audio`, recorded through the journal into `folder`.
WriteOutcome recordThroughJournal(const QString &audio, const QString &folder, const QString &name, OutputFormat format)
{
    const QByteArray bytes = readAll(audio);
    RecordingJournal journal;
    if (!journal.open(folder, name, format) || !journal.append(bytes.constData(), bytes.size()))
        return {};
    return journal.finish();
}

} // namespace

class tst_RecordingFile : public QObject
{
    Q_OBJECT
private slots:
    void namesFollowThePattern()
    {
        const QDateTime when(QDate(2026, 12, 4), QTime(8, 30, 15));
        QCOMPARE(RecordingTimeStamp(when), QString("2026-12-04~08-30-15"));
        QCOMPARE(recordingName('A', when, ""), QString("A2026-12-04~08-30-15.wav"));
        QCOMPARE(recordingName('M', when, "~5551234"), QString("M2026-12-04~08-30-15~5551234.wav"));
        QCOMPARE(recordingName('O', QDateTime(QDate(2027, 1, 2), QTime(23, 5, 9)), "~+49 (30) 12-34#*"),
                 QString("O2027-01-02~23-05-09~+49 (30) 12-34#_.wav"));
    }

    void hostileCallerPartsStayInsideTheFolder_data()
    {
        QTest::addColumn<QString>("caller");
        QTest::newRow("parent") << "~../../x";
        QTest::newRow("slashes") << "~/etc/passwd";
        QTest::newRow("backslash") << "~..\\..\\boot.ini";
        QTest::newRow("control") << QString("~12\n34\t\x01\x7f");
        QTest::newRow("long") << "~" + QString(500, '9');
        QTest::newRow("dots only") << "~....";
    }
    void hostileCallerPartsStayInsideTheFolder()
    {
        QFETCH(QString, caller);
        const QString name = recordingName('A', QDateTime(QDate(2026, 1, 1), QTime(0, 0)), caller);
        QVERIFY(!name.contains('/') && !name.contains('\\') && !name.contains(".."));
        for (const QChar c : name)
            QVERIFY(c.unicode() >= 0x20 && c.unicode() != 0x7f);
        QVERIFY(name.size() <= 1 + 19 + 65 + 4);
        QVERIFY(name.startsWith("A2026-01-01~00-00-00~"));
        ScratchDir dir;
        QVERIFY(writeBytes(dir.file("work"), pattern(6000)));
        const WriteOutcome out = recordThroughJournal(dir.file("work"), dir.file("rec"), name, OutputFormat::Pcm);
        QDir().mkpath(dir.file("rec"));
        const WriteOutcome again = recordThroughJournal(dir.file("work"), dir.file("rec"), name, OutputFormat::Pcm);
        QCOMPARE(out.status, WriteOutcome::Status::Failed); // the folder did not exist yet
        QCOMPARE(again.status, WriteOutcome::Status::Written);
        QCOMPARE(QDir(dir.file("rec")).entryList(QDir::Files), QStringList({name}));
    }

    void pcmHeaderBytes()
    {
        const QByteArray h = waveHeader(OutputFormat::Pcm, 5119);
        QCOMPARE(h.toHex(), QByteArray("52494646" "23140000" "57415645" "666d7420" "10000000" "0100" "0100"
                                       "401f0000" "803e0000" "0200" "1000" "64617461" "ff130000"));
    }

    void trueSpeechHeaderBytes()
    {
        const QByteArray h = waveHeader(OutputFormat::TrueSpeech, 10670);
        QCOMPARE(h.size(), 90);
        QCOMPARE(h.left(42).toHex(), QByteArray("52494646" "002a0000" "57415645" "666d7420" "32000000" "2200" "0100"
                                                "401f0000" "2b040000" "2000" "0100" "2000" "0100" "f000"));
        QCOMPARE(h.mid(42, 28), QByteArray(28, '\0'));
        QCOMPARE(h.mid(70, 8), QByteArray("fact\x04\x00\x00\x00", 8));
        QCOMPARE(le32(h, 78), quint32(80000));
        QCOMPARE(h.mid(82, 4), QByteArray("data"));
        QCOMPARE(le32(h, 86), quint32(10670));
        QCOMPARE(le32(waveHeader(OutputFormat::TrueSpeech, 1000000), 78), quint32(7497656));
    }

    void minimumSizeAndExactCopy_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("kept");
        QTest::newRow("pcm 4956 kept") << 0 << 4956 << true;
        QTest::newRow("pcm 4955 discarded") << 0 << 4955 << false;
        QTest::newRow("pcm odd") << 0 << 77777 << true;
        QTest::newRow("ts 4910 kept") << 1 << 4910 << true;
        QTest::newRow("ts 4909 discarded") << 1 << 4909 << false;
    }
    void minimumSizeAndExactCopy()
    {
        QFETCH(int, format);
        QFETCH(int, length);
        QFETCH(bool, kept);
        ScratchDir dir;
        const QByteArray audio = pattern(length);
        QVERIFY(writeBytes(dir.file("tvxt0"), audio));
        const auto f = static_cast<OutputFormat>(format);
        const WriteOutcome out = recordThroughJournal(dir.file("tvxt0"), dir.path(), "A2026-01-01~00-00-00.wav", f);
        const QString path = dir.file("A2026-01-01~00-00-00.wav");
        if (!kept) {
            QCOMPARE(out.status, WriteOutcome::Status::TooShort);
            QVERIFY(!QFile::exists(path)); // no empty file is left behind
            return;
        }
        QCOMPARE(out.status, WriteOutcome::Status::Written);
        const QByteArray file = readAll(path);
        const int headerSize = f == OutputFormat::Pcm ? 44 : 90;
        QCOMPARE(file.size(), headerSize + length);
        QCOMPARE(file.mid(headerSize), audio);
        QCOMPARE(le32(file, 4), quint32(file.size() - 8));
        QCOMPARE(le32(file, headerSize - 4), quint32(length));
        // What we write, our reader reads back.
        const auto parsed = parseWave(file);
        QVERIFY(parsed);
        QCOMPARE(parsed->data, audio);
    }

    void outputFormatSetting()
    {
        QCOMPARE(outputFormatFromSetting("1"), OutputFormat::TrueSpeech);
        for (const char *other : {"0", "2", ""})
            QCOMPARE(outputFormatFromSetting(other), OutputFormat::Pcm);
    }
};

QTEST_GUILESS_MAIN(tst_RecordingFile)
#include "tst_RecordingFile.moc"
