#include "sim/exchange/Scenario.h"

#include "sim/exchange/ScenarioTokens.h"

#include <QStringList>

#include <algorithm>
#include <map>
#include <tuple>
#include <utility>

namespace telvox::sim {

using namespace scenario;

namespace {

std::vector<int> parseCadence(const Token &t)
{
    std::vector<int> cadence;
    const QStringList parts = t.text.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        bool ok = false;
        const int value = part.toInt(&ok);
        if (!ok || value <= 0 || value > 60000)
            throw ParseFailure{t.column, QStringLiteral("a cadence is on/off times in ms, such as 2000/4000")};
        cadence.push_back(value);
    }
    if (cadence.size() % 2 != 0)
        throw ParseFailure{t.column, QStringLiteral("a cadence needs pairs of on and off times")};
    return cadence;
}

ToneKind parseToneKind(Cursor &c)
{
    const Token t = c.take(QStringLiteral("a tone (dial, ringback, busy, congestion)"));
    const auto kind = toneKindFromName(t.text.toStdString());
    if (!kind)
        throw ParseFailure{t.column, QStringLiteral("unknown tone \"") + t.text + QStringLiteral("\"")};
    return *kind;
}

AudioSpec parseAudio(Cursor &c)
{
    AudioSpec a;
    const int column = c.column();
    const QString kind = c.word(QStringLiteral("an audio source (wav, talk, tone, sine, silence)"));
    if (kind == QLatin1String("wav")) {
        a.kind = AudioSpec::Kind::Wav;
        a.file = c.quoted(QStringLiteral("a wave file name"));
    } else if (kind == QLatin1String("talk")) {
        a.kind = AudioSpec::Kind::Talk;
        if (!c.atEnd() && !c.peek().quoted && c.peek().text.front().isDigit())
            a.seed = static_cast<std::uint64_t>(c.integer(QStringLiteral("a seed"), 0, 0x7FFFFFFF));
    } else if (kind == QLatin1String("tone")) {
        a.kind = AudioSpec::Kind::Tone;
        a.tone = parseToneKind(c);
    } else if (kind == QLatin1String("sine")) {
        a.kind = AudioSpec::Kind::Sine;
        a.hz = static_cast<int>(c.integer(QStringLiteral("a frequency in Hz"), 100, 3900));
    } else if (kind == QLatin1String("silence")) {
        a.kind = AudioSpec::Kind::Silence;
    } else {
        throw ParseFailure{column, QStringLiteral("unknown audio source \"") + kind + QStringLiteral("\"")};
    }
    return a;
}

void parseCall(Cursor &c, ScenarioStep &s)
{
    s.action = ScenarioStep::Action::Call;
    while (!c.atEnd()) {
        const int column = c.column();
        const QString option = c.word(QStringLiteral("a call option"));
        if (option == QLatin1String("number")) {
            s.number = toBytes(c.quoted(QStringLiteral("the caller's number")));
        } else if (option == QLatin1String("name")) {
            s.name = toBytes(c.quoted(QStringLiteral("the caller's name")));
        } else if (option == QLatin1String("cid")) {
            const int at = c.column();
            const QString when = c.word(QStringLiteral("before, after or none"));
            if (when == QLatin1String("before"))
                s.callerIdTiming = CallerIdTiming::BeforeFirstRing;
            else if (when == QLatin1String("after"))
                s.callerIdTiming = CallerIdTiming::AfterFirstRing;
            else if (when == QLatin1String("none"))
                s.callerIdTiming = CallerIdTiming::None;
            else
                throw ParseFailure{at, QStringLiteral("cid is before, after or none")};
        } else if (option == QLatin1String("cadence")) {
            s.cadenceMs = parseCadence(c.take(QStringLiteral("a cadence")));
        } else if (option == QLatin1String("rings")) {
            s.rings = static_cast<int>(c.integer(QStringLiteral("a ring count"), 1, 1000));
        } else if (option == QLatin1String("giveup")) {
            const int at = c.column();
            const QString how = c.word(QStringLiteral("idle or silent"));
            if (how != QLatin1String("idle") && how != QLatin1String("silent"))
                throw ParseFailure{at, QStringLiteral("giveup is idle or silent")};
            s.giveUpWithIdle = how == QLatin1String("idle");
        } else if (option == QLatin1String("pickup-after")) {
            s.pickUpAfterRing = static_cast<int>(c.integer(QStringLiteral("a ring number"), 1, 1000));
        } else if (option == QLatin1String("audio")) {
            s.audio = parseAudio(c);
        } else {
            throw ParseFailure{column, QStringLiteral("unknown call option \"") + option + QStringLiteral("\"")};
        }
    }
}

void parseStep(Cursor &c, ScenarioStep &s)
{
    s.atMs = c.time(QStringLiteral("a time"));
    const int lineColumn = c.column();
    if (c.word(QStringLiteral("\"line\"")) != QLatin1String("line"))
        throw ParseFailure{lineColumn, QStringLiteral("expected \"line\"")};
    s.line = static_cast<int>(c.integer(QStringLiteral("a line number"), 0, 15));
    const int column = c.column();
    const QString action = c.word(QStringLiteral("an action"));
    using A = ScenarioStep::Action;
    if (action == QLatin1String("call")) {
        parseCall(c, s);
    } else if (action == QLatin1String("pickup")) {
        s.action = A::Pickup;
    } else if (action == QLatin1String("callerid")) {
        s.action = A::CallerId;
        while (!c.atEnd()) {
            const int at = c.column();
            const QString option = c.word(QStringLiteral("number or name"));
            if (option == QLatin1String("number"))
                s.number = toBytes(c.quoted(QStringLiteral("the caller's number")));
            else if (option == QLatin1String("name"))
                s.name = toBytes(c.quoted(QStringLiteral("the caller's name")));
            else
                throw ParseFailure{at, QStringLiteral("callerid takes number and name")};
        }
    } else if (action == QLatin1String("digits")) {
        s.action = A::Digits;
        const Token t = c.take(QStringLiteral("digits in double quotes"));
        if (!t.quoted || t.text.isEmpty())
            throw ParseFailure{t.column, QStringLiteral("expected digits in double quotes")};
        for (qsizetype i = 0; i < t.text.size(); ++i) {
            if (!isDtmfKey(t.text[i]))
                throw ParseFailure{t.column + 1 + static_cast<int>(i), QStringLiteral("not a touch-tone key")};
        }
        s.text = t.text;
    } else if (action == QLatin1String("hangup")) {
        s.action = A::HangUp;
        if (!c.atEnd()) {
            const int at = c.column();
            const QString kind = c.word(QStringLiteral("disconnect or silent"));
            if (kind == QLatin1String("disconnect"))
                s.hangUp = FarEndHangUp::WithDisconnect;
            else if (kind == QLatin1String("silent"))
                s.hangUp = FarEndHangUp::Silent;
            else
                throw ParseFailure{at, QStringLiteral("hangup is disconnect or silent")};
        }
    } else if (action == QLatin1String("audio")) {
        s.action = A::Audio;
        s.audio = parseAudio(c);
    } else if (action == QLatin1String("outgoing")) {
        s.action = A::Outgoing;
        const int at = c.column();
        const QString kind = c.word(QStringLiteral("answer-after, busy or no-answer"));
        if (kind == QLatin1String("answer-after")) {
            s.outgoing = OutgoingBehaviour::Kind::Answer;
            s.answerAfterMs = static_cast<int>(c.time(QStringLiteral("a time")));
        } else if (kind == QLatin1String("busy")) {
            s.outgoing = OutgoingBehaviour::Kind::Busy;
        } else if (kind == QLatin1String("no-answer")) {
            s.outgoing = OutgoingBehaviour::Kind::NoAnswer;
        } else {
            throw ParseFailure{at, QStringLiteral("outgoing is answer-after, busy or no-answer")};
        }
        if (!c.atEnd() && c.peek().text == QLatin1String("audio")) {
            c.take(QStringLiteral("audio"));
            s.audio = parseAudio(c);
        }
    } else if (action == QLatin1String("dial")) {
        s.action = A::Dial;
        s.text = c.quoted(QStringLiteral("the number to dial"));
    } else if (action == QLatin1String("click")) {
        const int at = c.column();
        const QString button = c.word(QStringLiteral("answer or hangup"));
        if (button == QLatin1String("answer"))
            s.action = A::ClickAnswer;
        else if (button == QLatin1String("hangup"))
            s.action = A::ClickHangup;
        else
            throw ParseFailure{at, QStringLiteral("click answer or click hangup")};
    } else {
        throw ParseFailure{column, QStringLiteral("unknown action \"") + action + QStringLiteral("\"")};
    }
    c.expectEnd();
}

void parseDevice(Cursor &c, Scenario &s)
{
    const auto index = static_cast<std::size_t>(c.integer(QStringLiteral("a device number"), 0, 15));
    if (index >= s.exchange.devices.size())
        s.exchange.devices.resize(index + 1);
    VirtualDevice &d = s.exchange.devices[index];
    while (!c.atEnd()) {
        const int column = c.column();
        const QString option = c.word(QStringLiteral("a device option"));
        if (option == QLatin1String("name"))
            d.name = toBytes(c.quoted(QStringLiteral("the device name")));
        else if (option == QLatin1String("modes"))
            d.mediaModes = static_cast<std::uint32_t>(c.integer(QStringLiteral("media modes"), 0, 0xFFFFFFFF));
        else if (option == QLatin1String("version"))
            d.maxApiVersion = static_cast<std::uint32_t>(c.integer(QStringLiteral("a version"), 0, 0xFFFFFFFF));
        else if (option == QLatin1String("open-error"))
            d.openResult = c.errorCode();
        else if (option == QLatin1String("negotiate-error"))
            d.negotiateResult = c.errorCode();
        else if (option == QLatin1String("caps-error"))
            d.devCapsResult = c.errorCode();
        else if (option == QLatin1String("status-error"))
            d.statusMessagesResult = c.errorCode();
        else
            throw ParseFailure{column, QStringLiteral("unknown device option \"") + option + QStringLiteral("\"")};
    }
}

void parseExpectation(Cursor &c, Scenario &s, const QString &sourceText, SourcePos pos)
{
    Expectation e;
    e.pos = pos;
    e.sourceText = sourceText.trimmed();
    const int column = c.column();
    const QString kind = c.word(QStringLiteral("what to expect"));
    using K = Expectation::Kind;
    if (kind == QLatin1String("status")) {
        e.kind = K::Status;
        e.a = c.quoted(QStringLiteral("a status text"));
    } else if (kind == QLatin1String("no-status")) {
        e.kind = K::NoStatus;
        e.a = c.quoted(QStringLiteral("a status text"));
    } else if (kind == QLatin1String("setting")) {
        e.kind = K::Setting;
        e.a = c.quoted(QStringLiteral("a section"));
        e.b = c.quoted(QStringLiteral("a key"));
        e.c = c.quoted(QStringLiteral("a value"));
    } else if (kind == QLatin1String("message")) {
        e.kind = K::Message;
        e.a = c.quoted(QStringLiteral("a message text"));
    } else if (kind == QLatin1String("audio")) {
        e.kind = K::Audio;
        e.a = c.quoted(QStringLiteral("an audio request"));
    } else if (kind == QLatin1String("no-audio")) {
        e.kind = K::NoAudio;
        e.a = c.quoted(QStringLiteral("an audio request"));
    } else if (kind == QLatin1String("audio-at") || kind == QLatin1String("status-at")) {
        e.kind = kind == QLatin1String("audio-at") ? K::AudioAt : K::StatusAt;
        std::tie(e.fromMs, e.toMs) = c.timeWindow(QStringLiteral("a virtual time"));
        e.a = c.quoted(e.kind == K::AudioAt ? QStringLiteral("an audio request") : QStringLiteral("a status text"));
    } else if (kind == QLatin1String("file")) {
        e.kind = K::File;
        e.a = c.quoted(QStringLiteral("a file name or pattern"));
        if (!c.atEnd() && c.peek().quoted) {
            e.c = c.quoted(QStringLiteral("the file's content"));
            e.hasContent = true;
        } else if (!c.atEnd()) {
            const int at = c.column();
            if (c.word(QStringLiteral("bytes")) != QLatin1String("bytes"))
                throw ParseFailure{at, QStringLiteral("expected the file's content in double quotes, or bytes")};
            std::tie(e.minBytes, e.maxBytes) = c.byteRange(QStringLiteral("a length in bytes"));
        }
    } else if (kind == QLatin1String("sequence")) {
        e.kind = K::Sequence;
        e.items << c.quoted(QStringLiteral("a status text"));
        while (!c.atEnd())
            e.items << c.quoted(QStringLiteral("a status text"));
    } else if (kind == QLatin1String("heard-tone") || kind == QLatin1String("no-heard-tone")) {
        e.kind = kind == QLatin1String("heard-tone") ? K::HeardTone : K::NoHeardTone;
        std::tie(e.fromMs, e.toMs) = c.timeWindow(QStringLiteral("a virtual time"));
        e.hz = static_cast<double>(c.integer(QStringLiteral("a frequency in Hz"), 100, 3900));
        if (!c.atEnd()) {
            const int at = c.column();
            if (c.word(QStringLiteral("line")) != QLatin1String("line"))
                throw ParseFailure{at, QStringLiteral("expected line and a line number")};
            e.line = static_cast<int>(c.integer(QStringLiteral("a line number"), 0, 15));
        }
    } else if (kind == QLatin1String("ended")) {
        e.kind = K::Ended;
    } else {
        throw ParseFailure{column, QStringLiteral("unknown expectation \"") + kind + QStringLiteral("\"")};
    }
    c.expectEnd();
    s.expectations.push_back(std::move(e));
}

} // namespace

