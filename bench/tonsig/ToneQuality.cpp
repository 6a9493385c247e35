#include "ToneQuality.h"

#include "audio/StopTriggers.h"
#include "platform/tonsig/Fbs.h"
#include "sim/audio/Random.h"
#include "sim/audio/SampleSource.h"
#include "sim/tones/ToneSource.h"
#include "support/AudioHarness.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <ostream>
#include <sstream>

namespace telvox::quality {

namespace {

constexpr int kRate = 8000;
constexpr double kQuietNoiseDbfs = -70.0;

double dbToAmplitude(double db) { return std::pow(10.0, db / 20.0); }

std::vector<std::int16_t> readRaw(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[2 * i])
                                               | (static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8));
    return samples;
}

// RMS of the talk: 20 ms blocks within 40 dB of the loudest block.
double activeRms(const std::vector<std::int16_t> &x)
{
    std::vector<double> blocks;
    for (std::size_t s = 0; s + 160 <= x.size(); s += 160) {
        double e = 0;
        for (std::size_t i = s; i < s + 160; ++i)
            e += double(x[i]) * x[i];
        blocks.push_back(e / 160);
    }
    if (blocks.empty())
        return 1;
    const double loudest = *std::max_element(blocks.begin(), blocks.end());
    double sum = 0;
    int n = 0;
    for (double e : blocks)
        if (e > loudest * 1e-4) {
            sum += e;
            ++n;
        }
    return std::sqrt(sum / std::max(n, 1));
}

// G.711 round trips (ITU-T G.711 segment law, 16-bit in and out).
std::int16_t muLawRoundTrip(std::int16_t sample)
{
    constexpr int bias = 0x84, clip = 32635;
    int x = sample;
    const int sign = x < 0 ? 0x80 : 0;
    x = std::min(std::abs(x), clip) + bias;
    int exponent = 7;
    for (int mask = 0x4000; (x & mask) == 0 && exponent > 0; mask >>= 1)
        --exponent;
    const int mantissa = (x >> (exponent + 3)) & 0x0F;
    const int code = ~(sign | (exponent << 4) | mantissa) & 0xFF;
    // decode
    const int c = ~code & 0xFF;
    int t = (((c & 0x0F) << 3) + bias) << ((c & 0x70) >> 4);
    t -= bias;
    return static_cast<std::int16_t>((c & 0x80) ? -t : t);
}

std::int16_t aLawRoundTrip(std::int16_t sample)
{
    int x = sample >> 3; // 13-bit
    const bool negative = x < 0;
    if (negative)
        x = -x - 1;
    x = std::min(x, 0xFFF);
    int exponent = 0;
    for (int v = x >> 5; v > 0; v >>= 1)
        ++exponent;
    const int mantissa = exponent == 0 ? (x >> 1) & 0x0F : (x >> exponent) & 0x0F;
    // decode the same segment and mantissa (mid-step)
    int t = exponent == 0 ? (mantissa << 1) + 1 : ((mantissa << 1) + 33) << (exponent - 1);
    t <<= 3;
    return static_cast<std::int16_t>(negative ? -t : t);
}

// One call's audio in floating point until the line applies noise and G.711.
struct Call
{
    std::vector<double> x;
    void silence(double seconds) { x.resize(x.size() + static_cast<std::size_t>(seconds * kRate), 0.0); }
    std::size_t now() const { return x.size(); }
};

// The tone of `plan` for `seconds`, from the start of its cadence; returns its power while on.
double addTone(Call &call, const sim::TonePlan &plan, double levelDbfs, const Condition &c, double seconds, sim::Random &random)
{
    sim::ToneImpairments impairments;
    impairments.seed = random.nextBits();
    if (c.jitter)
        impairments.cadenceJitterPercent = 10.0;
    if (c.offset)
        impairments.frequencyOffsetPercent = random.uniform() < 0.5 ? -2.0 : 2.0;
    sim::ToneSource source(plan, sim::ToneLevel::dbfs(levelDbfs), impairments);
    const auto count = static_cast<std::size_t>(seconds * kRate);
    if (!c.weaker) {
        for (std::int16_t s : source.next(count))
            call.x.push_back(s);
        return source.onPower();
    }
    const double weak = dbToAmplitude(-10.0);
    int burst = 0;
    bool wasOn = false;
    for (std::size_t i = 0; i < count; ++i) {
        const bool on = source.isOn();
        if (on && !wasOn)
            ++burst;
        wasOn = on;
        std::int16_t s = 0;
        source.read(std::span<std::int16_t>(&s, 1));
        call.x.push_back(burst % 2 == 0 ? s * weak : s);
    }
    return source.onPower();
}

