#include "audio/RemoteRetrieval.h"

#include "audio/AudioEngine.h"
#include "audio/PromptRecording.h"
#include "audio/WaveFile.h"
#include "core/AppPaths.h"
#include "core/EventLoop.h"
#include "core/SecretHash.h"
#include "core/Texts.h"
#include "records/MailAttachment.h"
#include "records/MessageStore.h"
#include "records/StatusLog.h"
#include "telephony/LineCall.h"
#include "telephony/RemoteMenu.h"
#include "telephony/RemotePin.h"
#include "telephony/LineTable.h"
#include "telephony/TelephonyCore.h"

#include <QDir>
#include <QFile>

#include <cmath>
#include <numbers>

namespace telvox {

namespace {

constexpr int kTextOpened = 1508;
constexpr int kTextWrongPin = 1509;
constexpr int kTextEnded = 1510;
constexpr int kTextLocked = 1511;
constexpr int kTextRefusedLocked = 1512;
constexpr int kTextUnknownCaller = 1513;
constexpr int kTextCallEnded = 1514;
constexpr int kTextNoSpeech = 1515;
constexpr int kTextGreetingReplaced = 1516;

// A message as the line plays it. PCM goes through the prompts' conversion; a TrueSpeech
// recording (8000 Hz) is decoded by our own decoder first.
std::optional<QByteArray> lineAudioOf(const QString &path)
{
    const LinePrompt prompt = readLinePrompt(path);
    if (prompt.audio && prompt.problem == PromptProblem::None)
        return prompt.audio;
    const std::optional<RecordingAudio> decoded = readRecordingAudio(path);
    if (!decoded || !decoded->wasTrueSpeech || decoded->sampleRate != 8000 || decoded->samples.empty())
        return std::nullopt;
    // The line's PCM is the host's 16-bit samples, as everywhere in the audio path.
    return QByteArray(reinterpret_cast<const char *>(decoded->samples.data()), qsizetype(decoded->samples.size() * 2));
}
constexpr int kBytesPerMs = 16; // 8000 Hz, 16-bit

// A short 440 Hz beep: what the caller hears for a phrase when no speech engine works.
QByteArray beep()
{
    QByteArray pcm(300 * kBytesPerMs, '\0');
    auto *samples = reinterpret_cast<std::int16_t *>(pcm.data());
    for (int i = 0; i < pcm.size() / 2; ++i)
        samples[i] = static_cast<std::int16_t>(8000 * std::sin(2 * std::numbers::pi * 440 * i / 8000.0));
    return pcm;
}

} // namespace

// One line's PIN entry and session, and the player that queues what the line hears.
class RemoteRetrieval::LineState final : public RemoteMenuPlayer
{
public:
    LineState(RemoteRetrieval &owner, int line)
        : m_owner(owner)
        , m_line(line)
    {
    }

    struct Clip
    {
        QByteArray pcm;
        bool message = false;
        std::int64_t offsetMs = 0; // where in its message the clip starts
    };

    void say(const RemotePhrase &phrase) override
    {
        const QString text = phraseText(phrase, m_owner.m_s.language);
        std::optional<QByteArray> pcm = m_owner.m_voice.render(text, m_owner.m_s.language);
        if (!pcm) {
            if (!m_owner.m_speechWarned) {
                m_owner.m_speechWarned = true;
                m_owner.m_s.status.AddStatus(m_owner.m_s.texts.LoadText(kTextNoSpeech).arg(m_owner.m_voice.errorText()));
            }
            pcm = beep();
        }
        queue(Clip{*pcm, false, 0});
    }
    bool playMessage(const StoredMessage &message, std::int64_t fromMs) override
    {
        const QString path = message.path();
        if (!QFile::exists(path))
            return false;
        const std::optional<QByteArray> audio = lineAudioOf(path);
        if (!audio)
            return false;
        const qsizetype from = std::min<qsizetype>(audio->size(), qsizetype(fromMs) * kBytesPerMs);
        QByteArray rest = audio->mid(from & ~qsizetype(1));
        if (rest.isEmpty())
            return false;
        queue(Clip{std::move(rest), true, fromMs});
        return true;
    }
    void stop() override
    {
        m_queue.clear();
        if (m_playing)
            m_owner.m_s.engine.stopLineOutput(m_line);
        m_playing = false;
        m_current = Clip{};
    }
    std::int64_t messagePosition() const override
    {
        if (!m_playing || !m_current.message)
            return -1;
        return m_current.offsetMs + (m_owner.m_s.loop.now() - m_startedAt);
    }
    void hangUp() override
    {
        m_hangingUp = true;
        m_hangUpAt = m_owner.m_s.loop.now();
        m_owner.m_s.telephony.call(m_line).drop();
    }

