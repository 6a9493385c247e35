#pragma once

// Quality sets of the stop-recording triggers: generated calls (ring-back then a talker who
// answers, dialled calls to a busy number, conversations that end in the exchange's busy or
// reorder tone, long stretches of talk, talk followed by a quiet line) run through the real
// StopTriggers on the real analyser, one-second buffers as the capture hands them over.
//
// Every country's ring-back, busy and congestion tone of the built-in tone plans is played at
// levels from -10 to -35 dBFS under the line conditions of `Condition`; the talkers are
// espeak-ng voices (English and Chinese) read from a folder made by make-speech-set, plus a
// caller who says only "hello?" and waits.

#include "sim/tones/TonePlans.h"

#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace telvox::quality {

struct SpeechSet
{
    struct Voice
    {
        std::string name;
        std::vector<std::vector<std::int16_t>> utterances;
    };
    std::vector<Voice> voices;
    std::vector<std::int16_t> hello; // 0.5 s

    // Reads <voice>-<n>.raw and hello.raw from `folder`; nothing (and `error`) when the
    // folder holds no complete set.
    static std::optional<SpeechSet> load(const std::string &folder, std::string *error);
};

// Line conditions. Noise is white, over the whole call, at `snrDb` below the tone's power
// while on (the talkers pass the same line, at the tone's level within a few dB); a quiet line
// has noise at -70 dBFS, below the default silence level.
struct Condition
{
    std::string name;
    std::optional<double> snrDb;
    bool jitter = false;  // +-10 % on every on and off segment
    bool offset = false;  // +-2 % on every frequency
    bool g711 = false;    // mu-law or A-law round trip
    bool weaker = false;  // every other burst 10 dB weaker, for the tones that are so
};

std::vector<Condition> allConditions();

struct Options
{
    std::vector<std::string> countries;  // empty: every country of the built-in plans
    std::vector<std::string> conditions; // empty: all
    int trials = 3;                      // per country, tone and condition
    double speechSeconds = 600;          // talk per condition for the false-stop count
    std::uint64_t seed = 1;
    std::ostream *failures = nullptr; // when set, every failed call with its buffers' analysis
};

// Counts of one group of trials.
struct Tally
{
    int ringCalls = 0;
    int earlyAnswers = 0;    // declared answered before the first speech
    int answeredIn2s = 0;    // within 2 s of the first speech
    int notAnswered = 0;     // still unanswered at the end of the call
    std::vector<double> answerLatency; // s from the first speech
    int busyCalls = 0;
    int falseAnswers = 0;    // a busy or congestion tone taken for an answer
    int stoppedIn5s = 0;
    std::vector<double> stopLatency;   // s from the tone's start
    int falseStops = 0;      // a stop before the tone, or in talk
    double talkSeconds = 0;
    int silenceCalls = 0;
    int silenceStopsIn7s = 0;

    void add(const Tally &other);
};

struct Report
{
    std::map<std::string, Tally> byCountry;
    std::map<std::string, Tally> byCondition;
    std::map<std::string, Tally> byCaller;
    Tally total;

    // The targets: no early answer, no false answer, no false stop; answers within 2 s and
    // busy stops within 5 s in at least 98 % of the calls; silence stops within 7 s in 98 %.
    std::vector<std::string> missedTargets() const;
    void print(std::ostream &out) const;
};

Report run(const SpeechSet &speech, const Options &options);

} // namespace telvox::quality
