// What the scenario runner's heard-tone check takes for a tone: the strongest frequency
// within 3 % for half a second without a break, inside the window, across paced chunks.
#include "sim/audio/HeardTone.h"

#include <QTest>

#include <cmath>
#include <numbers>
#include <vector>

using namespace telvox::sim;

namespace {

// `ms` of a sine (0 Hz: silence) appended as 20 ms chunks heard from `atMs` on.
void append(std::vector<std::int16_t> &samples, std::vector<AudioMark> &marks, std::int64_t atMs, int ms, double hz,
            double level = 8000)
{
    for (int chunk = 0; chunk < ms / 20; ++chunk) {
        marks.push_back({samples.size(), atMs + chunk * 20});
        for (int i = 0; i < 160; ++i) {
            const double t = double(samples.size()) / 8000.0;
            samples.push_back(static_cast<std::int16_t>(hz > 0 ? level * std::sin(2 * std::numbers::pi * hz * t) : 0));
        }
    }
}

} // namespace

class tst_HeardTone : public QObject
{
    Q_OBJECT

private slots:
    void toneMustBeStrongestLongEnoughAndInTheWindow()
    {
        std::vector<std::int16_t> s;
        std::vector<AudioMark> m;
        append(s, m, 1000, 1000, 700);
        QVERIFY(heardTone(s, m, 0, 5000, 700));
        QVERIFY(heardTone(s, m, 0, 5000, 690));  // within 3 %
        QVERIFY(!heardTone(s, m, 0, 5000, 740)); // beyond
        QVERIFY(!heardTone(s, m, 1600, 5000, 700)); // only 0.4 s of it in the window
        QVERIFY(!heardTone(s, m, 0, 1400, 700));

        // Two 0.3 s bursts with a gap in time do not add up.
        std::vector<std::int16_t> b;
        std::vector<AudioMark> bm;
        append(b, bm, 0, 300, 700);
        append(b, bm, 1000, 300, 700);
        QVERIFY(!heardTone(b, bm, 0, 5000, 700));

        // Near silence is no tone.
        std::vector<std::int16_t> q;
        std::vector<AudioMark> qm;
        append(q, qm, 0, 1000, 700, 20);
        QVERIFY(!heardTone(q, qm, 0, 5000, 700));
        QCOMPARE(strongestFrequency(std::span(s).subspan(0, 800)), 700.0);
    }
};

QTEST_GUILESS_MAIN(tst_HeardTone)
#include "tst_HeardTone.moc"