    bool startGreetingRecording() override
    {
        AudioEngine &engine = m_owner.m_s.engine;
        LineCall &call = m_owner.m_s.telephony.call(m_line);
        queue(Clip{beep(), false, 0});
        engine.GetWaveDeviceId(QStringLiteral("wave/in"), m_line);
        call.prepareRecording(CallKind::None, RecState::Recording);
        engine.StartCapture(m_owner.m_s.telephony.lineTable()[m_line].waveDeviceId, AudioEngine::greetingCaptureName(), m_line);
        if (engine.isCapturing(m_line))
            return true;
        call.requestCaptureStop();
        return false;
    }
    void stopGreetingRecording() override
    {
        if (!m_owner.m_s.telephony.call(m_line).requestCaptureStop())
            return;
        m_owner.m_s.engine.waveInReset(m_line);
        m_greetingWriting = true; // the poll finishes it once the capture has closed
        m_owner.armPoll();
    }
    bool keepGreeting(bool keep) override
    {
        const QString fresh = newGreetingFile();
        if (!keep || !QFile::exists(fresh)) {
            QFile::remove(fresh);
            return false;
        }
        const QString program = m_owner.m_s.engine.folders().program;
        const QString target = findFileIgnoringCase(program, QStringLiteral("Greeting.wav"));
        // The old greeting goes only once the new one is sure to take its place.
        QFile::remove(target + QStringLiteral(".old"));
        const bool hadOld = QFile::exists(target) && QFile::rename(target, target + QStringLiteral(".old"));
        if (!QFile::rename(fresh, target)) {
            if (hadOld)
                QFile::rename(target + QStringLiteral(".old"), target);
            QFile::remove(fresh);
            return false;
        }
        QFile::remove(target + QStringLiteral(".old"));
        m_owner.addStatus(m_line, kTextGreetingReplaced, m_caller);
        return true;
    }
    // The poll: the greeting's capture has closed; it is written next to the greeting and
    // queued to be heard.
    void greetingCaptureDone()
    {
        AudioEngine &engine = m_owner.m_s.engine;
        if (!m_greetingWriting || engine.isCapturing(m_line))
            return;
        m_greetingWriting = false;
        const PromptWrite written = writePromptRecording(engine.workingFile(m_line), newGreetingFile());
        QFile::remove(engine.workingFile(m_line));
        const LinePrompt audio = written.written ? readLinePrompt(newGreetingFile()) : LinePrompt{};
        const bool ok = audio.audio && !audio.audio->isEmpty();
        if (ok)
            queue(Clip{*audio.audio, false, 0});
        else
            QFile::remove(newGreetingFile());
        if (m_menu)
            m_menu->greetingRecorded(ok);
    }
    QString newGreetingFile() const
    {
        return QDir(m_owner.m_s.engine.folders().program).filePath(QStringLiteral("Greeting.new.wav"));
    }
    bool greetingWriting() const { return m_greetingWriting; }

