// Hundreds of calls over four lines at once in virtual time, through the whole call path:
// messages, conversations picked up on a parallel handset, dialled calls that are answered, and
// dialled calls that never are (busy, nobody, a silent party; ended by the far end, the pop-up's
// Hang Up or the dialler's Drop). Every call must leave what it should (one listed recording of
// the right kind and length, or none) and its line clean for the next one.
//
// TELVOX_SOAK_CALLS sets the number of calls (default 300); TELVOX_SOAK_SEED the seed.
#include "support/CallRig.h"

#include <QTest>

#include <array>
#include <random>

using namespace telvox;
using namespace telvox::test;

namespace {

// Synthetic talk costs far more to make than the whole call path costs to run: every talker
// plays the same half minute of it, made once, from their own starting point.
class TalkLoop final : public sim::SampleSource
{
public:
    TalkLoop(std::shared_ptr<const std::vector<std::int16_t>> talk, std::size_t start)
        : m_talk(std::move(talk))
        , m_pos(start % m_talk->size())
    {
    }
    void read(std::span<std::int16_t> out) override
    {
        for (std::int16_t &sample : out) {
            sample = (*m_talk)[m_pos];
            m_pos = (m_pos + 1) % m_talk->size();
        }
    }

private:
    std::shared_ptr<const std::vector<std::int16_t>> m_talk;
    std::size_t m_pos;
};

enum Kind { Message, Pickup, DialAnswered, DialUnanswered };

struct LineRun
{
    enum { Idle, Connecting, Talking, HangingUp } phase = Idle;
    Kind kind = Message;
    int ending = 0; // an unanswered dialled call: 0 far end, 1 pop-up Hang Up, 2 dialler Drop
    int talkMs = 5000;
    QString number;
    std::int64_t nextStart = 0;
    std::int64_t since = 0;
};

} // namespace

