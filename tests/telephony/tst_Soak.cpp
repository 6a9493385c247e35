// Thousands of calls over four lines in virtual time, through the whole call path: messages,
// conversations picked up on a parallel handset, dialled calls that are answered, and dialled
// calls that never are (busy, nobody, a silent party; ended by the far end, the pop-up's
// Hang Up or the dialler's Drop). Every call is accounted for: what it should have left (one
// recording of the right kind and length, or none) is compared with what it did leave.
//
// TELVOX_SOAK_CALLS sets the number of calls (default 300); TELVOX_SOAK_SEED the seed. The
// figures are printed at the end.
#include "support/CallRig.h"

#include <QElapsedTimer>
#include <QTest>

#include <sys/resource.h>

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
const char *const kKindNames[] = {"message", "parallel pick-up", "dialled, answered", "dialled, unanswered"};
enum class Ending { FarEnd, PopupHangUp, DiallerDrop };

struct LineRun
{
    enum { Idle, Connecting, Talking, HangingUp } phase = Idle;
    Kind kind = Message;
    Ending ending = Ending::FarEnd;
    int talkMs = 5000;
    QString number;
    std::int64_t nextStart = 0;
    std::int64_t since = 0;
    QString what(int line) const { return QString("line %1, %2 %3").arg(line).arg(kKindNames[kind], number); }
};

// expected: recordings the calls should have left; found: those found of the right kind and
// length; missing, cut (a second or more off), extra (no call should have left it), unlisted
// (not in the message lists), stuck (a line that did not come back clean).
struct Figures
{
    std::array<int, 4> calls{};
    int expected = 0, found = 0, missing = 0, cut = 0, extra = 0, unlisted = 0, stuck = 0;
    QStringList faults;
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
        Figures f;
        int started = 0;
        int finished = 0;
        QElapsedTimer wall;
        wall.start();

        const auto start = [&](int n, LineRun &run) {
            const int roll = uniform(0, 99);
            run.kind = roll < 60 ? Message : roll < 75 ? Pickup : roll < 85 ? DialAnswered : DialUnanswered;
            run.talkMs = uniform(3000, 9000);
            const auto party = OutgoingBehaviour::Kind(uniform(0, 2)); // busy, nobody, a silent party
            run.ending = Ending(uniform(0, 2));
            run.number = QString::number((run.kind >= DialAnswered ? 800000 : 900000) + started);
            ++f.calls[std::size_t(run.kind)];
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
        // What the call left: its recordings (found by the number in their names), checked
        // against the plan, then removed so that the folder stays small over thousands of calls.
        const auto account = [&](int n, const LineRun &run) {
            const QStringList files = c.recordings().filter("~" + run.number + ".wav");
            const bool wants = run.kind != DialUnanswered;
            const QChar mode = "AMO"[std::min<int>(run.kind, 2)];
            f.expected += wants ? 1 : 0;
            if (wants && files.isEmpty()) {
                ++f.missing;
                f.faults << run.what(n) + ": no recording";
            }
            for (int i = 0; i < files.size(); ++i) {
                const double seconds = c.seconds(files[i]);
                if (!wants || i > 0 || !files[i].startsWith(mode)) {
                    ++f.extra;
                    f.faults << run.what(n) + ": unexpected " + files[i];
                } else if (std::abs(seconds - run.talkMs / 1000.0) >= 1.0) {
                    ++f.cut;
                    f.faults << run.what(n) + QString(": %1 s of %2").arg(seconds).arg(run.talkMs / 1000.0);
                } else {
                    ++f.found;
                }
                if (wants && i == 0 && !(mode == 'A' ? c.lists.unreadEntries() : c.lists.lastTenEntries()).contains(files[i]))
                    ++f.unlisted;
                QFile::remove(c.recordingPath(files[i]));
            }
        };

        while (finished < total) {
            c.loop.advance(100);
            const std::int64_t now = c.loop.now();
            for (int n = 0; n < 4; ++n) {
                LineRun &run = lines[std::size_t(n)];
                if (run.phase == LineRun::Idle && started < total && now >= run.nextStart) {
                    if (!start(n, run)) {
                        ++f.stuck;
                        f.faults << QString("line %1 refused call %2").arg(n).arg(started);
                        run.nextStart = now + 5000;
                        continue;
                    }
                    ++started;
                    run.phase = LineRun::Connecting;
                    run.since = now;
                } else if (run.phase == LineRun::Connecting) {
                    const bool recording = c.slot(n).recState == (run.kind == DialUnanswered ? 2 : 1);
                    if (!recording && now - run.since > 60000)
                        f.faults << run.what(n) + ": the recording never started";
                    if (recording || now - run.since > 60000) {
                        run.phase = LineRun::Talking;
                        run.since = now;
                    }
                } else if (run.phase == LineRun::Talking && now - run.since >= run.talkMs) {
                    if (run.kind != DialUnanswered || run.ending == Ending::FarEnd)
                        c.exchange->hangUpFarEnd(n, FarEndHangUp::WithDisconnect);
                    else if (run.ending == Ending::PopupHangUp)
                        c.core->cmdHangup_Click(n);
                    else
                        c.dialler->Drop(QString::number(n));
                    run.phase = LineRun::HangingUp;
                    run.since = now;
                } else if (run.phase == LineRun::HangingUp && (c.lineIsClean(n) || now - run.since > 20000)) {
                    if (!c.lineIsClean(n)) {
                        ++f.stuck;
                        f.faults << run.what(n) + QString(": the line did not come back (recState %1)").arg(c.slot(n).recState);
                    }
                    account(n, run);
                    ++finished;
                    run.phase = LineRun::Idle;
                    run.nextStart = now + (c.lineIsClean(n) ? uniform(500, 4000) : 1000);
                }
            }
        }

        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::uint64_t heard = 0;
        std::size_t kept = 0;
        for (int n = 0; n < 4; ++n) {
            heard += c.exchange->heardSampleCount(n);
            kept += c.exchange->heardByFarEnd(n).size();
        }
        qInfo("soak: %d calls (%d messages, %d parallel pick-ups, %d dialled answered, %d dialled unanswered) "
              "in %.1f virtual hours, %.1f s of wall time",
              total, f.calls[0], f.calls[1], f.calls[2], f.calls[3], double(c.loop.now()) / 3.6e6,
              double(wall.elapsed()) / 1000.0);
        qInfo("soak: recordings expected %d, found whole %d, missing %d, cut %d, extra %d, unlisted %d; stuck lines %d",
              f.expected, f.found, f.missing, f.cut, f.extra, f.unlisted, f.stuck);
        qInfo("soak: peak resident memory %ld MB; the far ends heard %llu samples and kept %zu",
              usage.ru_maxrss / 1024, static_cast<unsigned long long>(heard), kept);
        for (const QString &fault : f.faults.mid(0, 20))
            qWarning("%s", qPrintable(fault));

        QVERIFY(f.calls[0] > 0 && f.calls[1] > 0 && f.calls[2] > 0 && f.calls[3] > 0);
        QCOMPARE(f.faults, QStringList());
        QCOMPARE(f.unlisted, 0);
        QCOMPARE(f.found, f.expected);
        QCOMPARE(kept, std::size_t(0));
    }
};

QTEST_GUILESS_MAIN(tst_Soak)
#include "tst_Soak.moc"
