// Thousands of calls over four lines in virtual time, through the whole call path: messages,
// conversations picked up on a parallel handset, dialled calls that are answered, and dialled
// calls that never are (busy, nobody, a silent party; ended by the far end, the pop-up's
// Hang Up or the dialler's Drop). Every call is accounted for: what it should have left (one
// recording of the right kind and length, or none) is compared with what it did leave.
//
// TELVOX_SOAK_CALLS sets the number of calls (default 300); TELVOX_SOAK_SEED the seed. The
// figures are printed at the end.
#include "sim/audio/SpeechLikeSource.h"
#include "support/CallRig.h"

#include <QElapsedTimer>
#include <QTest>

#include <sys/resource.h>

#include <array>
#include <random>

using namespace telvox;
using namespace telvox::test;

namespace {

class Quiet final : public sim::SampleSource
{
public:
    void read(std::span<std::int16_t> out) override { std::fill(out.begin(), out.end(), std::int16_t{0}); }
};

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

enum class Kind { Message, Pickup, DialAnswered, DialUnanswered };
enum class Ending { FarEnd, PopupHangUp, DiallerDrop };

struct Plan
{
    Kind kind = Kind::Message;
    OutgoingBehaviour::Kind party = OutgoingBehaviour::Kind::Busy; // DialUnanswered
    bool silentParty = false;                                      // answers but never speaks
    Ending ending = Ending::FarEnd;
    int talkMs = 5000;
    QString number;
};

struct LineRun
{
    int phase = 0; // 0 idle, 1 connecting, 2 talking, 3 ending
    Plan plan;
    std::int64_t nextStart = 0;
    std::int64_t since = 0;
};

struct Figures
{
    std::array<int, 4> calls{};
    int expected = 0;  // recordings the calls should have left
    int found = 0;     // recordings found where they should be, of the right kind and length
    int missing = 0;   // a call that should have left one and did not
    int cut = 0;       // one whose length is off by a second or more
    int extra = 0;     // a file no call should have left
    int stuck = 0;     // a line that did not come back clean
    int unlisted = 0;  // a recording the message lists did not show
    QStringList faults;
};

const char *kindName(Kind k)
{
    switch (k) {
    case Kind::Message: return "message";
    case Kind::Pickup: return "parallel pick-up";
    case Kind::DialAnswered: return "dialled, answered";
    case Kind::DialUnanswered: return "dialled, unanswered";
    }
    return "";
}

} // namespace