class tst_Soak : public QObject
{
    Q_OBJECT
private slots:
    void everyCallIsAccountedFor()
    {
        const int total = qEnvironmentVariableIsSet("TELVOX_SOAK_CALLS") ? qEnvironmentVariableIntValue("TELVOX_SOAK_CALLS") : 300;
        const auto seed = qEnvironmentVariableIsSet("TELVOX_SOAK_SEED") ? qEnvironmentVariable("TELVOX_SOAK_SEED").toULongLong()
                                                                        : 20261206ull;
        CallRig::Options options;
        options.lines = 4;
        CallRig c(options);
        std::mt19937_64 rng(seed);
        const auto talk = std::make_shared<const std::vector<std::int16_t>>(
            sim::SpeechLikeSource(seed).next(std::size_t(30) * sim::kLineSampleRate));
        const auto talker = [&] { return std::make_shared<TalkLoop>(talk, std::size_t(rng() % talk->size())); };
        const auto uniform = [&rng](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };

        std::array<LineRun, 4> lines;
        for (int n = 0; n < 4; ++n)
            lines[std::size_t(n)].nextStart = 500 * n;
        std::array<int, 4> calls{};
        QStringList faults;
        int started = 0, finished = 0;
        const auto what = [](int n, const LineRun &run) { return QString("line %1, call %2 of kind %3").arg(n).arg(run.number).arg(run.kind); };

        const auto start = [&](int n, LineRun &run) {
            const int roll = uniform(0, 99);
            run.kind = roll < 60 ? Message : roll < 75 ? Pickup : roll < 85 ? DialAnswered : DialUnanswered;
            run.talkMs = uniform(3000, 9000);
            const auto party = OutgoingBehaviour::Kind(uniform(0, 2)); // busy, nobody, a silent party
            run.ending = uniform(0, 2);
            run.number = QString::number((run.kind >= DialAnswered ? 800000 : 900000) + started);
            ++calls[std::size_t(run.kind)];
            if (run.kind == Message || run.kind == Pickup) {
                IncomingCall in;
                in.number = run.number.toLatin1();
                in.pickUpAfterRing = run.kind == Pickup ? 2 : 0;
                in.speech = talker();
                return c.exchange->placeIncomingCall(n, in);
            }
            OutgoingBehaviour b = calledParty(run.kind == DialAnswered ? OutgoingBehaviour::Kind::Answer : party,
                                              uniform(3000, 7000));
            if (run.kind == DialAnswered)
                b.speech = talker();
            c.exchange->setOutgoingBehaviour(n, b);
            return c.dialler->Dial(QString::number(n), run.number);
        };
        // What the call left (its recordings, found by the number in their names) against the
        // plan; then they go, so that the folder stays small over hundreds of calls.
        const auto account = [&](int n, const LineRun &run) {
            const QStringList files = c.recordings().filter("~" + run.number + ".wav");
            const QChar mode = "AMO"[std::min<int>(run.kind, 2)];
            const double seconds = files.isEmpty() ? 0 : c.seconds(files[0]);
            const QStringList listed = mode == 'A' ? c.lists.unreadEntries() : c.lists.lastTenEntries();
            const bool right = run.kind == DialUnanswered
                                   ? files.isEmpty()
                                   : files.size() == 1 && files[0].startsWith(mode) && listed.contains(files[0])
                                         && std::abs(seconds - run.talkMs / 1000.0) < 1.0;
            if (!right)
                faults << what(n, run) + QString(": left [%1], %2 s of %3").arg(files.join(", ")).arg(seconds).arg(run.talkMs / 1000.0);
            for (const QString &file : files)
                QFile::remove(c.recordingPath(file));
        };

        while (finished < total) {
            c.loop.advance(100);
            const std::int64_t now = c.loop.now();
            for (int n = 0; n < 4; ++n) {
                LineRun &run = lines[std::size_t(n)];
                if (run.phase == LineRun::Idle && started < total && now >= run.nextStart) {
                    if (!start(n, run)) {
                        faults << QString("line %1 refused call %2").arg(n).arg(started);
                        run.nextStart = now + 5000;
                        continue;
                    }
                    ++started;
                    run.phase = LineRun::Connecting;
                    run.since = now;
                } else if (run.phase == LineRun::Connecting) {
                    const bool recording = c.slot(n).recState == (run.kind == DialUnanswered ? RecState::AwaitingAnswer : RecState::Recording);
                    if (!recording && now - run.since > 60000)
                        faults << what(n, run) + ": the recording never started";
                    if (recording || now - run.since > 60000) {
                        run.phase = LineRun::Talking;
                        run.since = now;
                    }
                } else if (run.phase == LineRun::Talking && now - run.since >= run.talkMs) {
                    if (run.kind != DialUnanswered || run.ending == 0)
                        c.exchange->hangUpFarEnd(n, FarEndHangUp::WithDisconnect);
                    else if (run.ending == 1)
                        c.core->cmdHangup_Click(n);
                    else
                        c.dialler->Drop(QString::number(n));
                    run.phase = LineRun::HangingUp;
                    run.since = now;
                } else if (run.phase == LineRun::HangingUp && (c.lineIsClean(n) || now - run.since > 20000)) {
                    if (!c.lineIsClean(n))
                        faults << what(n, run) + ": the line did not come back";
                    account(n, run);
                    ++finished;
                    run.phase = LineRun::Idle;
                    run.nextStart = now + (c.lineIsClean(n) ? uniform(500, 4000) : 1000);
                }
            }
        }
        qInfo("soak: %d messages, %d parallel pick-ups, %d dialled answered, %d dialled unanswered in %.1f virtual hours",
              calls[0], calls[1], calls[2], calls[3], double(c.loop.now()) / 3.6e6);
        QVERIFY(calls[0] > 0 && calls[1] > 0 && calls[2] > 0 && calls[3] > 0);
        QCOMPARE(faults.mid(0, 20), QStringList());
        for (int n = 0; n < 4; ++n)
            QCOMPARE(c.exchange->heardByFarEnd(n).size(), std::size_t(0)); // the far ends keep nothing
    }
};

QTEST_GUILESS_MAIN(tst_Soak)
#include "tst_Soak.moc"