// Utterances of one voice, at `rmsDbfs`, with natural pauses, for at least `seconds`.
void addTalk(Call &call, const SpeechSet::Voice &voice, double rmsDbfs, double seconds, sim::Random &random)
{
    const std::size_t until = call.now() + static_cast<std::size_t>(seconds * kRate);
    auto n = static_cast<std::size_t>(random.nextBits() % voice.utterances.size());
    while (call.now() < until) {
        const auto &u = voice.utterances[n++ % voice.utterances.size()];
        const double gain = 32768.0 * dbToAmplitude(rmsDbfs + random.uniform(-2.0, 2.0)) / activeRms(u);
        for (std::int16_t s : u)
            call.x.push_back(s * gain);
        call.silence(random.uniform(0.3, 1.5));
    }
}

void addHello(Call &call, const std::vector<std::int16_t> &hello, double rmsDbfs)
{
    const double gain = 32768.0 * dbToAmplitude(rmsDbfs) / activeRms(hello);
    for (std::int16_t s : hello)
        call.x.push_back(s * gain);
}

// What the capture hands over: the call with line noise, through G.711 when asked.
std::vector<std::int16_t> line(const Call &call, double noiseSigma, const Condition &c, sim::Random &random)
{
    std::vector<std::int16_t> out(call.x.size());
    sim::Random noise(random.nextBits());
    const bool muLaw = random.uniform() < 0.5;
    for (std::size_t i = 0; i < out.size(); ++i) {
        std::int16_t s = sim::toSample(call.x[i] + noiseSigma * noise.gaussian());
        if (c.g711)
            s = muLaw ? muLawRoundTrip(s) : aLawRoundTrip(s);
        out[i] = s;
    }
    return out;
}

double noiseSigmaFor(const Condition &c, double tonePower)
{
    if (!c.snrDb)
        return 32768.0 * dbToAmplitude(kQuietNoiseDbfs);
    return std::sqrt(tonePower / std::pow(10.0, *c.snrDb / 10.0));
}

// The real stop triggers on line slot 0 of an audio harness, fed buffer by buffer.
class Slot
{
public:
    struct Result
    {
        std::optional<std::size_t> answeredAt; // sample after the buffer that answered
        std::optional<std::size_t> stoppedAt;
        bool busyStop = false;
    };

    Result feed(const std::vector<std::int16_t> &audio, int recState, StopTriggerOptions options, std::size_t from = 0)
    {
        Result result;
        StopTriggers triggers({m_h.lines, *m_h.engine, m_h.status, [] { return false; }}, options);
        // 1: a call being recorded, 2: a dialled call not yet answered.
        m_h.call().prepareRecording(recState == 2 ? CallKind::Dialled : CallKind::Message, RecState(recState));
        for (std::size_t start = from; start + kRate <= audio.size(); start += kRate) {
            const int busyBefore = triggers.busyRun(0);
            const RecState stateBefore = m_h.lines[0].recState;
            triggers.analyse(0, std::span<const std::int16_t>(audio.data() + start, kRate));
            const RecState state = m_h.lines[0].recState;
            if (stateBefore == RecState::AwaitingAnswer && state == RecState::Recording)
                result.answeredAt = start + kRate;
            if (state == RecState::Idle) {
                result.stoppedAt = start + kRate;
                result.busyStop = busyBefore == 2 && triggers.busyRun(0) == 0;
                m_h.call().dropDue();
                break;
            }
        }
        return result;
    }

private:
    test::Harness m_h;
};

// The analyser's view of every buffer of a failed call.
void describe(std::ostream *out, const std::string &what, const std::vector<std::int16_t> &audio, std::size_t onset)
{
    if (!out)
        return;
    *out << what << " (event at " << double(onset) / kRate << " s)\n";
    for (std::size_t start = 0; start + kRate <= audio.size(); start += kRate) {
        std::int32_t a = 0, b = 0;
        tonsig::LevelProfile p{};
        const int silent = tonsig::Fbs(std::span<const std::int16_t>(audio.data() + start, kRate), a, b, 100, -1, p);
        *out << "  " << start / kRate << "-" << start / kRate + 1 << " s: silent " << silent << " counts " << a << "/" << b
             << " profile";
        for (std::int32_t v : p)
            *out << " " << v;
        *out << "\n";
    }
}

std::string percent(int part, int whole)
{
    if (whole == 0)
        return "-";
    std::ostringstream s;
    s << std::fixed << std::setprecision(1) << 100.0 * part / whole << "%";
    return s.str();
}