    void queue(Clip clip)
    {
        m_queue.push_back(std::move(clip));
        if (!m_playing)
            playNext();
        m_owner.armPoll();
    }
    void playNext()
    {
        if (m_queue.empty())
            return;
        m_current = std::move(m_queue.front());
        m_queue.pop_front();
        m_startedAt = m_owner.m_s.loop.now();
        // A clip the line's output refuses counts as played at the next poll (a message
        // then not as heard), so that the session never waits for it.
        const bool started = m_owner.m_s.engine.playToLine(m_line, m_current.pcm);
        m_current.message = m_current.message && started;
        m_playing = true;
    }
    // The poll: the clip playing has been heard; true when the queue ran dry with it.
    bool clipDone(bool *messageEnded)
    {
        if (!m_playing || m_owner.m_s.telephony.lineTable()[m_line].playing)
            return false;
        m_playing = false;
        *messageEnded = m_current.message;
        m_current = Clip{};
        if (!m_queue.empty()) {
            playNext();
            return false;
        }
        return true;
    }
    bool busy() const { return m_playing || !m_queue.empty(); }

    RemoteRetrieval &m_owner;
    const int m_line;
    HCall m_call = 0;
    bool m_entering = false;
    QByteArray m_digits;
    int m_verified = 0; // the length already checked and found wrong
    int m_wrong = 0;
    bool m_greetingStopped = false;
    std::int64_t m_lastKey = 0;
    QString m_caller;
    std::unique_ptr<RemoteMenu> m_menu;
    bool m_pinJustEnded = false;
    bool m_greetingWriting = false; // the session opened with the PIN's last digit
    bool m_hangingUp = false;
    std::int64_t m_hangUpAt = 0;

private:
    std::deque<Clip> m_queue;
    Clip m_current;
    bool m_playing = false;
    std::int64_t m_startedAt = 0;
};

RemoteRetrieval::RemoteRetrieval(Services services)
    : m_s(std::move(services))
{
    for (int n = 0; n < 4; ++n)
        m_lines[static_cast<std::size_t>(n)] = std::make_unique<LineState>(*this, n);
    m_poll = m_s.loop.createTimer(kPollMs, [this] { poll(); });
}

RemoteRetrieval::~RemoteRetrieval() = default;

bool RemoteRetrieval::isLocked() const { return m_lockedUntil >= 0 && m_s.loop.now() < m_lockedUntil; }

bool RemoteRetrieval::inSession(int line) const { return bool(m_lines.at(std::size_t(line))->m_menu); }

bool RemoteRetrieval::enteringPin(int line) const { return m_lines.at(std::size_t(line))->m_entering; }

void RemoteRetrieval::armPoll()
{
    if (!m_poll->isEnabled())
        m_poll->setEnabled(true);
}

QString RemoteRetrieval::callerOf(int line) const
{
    QString caller = m_s.telephony.lineTable()[line].callerId;
    if (caller.startsWith(QLatin1Char('~')))
        caller.remove(0, 1);
    return caller.isEmpty() ? m_s.texts.LoadText(kTextUnknownCaller) : caller;
}

void RemoteRetrieval::addStatus(int line, int textId, const QString &caller)
{
    QString text = m_s.texts.LoadText(textId);
    if (text.contains(QLatin1String("%1")))
        text = text.arg(caller);
    m_s.status.AddStatus(QStringLiteral("Line") + QString::number(line) + text);
}

bool RemoteRetrieval::eligible(int line) const
{
    const LineSlot &slot = m_s.telephony.lineTable()[line];
    if (slot.hCall == 0 || slot.answering != Answerer::Machine || m_s.telephony.isBlockedCall(line))
        return false;
    const LineCall &call = m_s.telephony.lineTable().call(line);
    const bool greeting = call.timer(CallTimer::Timer3).isEnabled();
    const bool message = slot.recState == RecState::Recording && slot.mode == CallKind::Message;
    return greeting || message;
}

bool RemoteRetrieval::key(int line, QChar key)
{
    if (line < 0 || line >= 4)
        return false;
    LineState &state = *m_lines[static_cast<std::size_t>(line)];
    const HCall call = m_s.telephony.lineTable()[line].hCall;
    if (state.m_call != 0 && state.m_call != call)
        end(state); // left over from the line's previous call
    if (state.m_menu) {
        // A "#" right after the PIN ends the PIN, not the session.
        const bool pinEnd = state.m_pinJustEnded && key == QLatin1Char('#')
                            && m_s.loop.now() - state.m_lastKey < kPinEndMs;
        state.m_pinJustEnded = false;
        if (!pinEnd)
            state.m_menu->key(key);
        return true;
    }
    if (state.m_entering) {
        entryKey(state, key);
        return true;
    }
    if (key != QLatin1Char('*') || !eligible(line) || m_s.pinHash().isEmpty())
        return false;
    startEntry(line);
    return true;
}

void RemoteRetrieval::startEntry(int line)
{
    LineState &state = *m_lines[static_cast<std::size_t>(line)];
    LineCall &call = m_s.telephony.call(line);
    state.m_call = m_s.telephony.lineTable()[line].hCall;
    state.m_caller = callerOf(line);
    state.m_entering = true;
    state.m_lastKey = m_s.loop.now();
    secrethash::wipe(state.m_digits);
    state.m_verified = 0;
    // The greeting stops at once; the message being recorded goes on until the PIN is right,
    // so that a caller who keyed "*" by mistake loses nothing.
    if (call.timer(CallTimer::Timer3).isEnabled()) {
        call.endGreetingWatch();
        m_s.engine.stopLineOutput(line);
        state.m_greetingStopped = true;
    }
    armPoll();
}

void RemoteRetrieval::entryKey(LineState &state, QChar key)
{
    state.m_lastKey = m_s.loop.now();
    if (key == QLatin1Char('*')) {
        // Starts the PIN again; the keys before it were a wrong PIN when they were checked.
        if (state.m_digits.size() >= remotepin::kMinDigits) {
            wrongPin(state, !isLocked());
            if (!state.m_entering)
                return; // that ended the call
        }
        secrethash::wipe(state.m_digits);
        state.m_verified = 0;
        return;
    }
    if (key == QLatin1Char('#')) {
        checkPin(state, true);
        return;
    }
    if (!key.isDigit()) {
        wrongPin(state, true);
        return;
    }
    state.m_digits.append(key.toLatin1());
    // Checked at once only when no digit can follow; otherwise when the keys pause (the
    // poll), so that a PIN costs one check of its hash rather than one per digit.
    if (state.m_digits.size() >= remotepin::kMaxDigits)
        checkPin(state, true);
}

void RemoteRetrieval::checkPin(LineState &state, bool complete)
{
    if (isLocked()) {
        // Nothing is checked while locked; the attempt ends with its last possible key.
        if (complete)
            wrongPin(state, false);
        return;
    }
    const QByteArray hash = m_s.pinHash();
    if (state.m_digits.size() >= remotepin::kMinDigits && state.m_verified != state.m_digits.size()) {
        if (!hash.isEmpty() && secrethash::verify(hash, state.m_digits)) {
            openSession(state);
            return;
        }
        state.m_verified = static_cast<int>(state.m_digits.size());
    }
    if (complete)
        wrongPin(state, true);
}

void RemoteRetrieval::wrongPin(LineState &state, bool counts)
{
    secrethash::wipe(state.m_digits);
    state.m_verified = 0;
    const int line = state.m_line;
    if (counts) {
        addStatus(line, kTextWrongPin, state.m_caller);
        const std::int64_t now = m_s.loop.now();
        m_wrongTimes.push_back(now);
        while (!m_wrongTimes.empty() && now - m_wrongTimes.front() >= kLockMs)
            m_wrongTimes.pop_front();
        if (static_cast<int>(m_wrongTimes.size()) >= kWrongToLock) {
            m_lockedUntil = now + kLockMs;
            m_wrongTimes.clear();
            m_s.status.AddAlarm(m_s.texts.LoadText(kTextLocked).arg(kWrongToLock));
        }
    } else {
        addStatus(line, kTextRefusedLocked, state.m_caller);
    }
    if (++state.m_wrong < kWrongPerCall) {
        state.say(RemotePhrase::of(isLocked() ? RemotePhrase::Kind::Locked : RemotePhrase::Kind::WrongPin));
        return;
    }
    // Three wrong PINs: the call ends. A message recorded so far is kept.
    addStatus(line, kTextCallEnded, state.m_caller);
    state.m_entering = false;
    state.m_greetingStopped = false;
    state.stop();
    LineCall &call = m_s.telephony.call(line);
    call.stopRecording(StopReason::ToneCommand);
    call.drop();
}

void RemoteRetrieval::openSession(LineState &state)
{
    const int line = state.m_line;
    secrethash::wipe(state.m_digits);
    state.m_verified = 0;
    state.m_entering = false;
    state.m_greetingStopped = false;
    addStatus(line, kTextOpened, state.m_caller);
    // The owner is calling, not leaving a message: what was recorded of this call is dropped
    // before it is ever listed.
    LineCall &call = m_s.telephony.call(line);
    if (call.requestCaptureStop())
        m_s.engine.abandonCapture(line);
    call.clearDigits();
    state.stop();
    state.m_menu = std::make_unique<RemoteMenu>(m_s.loop, m_s.store, state);
    state.m_pinJustEnded = true;
    state.m_menu->start();
    armPoll();
}

void RemoteRetrieval::leaveEntry(LineState &state)
{
    // Keys without an end: a wrong PIN. Keys never given: the caller only keyed "*".
    if (!state.m_digits.isEmpty())
        wrongPin(state, !isLocked());
    if (!state.m_entering)
        return; // the call was ended
    state.m_entering = false;
    secrethash::wipe(state.m_digits);
    const int line = state.m_line;
    // The greeting was cut short and no message is being recorded: the machine takes one now,
    // as after a greeting.
    if (state.m_greetingStopped && m_s.telephony.lineTable()[line].recState == RecState::Idle
        && m_s.telephony.lineTable()[line].hCall == state.m_call)
        m_s.telephony.SendSignalTone(line);
    state.m_greetingStopped = false;
}

void RemoteRetrieval::end(LineState &state)
{
    state.stop();
    // A new greeting not yet kept goes with the session.
    state.m_greetingWriting = false;
    QFile::remove(state.newGreetingFile());
    if (state.m_menu) {
        addStatus(state.m_line, kTextEnded, state.m_caller);
        state.m_menu.reset();
    }
    state.m_entering = false;
    secrethash::wipe(state.m_digits);
    state.m_verified = 0;
    state.m_call = 0;
    state.m_wrong = 0;
    state.m_greetingStopped = false;
    state.m_hangingUp = false;
}

void RemoteRetrieval::poll()
{
    bool active = false;
    const std::int64_t now = m_s.loop.now();
    for (auto &owned : m_lines) {
        LineState &state = *owned;
        // A call that heard a "*" is watched to its end: what was counted for it (its wrong
        // PINs) goes with it, even should the next call get the same handle.
        if (!state.m_entering && !state.m_menu && !state.busy() && !state.greetingWriting() && state.m_call == 0)
            continue;
        const HCall call = m_s.telephony.lineTable()[state.m_line].hCall;
        if ((state.m_call != 0 && call != state.m_call) || (state.m_hangingUp && now - state.m_hangUpAt > 10000)) {
            end(state);
            continue;
        }
        active = true;
        state.greetingCaptureDone();
        bool messageEnded = false;
        if (state.clipDone(&messageEnded) && state.m_menu)
            state.m_menu->played(messageEnded);
        if (state.m_entering && state.m_digits.size() >= remotepin::kMinDigits
            && state.m_verified != state.m_digits.size() && now - state.m_lastKey >= kPinPauseMs)
            checkPin(state, false);
        if (state.m_entering && !state.busy() && now - state.m_lastKey >= kEntryIdleMs)
            leaveEntry(state);
    }
    if (!active)
        m_poll->setEnabled(false);
}

} // namespace telvox