class tst_Soak : public QObject
{
    Q_OBJECT
private slots:
    void everyCallIsAccountedFor()
    {
        const int total = qEnvironmentVariableIsSet("TELVOX_SOAK_CALLS") ? qEnvironmentVariableIntValue("TELVOX_SOAK_CALLS") : 300;
        const auto seed = qEnvironmentVariableIsSet("TELVOX_SOAK_SEED")
            ? qEnvironmentVariable("TELVOX_SOAK_SEED").toULongLong()
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
        constexpr int kStepMs = 100;

        const auto plan = [&](int index) {
            Plan p;
            const int roll = uniform(0, 99);
            p.kind = roll < 60 ? Kind::Message : roll < 75 ? Kind::Pickup : roll < 85 ? Kind::DialAnswered : Kind::DialUnanswered;
            p.talkMs = uniform(3000, 9000);
            const int kinds = uniform(0, 2);
            p.party = kinds == 0 ? OutgoingBehaviour::Kind::Busy : kinds == 1 ? OutgoingBehaviour::Kind::NoAnswer
                                                                              : OutgoingBehaviour::Kind::Answer;
            p.silentParty = kinds == 2;
            p.ending = Ending(uniform(0, 2));
            p.number = QString::number((p.kind == Kind::DialAnswered || p.kind == Kind::DialUnanswered ? 800000 : 900000) + index);
            return p;
        };
        const auto start = [&](int n, LineRun &run) {
            const Plan &p = run.plan;
            ++f.calls[std::size_t(p.kind)];
            if (p.kind == Kind::Message || p.kind == Kind::Pickup) {
                IncomingCall in;
                in.number = p.number.toLatin1();
                in.pickUpAfterRing = p.kind == Kind::Pickup ? 2 : 0;
                in.speech = talker();
                return c.exchange->placeIncomingCall(n, in);
            }
            OutgoingBehaviour b;
            b.kind = p.kind == Kind::DialAnswered ? OutgoingBehaviour::Kind::Answer : p.party;
            b.answerAfterMs = uniform(3000, 7000);
            if (p.kind == Kind::DialAnswered)
                b.speech = talker();
            else
                b.speech = std::make_shared<Quiet>();
            c.exchange->setOutgoingBehaviour(n, b);
            return c.dialler->Dial(QString::number(n), p.number);
        };
        // What the call left: its recordings (found by the number in their names), checked
        // against the plan, then removed so that the folder stays small over thousands of calls.
        const auto account = [&](int n, const LineRun &run) {
            const Plan &p = run.plan;
            const QStringList files = c.recordings().filter("~" + p.number + ".wav");
            const bool wants = p.kind != Kind::DialUnanswered;
            const QChar mode = p.kind == Kind::Message ? 'A' : p.kind == Kind::Pickup ? 'M' : 'O';
            if (wants) {
                ++f.expected;
                if (files.isEmpty()) {
                    ++f.missing;
                    f.faults << QString("line %1, %2 %3: no recording").arg(n).arg(kindName(p.kind), p.number);
                }
            }
            for (int i = 0; i < files.size(); ++i) {
                const QString &file = files[i];
                if (!wants || i > 0 || !file.startsWith(mode)) {
                    ++f.extra;
                    f.faults << QString("line %1, %2 %3: unexpected %4").arg(n).arg(kindName(p.kind), p.number, file);
                } else {
                    const double seconds = c.seconds(file);
                    if (std::abs(seconds - p.talkMs / 1000.0) >= 1.0) {
                        ++f.cut;
                        f.faults << QString("line %1, %2: %3 s of %4").arg(n).arg(file).arg(seconds).arg(p.talkMs / 1000.0);
                    } else {
                        ++f.found;
                    }
                    const QStringList listed = mode == 'A' ? c.lists.unreadEntries() : c.lists.lastTenEntries();
                    if (!listed.contains(file))
                        ++f.unlisted;
                }
                QFile::remove(c.dir.file("waveFiles/" + file));
            }
        };

        while (finished < total) {
            c.loop.advance(kStepMs);
            const std::int64_t now = c.loop.now();
            for (int n = 0; n < 4; ++n) {
                LineRun &run = lines[std::size_t(n)];
                switch (run.phase) {
                case 0:
                    if (started >= total || now < run.nextStart)
                        break;
                    run.plan = plan(started);
                    if (!start(n, run)) {
                        ++f.stuck;
                        f.faults << QString("line %1 refused call %2").arg(n).arg(started);
                        run.nextStart = now + 5000;
                        break;
                    }
                    ++started;
                    run.phase = 1;
                    run.since = now;
                    break;
                case 1: {
                    const int wanted = run.plan.kind == Kind::DialUnanswered ? 2 : 1;
                    if (c.slot(n).recState == wanted) {
                        run.phase = 2;
                        run.since = now;
                    } else if (now - run.since > 60000) {
                        f.faults << QString("line %1, %2 %3: the recording never started")
                                        .arg(n).arg(kindName(run.plan.kind), run.plan.number);
                        run.phase = 2;
                        run.since = now;
                    }
                    break;
                }
                case 2:
                    if (now - run.since < run.plan.talkMs)
                        break;
                    if (run.plan.kind != Kind::DialUnanswered || run.plan.ending == Ending::FarEnd)
                        c.exchange->hangUpFarEnd(n, FarEndHangUp::WithDisconnect);
                    else if (run.plan.ending == Ending::PopupHangUp)
                        c.core->cmdHangup_Click(n);
                    else
                        c.dialler->Drop(QString::number(n));
                    run.phase = 3;
                    run.since = now;
                    break;
                case 3:
                    if (c.lineIsClean(n)) {
                        account(n, run);
                        ++finished;
                        run.phase = 0;
                        run.nextStart = now + uniform(500, 4000);
                    } else if (now - run.since > 20000) {
                        ++f.stuck;
                        ++finished;
                        f.faults << QString("line %1, %2 %3: the line did not come back (recState %4)")
                                        .arg(n).arg(kindName(run.plan.kind), run.plan.number)
                                        .arg(c.slot(n).recState);
                        account(n, run);
                        run.phase = 0;
                        run.nextStart = now + 1000;
                    }
                    break;
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
        QCOMPARE(f.stuck, 0);
        QCOMPARE(f.missing, 0);
        QCOMPARE(f.cut, 0);
        QCOMPARE(f.extra, 0);
        QCOMPARE(f.unlisted, 0);
        QCOMPARE(f.found, f.expected);
        QCOMPARE(kept, std::size_t(0));
    }
};

QTEST_GUILESS_MAIN(tst_Soak)
#include "tst_Soak.moc"