std::optional<Scenario> parseScenario(const QString &text, ScenarioError *error)
{
    Scenario s;
    const QStringList lines = text.split(QLatin1Char('\n'));
    std::vector<Token> tokens;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const int lineNumber = static_cast<int>(i) + 1;
        ParseFailure failure{0, {}};
        if (!tokenize(line, tokens, failure)) {
            if (error)
                *error = {{lineNumber, failure.column}, failure.message};
            return std::nullopt;
        }
        if (tokens.empty())
            continue;
        Cursor c(tokens, static_cast<int>(line.size()));
        try {
            const int column = c.column();
            const QString keyword = c.word(QStringLiteral("a statement"));
            if (keyword == QLatin1String("at")) {
                ScenarioStep step;
                step.pos = {lineNumber, column};
                parseStep(c, step);
                s.steps.push_back(std::move(step));
            } else if (keyword == QLatin1String("country")) {
                const Token t = c.take(QStringLiteral("a country in double quotes"));
                if (!TonePlans::builtIn().find(t.text.toStdString(), ToneKind::Ringback))
                    throw ParseFailure{t.column, QStringLiteral("no tone plan for \"") + t.text + QStringLiteral("\"")};
                s.exchange.country = t.text.toStdString();
                c.expectEnd();
            } else if (keyword == QLatin1String("devices")) {
                const auto count = c.integer(QStringLiteral("a device count"), 0, 16);
                s.exchange.devices.resize(static_cast<std::size_t>(count));
                c.expectEnd();
            } else if (keyword == QLatin1String("device")) {
                parseDevice(c, s);
            } else if (keyword == QLatin1String("init-error")) {
                s.exchange.initializeResult = c.errorCode();
                c.expectEnd();
            } else if (keyword == QLatin1String("hangup-tone")) {
                const int at = c.column();
                const QString tone = c.word(QStringLiteral("busy or reorder"));
                if (tone == QLatin1String("busy"))
                    s.hangUpTone = HangUpTone::Busy;
                else if (tone == QLatin1String("reorder"))
                    s.hangUpTone = HangUpTone::Reorder;
                else
                    throw ParseFailure{at, QStringLiteral("hangup-tone is busy or reorder")};
                c.expectEnd();
            } else if (keyword == QLatin1String("setting")) {
                SettingPreset p;
                p.section = c.quoted(QStringLiteral("a section"));
                p.key = c.quoted(QStringLiteral("a key"));
                p.value = c.quoted(QStringLiteral("a value"));
                c.expectEnd();
                s.settings.push_back(std::move(p));
            } else if (keyword == QLatin1String("pin")) {
                const Token t = c.take(QStringLiteral("a PIN in double quotes"));
                if (!t.quoted)
                    throw ParseFailure{t.column, QStringLiteral("expected a PIN in double quotes")};
                s.pin = t.text;
                c.expectEnd();
            } else if (keyword == QLatin1String("phonebook")) {
                PhoneBookPreset p;
                p.name = toBytes(c.quoted(QStringLiteral("a name")));
                p.number = toBytes(c.quoted(QStringLiteral("a number")));
                c.expectEnd();
                s.phoneBook.push_back(std::move(p));
            } else if (keyword == QLatin1String("file")) {
                FilePreset p;
                p.name = c.quoted(QStringLiteral("a file name"));
                p.bytes = toBytes(c.quoted(QStringLiteral("the file's content")));
                c.expectEnd();
                s.files.push_back(std::move(p));
            } else if (keyword == QLatin1String("start")) {
                const Token t = c.take(QStringLiteral("a date and time in double quotes"));
                s.start = QDateTime::fromString(t.text, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
                if (!t.quoted || !s.start.isValid())
                    throw ParseFailure{t.column, QStringLiteral("expected a date and time such as \"2026-03-01 23:59:50\"")};
                c.expectEnd();
            } else if (keyword == QLatin1String("end")) {
                s.endMs = c.time(QStringLiteral("a time"));
                c.expectEnd();
            } else if (keyword == QLatin1String("expect")) {
                parseExpectation(c, s, line, {lineNumber, column});
            } else {
                throw ParseFailure{column, QStringLiteral("unknown statement \"") + keyword + QStringLiteral("\"")};
            }
        } catch (const ParseFailure &f) {
            if (error)
                *error = {{lineNumber, f.column}, f.message};
            return std::nullopt;
        }
    }
    for (const ScenarioStep &step : s.steps) {
        if (step.line >= static_cast<int>(s.exchange.devices.size())) {
            if (error)
                *error = {step.pos, QStringLiteral("line %1 has no device").arg(step.line)};
            return std::nullopt;
        }
    }
    std::stable_sort(s.steps.begin(), s.steps.end(),
                     [](const ScenarioStep &a, const ScenarioStep &b) { return a.atMs < b.atMs; });
    return s;
}

QString formatScenarioError(const QString &fileName, const ScenarioError &error)
{
    // One pass: a '%' in the file name or the message stays as it is.
    return QStringLiteral("%1:%2:%3: %4")
        .arg(fileName, QString::number(error.pos.line), QString::number(error.pos.column), error.message);
}

} // namespace telvox::sim