std::string seconds(std::vector<double> v, double quantile)
{
    if (v.empty())
        return "-";
    std::sort(v.begin(), v.end());
    std::ostringstream s;
    s << std::fixed << std::setprecision(2) << v[static_cast<std::size_t>(quantile * (v.size() - 1) + 0.5)];
    return s.str();
}

} // namespace

std::optional<SpeechSet> SpeechSet::load(const std::string &folder, std::string *error)
{
    SpeechSet set;
    for (const char *name : {"en-us", "en-gb-scotland", "en-029", "en-gb-x-rp", "cmn", "yue"}) {
        Voice voice{name, {}};
        for (int n = 0;; ++n) {
            std::vector<std::int16_t> u = readRaw(folder + "/" + name + "-" + std::to_string(n) + ".raw");
            if (u.empty())
                break;
            voice.utterances.push_back(std::move(u));
        }
        if (voice.utterances.empty()) {
            if (error)
                *error = "no utterances of voice " + std::string(name) + " in " + folder;
            return std::nullopt;
        }
        set.voices.push_back(std::move(voice));
    }
    set.hello = readRaw(folder + "/hello.raw");
    if (set.hello.size() != kRate / 2) {
        if (error)
            *error = "no 0.5 s hello.raw in " + folder;
        return std::nullopt;
    }
    return set;
}

std::vector<Condition> allConditions()
{
    return {
        {"quiet line", std::nullopt},
        {"noise 15 dB", 15.0},
        {"noise 10 dB", 10.0},
        {"jitter 10%, noise 15 dB", 15.0, true},
        {"offset 2%, noise 15 dB", 15.0, false, true},
        {"G.711, noise 15 dB", 15.0, false, false, true},
        {"weaker bursts, noise 15 dB", 15.0, false, false, false, true},
        {"jitter, offset, G.711, noise 10 dB", 10.0, true, true, true},
    };
}

void Tally::add(const Tally &o)
{
    ringCalls += o.ringCalls;
    earlyAnswers += o.earlyAnswers;
    answeredIn2s += o.answeredIn2s;
    notAnswered += o.notAnswered;
    answerLatency.insert(answerLatency.end(), o.answerLatency.begin(), o.answerLatency.end());
    busyCalls += o.busyCalls;
    falseAnswers += o.falseAnswers;
    stoppedIn5s += o.stoppedIn5s;
    stopLatency.insert(stopLatency.end(), o.stopLatency.begin(), o.stopLatency.end());
    falseStops += o.falseStops;
    talkSeconds += o.talkSeconds;
    silenceCalls += o.silenceCalls;
    silenceStopsIn7s += o.silenceStopsIn7s;
}

