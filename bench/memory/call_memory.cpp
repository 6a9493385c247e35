// Peak memory of the call system after N calls: the whole headless call path (the program's
// own call system on the virtual exchange, in virtual time) answers N messages on four lines,
// each a few seconds of talk. Run it for two counts and compare (measure_call_memory does):
// what the program holds must not grow with the number of calls it has taken.
//
//   telvox_call_memory 500     ->  calls 500  status_lines_in_memory 1123  peak_rss_kb 31520
#include "support/CallRig.h"

#include <QCoreApplication>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

using namespace telvox;
using namespace telvox::test;

namespace {

// Every caller says the same few seconds of synthetic talk, made once.
class TalkLoop final : public sim::SampleSource
{
public:
    explicit TalkLoop(std::shared_ptr<const std::vector<std::int16_t>> talk)
        : m_talk(std::move(talk))
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
    std::size_t m_pos = 0;
};

long peakKilobytes()
{
    rusage usage = {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int total = argc > 1 ? std::atoi(argv[1]) : 500;
    CallRig::Options options;
    options.lines = 4;
    CallRig c(options);
    const auto talk = std::make_shared<const std::vector<std::int16_t>>(
        sim::SpeechLikeSource(7).next(std::size_t(4) * sim::kLineSampleRate));

    enum Phase { Idle, Ringing, Talking, Ending };
    struct Line
    {
        Phase phase = Idle;
        std::int64_t since = 0;
    };
    std::array<Line, 4> lines;
    int started = 0;
    int finished = 0;
    while (finished < total) {
        c.loop.advance(250);
        c.requests.clear(); // the rig's own record of the audio requests is not the program's
        const std::int64_t now = c.loop.now();
        for (int n = 0; n < 4; ++n) {
            Line &line = lines[std::size_t(n)];
            switch (line.phase) {
            case Idle:
                if (started < total) {
                    IncomingCall in;
                    in.number = QByteArray::number(5550000 + started % 10000);
                    in.speech = std::make_shared<TalkLoop>(talk);
                    if (c.exchange->placeIncomingCall(n, in)) {
                        ++started;
                        line = {Ringing, now};
                    }
                }
                break;
            case Ringing:
                if (c.slot(n).recState == RecState::Recording)
                    line = {Talking, now};
                else if (now - line.since > 120000)
                    qFatal("line %d: the call was never recorded", n);
                break;
            case Talking:
                if (now - line.since >= 3000) {
                    c.exchange->hangUpFarEnd(n, FarEndHangUp::WithDisconnect);
                    line = {Ending, now};
                }
                break;
            case Ending:
                if (c.lineIsClean(n)) {
                    // The recordings go, as a user who listens to them would delete them; the
                    // lists keep their fifty entries whatever happens to the files.
                    for (const QString &file : c.recordings())
                        QFile::remove(c.recordingPath(file));
                    ++finished;
                    line = {Idle, now};
                } else if (now - line.since > 120000) {
                    qFatal("line %d: the call never ended", n);
                }
                break;
            }
        }
    }
    std::printf("calls %d  status_lines_in_memory %d  peak_rss_kb %ld\n", finished, c.statusList.rowCount(),
                peakKilobytes());
    return 0;
}
