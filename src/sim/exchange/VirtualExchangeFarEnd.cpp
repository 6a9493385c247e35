#include "sim/exchange/VirtualLine.h"

#include "sim/tones/TonePlans.h"

#include <numeric>

// What the far ends of the virtual exchange do: calls placed, rings, a parallel handset,
// caller ID, touch tones, hang-ups, the called party of a dialled call; and the views of a
// line for the window and for assertions.

namespace telvox {

using namespace virtual_line;

void VirtualExchange::outgoingTick(Line &line)
{
    line.outgoingTimer->setEnabled(false);
    if (line.hCall == 0 || line.incoming)
        return;
    if (line.outgoingPhase == 0) {
        line.outgoingPhase = 1;
        line.callState = LineCallState::Connected;
        table().setState(line, LineCallState::Connected);
        switch (line.outgoing.kind) {
        case OutgoingBehaviour::Kind::Busy:
            line.audio.exchangeTone = toneSource(static_cast<int>(sim::ToneKind::Busy));
            trace(line, QStringLiteral("the called party is busy"));
            break;
        case OutgoingBehaviour::Kind::NoAnswer:
            line.audio.exchangeTone = toneSource(static_cast<int>(sim::ToneKind::Ringback));
            break;
        case OutgoingBehaviour::Kind::Answer:
            line.audio.exchangeTone = toneSource(static_cast<int>(sim::ToneKind::Ringback));
            line.outgoingTimer->setInterval(std::max(1, line.outgoing.answerAfterMs));
            line.outgoingTimer->setEnabled(true);
            break;
        }
    } else if (line.outgoingPhase == 1) {
        line.outgoingPhase = 2;
        line.audio.exchangeTone.reset();
        line.audio.farEnd = line.outgoing.speech;
        trace(line, QStringLiteral("the called party answers"));
    }
    changed(line);
}


// --- the far end -------------------------------------------------------------------------

bool VirtualExchange::placeIncomingCall(int index, IncomingCall call)
{
    if (index < 0 || index >= deviceCount())
        return false;
    Line &l = *m_lines[static_cast<std::size_t>(index)];
    if (l.hCall != 0 && l.callState != LineCallState::Idle)
        return false;
    // A call the application never deallocated is forgotten: the new one gets a new handle.
    endCall(l);
    l.call = std::move(call);
    if (l.call.cadenceMs.empty())
        l.call.cadenceMs = ringCadence();
    table().newCall(l, true);
    l.handsetOffHook = false;
    l.farEndGone = false;
    l.callerIdFlags = l.call.callerIdTiming == CallerIdTiming::None ? CallPartyId::Unavail : CallPartyId::Unknown;
    l.dialled.clear();
    l.digitsHeard.clear();
    l.callState = LineCallState::Offering;
    trace(l, QStringLiteral("incoming call"));
    if (l.call.callerIdTiming == CallerIdTiming::BeforeFirstRing)
        postCallerId(l);
    table().setState(l, LineCallState::Offering);

    const int period = std::accumulate(l.call.cadenceMs.begin(), l.call.cadenceMs.end(), 0);
    l.ringing = true;
    l.ringTimer->setInterval(std::max(period, 100));
    l.ringTimer->setEnabled(true);
    if (l.call.callerIdTiming == CallerIdTiming::AfterFirstRing) {
        const int firstOn = l.call.cadenceMs.empty() ? 0 : l.call.cadenceMs.front();
        int delay = firstOn + kCallerIdAfterRingMs;
        if (delay >= period)
            delay = std::max(1, period / 2);
        l.callerIdTimer->setInterval(delay);
        l.callerIdTimer->setEnabled(true);
    }
    ringTick(l); // the first ring starts now
    return true;
}

void VirtualExchange::ringTick(Line &line)
{
    if (!line.ringing)
        return;
    ++line.ringCount;
    trace(line, QStringLiteral("ring %1").arg(line.ringCount));
    if (line.lineStates & kLineDevStateRinging)
        table().post(line, line.hLine, LINE_LINEDEVSTATE, kLineDevStateRinging, 1, static_cast<std::uint32_t>(line.ringCount));
    if (line.call.pickUpAfterRing > 0 && line.ringCount >= line.call.pickUpAfterRing) {
        stopRinging(line);
        line.handsetOffHook = true;
        trace(line, QStringLiteral("handset picked up"));
    } else if (line.call.maxRings > 0 && line.ringCount >= line.call.maxRings) {
        stopRinging(line);
        line.farEndGone = true;
        trace(line, QStringLiteral("caller gives up"));
        if (line.call.giveUpWithIdle) {
            line.callState = LineCallState::Idle;
            table().setState(line, LineCallState::Idle);
        }
    }
    changed(line);
}

bool VirtualExchange::pickUpHandset(int index)
{
    if (index < 0 || index >= deviceCount())
        return false;
    Line &l = *m_lines[static_cast<std::size_t>(index)];
    if (!l.incoming || l.callState != LineCallState::Offering || l.handsetOffHook)
        return false;
    stopRinging(l);
    l.handsetOffHook = true;
    trace(l, QStringLiteral("handset picked up"));
    changed(l);
    return true;
}

bool VirtualExchange::sendCallerId(int index, const QByteArray &number, const QByteArray &name)
{
    if (index < 0 || index >= deviceCount())
        return false;
    Line &l = *m_lines[static_cast<std::size_t>(index)];
    if (!l.incoming || l.hCall == 0 || l.callState == LineCallState::Idle)
        return false;
    l.call.number = number;
    l.call.name = name;
    l.callerIdTimer->setEnabled(false);
    postCallerId(l);
    changed(l);
    return true;
}

bool VirtualExchange::pressDigits(int index, const QString &digits)
{
    if (index < 0 || index >= deviceCount())
        return false;
    Line &l = *m_lines[static_cast<std::size_t>(index)];
    if (l.hCall == 0 || l.farEndGone || l.callState == LineCallState::Idle)
        return false;
    for (const QChar key : digits) {
        if (isDtmfKey(key))
            l.farDigitQueue += key;
    }
    if (!l.farDigitQueue.isEmpty() && !l.digitTimer->isEnabled()) {
        digitTick(l);
        if (!l.farDigitQueue.isEmpty())
            l.digitTimer->setEnabled(true);
    }
    return true;
}

void VirtualExchange::digitTick(Line &line)
{
    if (line.farDigitQueue.isEmpty() || line.hCall == 0) {
        line.digitTimer->setEnabled(false);
        return;
    }
    const QChar key = line.farDigitQueue.front();
    line.farDigitQueue.remove(0, 1);
    if (line.audio.carrying) {
        std::vector<std::int16_t> tone;
        appendDtmf(tone, key, kDefaultDigitMs, 0);
        line.audio.farDigits.insert(line.audio.farDigits.end(), tone.begin(), tone.end());
    }
    trace(line, QStringLiteral("caller keys ") + key);
    if (line.monitoring && line.callState == LineCallState::Connected)
        table().post(line, line.hCall, LINE_MONITORDIGITS, key.unicode(), kDigitModeDtmf, 0);
    if (line.farDigitQueue.isEmpty())
        line.digitTimer->setEnabled(false);
}

bool VirtualExchange::hangUpFarEnd(int index, FarEndHangUp kind)
{
    if (index < 0 || index >= deviceCount())
        return false;
    Line &l = *m_lines[static_cast<std::size_t>(index)];
    if (l.hCall == 0 || l.farEndGone || l.callState == LineCallState::Idle
        || l.callState == LineCallState::Disconnected)
        return false;
    l.farEndGone = true;
    stopRinging(l);
    l.farDigitQueue.clear();
    l.digitTimer->setEnabled(false);
    l.outgoingTimer->setEnabled(false);
    l.audio.farEnd.reset();
    trace(l, kind == FarEndHangUp::WithDisconnect ? QStringLiteral("far end hangs up")
                                                  : QStringLiteral("far end hangs up without a disconnection"));
    if (kind == FarEndHangUp::WithDisconnect) {
        l.audio.exchangeTone.reset();
        table().setState(l, LineCallState::Disconnected);
    } else if (l.audio.carrying) {
        const auto tone = m_hangUpTone == HangUpTone::Busy ? sim::ToneKind::Busy : sim::ToneKind::Congestion;
        l.audio.exchangeTone = toneSource(static_cast<int>(tone));
    }
    changed(l);
    return true;
}

void VirtualExchange::setOutgoingBehaviour(int index, OutgoingBehaviour behaviour)
{
    if (index >= 0 && index < deviceCount())
        m_lines[static_cast<std::size_t>(index)]->outgoing = std::move(behaviour);
}

void VirtualExchange::setFarEndAudio(int index, std::shared_ptr<sim::SampleSource> source)
{
    if (index < 0 || index >= deviceCount())
        return;
    Line &l = *m_lines[static_cast<std::size_t>(index)];
    l.call.speech = source;
    l.outgoing.speech = source;
    if (l.audio.carrying && !l.farEndGone)
        l.audio.farEnd = std::move(source);
}

VirtualExchange::LineView VirtualExchange::view(int index) const
{
    LineView v;
    if (index < 0 || index >= deviceCount())
        return v;
    const Line &l = *m_lines[static_cast<std::size_t>(index)];
    v.open = l.hLine != 0;
    v.hLine = l.hLine;
    v.hCall = l.hCall;
    v.callState = l.callState;
    v.incoming = l.incoming;
    v.ringing = l.ringing;
    v.ringCount = l.ringCount;
    v.ringCadenceMs = l.call.cadenceMs;
    v.handsetOffHook = l.handsetOffHook;
    v.farEndGone = l.farEndGone;
    v.monitoringDigits = l.monitoring;
    v.dialled = l.dialled;
    v.digitsHeard = l.digitsHeard;
    v.openMediaModes = l.mediaModes;
    return v;
}

} // namespace telvox