Report run(const SpeechSet &speech, const Options &options)
{
    const sim::TonePlans &plans = sim::TonePlans::builtIn();
    std::vector<std::string> countries = options.countries.empty() ? plans.countries() : options.countries;
    std::vector<Condition> conditions;
    for (const Condition &c : allConditions())
        if (options.conditions.empty()
            || std::find(options.conditions.begin(), options.conditions.end(), c.name) != options.conditions.end())
            conditions.push_back(c);

    Report report;
    Slot slot;
    sim::Random random(options.seed);
    const double levels[] = {-10, -15, -20, -25, -30, -35};
    int trial = 0;
    std::size_t talkers = 0;

    for (const Condition &condition : conditions) {
        for (const std::string &country : countries) {
            Tally tally;
            for (const sim::ToneKind kind : {sim::ToneKind::Ringback, sim::ToneKind::Busy, sim::ToneKind::Congestion}) {
                const sim::TonePlan *plan = plans.find(country, kind);
                if (!plan)
                    continue;
                // Only the tones that really alternate their level are played so.
                Condition c = condition;
                c.weaker = condition.weaker && country == "Australia" && kind == sim::ToneKind::Congestion;
                if (condition.weaker && !c.weaker && condition.name.rfind("weaker", 0) == 0)
                    continue;
                for (int t = 0; t < options.trials; ++t, ++trial) {
                    const double level = levels[trial % std::size(levels)];
                    const double talkDbfs = level - 3.0 + random.uniform(-3.0, 3.0);
                    Call call;
                    call.silence(random.uniform(0.3, 2.5)); // the exchange before its tone
                    if (kind == sim::ToneKind::Ringback) {
                        // Ring-back until the called party picks up, a short gap, then speech.
                        const double power = addTone(call, *plan, level, c, random.uniform(4.0, 16.0), random);
                        call.silence(random.uniform(0.2, 1.0));
                        const std::size_t onset = call.now();
                        const bool hello = trial % 4 == 0;
                        const SpeechSet::Voice &voice = speech.voices[talkers++ % speech.voices.size()];
                        if (hello) {
                            addHello(call, speech.hello, talkDbfs);
                            call.silence(4.0);
                        } else {
                            addTalk(call, voice, talkDbfs, 4.0, random);
                        }
                        const std::vector<std::int16_t> audio = line(call, noiseSigmaFor(c, power), c, random);
                        StopTriggerOptions o;
                        o.fastBusy = true;
                        const Slot::Result r = slot.feed(audio, 2, o);
                        Tally one;
                        ++one.ringCalls;
                        if (r.answeredAt && *r.answeredAt <= onset) {
                            ++one.earlyAnswers;
                        } else if (!r.answeredAt) {
                            ++one.notAnswered;
                        } else {
                            const double latency = double(*r.answeredAt - onset) / kRate;
                            one.answerLatency.push_back(latency);
                            one.answeredIn2s += latency <= 2.0 ? 1 : 0;
                        }
                        if (r.stoppedAt)
                            ++one.falseStops;
                        if (one.answeredIn2s == 0)
                            describe(options.failures, country + " ring-back, " + c.name + ", " + (hello ? "hello" : voice.name)
                                         + ", answered at " + (r.answeredAt ? std::to_string(*r.answeredAt / kRate) : "-"),
                                     audio, onset);
                        tally.add(one);
                        report.byCaller[hello ? "hello? and wait" : voice.name].add(one);
                    } else {
                        // A dialled call to a busy number (it must not count as answered),
                        // then a conversation that ends in the tone; both must stop on it.
                        for (const bool dialled : {true, false}) {
                            Call talk;
                            double onsetSeconds = 0;
                            if (!dialled) {
                                talk.silence(0.5);
                                addTalk(talk, speech.voices[trial % speech.voices.size()], talkDbfs, random.uniform(3.0, 8.0), random);
                                talk.silence(random.uniform(0.2, 1.0));
                            }
                            Call &use = dialled ? call : talk;
                            const std::size_t onset = use.now();
                            onsetSeconds = double(onset) / kRate;
                            const double power = addTone(use, *plan, level, c, 14.0, random);
                            const std::vector<std::int16_t> audio = line(use, noiseSigmaFor(c, power), c, random);
                            StopTriggerOptions o;
                            o.fastBusy = true;
                            const Slot::Result r = slot.feed(audio, dialled ? 2 : 1, o);
                            ++tally.busyCalls;
                            if (r.answeredAt || !r.stoppedAt || !r.busyStop || *r.stoppedAt > onset + 5 * kRate)
                                describe(options.failures, country + " " + std::string(sim::toneKindName(kind)) + ", " + c.name
                                             + (dialled ? ", dialled" : ", after talk"),
                                         audio, onset);
                            tally.falseAnswers += r.answeredAt ? 1 : 0;
                            if (r.stoppedAt && *r.stoppedAt <= onset) {
                                ++tally.falseStops;
                            } else if (r.stoppedAt && r.busyStop) {
                                const double latency = double(*r.stoppedAt) / kRate - onsetSeconds;
                                tally.stopLatency.push_back(latency);
                                tally.stoppedIn5s += latency <= 5.0 ? 1 : 0;
                            }
                        }
                    }
                }
            }
            report.byCountry[country].add(tally);
            report.byCondition[condition.name].add(tally);
            report.total.add(tally);
        }

        // Talk in every voice: no stop of any kind may fire, with silence stops and the busy
        // detector on. Then talk that ends in a quiet line must stop on silence.
        if (condition.jitter || condition.offset || condition.weaker)
            continue; // tone impairments: the talk would be the same
        Tally talk;
        for (std::size_t v = 0; v < speech.voices.size(); ++v) {
            const double level = levels[v % std::size(levels)];
            Call call;
            addTalk(call, speech.voices[v], level, options.speechSeconds / double(speech.voices.size()), random);
            const double power = std::pow(10.0, (level + 20.0 * std::log10(32768.0)) / 10.0);
            const std::vector<std::int16_t> audio = line(call, noiseSigmaFor(condition, power), condition, random);
            StopTriggerOptions o;
            o.fastBusy = true;
            o.silence = true;
            for (std::size_t from = 0; from + kRate <= audio.size();) {
                const Slot::Result r = slot.feed(audio, 1, o, from);
                if (!r.stoppedAt)
                    break;
                ++talk.falseStops;
                from = *r.stoppedAt;
            }
            talk.talkSeconds += double(audio.size() / kRate);
        }
        for (int t = 0; t < options.trials * 4; ++t) {
            const double level = levels[t % std::size(levels)];
            Call call;
            addTalk(call, speech.voices[t % speech.voices.size()], level, random.uniform(2.0, 5.0), random);
            const std::size_t onset = call.now();
            call.silence(10.0);
            Condition quiet = condition;
            quiet.snrDb.reset();
            const std::vector<std::int16_t> audio = line(call, noiseSigmaFor(quiet, 0), condition, random);
            StopTriggerOptions o;
            o.silence = true;
            const Slot::Result r = slot.feed(audio, 1, o);
            ++talk.silenceCalls;
            if (r.stoppedAt && *r.stoppedAt > onset && double(*r.stoppedAt - onset) / kRate <= 7.0)
                ++talk.silenceStopsIn7s;
        }
        report.byCondition[condition.name].add(talk);
        report.byCaller["talk (no stop)"].add(talk);
        report.total.add(talk);
    }
    return report;
}

