#pragma once

#include "sim/exchange/VirtualExchange.h"
#include "sim/tones/TonePlans.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace telvox::sim {

// A scenario file: how the virtual exchange is set up, what the far ends of its lines do and
// when, and what the system must have shown at the end. docs/scenarios.md describes the format.

struct SourcePos
{
    int line = 0;   // 1-based
    int column = 0; // 1-based
};

// What a far end sends into the line.
struct AudioSpec
{
    enum class Kind { None, Silence, Wav, Talk, Tone, Sine };
    Kind kind = Kind::None;
    QString file;           // Wav: relative to the scenario file's folder
    std::uint64_t seed = 1; // Talk
    ToneKind tone = ToneKind::Busy;
    int hz = 0; // Sine: a steady tone of this frequency
};

struct ScenarioStep
{
    enum class Action {
        Call,        // an incoming call
        Pickup,      // a person lifts a parallel handset
        CallerId,    // caller ID delivered now
        Digits,      // the far end keys touch tones
        HangUp,      // the far end hangs up
        Audio,       // the far end's audio from now on
        Outgoing,    // how the line's called party behaves
        Dial,        // the system dials out on the line
        ClickAnswer, // the pop-up's Answer button of the line
        ClickHangup, // the pop-up's Hang Up button of the line
    };

    SourcePos pos;
    std::int64_t atMs = 0;
    int line = 0;
    Action action = Action::Call;

    // Call and CallerId
    QByteArray number;
    QByteArray name;
    CallerIdTiming callerIdTiming = CallerIdTiming::AfterFirstRing;
    std::vector<int> cadenceMs;
    int rings = 0;
    bool giveUpWithIdle = false;
    int pickUpAfterRing = 0;
    // Call and Audio
    AudioSpec audio;
    // Digits and Dial
    QString text;
    // HangUp
    FarEndHangUp hangUp = FarEndHangUp::WithDisconnect;
    // Outgoing
    OutgoingBehaviour::Kind outgoing = OutgoingBehaviour::Kind::Answer;
    int answerAfterMs = 8000;
};

struct Expectation
{
    enum class Kind {
        Status,   // a status line (without its time stamp) reads exactly `a`
        NoStatus, // no status line reads `a`
        Setting,  // section `a`, key `b` holds `c`
        Message,  // a message box showed text `a`
        Audio,    // the audio engine was asked for `a` ("PlayGreeting 0")
        NoAudio,  // ... and never for `a`
        AudioAt,  // ... for `a` at a virtual time between fromMs and toMs
        StatusAt, // a status line read `a` at a virtual time between fromMs and toMs
        File,     // a file of the program folder matching `a` exists, holds exactly `c` when
                  // hasContent, and is between minBytes and maxBytes long when minBytes >= 0
        Ended,    // the program ended during start-up
        Sequence, // the status texts `items` appear in this order (others may come between)
        HeardTone,   // between fromMs and toMs the far end of `line` heard `hz` as the strongest
                     // frequency (within 3 %) for at least half a second
        NoHeardTone, // ... and never did
    };
    SourcePos pos;
    Kind kind = Kind::Status;
    QString a;
    QString b;
    QString c;
    QStringList items;
    bool hasContent = false;
    std::int64_t fromMs = 0;
    std::int64_t toMs = 0;
    std::int64_t minBytes = -1;
    std::int64_t maxBytes = -1;
    int line = 0;   // HeardTone
    double hz = 0;  // HeardTone
    QString sourceText; // the statement as written, for reports
};

// A file written into the program folder before the program starts ("Rings.txt").
struct FilePreset
{
    QString name;
    QByteArray bytes;
};

struct SettingPreset
{
    QString section;
    QString key;
    QString value;
};

struct PhoneBookPreset
{
    QByteArray name;
    QByteArray number;
};

struct Scenario
{
    ExchangeSetup exchange;
    HangUpTone hangUpTone = HangUpTone::Busy;
    std::vector<SettingPreset> settings;
    std::vector<PhoneBookPreset> phoneBook;
    std::vector<FilePreset> files;
    // The PIN of remote retrieval, set as `telvox --set-pin` sets it ("" switches it off).
    std::optional<QString> pin;
    QDateTime start; // the virtual clock's date and time at 0; invalid: Monday 2026-01-05 09:00:00
    std::vector<ScenarioStep> steps; // in time order (stable for equal times)
    std::vector<Expectation> expectations;
    std::int64_t endMs = -1;         // -1: 60 s after the last step
};

struct ScenarioError
{
    SourcePos pos;
    QString message;
};

// Parses scenario text. On failure returns nothing and fills `error` with the first fault.
std::optional<Scenario> parseScenario(const QString &text, ScenarioError *error);

// "file:line:column: message"
QString formatScenarioError(const QString &fileName, const ScenarioError &error);

} // namespace telvox::sim
