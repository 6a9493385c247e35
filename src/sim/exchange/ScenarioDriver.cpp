#include "sim/exchange/ScenarioDriver.h"

#include "sim/exchange/VirtualExchange.h"
#include "sim/audio/SpeechLikeSource.h"
#include "sim/exchange/WavFileSource.h"
#include "sim/tones/ToneSource.h"

#include <QDir>

namespace telvox::sim {

namespace {

// Silence as a source, so that "silence" replaces whatever the far end sent before.
class SilenceSource final : public SampleSource
{
public:
    void read(std::span<std::int16_t> out) override { std::fill(out.begin(), out.end(), std::int16_t{0}); }
};

} // namespace

std::shared_ptr<SampleSource> makeAudioSource(const AudioSpec &audio, const QString &country,
                                              const QString &baseFolder, QString *error)
{
    switch (audio.kind) {
    case AudioSpec::Kind::None:
        return nullptr;
    case AudioSpec::Kind::Silence:
        return std::make_shared<SilenceSource>();
    case AudioSpec::Kind::Talk:
        return std::make_shared<SpeechLikeSource>(audio.seed);
    case AudioSpec::Kind::Wav: {
        const QString path = QDir::isAbsolutePath(audio.file) ? audio.file : QDir(baseFolder).filePath(audio.file);
        return WavFileSource::open(path, error);
    }
    case AudioSpec::Kind::Sine: {
        TonePlan plan;
        plan.mix = TonePlan::Mix::Single;
        plan.frequenciesHz = {double(audio.hz)};
        return std::make_shared<ToneSource>(plan, ToneLevel::dbm0(-15.0));
    }
    case AudioSpec::Kind::Tone: {
        const TonePlans &plans = TonePlans::builtIn();
        const TonePlan *plan = plans.find(country.toStdString(), audio.tone);
        if (!plan) {
            if (error)
                *error = QStringLiteral("no such tone in the tone plan of ") + country;
            return nullptr;
        }
        return std::make_shared<ToneSource>(*plan, ToneLevel::dbm0(-20.0));
    }
    }
    return nullptr;
}

bool isFarEndStep(const ScenarioStep &step)
{
    using A = ScenarioStep::Action;
    return step.action != A::Dial && step.action != A::ClickAnswer && step.action != A::ClickHangup;
}

bool applyFarEndStep(VirtualExchange &exchange, const ScenarioStep &step, const QString &baseFolder, QString *error)
{
    const QString country = QString::fromStdString(exchange.country());
    const auto refused = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    QString audioError;
    std::shared_ptr<SampleSource> audio = makeAudioSource(step.audio, country, baseFolder, &audioError);
    if (!audioError.isEmpty())
        return refused(audioError);

    using A = ScenarioStep::Action;
    switch (step.action) {
    case A::Call: {
        IncomingCall call;
        call.number = step.number;
        call.name = step.name;
        call.callerIdTiming = step.callerIdTiming;
        call.cadenceMs = step.cadenceMs;
        call.maxRings = step.rings;
        call.giveUpWithIdle = step.giveUpWithIdle;
        call.pickUpAfterRing = step.pickUpAfterRing;
        call.speech = audio;
        return exchange.placeIncomingCall(step.line, std::move(call))
               || refused(QStringLiteral("the line already carries a call"));
    }
    case A::Pickup:
        return exchange.pickUpHandset(step.line) || refused(QStringLiteral("no ringing call to pick up"));
    case A::CallerId:
        return exchange.sendCallerId(step.line, step.number, step.name)
               || refused(QStringLiteral("no incoming call for caller ID"));
    case A::Digits:
        return exchange.pressDigits(step.line, step.text) || refused(QStringLiteral("no call to key digits into"));
    case A::HangUp:
        return exchange.hangUpFarEnd(step.line, step.hangUp) || refused(QStringLiteral("no far end to hang up"));
    case A::Audio:
        exchange.setFarEndAudio(step.line, audio);
        return true;
    case A::Outgoing: {
        OutgoingBehaviour b;
        b.kind = step.outgoing;
        b.answerAfterMs = step.answerAfterMs;
        b.speech = audio;
        exchange.setOutgoingBehaviour(step.line, std::move(b));
        return true;
    }
    case A::Dial:
    case A::ClickAnswer:
    case A::ClickHangup:
        return refused(QStringLiteral("not a far-end step"));
    }
    return false;
}

} // namespace telvox::sim