std::vector<std::string> Report::missedTargets() const
{
    std::vector<std::string> missed;
    const Tally &t = total;
    if (t.earlyAnswers > 0)
        missed.push_back(std::to_string(t.earlyAnswers) + " dialled calls answered during the ring-back");
    if (t.falseAnswers > 0)
        missed.push_back(std::to_string(t.falseAnswers) + " busy or congestion tones taken for an answer");
    if (t.ringCalls > 0 && t.answeredIn2s < 0.98 * t.ringCalls)
        missed.push_back("answers within 2 s: " + percent(t.answeredIn2s, t.ringCalls) + " (target 98%)");
    if (t.busyCalls > 0 && t.stoppedIn5s < 0.98 * t.busyCalls)
        missed.push_back("busy stops within 5 s: " + percent(t.stoppedIn5s, t.busyCalls) + " (target 98%)");
    if (t.falseStops > 0)
        missed.push_back(std::to_string(t.falseStops) + " false stops");
    if (t.silenceCalls > 0 && t.silenceStopsIn7s < 0.98 * t.silenceCalls)
        missed.push_back("silence stops within 7 s: " + percent(t.silenceStopsIn7s, t.silenceCalls) + " (target 98%)");
    return missed;
}

namespace {

void printTable(std::ostream &out, const char *title, const std::map<std::string, Tally> &rows, const Tally *total)
{
    char line[400];
    out << "\n" << title << "\n";
    std::snprintf(line, sizeof line, "%-28s %5s %5s %7s %6s %6s %5s | %5s %5s %7s %6s %6s | %6s %5s | %5s %6s\n", "",
                  "ring", "early", "ans<=2s", "ans50", "ans98", "none", "busy", "falseA", "stop<=5s", "stop50", "stop98",
                  "talk s", "falseS", "sil", "sil<=7s");
    out << line;
    const auto row = [&](const std::string &name, const Tally &t) {
        std::snprintf(line, sizeof line, "%-28s %5d %5d %7s %6s %6s %5d | %5d %6d %7s %6s %6s | %6.0f %5d | %5d %6s\n",
                      name.substr(0, 28).c_str(), t.ringCalls, t.earlyAnswers, percent(t.answeredIn2s, t.ringCalls).c_str(),
                      seconds(t.answerLatency, 0.5).c_str(), seconds(t.answerLatency, 0.98).c_str(), t.notAnswered,
                      t.busyCalls, t.falseAnswers, percent(t.stoppedIn5s, t.busyCalls).c_str(),
                      seconds(t.stopLatency, 0.5).c_str(), seconds(t.stopLatency, 0.98).c_str(), t.talkSeconds,
                      t.falseStops, t.silenceCalls, percent(t.silenceStopsIn7s, t.silenceCalls).c_str());
        out << line;
    };
    for (const auto &[name, t] : rows)
        row(name, t);
    if (total)
        row("all", *total);
}

} // namespace

void Report::print(std::ostream &out) const
{
    out << "ring: dialled calls with ring-back; early: answered before the first speech; ans<=2s: answered within 2 s\n"
           "of it; ans50/ans98: answer latency (s) median and 98th percentile; none: never answered\n"
           "busy: calls with a busy or congestion tone (dialled to a busy number, and after a conversation);\n"
           "falseA: tone taken for an answer; stop<=5s, stop50, stop98: busy stop latency from the tone's start\n"
           "talk s: seconds of talk with every stop on; falseS: stops in talk or before the tone;\n"
           "sil: talk then a quiet line; sil<=7s: silence stop within 7 s of the last word\n";
    printTable(out, "By country (every condition)", byCountry, &total);
    printTable(out, "By condition (every country)", byCondition, &total);
    printTable(out, "By caller", byCaller, nullptr);
}

} // namespace telvox::quality
